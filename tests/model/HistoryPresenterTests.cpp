#include "TranslateMac/Screens/History/HistoryPresenter.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace TranslateMac;
using namespace TranslateMac::HistoryPresenter;
using TranslateCore::ExportFormat;
using TranslateCore::ExportText;

namespace {

// 2025-03-14 20:05:30 UTC.
constexpr qint64 evening = 1'741'982'730'000;

JournalSession session(std::optional<qint64> lastedMs, bool interrupted = false,
    std::optional<qint64> points = std::nullopt, qint64 captions = 42)
{
    JournalSession session;
    session.id = 7;
    session.direction = QStringLiteral("English → 中文");
    session.sourceName = QStringLiteral("全电脑播放音频");
    session.startedAtMs = evening;
    if (lastedMs)
        session.endedAtMs = evening + *lastedMs;
    session.interrupted = interrupted;
    session.chargedPoints = points;
    session.captionCount = captions;
    return session;
}

} // namespace

TEST(HistoryPresenter, SessionEntryTellsWhenHowLongWhatAndHowMuch)
{
    const QTimeZone utc = QTimeZone::utc();
    struct Case {
        const char *name;
        JournalSession session;
        SessionEntry expected;
    };
    const QString origin = QStringLiteral("English → 中文 · 全电脑播放音频");
    const Case cases[] = {
        { "seconds only", session(45'900),
            { 7, "2025年3月14日 20:05", false, "45秒", origin, "42 句" } },
        { "minutes keep two-digit seconds", session(725'000, false, 12),
            { 7, "2025年3月14日 20:05", false, "12分05秒", origin, "42 句 · 12 积分" } },
        { "hours keep two-digit minutes", session(3'725'000, false, 0),
            { 7, "2025年3月14日 20:05", false, "1小时02分", origin, "42 句 · 0 积分" } },
        { "being recorded", session(std::nullopt, false, std::nullopt, 3),
            { 7, "2025年3月14日 20:05", false, "记录中", origin, "3 句" } },
        { "cut off, ended at its last caption", session(61'000, true),
            { 7, "2025年3月14日 20:05", true, "1分01秒", origin, "42 句" } },
        { "cut off with nothing to end it at", session(std::nullopt, true),
            { 7, "2025年3月14日 20:05", true, "—", origin, "42 句" } },
        { "an end before the start lasts nothing", session(-5'000),
            { 7, "2025年3月14日 20:05", false, "0秒", origin, "42 句" } },
    };
    for (const Case &c : cases)
        EXPECT_EQ(sessionEntry(c.session, utc), c.expected) << c.name;

    EXPECT_EQ(startedText(evening, QTimeZone(8 * 3600)), "2025年3月15日 04:05");
    EXPECT_EQ(sessionSummary(sessionEntry(session(725'000, false, 12), utc)),
        "English → 中文 · 全电脑播放音频 · 12分05秒 · 42 句 · 12 积分");
}

TEST(HistoryPresenter, FoundCaptionShowsItsSessionAndItsTimeInTheSession)
{
    const JournalSearchHit hit { { 7, 12, "the weather", "天气", 3'725'400, 3'727'000 }, evening,
        QStringLiteral("English → 中文") };
    EXPECT_EQ(hitEntry(hit, QTimeZone::utc()),
        (HitEntry {
            7, 12, "2025年3月14日 20:05 · English → 中文", "01:02:05", "the weather", "天气" }));
    for (const auto &[ms, text] : std::initializer_list<std::pair<qint64, const char *>> {
             { 0, "00:00:00" }, { 999, "00:00:00" }, { 59'999, "00:00:59" },
             { 36'000'000, "10:00:00" }, { -5, "00:00:00" } })
        EXPECT_EQ(clockText(ms), text) << ms;
}

TEST(HistoryPresenter, HeadingsCountWhatTheListHolds)
{
    EXPECT_EQ(sessionsHeading(0), "还没有字幕记录");
    EXPECT_EQ(sessionsHeading(3), "共 3 次翻译");
    EXPECT_EQ(resultsHeading(0, 500), "没有找到字幕");
    EXPECT_EQ(resultsHeading(499, 500), "找到 499 句字幕");
    EXPECT_EQ(resultsHeading(500, 500), "显示最新的 500 句字幕");
    EXPECT_EQ(interruptedOffer(17), "上次的翻译意外中断，已保存 17 句字幕。");
}

TEST(HistoryPresenter, ExportFileNamesSayTheFormatAndTheLanguages)
{
    const QString base = sessionFileBase(session(1000), QTimeZone::utc());
    EXPECT_EQ(base, "Quorvel字幕 2025-03-14 20.05");
    struct Case {
        ExportChoice choice;
        const char *expected;
    };
    const Case cases[] = {
        { { ExportFormat::text, ExportText::both }, "Quorvel字幕 2025-03-14 20.05.txt" },
        // The plain text and JSON lines always hold both languages, whatever was asked.
        { { ExportFormat::text, ExportText::source }, "Quorvel字幕 2025-03-14 20.05.txt" },
        { { ExportFormat::jsonLines, ExportText::target }, "Quorvel字幕 2025-03-14 20.05.jsonl" },
        { { ExportFormat::timedText, ExportText::both },
            "Quorvel字幕 2025-03-14 20.05（带时间）.txt" },
        { { ExportFormat::timedText, ExportText::source },
            "Quorvel字幕 2025-03-14 20.05（带时间，仅原文）.txt" },
        { { ExportFormat::srt, ExportText::both }, "Quorvel字幕 2025-03-14 20.05.srt" },
        { { ExportFormat::srt, ExportText::target }, "Quorvel字幕 2025-03-14 20.05（仅译文）.srt" },
        { { ExportFormat::webVtt, ExportText::source },
            "Quorvel字幕 2025-03-14 20.05（仅原文）.vtt" },
    };
    for (const Case &c : cases)
        EXPECT_EQ(exportFileName(base, c.choice), c.expected) << c.expected;
    EXPECT_EQ(exportFileName(searchFileBase, { ExportFormat::webVtt, ExportText::both }),
        "Quorvel字幕搜索结果.vtt");
}

TEST(HistoryPresenter, TranslationsReadRightToLeftWhenTheFirstStrongLetterDoes)
{
    const auto captions = [](std::initializer_list<const char *> targets) {
        QList<JournalCaption> list;
        for (const char *target : targets)
            list.append({ 1, list.size() + 1, "x", QString::fromUtf8(target), 0, 0 });
        return list;
    };
    struct Case {
        const char *name;
        QList<JournalCaption> captions;
        bool expected;
    };
    const Case cases[] = {
        { "Arabic", captions({ "مرحبا بكم" }), true },
        { "Hebrew after an empty and a digits-only translation", captions({ "", "42", "שלום" }),
            true },
        { "Chinese", captions({ "晚上好" }), false },
        { "English first, Arabic later", captions({ "Hello", "مرحبا" }), false },
        { "nothing to tell by", captions({ "", "123" }), false },
    };
    for (const Case &c : cases)
        EXPECT_EQ(targetsRightToLeft(c.captions), c.expected) << c.name;
}
