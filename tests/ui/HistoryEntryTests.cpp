#include "ScreenFixture.h"

#include "TranslateMac/Journal/CaptionJournal.h"
#include "TranslateMac/Screens/History/ExportMenu.h"
#include "TranslateMac/Screens/History/HistoryCaptionList.h"
#include "TranslateMac/Screens/History/HistoryWindow.h"
#include "TranslateMac/Screens/History/InterruptedSessionBanner.h"
#include "TranslateMac/Screens/Root/AppContentView.h"
#include "TranslateMac/Screens/Workspace/TranscriptPane.h"
#include "TranslateMac/Screens/Workspace/WorkspaceView.h"
#include "TranslateMac/Shell/MenuBarControls.h"
#include "TranslateMac/Shell/QuorvelTranslateMacApp.h"
#include "TranslateMac/Shell/WorkspaceWindow.h"

#include "support/ApplicationHarness.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

TranscriptPane &transcriptOf(QuorvelTranslateMacApp &app)
{
    return static_cast<AppContentView *>(app.window().centralWidget())->workspace().transcript();
}

// What an earlier run left behind when it was killed in the middle of a translation: a session
// begun, two captions final, never ended. Returns its journal id.
qint64 leaveCutOffSession()
{
    auto journal = CaptionJournal::open(CaptionJournal::defaultPath());
    const qint64 id = journal->beginSession({ 77, QStringLiteral("EN_ZH"),
        QStringLiteral("English → 中文"), QStringLiteral("全电脑播放音频"), 1'741'982'730'000 });
    journal->append({ id, 1, QStringLiteral("Good evening."), QStringLiteral("晚上好。"), 0, 900 });
    journal->append({ id, 2, QStringLiteral("Welcome."), QStringLiteral("欢迎。"), 1000, 1900 });
    EXPECT_TRUE(journal->flush(10s));
    return id;
}

} // namespace

// The ways into the history as the application offers them: the launch after a cut-off run
// offers that session in the transcript pane, the tray menu opens the history, and so do the
// pane's button and Ctrl+F, the latter with the cursor in the search.
TEST(HistoryEntry, TheApplicationOffersTheCutOffSessionAndOpensTheHistoryFromEachEntry)
{
    TestSupport::ApplicationSurroundings surroundings;
    ASSERT_TRUE(surroundings.isReady()) << surroundings.failure().toStdString();
    const qint64 cutOff = leaveCutOffSession();

    QuorvelTranslateMacApp app(surroundings.model());
    ASSERT_EQ(app.interruptedSession(), cutOff);
    TranscriptPane &pane = transcriptOf(app);
    EXPECT_EQ(pane.interruptedBanner().text(), "上次的翻译意外中断，已保存 2 句字幕。");
    // The banner says it; the message line stays free.
    EXPECT_FALSE(app.model().message().value_or(QString()).contains("中断"));

    click(pane.interruptedBanner(), "查看");
    HistoryWindow *history = app.historyWindow();
    ASSERT_NE(history, nullptr);
    EXPECT_TRUE(history->isVisible());
    EXPECT_EQ(history->openSessionId(), cutOff);
    EXPECT_EQ(history->captions().captionCount(), 2);
    EXPECT_EQ(history->titleText().isEmpty(), false);
    EXPECT_EQ(pane.interruptedBanner().text(), ""); // the offer was taken

    history->close();
    QAction *trayEntry = TestSupport::actionNamed(*app.menuBarControls().menu(), "历史记录…");
    ASSERT_NE(trayEntry, nullptr);
    trayEntry->trigger();
    EXPECT_TRUE(history->isVisible());
    EXPECT_EQ(app.historyWindow(), history); // one history window, brought forward

    history->close();
    ASSERT_TRUE(TestSupport::signIn(app.model(), surroundings.service(), "13700000031"));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return pane.isVisible(); }));
    click(pane,
        QStringLiteral("历史记录与搜索（%1）")
            .arg(QKeySequence(QKeySequence::Find).toString(QKeySequence::NativeText)));
    EXPECT_TRUE(history->isVisible());

    history->close();
    app.window().activateWindow();
    QApplication::setActiveWindow(&app.window());
    QTest::keyClick(&pane, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(history->isVisible());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return history->searchField().hasFocus(); }, 2s));
}

// The × puts the offer away without opening anything.
TEST(HistoryEntry, ClosingTheOfferLeavesTheHistoryClosed)
{
    TestSupport::ApplicationSurroundings surroundings;
    ASSERT_TRUE(surroundings.isReady()) << surroundings.failure().toStdString();
    leaveCutOffSession();
    QuorvelTranslateMacApp app(surroundings.model());
    TranscriptPane &pane = transcriptOf(app);
    ASSERT_NE(pane.interruptedBanner().text(), "");
    ASSERT_TRUE(TestSupport::signIn(app.model(), surroundings.service(), "13700000032"));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return pane.isVisible(); }));
    TestSupport::spinUntil([&] { return !app.model().accountBusy(); });
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    EXPECT_TRUE(app.window().grab().save(
        TestSupport::screenshotPath("h6-workspace-interrupted-offer.png")));
    click(pane.interruptedBanner(), "关闭提示");
    EXPECT_EQ(pane.interruptedBanner().text(), "");
    EXPECT_EQ(app.historyWindow(), nullptr);

    // Nothing of this run is in the journal yet: a format with times cannot be written.
    pane.exportMenu()
        .action({ TranslateCore::ExportFormat::srt, TranslateCore::ExportText::both })
        ->trigger();
    EXPECT_EQ(app.model().message(), QuorvelTranslateMacApp::liveExportUnavailable);
}
