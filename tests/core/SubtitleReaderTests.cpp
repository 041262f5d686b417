// Subtitle files read back by independent readers: ffprobe (FFmpeg), python3-srt and
// python3-webvtt, each run as its own process on a file written by the export.

#include "TranslateCore/Export/CaptionExport.h"
#include "TranslateCore/Export/CueText.h"
#include "TranslateCore/Export/SubtitleCues.h"

#include "support/QtPrinters.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

using namespace TranslateCore;

namespace {

enum class Reader { ffprobe, pythonSrt, pythonWebVtt };

// Debian's interpreter, where the packaged modules are, whatever python3 comes first in PATH.
const QString python = QStringLiteral("/usr/bin/python3");

const char *readSrt = R"(
import json, srt, sys
with open(sys.argv[1], encoding='utf-8') as f:
    cues = list(srt.parse(f.read()))
json.dump([[c.start.total_seconds(), c.end.total_seconds(), c.content.split('\n')] for c in cues],
          sys.stdout)
)";

// Reads the file the way a script would: line by line, each line on its own.
const char *readJsonLines = R"(
import json, sys
with open(sys.argv[1], encoding='utf-8') as f:
    rows = [json.loads(line) for line in f.read().splitlines()]
json.dump([[r['session'], r['sequence'], r['startMs'], r['endMs'], r['source'], r['target']]
           for r in rows], sys.stdout)
)";

const char *readWebVtt = R"(
import html, json, sys, webvtt
cues = webvtt.read(sys.argv[1])
json.dump([[c.start_in_seconds, c.end_in_seconds, [html.unescape(l) for l in c.lines]]
           for c in cues], sys.stdout)
)";

struct ReadCue {
    qint64 startMs = 0;
    qint64 endMs = 0;
    QStringList lines; // empty when the reader reports times only
};

struct ProcessRun {
    bool ok = false;
    QByteArray output;
    QString problem;
};

ProcessRun run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    ProcessRun result;
    if (!process.waitForFinished(120'000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        result.problem = program + ": " + process.errorString() + " "
            + QString::fromUtf8(process.readAllStandardError());
        return result;
    }
    result.ok = true;
    result.output = process.readAllStandardOutput();
    return result;
}

// Why `reader` cannot run here, or nothing when it can.
std::optional<QString> missing(Reader reader)
{
    if (reader == Reader::ffprobe) {
        if (QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty())
            return QStringLiteral("ffprobe not found (install ffmpeg: scripts/bootstrap)");
        return std::nullopt;
    }
    const QString module = reader == Reader::pythonSrt ? "srt" : "webvtt";
    if (!run(python, { "-c", "import " + module }).ok)
        return QStringLiteral("%1 cannot import %2 (install python3-%2: scripts/bootstrap)")
            .arg(python, module);
    return std::nullopt;
}

#define REQUIRE_READER(reader)                                                                     \
    do {                                                                                           \
        if (const auto reason = missing(reader)) {                                                 \
            if (qEnvironmentVariable("CI") == QLatin1String("true"))                               \
                FAIL() << reason->toStdString();                                                   \
            else                                                                                   \
                GTEST_SKIP() << reason->toStdString();                                             \
        }                                                                                          \
    } while (false)

#define REQUIRE_READERS()                                                                          \
    do {                                                                                           \
        REQUIRE_READER(Reader::ffprobe);                                                           \
        REQUIRE_READER(Reader::pythonSrt);                                                         \
        REQUIRE_READER(Reader::pythonWebVtt);                                                      \
    } while (false)

qint64 milliseconds(double seconds)
{
    return std::llround(seconds * 1000);
}

std::optional<QList<ReadCue>> read(Reader reader, const QString &path, QString *problem)
{
    QList<ReadCue> cues;
    if (reader == Reader::ffprobe) {
        const ProcessRun result = run("ffprobe",
            { "-v", "error", "-show_entries", "packet=pts_time,duration_time", "-of", "csv=p=0",
                path });
        *problem = result.problem;
        if (!result.ok)
            return std::nullopt;
        for (const QByteArray &line : result.output.trimmed().split('\n')) {
            const QList<QByteArray> fields = line.trimmed().split(',');
            if (fields.size() != 2)
                continue;
            const qint64 start = milliseconds(fields[0].toDouble());
            cues.append({ start, start + milliseconds(fields[1].toDouble()), {} });
        }
        return cues;
    }
    const ProcessRun result
        = run(python, { "-c", reader == Reader::pythonSrt ? readSrt : readWebVtt, path });
    *problem = result.problem;
    if (!result.ok)
        return std::nullopt;
    for (const QJsonValue &value : QJsonDocument::fromJson(result.output).array()) {
        const QJsonArray cue = value.toArray();
        QStringList lines;
        for (const QJsonValue &line : cue[2].toArray())
            lines.append(line.toString());
        cues.append({ milliseconds(cue[0].toDouble()), milliseconds(cue[1].toDouble()), lines });
    }
    return cues;
}

QString writeFile(const QTemporaryDir &folder, const QString &name, const QString &content)
{
    const QString path = folder.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content.toUtf8()) < 0)
        ADD_FAILURE() << "cannot write " << path.toStdString();
    return path;
}

ExportedCaption caption(qint64 session, qint64 sequence, qint64 startMs, qint64 endMs,
    const QString &source, const QString &target)
{
    return { session, sequence, startMs, endMs, source, target };
}

// Recorded sessions as the journal keeps them; each caption fits one cue, so every cue's times
// are the journal's.
const QList<ExportedCaption> english = {
    caption(11, 1, 1200, 3400, "Good evening and welcome to the news.",
        "Buenas noches y bienvenidos a las noticias."),
    caption(11, 2, 3900, 7800,
        "Tonight we look at the weather, the markets and the football results.",
        "Esta noche vemos el tiempo, los mercados y los resultados del fútbol."),
    caption(11, 3, 9100, 11000, "First, the weather.", "Primero, el tiempo."),
};
const QList<ExportedCaption> chinese = {
    caption(12, 1, 500, 2600, "大家晚上好，欢迎收看新闻。", "Good evening, welcome to the news."),
    caption(12, 2, 3000, 6400, "今天晚上我们来看看天气和股市的情况。",
        "Tonight we look at the weather and the stock market."),
};
const QList<ExportedCaption> rightToLeft = {
    caption(
        13, 1, 800, 3000, "مرحبا بكم في نشرة الأخبار المسائية.", "Welcome to the evening news."),
    caption(13, 2, 3500, 6000, "שלום וברוכים הבאים לחדשות הערב.", "Hello and welcome to the news."),
};
// Capture paused for 90 s between the second and third caption: the audio clock jumps, and the
// readers must find the same gap between the cues.
const QList<ExportedCaption> pausedAndResumed = {
    caption(14, 1, 1000, 3000, "Before the pause.", "Antes de la pausa."),
    caption(14, 2, 3500, 5200, "Still before the pause.", "Todavía antes de la pausa."),
    caption(14, 3, 95000, 97500, "After the pause.", "Después de la pausa."),
    caption(14, 4, 98000, 100400, "And after it again.", "Y otra vez después."),
};

struct FormatCase {
    ExportFormat format;
    Reader reader;
};

const FormatCase readable[] = {
    { ExportFormat::srt, Reader::ffprobe },
    { ExportFormat::webVtt, Reader::ffprobe },
    { ExportFormat::srt, Reader::pythonSrt },
    { ExportFormat::webVtt, Reader::pythonWebVtt },
};

std::string describe(const FormatCase &c, ExportText text)
{
    const char *readers[] = { "ffprobe", "python3-srt", "python3-webvtt" };
    const char *texts[] = { "source", "target", "both" };
    return exportSuffix(c.format).toStdString() + " read by " + readers[int(c.reader)] + ", "
        + texts[int(text)];
}

} // namespace

namespace {

QString joinedLines(const QStringList &lines)
{
    QString text;
    for (const QString &line : lines)
        text = CueText::joined(text, line);
    return text;
}

// Every reader, every format and language choice: one cue per caption, at the journal's times,
// whose lines give back the caption's texts.
void expectReadAsRecorded(const QList<ExportedCaption> &session)
{
    QTemporaryDir folder;
    for (const FormatCase &c : readable)
        for (ExportText text : { ExportText::source, ExportText::target, ExportText::both }) {
            const std::string what = describe(c, text);
            const QString path = writeFile(folder, "session." + exportSuffix(c.format),
                exportCaptions(session, c.format, text));
            QString problem;
            const auto cues = read(c.reader, path, &problem);
            ASSERT_TRUE(cues) << what << ": " << problem.toStdString();
            ASSERT_EQ(cues->size(), session.size()) << what;
            for (qsizetype i = 0; i < session.size(); ++i) {
                const ReadCue &cue = (*cues)[i];
                EXPECT_NEAR(cue.startMs, session[i].startMs, 50) << what << " #" << i;
                EXPECT_NEAR(cue.endMs, session[i].endMs, 50) << what << " #" << i;
                if (c.reader == Reader::ffprobe)
                    continue;
                const qsizetype sourceLines
                    = text == ExportText::target ? 0 : CueText::wrap(session[i].source).size();
                EXPECT_LE(cue.lines.size(), text == ExportText::both ? 4 : 2) << what;
                if (text != ExportText::target) {
                    EXPECT_EQ(joinedLines(cue.lines.mid(0, sourceLines)), session[i].source)
                        << what << " #" << i;
                }
                if (text != ExportText::source) {
                    EXPECT_EQ(joinedLines(cue.lines.mid(sourceLines)), session[i].target)
                        << what << " #" << i;
                }
            }
        }
}

} // namespace

TEST(SubtitleReaders, ReadAnEnglishSessionAsRecorded)
{
    REQUIRE_READERS();
    expectReadAsRecorded(english);
}

TEST(SubtitleReaders, ReadAChineseSessionAsRecorded)
{
    REQUIRE_READERS();
    expectReadAsRecorded(chinese);
}

TEST(SubtitleReaders, ReadARightToLeftSessionAsRecorded)
{
    REQUIRE_READERS();
    expectReadAsRecorded(rightToLeft);
}

TEST(SubtitleReaders, ReadAPausedAndResumedSessionAsRecorded)
{
    REQUIRE_READERS();
    expectReadAsRecorded(pausedAndResumed);
}

TEST(SubtitleReaders, ReadSplitCaptionsWithinTheCaptionsTime)
{
    REQUIRE_READER(Reader::ffprobe);
    REQUIRE_READER(Reader::pythonSrt);
    const QList<ExportedCaption> session = {
        caption(15, 1, 2000, 14000,
            "This caption is far too long for one cue, because the speaker went on and on "
            "without a pause, and nobody can read more than two lines at a time on a screen.",
            "这条字幕太长了，一个字幕块放不下，因为说话的人一直没有停顿，而观众一次最多只能读两行"
            "。"),
        caption(15, 2, 14500, 17000, "A short one after it.", "后面一条短的。"),
    };
    QTemporaryDir folder;
    const QList<SubtitleCue> expected = subtitleCues(session, ExportText::both);
    ASSERT_GT(expected.size(), 2);
    for (Reader reader : { Reader::ffprobe, Reader::pythonSrt }) {
        const QString path
            = writeFile(folder, "split.srt", exportCaptions(session, ExportFormat::srt));
        QString problem;
        const auto cues = read(reader, path, &problem);
        ASSERT_TRUE(cues) << problem.toStdString();
        ASSERT_EQ(cues->size(), expected.size());
        EXPECT_NEAR(cues->first().startMs, 2000, 50);
        EXPECT_NEAR((*cues)[cues->size() - 2].endMs, 14000, 50);
        EXPECT_NEAR(cues->last().startMs, 14500, 50);
        for (qsizetype i = 0; i < cues->size(); ++i) {
            EXPECT_NEAR((*cues)[i].startMs, expected[i].startMs, 50);
            EXPECT_NEAR((*cues)[i].endMs, expected[i].endMs, 50);
            EXPECT_GE((*cues)[i].endMs - (*cues)[i].startMs, 800 - 50);
        }
    }
}

TEST(SubtitleReaders, FindNoInjectedOrBrokenCueInHostileCaptions)
{
    REQUIRE_READERS();
    QString huge;
    while (huge.size() < 1'000'000)
        huge += QStringLiteral("long text --> with arrows\n\nand blank lines ");
    const QList<ExportedCaption> session = {
        caption(16, 1, 1000, 3000,
            "before\n\n2\n00:00:09,000 --> 00:00:10,000\ninjected\n\n00:00:09.000 --> "
            "00:00:10.000\nNOTE\n\nWEBVTT",
            QString("<b>bold</b> & <c.red>tag</c> &amp; \x1b[31m\x07\x01") + QChar(0)),
        caption(16, 2, 4000, 6000, "\r\n\r\n-->\r\n", "\n\n\n   \n"),
        caption(16, 3, 7000, 9000, huge, "一兆字节"),
        caption(16, 4, 10000, 12000, "the end", "fin"),
    };
    QTemporaryDir folder;
    for (const FormatCase &c : readable) {
        const QList<SubtitleCue> expected = subtitleCues(session, ExportText::both);
        const QString path = writeFile(
            folder, "hostile." + exportSuffix(c.format), exportCaptions(session, c.format));
        QString problem;
        const auto cues = read(c.reader, path, &problem);
        const std::string what = describe(c, ExportText::both);
        ASSERT_TRUE(cues) << what << ": " << problem.toStdString();
        ASSERT_EQ(cues->size(), expected.size()) << what;
        EXPECT_NEAR(cues->first().startMs, 1000, 50) << what;
        for (qsizetype i = 0; i < cues->size(); ++i) {
            EXPECT_NEAR((*cues)[i].startMs, expected[i].startMs, 50) << what << " #" << i;
            EXPECT_NEAR((*cues)[i].endMs, expected[i].endMs, 50) << what << " #" << i;
        }
        if (c.reader == Reader::ffprobe)
            continue;
        // SubRip has no escape for an arrow in the text: it is written shortened.
        QStringList lines = expected.first().sourceLines + expected.first().targetLines;
        if (c.format == ExportFormat::srt)
            lines.replaceInStrings("-->", "->");
        EXPECT_EQ(cues->first().lines, lines) << what;
        EXPECT_EQ(cues->last().lines, (QStringList { "the end", "fin" })) << what;
    }
}

TEST(SubtitleReaders, PythonReadsEveryJsonLinesFieldBack)
{
    REQUIRE_READERS();
    const QList<ExportedCaption> captions = {
        caption(std::numeric_limits<qint64>::max(), 1, -5, 0, "quote \" backslash \\ /",
            "line\nbreak\r\ttab"),
        caption(7, 2, 123456789012, 123456789999,
            QString("nul") + QChar(0) + "\x1c\x1d\x1e\x0b\x0c" + QChar(0x85) + QChar(0x2028)
                + QChar(0x2029),
            QString::fromUcs4(U"😀 中文 مرحبا שלום")),
        caption(7, 3, 0, 0, "", "<b>&amp;</b> -->"),
    };
    QTemporaryDir folder;
    const QString path
        = writeFile(folder, "captions.jsonl", exportCaptions(captions, ExportFormat::jsonLines));
    const ProcessRun result = run(python, { "-c", readJsonLines, path });
    ASSERT_TRUE(result.ok) << result.problem.toStdString();
    QList<ExportedCaption> readBack;
    for (const QJsonValue &value : QJsonDocument::fromJson(result.output).array()) {
        const QJsonArray row = value.toArray();
        readBack.append({ row[0].toInteger(), row[1].toInteger(), row[2].toInteger(),
            row[3].toInteger(), row[4].toString(), row[5].toString() });
    }
    EXPECT_EQ(readBack, exportOrder(captions));
}
