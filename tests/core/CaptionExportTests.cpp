#include "TranslateCore/Export/CaptionExport.h"
#include "TranslateCore/Export/CueText.h"
#include "TranslateCore/Export/SubtitleCues.h"
#include "TranslateCore/Subtitles/ServerEvent.h"
#include "TranslateCore/Subtitles/Transcript.h"

#include "support/QtPrinters.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace TranslateCore;

namespace TranslateCore {
void PrintTo(const SubtitleCue &cue, std::ostream *out)
{
    *out << '[' << cue.startMs << ", " << cue.endMs << "] ";
    ::PrintTo(cue.sourceLines, out);
    *out << ' ';
    ::PrintTo(cue.targetLines, out);
}
} // namespace TranslateCore

namespace {

ExportedCaption caption(qint64 sequence, qint64 startMs, qint64 endMs, const QString &source,
    const QString &target, qint64 session = 1)
{
    return { session, sequence, startMs, endMs, source, target };
}

using Times = QList<std::pair<qint64, qint64>>;

Times timesOf(const QList<SubtitleCue> &cues)
{
    Times times;
    for (const SubtitleCue &cue : cues)
        times.append({ cue.startMs, cue.endMs });
    return times;
}

// Texts long enough not to count as fragments.
const QString english = QStringLiteral("The weather will stay dry for most of the day.");
const QString spanish = QStringLiteral("El tiempo seguirá seco durante la mayor parte del día.");

} // namespace

TEST(CueText, FoldsEverythingThatCouldEndALineIntoSingleSpaces)
{
    const struct {
        QString input;
        QString expected;
    } cases[] = {
        { "plain", "plain" },
        { "  two\n\nparagraphs \r\n", "two paragraphs" },
        { "tab\tand\vform\ffeed", "tab and form feed" },
        { QString("bell\x07") + QChar(0) + "null\x1b[31mred" + QChar(0x7f), "bellnull[31mred" },
        { QString("line") + QChar(0x2028) + "sep" + QChar(0x2029) + "para" + QChar(0x85),
            "line sep para" },
        { QString("lone") + QChar(0xD800) + "surrogate", "lonesurrogate" },
        { QString("emoji ") + QString::fromUcs4(U"\U0001F600"),
            QString::fromUcs4(U"emoji \U0001F600") },
        { "中文，\n字幕", "中文， 字幕" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(CueText::singleLine(c.input), c.expected) << c.input.toStdString();
}

TEST(CueText, WrapsLatinAtFortyTwoAndCjkAtSixteenCharacters)
{
    const struct {
        QString text;
        QStringList lines;
    } cases[] = {
        { "", {} },
        { "short line", { "short line" } },
        { "Forty-two characters fit on a single line.", // exactly 42
            { "Forty-two characters fit on a single line." } },
        { "Forty-three characters do not fit on a line.",
            { "Forty-three characters do not fit on a", "line." } },
        { "今天的天气很好我们一起去公园散步吧然后吃饭", // 21 characters
            { "今天的天气很好我们一起去公园散步", "吧然后吃饭" } },
        // No line starts with closing punctuation: the break moves one character back.
        { "一二三四五六七八九十一二三四五，六", { "一二三四五六七八九十一二三四五，", "六" } },
        { "一二三四五六七八九十一二三四五六，七", { "一二三四五六七八九十一二三四五", "六，七" } },
        { QString(50, u'x'), { QString(42, u'x'), QString(8, u'x') } },
        { "مرحبا بكم في نشرة الأخبار المسائية من العاصمة", // 45 characters
            { "مرحبا بكم في نشرة الأخبار المسائية من", "العاصمة" } },
    };
    for (const auto &c : cases)
        EXPECT_EQ(CueText::wrap(c.text), c.lines) << c.text.toStdString();
}

TEST(CueText, BalancesTextThatTakesTwoLines)
{
    const struct {
        QString text;
        QStringList lines;
    } cases[] = {
        { "Buenas noches y bienvenidos a las noticias.",
            { "Buenas noches y bienvenidos", "a las noticias." } },
        { "今天的天气很好我们一起去公园散步吧然后吃饭",
            { "今天的天气很好我们一起", "去公园散步吧然后吃饭" } },
        { "one line", { "one line" } },
        { QString(42, u'x') + ' ' + QString(42, u'y'), { QString(42, u'x'), QString(42, u'y') } },
    };
    for (const auto &c : cases)
        EXPECT_EQ(CueText::balancedWrap(c.text), c.lines) << c.text.toStdString();
    // Three lines and more are filled line by line; the cue split shares them out.
    const QString long3 = QString(40, u'a') + ' ' + QString(40, u'b') + ' ' + QString(10, u'c');
    EXPECT_EQ(CueText::balancedWrap(long3), CueText::wrap(long3));
}

TEST(CueText, JoinsCjkWithoutAndOtherTextWithASpace)
{
    EXPECT_EQ(CueText::joined("好的", "谢谢"), "好的谢谢");
    EXPECT_EQ(CueText::joined("OK", "thanks"), "OK thanks");
    EXPECT_EQ(CueText::joined("好的", "OK"), "好的 OK");
    EXPECT_EQ(CueText::joined("", "OK"), "OK");
}

TEST(SubtitleTiming, MakesCueTimesMonotonicWithoutOverlapsAndAtLeastTheMinimum)
{
    const struct {
        const char *name;
        QList<ExportedCaption> captions;
        Times expected;
    } cases[] = {
        { "ordinary captions keep the journal's times",
            { caption(1, 1000, 3000, english, spanish), caption(2, 3500, 6000, english, spanish) },
            { { 1000, 3000 }, { 3500, 6000 } } },
        { "a caption still being translated ends when the next appears",
            { caption(1, 0, 3200, english, spanish), caption(2, 3000, 6000, english, spanish) },
            { { 0, 3000 }, { 3000, 6000 } } },
        { "a caption shorter than the minimum is held for it",
            { caption(1, 1000, 1200, english, spanish) }, { { 1000, 1800 } } },
        { "the next start waits until the one before had its minimum",
            { caption(1, 1000, 1100, english, spanish), caption(2, 1300, 4000, english, spanish) },
            { { 1000, 1800 }, { 1800, 4000 } } },
        { "negative readings count as the start of the session",
            { caption(1, -500, -100, english, spanish), caption(2, -50, 2000, english, spanish) },
            { { 0, 800 }, { 800, 2000 } } },
        { "an end before the start is unknown: the minimum",
            { caption(1, 5000, 4000, english, spanish) }, { { 5000, 5800 } } },
        { "zero times get the minimum each, one after the other",
            { caption(1, 0, 0, english, spanish), caption(2, 0, 0, english, spanish) },
            { { 0, 800 }, { 800, 1600 } } },
        { "a caption whose clock went back follows the one before, keeping its length",
            { caption(1, 5000, 6000, english, spanish), caption(2, 1000, 2000, english, spanish) },
            { { 5000, 6000 }, { 6000, 7000 } } },
        { "captions are ordered by sequence whatever the input order",
            { caption(2, 4000, 6000, english, spanish), caption(1, 1000, 3000, english, spanish) },
            { { 1000, 3000 }, { 4000, 6000 } } },
        { "a paused capture keeps its gap",
            { caption(1, 1000, 3000, english, spanish),
                caption(2, 95000, 97000, english, spanish) },
            { { 1000, 3000 }, { 95000, 97000 } } },
        { "a second session whose clock starts anew follows the first after a pause",
            { caption(1, 1000, 3000, english, spanish, 1),
                caption(1, 500, 2500, english, spanish, 2) },
            { { 1000, 3000 }, { 4000, 6000 } } },
        { "a caption with nothing to show gives no cue",
            { caption(1, 1000, 3000, " \n ", "\t"), caption(2, 4000, 6000, english, spanish) },
            { { 4000, 6000 } } },
        { "readings beyond the clock's range are held to it",
            { caption(1, std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max(),
                english, spanish) },
            { { SubtitleTiming::latestMs, SubtitleTiming::latestMs + 800 } } },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(timesOf(subtitleCues(c.captions, ExportText::both)), c.expected) << c.name;
        EXPECT_EQ(timesOf(timedCaptions(c.captions, ExportText::both)), c.expected) << c.name;
    }
}

TEST(SubtitleTiming, SplitsALongCaptionIntoCuesOfTwoLinesTimedByTheirText)
{
    const QString source = QStringLiteral(
        "This is a rather long caption that goes on and on, because the speaker did not pause "
        "for breath at all, and it has to be split into several cues so that nobody has to read "
        "more than two lines at once.");
    const QList<SubtitleCue> cues
        = subtitleCues({ caption(1, 10000, 20000, source, {}) }, ExportText::source);
    ASSERT_EQ(cues.size(), 3);
    qsizetype characters = 0;
    for (const SubtitleCue &cue : cues) {
        EXPECT_LE(cue.sourceLines.size(), 2);
        for (const QString &line : cue.sourceLines) {
            EXPECT_LE(line.size(), 42) << line.toStdString();
            characters += line.size();
        }
    }
    EXPECT_EQ(cues.first().startMs, 10000);
    EXPECT_EQ(cues.last().endMs, 20000);
    for (qsizetype i = 0; i < cues.size(); ++i) {
        if (i > 0) {
            EXPECT_EQ(cues[i].startMs, cues[i - 1].endMs);
        }
        qsizetype own = 0;
        for (const QString &line : cues[i].sourceLines)
            own += line.size();
        // Each cue's share of the ten seconds is its share of the text (within rounding and
        // the space lost at each line break).
        EXPECT_NEAR(double(cues[i].endMs - cues[i].startMs), 10000.0 * own / characters, 150.0);
    }
}

TEST(SubtitleTiming, SplitsBilingualCaptionsByTheLongerLanguage)
{
    const QString chinese = QStringLiteral("这是一个很长的句子，说话的人一直没有停顿，所以字幕必须"
                                           "分成几段，每段最多两行，方便观众阅读。");
    const QList<SubtitleCue> cues = subtitleCues(
        { caption(1, 0, 9000, chinese, QStringLiteral("Short translation.")) }, ExportText::both);
    ASSERT_EQ(cues.size(), 2);
    EXPECT_EQ(cues[0].targetLines, QStringList { "Short translation." });
    EXPECT_TRUE(cues[1].targetLines.isEmpty());
    for (const SubtitleCue &cue : cues) {
        EXPECT_LE(cue.sourceLines.size(), 2);
        for (const QString &line : cue.sourceLines)
            EXPECT_LE(line.size(), 16) << line.toStdString();
    }
}

TEST(SubtitleTiming, MergesShortFragmentsIntoTheCaptionBefore)
{
    const QString twoFullLines = QString(42, u'x') + ' ' + QString(42, u'y');
    const struct {
        const char *name;
        QList<ExportedCaption> captions;
        QList<SubtitleCue> expected;
    } cases[] = {
        { "a short word right after a caption joins it",
            { caption(1, 1000, 3000, "We are live.", "Estamos en directo."),
                caption(2, 3200, 3600, "OK.", "Vale.") },
            { { 1000, 3600, { "We are live. OK." }, { "Estamos en directo. Vale." } } } },
        { "CJK fragments join without a space",
            { caption(1, 1000, 3000, "我们现在直播。", "We are live now."),
                caption(2, 3100, 3500, "好的。", "OK.") },
            { { 1000, 3500, { "我们现在直播。好的。" }, { "We are live now. OK." } } } },
        { "a fragment after a pause stays on its own",
            { caption(1, 1000, 3000, "We are live.", "Estamos en directo."),
                caption(2, 4500, 5500, "OK.", "Vale.") },
            { { 1000, 3000, { "We are live." }, { "Estamos en directo." } },
                { 4500, 5500, { "OK." }, { "Vale." } } } },
        { "a fragment that would need a third line stays on its own",
            { caption(1, 1000, 5000, twoFullLines, spanish),
                caption(2, 5100, 5500, "Right.", "Bien.") },
            { { 1000, 5000, CueText::wrap(twoFullLines), CueText::balancedWrap(spanish) },
                { 5100, 5900, { "Right." }, { "Bien." } } } },
    };
    for (const auto &c : cases)
        EXPECT_EQ(subtitleCues(c.captions, ExportText::both), c.expected) << c.name;
}

TEST(CaptionExport, PlainTextIsTheTranscriptsOwnText)
{
    Transcript transcript;
    for (const char *event : {
             R"({"type":"asr.final","segmentSeq":1,"text":"a"})",
             R"({"type":"translation.final","segmentSeq":1,"text":"b"})",
             R"({"type":"asr.partial","segmentSeq":2,"text":"c"})",
             R"({"type":"asr.final","segmentSeq":3,"text":"line\nbreak  "})",
             R"({"type":"translation.partial","segmentSeq":3,"text":"\u0007<b>"})",
         })
        transcript.apply(ServerEvent::fromText(event));
    QList<ExportedCaption> captions;
    for (const Caption &c : transcript.captions())
        captions.append(caption(c.sequence, 0, 0, c.source, c.target));
    EXPECT_EQ(exportCaptions(captions, ExportFormat::text), transcript.plainText());
    EXPECT_EQ(exportCaptions(captions.mid(0, 2), ExportFormat::text), "a\nb\n\nc\n");
    EXPECT_EQ(exportCaptions({}, ExportFormat::text), "");
}

TEST(CaptionExport, WritesEachFormatAndLanguageChoice)
{
    const QList<ExportedCaption> captions = {
        caption(1, 1200, 3400, "Good evening.", "Buenas noches.", 42),
        caption(2, 3661001, 3663500, "Fish & <chips>", "", 42),
    };
    const struct {
        ExportFormat format;
        ExportText text;
        QString expected;
    } cases[] = {
        { ExportFormat::srt, ExportText::both,
            "1\n00:00:01,200 --> 00:00:03,400\nGood evening.\nBuenas noches.\n\n"
            "2\n01:01:01,001 --> 01:01:03,500\nFish & <chips>\n" },
        { ExportFormat::srt, ExportText::target,
            "1\n00:00:01,200 --> 00:00:03,400\nBuenas noches.\n" },
        { ExportFormat::srt, ExportText::source,
            "1\n00:00:01,200 --> 00:00:03,400\nGood evening.\n\n"
            "2\n01:01:01,001 --> 01:01:03,500\nFish & <chips>\n" },
        { ExportFormat::webVtt, ExportText::both,
            "WEBVTT\n\n00:00:01.200 --> 00:00:03.400\nGood evening.\nBuenas noches.\n\n"
            "01:01:01.001 --> 01:01:03.500\nFish &amp; &lt;chips&gt;\n" },
        { ExportFormat::webVtt, ExportText::target,
            "WEBVTT\n\n00:00:01.200 --> 00:00:03.400\nBuenas noches.\n" },
        { ExportFormat::timedText, ExportText::both,
            "[00:00:01.200 - 00:00:03.400]\nGood evening.\nBuenas noches.\n\n"
            "[01:01:01.001 - 01:01:03.500]\nFish & <chips>\n" },
        { ExportFormat::jsonLines, ExportText::source,
            "{\"session\":42,\"sequence\":1,\"startMs\":1200,\"endMs\":3400,"
            "\"source\":\"Good evening.\",\"target\":\"Buenas noches.\"}\n"
            "{\"session\":42,\"sequence\":2,\"startMs\":3661001,\"endMs\":3663500,"
            "\"source\":\"Fish & <chips>\",\"target\":\"\"}\n" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(exportCaptions(captions, c.format, c.text), c.expected)
            << exportSuffix(c.format).toStdString() << " " << int(c.text);
    EXPECT_EQ(exportCaptions({}, ExportFormat::webVtt), "WEBVTT\n");
    EXPECT_EQ(exportCaptions({}, ExportFormat::srt), "");
    EXPECT_EQ(subRipTime(360'000'000), "100:00:00,000");
}

TEST(CaptionExport, JsonLinesCarryEveryFieldUnchanged)
{
    const QList<ExportedCaption> captions = {
        caption(1, -5, 0, "quote \" backslash \\ slash /", "line\nbreak\r\ttab", 1),
        caption(7, 123456789012, 123456789999,
            QString("nul") + QChar(0) + "\x1f" + QChar(0x2028) + QChar(0x2029) + QChar(0x85),
            QString::fromUcs4(U"😀 中文 مرحبا שלום"), std::numeric_limits<qint64>::max()),
        caption(2, 0, 0, "", "", std::numeric_limits<qint64>::max()),
    };
    const QStringList lines = exportCaptions(captions, ExportFormat::jsonLines).split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines.last(), "");
    QList<ExportedCaption> readBack;
    for (const QString &line : lines.mid(0, 3)) {
        QJsonParseError error;
        const QJsonObject json = QJsonDocument::fromJson(line.toUtf8(), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        EXPECT_EQ(json.size(), 6);
        readBack.append({ json["session"].toInteger(), json["sequence"].toInteger(),
            json["startMs"].toInteger(), json["endMs"].toInteger(), json["source"].toString(),
            json["target"].toString() });
    }
    EXPECT_EQ(readBack, exportOrder(captions));
}

TEST(CaptionExport, HostileTextCannotBreakOrInjectACue)
{
    const QString injection
        = QStringLiteral("before\n\n2\n00:00:09,000 --> 00:00:10,000\ninjected"
                         "\n\nWEBVTT\n\nNOTE x\n\n00:00:09.000 --> 00:00:10.000");
    const QList<ExportedCaption> captions = {
        caption(1, 1000, 3000, injection, QString("<b>bold</b> & <script>x</script>\x1b\x07")),
        caption(2, 4000, 6000, "arrows ---> and -->-->", "\r\n\r\n"),
    };
    for (ExportFormat format : { ExportFormat::srt, ExportFormat::webVtt }) {
        const QString file = exportCaptions(captions, format);
        const qsizetype cues = subtitleCues(captions, ExportText::both).size();
        EXPECT_EQ(file.count("-->"), cues) << file.toStdString();
        // Cues are separated by exactly one blank line and nothing else is blank.
        EXPECT_EQ(file.count("\n\n"), format == ExportFormat::srt ? cues - 1 : cues);
        EXPECT_FALSE(file.contains('\r'));
        EXPECT_FALSE(file.contains(QChar(0x1b)));
        EXPECT_FALSE(file.contains(QChar(0x07)));
    }
    const QString vtt = exportCaptions(captions, ExportFormat::webVtt);
    EXPECT_TRUE(vtt.contains("&lt;b&gt;bold&lt;/b&gt; &amp; &lt;script&gt;x&lt;/script&gt;"));
    EXPECT_FALSE(vtt.mid(6).contains('<'));
    EXPECT_TRUE(exportCaptions(captions, ExportFormat::srt).contains("arrows -> and ->->"));
}

TEST(CaptionExport, AMegabyteCaptionBecomesReadableCues)
{
    QString huge;
    while (huge.size() < 1'000'000)
        huge += QStringLiteral("word\n\n-->\x01 中文字幕 ");
    const QString noSpaces(1'000'000, u'字');
    const QList<ExportedCaption> captions = {
        caption(1, 0, 60000, huge, noSpaces),
        caption(2, 61000, 62000, english, spanish),
    };
    const QList<SubtitleCue> cues = subtitleCues(captions, ExportText::both);
    ASSERT_GT(cues.size(), 1000);
    for (qsizetype i = 0; i < cues.size(); ++i) {
        ASSERT_LE(cues[i].sourceLines.size(), 2);
        ASSERT_LE(cues[i].targetLines.size(), 2);
        ASSERT_GE(cues[i].endMs - cues[i].startMs, SubtitleTiming::minimumDisplayMs);
        if (i > 0) {
            ASSERT_GE(cues[i].startMs, cues[i - 1].endMs);
        }
    }
    EXPECT_EQ(cues.last().sourceLines, CueText::balancedWrap(english));
    const QString srt = exportCaptions(captions, ExportFormat::srt);
    EXPECT_EQ(srt.count("-->"), cues.size());
}
