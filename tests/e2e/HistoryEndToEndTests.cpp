#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Journal/CaptionJournal.h"
#include "TranslateMac/Screens/History/ExportMenu.h"
#include "TranslateMac/Screens/History/HistoryCaptionList.h"
#include "TranslateMac/Screens/History/HistoryWindow.h"
#include "TranslateMac/Screens/Root/AppContentView.h"
#include "TranslateMac/Screens/Workspace/TranscriptPane.h"
#include "TranslateMac/Screens/Workspace/WorkspaceView.h"
#include "TranslateMac/Shell/QuorvelTranslateMacApp.h"
#include "TranslateMac/Shell/WorkspaceWindow.h"

#include "support/ApplicationHarness.h"
#include "support/AudioTestSupport.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QListWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

QFileDialog *openSaveDialog()
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<QFileDialog *>(window); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

QString fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

// What the application recorded of a real session (a tone heard through the sound server and
// captioned by the local service): the workspace exports it as subtitles with times through the
// save dialog, and the history lists and shows it.
TEST(HistoryEndToEnd, TheSessionJustHeardExportsAsSubtitlesAndIsInTheHistory)
{
    QUORVEL_REQUIRE_SOUND_SERVER();
    TestSupport::ApplicationSurroundings surroundings;
    ASSERT_TRUE(surroundings.isReady()) << surroundings.failure().toStdString();
    QuorvelTranslateMacApp app(surroundings.model());
    AppModel &model = app.model();
    ASSERT_TRUE(TestSupport::signIn(model, surroundings.service(), "13700000041"));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return model.canStart(); }, 20s))
        << model.error().value_or("").toStdString();

    TestSupport::TonePlayer player(TestSupport::tone(1000, "org.quorvel.history-e2e-tone"));
    ASSERT_TRUE(player.start());
    const auto started = TestSupport::start(model.start());
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return model.state() == ListeningState::listening; }, 40s))
        << model.error().value_or("").toStdString();
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return !model.transcript().captions().isEmpty(); }, 20s));
    // The tone's caption becomes final once the tone has ended.
    ASSERT_TRUE(player.stop());
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] { return model.transcript().captions().first().complete(); }, 20s));
    model.stop();
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] { return model.state() == ListeningState::completed && !model.settling(); }, 20s));

    TranscriptPane &pane
        = static_cast<AppContentView *>(app.window().centralWidget())->workspace().transcript();
    pane.exportMenu()
        .action({ TranslateCore::ExportFormat::srt, TranslateCore::ExportText::both })
        ->trigger();
    QFileDialog *dialog = nullptr;
    ASSERT_TRUE(TestSupport::spinUntil([&] { return (dialog = openSaveDialog()) != nullptr; }))
        << model.message().value_or("").toStdString();
    QTemporaryDir folder;
    const QString path = folder.filePath("heard.srt");
    dialog->selectFile(path);
    QMetaObject::invokeMethod(dialog, "accept"); // as its save button does
    ASSERT_TRUE(TestSupport::spinUntil([&] { return QFile::exists(path); }));
    const QString subtitles = fileText(path);
    EXPECT_TRUE(subtitles.startsWith("1\n00:00:")) << subtitles.toStdString();
    EXPECT_TRUE(subtitles.contains(" --> ")) << subtitles.toStdString();
    EXPECT_TRUE(subtitles.contains(model.transcript().captions().first().target))
        << subtitles.toStdString();

    app.openHistory();
    HistoryWindow &history = *app.historyWindow();
    ASSERT_EQ(history.list().count(), 1);
    history.list().setCurrentRow(0);
    EXPECT_EQ(history.captions().captionCount(), model.transcript().captions().size());
    EXPECT_TRUE(history.summaryText().contains("English → "));
}
