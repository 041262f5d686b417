#include "HistoryFixture.h"
#include "ScreenFixture.h"

#include "TranslateMac/AppModel/CaptionFileWriter.h"
#include "TranslateMac/Journal/JournalExport.h"
#include "TranslateMac/Screens/History/ExportMenu.h"
#include "TranslateMac/Screens/History/HistoryCaptionList.h"
#include "TranslateMac/Screens/History/HistoryListDelegate.h"
#include "TranslateMac/Screens/History/HistorySettings.h"

#include "TranslateCore/Subtitles/ServerEvent.h"
#include "TranslateCore/Subtitles/Transcript.h"

#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>

using namespace TranslateMac;
using namespace std::chrono_literals;
using HistoryPresenter::ExportChoice;
using TranslateCore::ExportFormat;
using TranslateCore::ExportText;

namespace {

QList<qint64> listedSessions(const QListWidget &list)
{
    QList<qint64> ids;
    for (int i = 0; i < list.count(); ++i)
        ids.append(list.item(i)->data(HistoryListDelegate::sessionRole).toLongLong());
    return ids;
}

QList<qint64> listedSequences(const QListWidget &list)
{
    QList<qint64> sequences;
    for (int i = 0; i < list.count(); ++i)
        sequences.append(list.item(i)->data(HistoryListDelegate::sequenceRole).toLongLong());
    return sequences;
}

QString fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A session long enough that its later captions are far below the first screen.
QList<HistoryTest::Caption> newsBulletin()
{
    QList<HistoryTest::Caption> captions;
    for (int i = 0; i < 240; ++i)
        captions.append(
            HistoryTest::Caption { "And now the news from the city.", "现在播报城市新闻。" });
    return captions;
}

} // namespace

TEST_F(HistoryTest, ListsPastSessionsNewestFirstWithWhenHowLongWhatAndHowMuch)
{
    const qint64 oldest = record(90, { { "Hello.", "你好。" } }, 4);
    const qint64 cut = record(
        60, { { "Good evening.", "晚上好。" }, { "Welcome.", "欢迎。" } }, std::nullopt, true);
    journal->markInterrupted(cut);
    const qint64 running = record(5, { { "Live now.", "正在直播。" } }, std::nullopt, true);
    settleJournal();

    HistoryWindow &history = openWindow();
    EXPECT_EQ(listedSessions(history.list()), (QList<qint64> { running, cut, oldest }));
    EXPECT_EQ(history.headingText(), "共 3 次翻译");
    const QList<JournalSession> sessions = journal->sessions();
    for (int row = 0; row < sessions.size(); ++row) {
        const QListWidgetItem &item = *history.list().item(row);
        const auto entry
            = HistoryPresenter::sessionEntry(sessions[row], QTimeZone::systemTimeZone());
        EXPECT_EQ(item.data(HistoryListDelegate::titleRole).toString(), entry.started);
        EXPECT_EQ(
            item.data(HistoryListDelegate::markRole).toString(), entry.interrupted ? "中断" : "");
        EXPECT_EQ(item.data(HistoryListDelegate::trailingRole).toString(), entry.duration);
        EXPECT_EQ(item.data(HistoryListDelegate::detailRole).toString(),
            "English → 中文 · 全电脑播放音频");
        EXPECT_EQ(item.data(HistoryListDelegate::detailTrailingRole).toString(), entry.counts);
    }
    EXPECT_EQ(history.list().item(0)->data(HistoryListDelegate::trailingRole).toString(), "记录中");
    EXPECT_EQ(
        history.list().item(1)->data(HistoryListDelegate::detailTrailingRole).toString(), "2 句");
    EXPECT_EQ(history.list().item(2)->data(HistoryListDelegate::detailTrailingRole).toString(),
        "1 句 · 4 积分");
    EXPECT_EQ(history.placeholderText(), "选择左侧的一次翻译，查看它的字幕。");
}

TEST_F(HistoryTest, OpeningASessionShowsItsCaptionsAsTheTranscriptDoesAndNothingAsStillComing)
{
    record(30, { { "Good evening.", "晚上好。" }, { "Welcome to the market.", "" } }, 3);
    HistoryWindow &history = openWindow();
    clickItem(0);

    ASSERT_EQ(history.openSessionId(), journal->sessions().first().id);
    EXPECT_EQ(history.titleText(),
        HistoryPresenter::startedText(eveningMs - 30 * 60'000, QTimeZone::systemTimeZone()));
    EXPECT_EQ(history.summaryText(), "English → 中文 · 全电脑播放音频 · 11秒 · 2 句 · 3 积分");
    HistoryCaptionList &captions = history.captions();
    ASSERT_EQ(captions.rowCount(), 2);
    EXPECT_EQ(captions.rowOf(0)->sourceText(), "Good evening.");
    EXPECT_EQ(captions.rowOf(0)->targetText(), "晚上好。");
    // A past caption never translated is not "正在翻译", nor does any row carry the cursor.
    EXPECT_EQ(captions.rowOf(1)->sourceText(), "Welcome to the market.");
    EXPECT_EQ(captions.rowOf(1)->targetText(), "—");
}

TEST_F(HistoryTest, CopyGivesExactlyTheTextTheLiveTranscriptCopies)
{
    record(10,
        { { "Good evening.", "晚上好。" }, { "Line\nbreak  ", "<b>&amp;</b>" },
            { "Only heard.", "" }, { "مرحبا", "שלום" } });
    TranslateCore::Transcript live;
    qint64 sequence = 0;
    for (const JournalCaption &caption : journal->captions(journal->sessions().first().id)) {
        ++sequence;
        for (const auto &[type, text] : { std::pair { "asr.final", caption.source },
                 std::pair { "translation.final", caption.target } }) {
            if (text.isEmpty())
                continue;
            const QJsonObject event { { "type", type }, { "segmentSeq", sequence },
                { "text", text } };
            live.apply(TranslateCore::ServerEvent::fromText(
                QString::fromUtf8(QJsonDocument(event).toJson())));
        }
    }

    HistoryWindow &history = openWindow();
    clickItem(0);
    click(history, "复制全部字幕");
    ASSERT_EQ(copied.size(), 1);
    EXPECT_EQ(copied.first(), live.plainText());
}

TEST_F(HistoryTest, SearchFindsWordsOfEitherLanguageAcrossSessions)
{
    const qint64 market = record(60,
        { { "Welcome to the night market.", "欢迎来到夜市。" },
            { "The noodles are hand pulled.", "面条是手工拉的。" } });
    const qint64 weather = record(30,
        { { "Rain moves in tonight.", "今晚有雨。" },
            { "The market closes early.", "市场提前关门。" } });
    struct Case {
        const char *words;
        QList<std::pair<qint64, qint64>> expected; // session and sequence, newest first
    };
    const Case cases[] = {
        { "market", { { weather, 2 }, { market, 1 } } },
        { "夜市", { { market, 1 } } },
        { "noodles 手工", { { market, 2 } } },
        { "今晚", { { weather, 1 } } },
        { "zebra", {} },
    };
    HistoryWindow &history = openWindow();
    for (const Case &c : cases) {
        history.search(QString::fromUtf8(c.words));
        ASSERT_TRUE(history.showsResults()) << c.words;
        QList<std::pair<qint64, qint64>> found;
        for (int i = 0; i < history.list().count(); ++i) {
            const QListWidgetItem &item = *history.list().item(i);
            found.append({ item.data(HistoryListDelegate::sessionRole).toLongLong(),
                item.data(HistoryListDelegate::sequenceRole).toLongLong() });
        }
        EXPECT_EQ(found, c.expected) << c.words;
        EXPECT_EQ(history.headingText(),
            HistoryPresenter::resultsHeading(c.expected.size(), HistoryWindow::searchLimit));
    }
    history.search(QString());
    EXPECT_FALSE(history.showsResults());
    EXPECT_EQ(listedSessions(history.list()), (QList<qint64> { weather, market }));
}

TEST_F(HistoryTest, TypingSearchesAfterAPauseAndEscapeReturnsToTheSessions)
{
    record(30, { { "Rain moves in tonight.", "今晚有雨。" } });
    HistoryWindow &history = openWindow();
    QTest::keyClicks(&history.searchField(), "rain");
    EXPECT_FALSE(history.showsResults()); // not on every key
    ASSERT_TRUE(TestSupport::spinUntil([&] { return history.showsResults(); }, 2s));
    EXPECT_EQ(history.list().count(), 1);
    QTest::keyClick(&history.searchField(), Qt::Key_Escape);
    EXPECT_FALSE(history.showsResults());
    EXPECT_EQ(history.searchField().text(), "");
}

TEST_F(HistoryTest, ClickingAResultOpensItsSessionScrolledToThatCaptionMarked)
{
    auto captions = newsBulletin();
    captions[199] = { "A zebra escaped from the zoo.", "一匹斑马从动物园逃走了。" };
    qint64 id = 0;
    {
        // The journal takes the list as given.
        id = journal->beginSession({ 900, "EN_ZH", "English → 中文", "全电脑播放音频", eveningMs });
        for (int i = 0; i < captions.size(); ++i)
            journal->append(
                { id, i + 1, captions[i].source, captions[i].target, i * 4000, i * 4000 + 2000 });
        journal->endSession(id, eveningMs + 960'000);
        settleJournal();
    }
    record(5, { { "Something else.", "别的。" } });

    HistoryWindow &history = openWindow();
    history.search(QStringLiteral("斑马"));
    ASSERT_EQ(listedSequences(history.list()), (QList<qint64> { 200 }));
    EXPECT_EQ(
        history.list().item(0)->data(HistoryListDelegate::trailingRole).toString(), "00:13:16");
    clickItem(0);

    EXPECT_EQ(history.openSessionId(), id);
    HistoryCaptionList &list = history.captions();
    EXPECT_EQ(list.markedSequence(), 200);
    ASSERT_NE(list.rowOf(199), nullptr);
    EXPECT_EQ(list.rowOf(199)->targetText(), "一匹斑马从动物园逃走了。");
    ASSERT_TRUE(TestSupport::spinUntil([&] { return list.shows(199); }, 2s));
    EXPECT_EQ(list.rowOf(199)->objectName(), "markedCaption");
    EXPECT_EQ(list.rowOf(198)->objectName(), "");
    // Rows are made around what is read, not for the whole session before it.
    EXPECT_GT(list.firstRowCaption(), 0);
    EXPECT_LT(list.rowCount(), 240);

    // Scrolling back towards the start brings the earlier captions, the view staying put.
    const qsizetype first = list.firstRowCaption();
    const int scrolledBy = list.verticalScrollBar()->value();
    const int shownAt = list.rowOf(199)->mapTo(list.viewport(), QPoint()).y();
    list.verticalScrollBar()->setValue(0);
    EXPECT_LT(list.firstRowCaption(), first);
    EXPECT_EQ(list.rowOf(199)->mapTo(list.viewport(), QPoint()).y(), shownAt + scrolledBy);
}

TEST_F(HistoryTest, CtrlFPutsTheCursorInTheSearch)
{
    record(5, { { "Hello.", "你好。" } });
    HistoryWindow &history = openWindow();
    clickItem(0);
    history.list().setFocus();
    QTest::keyClick(&history.list(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(history.searchField().hasFocus());
}

TEST_F(HistoryTest, DeletingOneSessionAsksFirstAndTakesItFromTheJournal)
{
    const qint64 kept = record(60, { { "Keep me.", "留下我。" } });
    const qint64 gone = record(30, { { "Delete me.", "删除我。" } });
    HistoryWindow &history = openWindow();
    clickItem(0);
    ASSERT_EQ(history.openSessionId(), gone);

    click(history, "删除这次翻译的记录…");
    ASSERT_NE(history.confirmation(), nullptr);
    EXPECT_EQ(history.confirmation()->text(), "删除这次翻译的记录？");
    EXPECT_TRUE(
        history.confirmation()->informativeText().endsWith("的 1 句字幕将被删除，无法恢复。"));
    answer("取消");
    settleJournal();
    EXPECT_EQ(history.openSessionId(), gone);
    EXPECT_EQ(journal->sessions().size(), 2);

    click(history, "删除这次翻译的记录…");
    answer("删除");
    EXPECT_EQ(history.openSessionId(), std::nullopt);
    settleJournal();
    EXPECT_EQ(listedSessions(history.list()), (QList<qint64> { kept }));
    EXPECT_EQ(journal->session(gone), std::nullopt);
    EXPECT_EQ(history.placeholderText(), "选择左侧的一次翻译，查看它的字幕。");
}

TEST_F(HistoryTest, ClearingTheHistoryAsksFirstAndEmptiesIt)
{
    record(60, { { "One.", "一。" } });
    record(30, { { "Two.", "二。" } });
    HistoryWindow &history = openWindow();
    clickItem(1);
    click(history, "清空历史…");
    EXPECT_EQ(history.confirmation()->text(), "清空全部历史记录？");
    EXPECT_EQ(history.confirmation()->informativeText(),
        "这台电脑上保存的全部 2 次翻译的字幕都将删除，无法恢复。");
    answer("取消");
    settleJournal();
    EXPECT_EQ(history.list().count(), 2);

    click(history, "清空历史…");
    answer("清空历史");
    settleJournal();
    EXPECT_EQ(history.list().count(), 0);
    EXPECT_EQ(journal->sessions(), QList<JournalSession> {});
    EXPECT_EQ(history.headingText(), "还没有字幕记录");
    EXPECT_EQ(
        history.placeholderText(), "还没有字幕记录。\n开始翻译后，字幕会自动保存在这台电脑上。");
}

TEST_F(HistoryTest, SettingsAreStoredAndFewerRetainedSessionsAreConfirmedBeforeDeleting)
{
    for (int i = 0; i < 4; ++i)
        record(60 - i, { { "Hello.", "你好。" } });
    HistoryWindow &history = openWindow();
    EXPECT_TRUE(history.keepToggle().isChecked());
    EXPECT_EQ(history.retainedField().value(), 100);

    history.keepToggle().click();
    EXPECT_FALSE(HistorySettings::keepsLocalHistory());

    struct Step {
        int count;
        const char *answer; // nullptr: nothing asked
        int storedAfter;
        qsizetype sessionsAfter;
    };
    const Step steps[] = {
        { 50, nullptr, 50, 4 }, // more than there are: nothing to delete, nothing asked
        { 2, "取消", 50, 4 },
        { 2, "删除较早的记录", 2, 2 },
        { 3, nullptr, 3, 2 },
    };
    for (const Step &step : steps) {
        history.retainedField().setValue(step.count);
        if (step.answer) {
            ASSERT_NE(history.confirmation(), nullptr) << step.count;
            EXPECT_EQ(history.confirmation()->text(),
                QStringLiteral("只保留最近 %1 次翻译？").arg(step.count));
            answer(step.answer);
        } else {
            EXPECT_EQ(history.confirmation(), nullptr) << step.count;
        }
        settleJournal();
        EXPECT_EQ(HistorySettings::retainedSessions(), step.storedAfter) << step.count;
        EXPECT_EQ(history.retainedField().value(), step.storedAfter) << step.count;
        EXPECT_EQ(journal->sessions().size(), step.sessionsAfter) << step.count;
        EXPECT_EQ(history.list().count(), step.sessionsAfter) << step.count;
    }

    // A new window reads what was stored.
    window.reset();
    HistoryWindow &again = openWindow();
    EXPECT_FALSE(again.keepToggle().isChecked());
    EXPECT_EQ(again.retainedField().value(), 3);
}

TEST_F(HistoryTest, ExportWritesTheChosenFormatOfTheOpenSession)
{
    record(30,
        { { "Good evening, and welcome to the night market.", "晚上好，欢迎来到夜市。" },
            { "Tonight we taste street food.", "今晚我们品尝街头小吃。" } });
    HistoryWindow &history = openWindow();
    clickItem(0);
    const QList<JournalCaption> recorded = journal->captions(*history.openSessionId());
    const QString base = HistoryPresenter::sessionFileBase(
        journal->sessions().first(), QTimeZone::systemTimeZone());

    const ExportChoice choices[] = {
        { ExportFormat::text, ExportText::both },
        { ExportFormat::timedText, ExportText::both },
        { ExportFormat::timedText, ExportText::source },
        { ExportFormat::timedText, ExportText::target },
        { ExportFormat::srt, ExportText::both },
        { ExportFormat::srt, ExportText::source },
        { ExportFormat::srt, ExportText::target },
        { ExportFormat::webVtt, ExportText::both },
        { ExportFormat::webVtt, ExportText::source },
        { ExportFormat::webVtt, ExportText::target },
        { ExportFormat::jsonLines, ExportText::both },
    };
    for (const ExportChoice &choice : choices) {
        const QString name = HistoryPresenter::exportFileName(base, choice);
        QAction *action = history.sessionExportMenu().action(choice);
        ASSERT_NE(action, nullptr) << name.toStdString();
        action->trigger();
        ASSERT_EQ(proposedNames.last(), name);
        const QString path = folder.filePath(name);
        saveCompletion(path);
        EXPECT_EQ(fileText(path), exportJournalCaptions(recorded, choice.format, choice.text))
            << name.toStdString();
        EXPECT_EQ(history.statusText(), "已导出：" + name);
        EXPECT_FALSE(history.statusIsFailure());
    }
    EXPECT_EQ(proposedNames.size(), qsizetype(std::size(choices)));

    // Cancelling the dialog writes nothing and says nothing new.
    history.sessionExportMenu().action({ ExportFormat::srt, ExportText::both })->trigger();
    saveCompletion(std::nullopt);
    EXPECT_EQ(history.statusText(), "已导出：" + proposedNames[std::size(choices) - 1]);
}

TEST_F(HistoryTest, SearchResultsExportOldestFirstInTheChosenFormat)
{
    record(60, { { "The market opens.", "市场开门了。" }, { "Nothing here.", "这里没有。" } });
    record(30, { { "The market closes.", "市场关门了。" } });
    HistoryWindow &history = openWindow();
    history.search(QStringLiteral("market"));
    ASSERT_EQ(history.list().count(), 2);
    QList<JournalCaption> found;
    for (const JournalSearchHit &hit : journal->search(QStringLiteral("market")))
        found.prepend(hit.caption);

    history.resultsExportMenu().action({ ExportFormat::srt, ExportText::target })->trigger();
    EXPECT_EQ(proposedNames.last(), "Quorvel字幕搜索结果（仅译文）.srt");
    const QString path = folder.filePath("results.srt");
    saveCompletion(path);
    EXPECT_EQ(fileText(path), exportJournalCaptions(found, ExportFormat::srt, ExportText::target));
    EXPECT_TRUE(fileText(path).indexOf("市场开门了。") < fileText(path).indexOf("市场关门了。"));
}

TEST_F(HistoryTest, AFailedExportSaysWhyAndLeavesNoFile)
{
    record(30, { { "Hello.", "你好。" } });
    HistoryWindow &history = openWindow();
    clickItem(0);
    history.sessionExportMenu().action({ ExportFormat::webVtt, ExportText::both })->trigger();
    const QString path = folder.filePath("missing/subtitles.vtt");
    saveCompletion(path);
    EXPECT_EQ(history.statusText(), exportWriteFailureText(ExportWriteFailure::unwritable));
    EXPECT_TRUE(history.statusIsFailure());
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(HistoryTest, TheViewFollowsWhatTheJournalWrites)
{
    const qint64 live = record(5, { { "First.", "第一。" } }, std::nullopt, true);
    HistoryWindow &history = openWindow();
    clickItem(0);
    ASSERT_EQ(history.captions().rowCount(), 1);

    // The session being recorded grows, then ends and is charged; another one begins.
    journal->append({ live, 2, "Second.", "第二。", 8000, 9000 });
    settleJournal();
    EXPECT_EQ(history.captions().rowCount(), 2);
    EXPECT_TRUE(history.summaryText().contains("记录中"));
    journal->endSession(live, eveningMs - 5 * 60'000 + 10'000);
    journal->recordCharge(live, 2);
    settleJournal();
    EXPECT_EQ(history.summaryText(), "English → 中文 · 全电脑播放音频 · 10秒 · 2 句 · 2 积分");
    const qint64 next = record(1, { { "Next.", "下一个。" } });
    EXPECT_EQ(listedSessions(history.list()), (QList<qint64> { next, live }));
    EXPECT_EQ(history.openSessionId(), live);
    EXPECT_EQ(history.list().currentItem(), history.list().item(1));

    // Deleted elsewhere (retention, another window): the open session closes.
    journal->deleteSession(live);
    settleJournal();
    EXPECT_EQ(history.openSessionId(), std::nullopt);
    EXPECT_EQ(listedSessions(history.list()), (QList<qint64> { next }));
}

TEST_F(HistoryTest, WithoutAJournalTheHistorySaysWhy)
{
    HistoryWindow history(nullptr, {}, QStringLiteral("字幕记录文件已损坏，已另存并新建。"));
    history.show();
    EXPECT_EQ(history.placeholderText(), "历史记录暂不可用。\n字幕记录文件已损坏，已另存并新建。");
    EXPECT_FALSE(history.searchField().isEnabled());
    EXPECT_EQ(history.list().count(), 0);
}
