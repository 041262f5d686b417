#include "TranslateMac/Journal/CaptionJournal.h"

#include "TranslateCore/Export/CaptionExport.h"

#include "ApplicationProcess.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <sys/resource.h>

using namespace TranslateMac;
using namespace std::chrono_literals;
using TranslateCore::ExportedCaption;
using TranslateCore::ExportFormat;
using TranslateCore::ExportText;

namespace {

const QString hint = QStringLiteral("\nTry 'quorvel-translate --help' for more information.\n");

QStringList arguments(std::initializer_list<const char *> words)
{
    QStringList list;
    for (const char *word : words)
        list << QString::fromUtf8(word);
    return list;
}

JournalSessionStart sessionStart(qint64 serviceId, qint64 startedAtMs, const QString &direction,
    const QString &source = QStringLiteral("全电脑播放音频"))
{
    return { serviceId, QStringLiteral("EN_ZH"), direction, source, startedAtMs };
}

// 2023-11-14T22:13:20 UTC.
constexpr qint64 firstStart = 1'700'000'000'000;
constexpr qint64 day = 86'400'000;

// The exported session's captions as the journal got them: the cue times are when each first
// appeared and when it became final, on the session's audio clock.
struct Recorded {
    qint64 sequence;
    qint64 appearedMs;
    qint64 finalMs;
    const char *source;
    const char *target;
};

const Recorded recorded[] = {
    { 1, 0, 1'800, "Good evening, and welcome back.", "晚上好，欢迎回来。" },
    { 2, 2'100, 2'500, "Thanks.", "谢谢。" },
    { 3, 3'000, 9'400,
        "The committee met on Tuesday to discuss the budget for next year, and after a long "
        "debate it agreed to raise the spending on public libraries by a tenth.",
        "委员会周二开会讨论明年的预算，经过长时间辩论，同意将公共图书馆的支出提高十分之一。" },
    { 4, 10'000, 12'000, "مرحبا بكم في النشرة", "欢迎收看新闻" },
    { 5, 12'500, 14'000, "<b>bold</b> --> & more", "שלום --> עולם" },
};

// Sessions of every kind, in a journal the application would keep in this private home; the
// journal stays open (as in a running application) until the test closes it.
class JournalCommandLine : public ApplicationProcess {
protected:
    void SetUp() override
    {
        ApplicationProcess::SetUp();
        journal = CaptionJournal::open(journalPath());
        // An ended session, charged.
        const qint64 ended = journal->beginSession(
            sessionStart(7001, firstStart, QStringLiteral("English → 中文")));
        for (const Recorded &caption : recorded)
            journal->append({ ended, caption.sequence, QString::fromUtf8(caption.source),
                QString::fromUtf8(caption.target), caption.appearedMs, caption.finalMs });
        journal->endSession(ended, firstStart + 3'723'000);
        journal->recordCharge(ended, 12);
        // One a crash cut off, found at a later launch; its source's name holds a tab and a
        // line break.
        const qint64 cut = journal->beginSession(sessionStart(3, firstStart + day,
            QStringLiteral("中文 → English"), QStringLiteral("Firefox\tNightly\nbeta")));
        journal->append({ cut, 1, QStringLiteral("你好"), QStringLiteral("Hello"), 0, 900 });
        journal->markInterrupted(cut);
        // One still being recorded.
        journal->beginSession(
            sessionStart(1, firstStart + 2 * day, QStringLiteral("English → 中文")));
        ASSERT_TRUE(journal->flush(5s));
        ASSERT_EQ(ended, 1);
    }

    QString journalFolder() const
    {
        return home.filePath(QStringLiteral("data/com.quorvel.translate.mac"));
    }
    QString journalPath() const { return journalFolder() + QStringLiteral("/journal.sqlite3"); }

    // No display, a fixed time zone (8 hours east of UTC) and no UTF-8 locale.
    QProcessEnvironment commandEnvironment() const
    {
        QProcessEnvironment environment = this->environment();
        environment.insert(QStringLiteral("TZ"), QStringLiteral("XST-8"));
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        return environment;
    }

    Ended command(const QStringList &words, const std::function<void()> &prepareChild = {})
    {
        return run(words, commandEnvironment(), prepareChild);
    }

    static QList<ExportedCaption> exportedSession()
    {
        QList<ExportedCaption> captions;
        for (const Recorded &caption : recorded)
            captions.append({ 1, caption.sequence, caption.appearedMs, caption.finalMs,
                QString::fromUtf8(caption.source), QString::fromUtf8(caption.target) });
        return captions;
    }

    std::unique_ptr<CaptionJournal> journal;
};

const QByteArray listed
    = "3\t2023-11-17T06:13:20\trecording\tEnglish → 中文\t0\t-\t全电脑播放音频\n"
      "2\t2023-11-16T06:13:20\tinterrupted\t中文 → English\t1\t-\t"
      "Firefox Nightly beta\n"
      "1\t2023-11-15T06:13:20\t1:02:03\tEnglish → 中文\t5\t12\t全电脑播放音频\n";

TEST_F(JournalCommandLine, ListsSessionsNewestFirstWhileTheApplicationRecords)
{
    const Ended ended = command({ QStringLiteral("--list-sessions") });
    EXPECT_EQ(ended.exitCode, 0);
    EXPECT_EQ(ended.error, QByteArray());
    EXPECT_EQ(ended.output, listed);

    // The recording goes on beside the reader, and the next listing sees what it added.
    journal->append({ 3, 1, QStringLiteral("Next."), QStringLiteral("下一个。"), 0, 700 });
    ASSERT_TRUE(journal->flush(5s));
    EXPECT_EQ(journal->writeFailure(), std::nullopt);
    EXPECT_TRUE(command({ QStringLiteral("--list-sessions") })
                    .output.startsWith("3\t2023-11-17T06:13:20\trecording\tEnglish → 中文\t1\t"));
}

TEST_F(JournalCommandLine, ReadsTheJournalWithoutChangingIt)
{
    journal.reset();
    const QByteArray bytes = TestSupport::contentOf(journalPath());
    EXPECT_EQ(command({ QStringLiteral("--list-sessions") }).output, listed);
    EXPECT_EQ(command(arguments({ "--export", "1", "--format", "jsonl", "-o", "-" })).exitCode, 0);
    EXPECT_EQ(TestSupport::contentOf(journalPath()), bytes);
    // A reader alone leaves SQLite's shared index and an empty log beside the file (the next
    // writer takes them over and removes them), as private as the journal itself.
    for (const QString &name : TestSupport::folderEntries(journalFolder())) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(
            QStringList({ QStringLiteral("journal.sqlite3"), QStringLiteral("journal.sqlite3-shm"),
                            QStringLiteral("journal.sqlite3-wal") })
                .contains(name));
        EXPECT_EQ(QFile::permissions(journalFolder() + u'/' + name),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }
    EXPECT_TRUE(TestSupport::contentOf(journalPath() + QStringLiteral("-wal")).isEmpty());
}

TEST_F(JournalCommandLine, FindsTheJournalInTheHomeFolderWithoutXdgDataHome)
{
    journal.reset();
    const QString fallback = home.filePath(QStringLiteral(".local/share"));
    ASSERT_TRUE(QDir().mkpath(fallback));
    ASSERT_TRUE(QDir().rename(home.filePath(QStringLiteral("data/com.quorvel.translate.mac")),
        fallback + QStringLiteral("/com.quorvel.translate.mac")));
    QProcessEnvironment environment = commandEnvironment();
    environment.remove(QStringLiteral("XDG_DATA_HOME"));
    EXPECT_EQ(run({ QStringLiteral("--list-sessions") }, environment).output, listed);
}

TEST_F(JournalCommandLine, WithoutADataFolderListsNothing)
{
    QProcessEnvironment environment = commandEnvironment();
    environment.remove(QStringLiteral("XDG_DATA_HOME"));
    environment.remove(QStringLiteral("HOME"));
    const Ended ended = run({ QStringLiteral("--list-sessions") }, environment);
    EXPECT_EQ(ended.exitCode, 0);
    EXPECT_EQ(ended.output, QByteArray());
    EXPECT_EQ(ended.error,
        "quorvel-translate: no sessions recorded yet (no data folder: HOME is not set)\n");
}

struct ExportCase {
    const char *name;
    std::initializer_list<const char *> options; // after --export 1
    ExportFormat format;
    ExportText text;
};

const ExportCase exportCases[] = {
    { "Text", { "--format", "txt" }, ExportFormat::text, ExportText::both },
    { "TextNamingBothTexts", { "--format", "txt", "--text", "both" }, ExportFormat::text,
        ExportText::both },
    { "SubRipBilingual", { "--format", "srt" }, ExportFormat::srt, ExportText::both },
    { "SubRipSource", { "--format", "srt", "--text", "source" }, ExportFormat::srt,
        ExportText::source },
    { "SubRipTarget", { "--text", "target", "--format", "srt" }, ExportFormat::srt,
        ExportText::target },
    { "WebVttBilingual", { "--format", "vtt", "--text", "both" }, ExportFormat::webVtt,
        ExportText::both },
    { "WebVttSource", { "--format", "vtt", "--text", "source" }, ExportFormat::webVtt,
        ExportText::source },
    { "WebVttTarget", { "--format=vtt", "--text=target" }, ExportFormat::webVtt,
        ExportText::target },
    { "JsonLines", { "--format", "jsonl" }, ExportFormat::jsonLines, ExportText::both },
};

class JournalExport : public JournalCommandLine,
                      public ::testing::WithParamInterface<ExportCase> { };

TEST_P(JournalExport, WritesTheSessionAsTheExportOfItsCaptions)
{
    const ExportCase &c = GetParam();
    const QByteArray expected
        = TranslateCore::exportCaptions(exportedSession(), c.format, c.text).toUtf8();
    ASSERT_FALSE(expected.isEmpty());
    const QStringList request
        = QStringList { QStringLiteral("--export"), QStringLiteral("1") } + arguments(c.options);

    const Ended printed
        = command(request + QStringList { QStringLiteral("-o"), QStringLiteral("-") });
    EXPECT_EQ(printed.exitCode, 0);
    EXPECT_EQ(printed.error, QByteArray());
    EXPECT_EQ(printed.output, expected);

    const QString file = home.filePath(QStringLiteral("字幕 export"));
    const Ended written = command(request + QStringList { QStringLiteral("--output"), file });
    EXPECT_EQ(written.exitCode, 0);
    EXPECT_EQ(written.error, QByteArray());
    EXPECT_EQ(written.output, QByteArray());
    EXPECT_EQ(TestSupport::contentOf(file), expected);
}

INSTANTIATE_TEST_SUITE_P(JournalCommandLine, JournalExport, ::testing::ValuesIn(exportCases),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(JournalCommandLine, ExportsAnInterruptedSessionByTheJournalsId)
{
    const Ended ended = command(arguments({ "--export", "2", "--format", "jsonl", "-o", "-" }));
    EXPECT_EQ(ended.exitCode, 0);
    EXPECT_EQ(ended.output,
        R"({"session":2,"sequence":1,"startMs":0,"endMs":900,"source":"你好","target":"Hello"})"
        "\n");
}

struct MistakeCase {
    const char *name;
    std::initializer_list<const char *> options;
    const char *complaint; // the first line on standard error, after the program's name
};

const MistakeCase mistakeCases[] = {
    { "UnknownSession", { "--export", "99", "--format", "srt", "-o", "out" },
        "no session 99 in the caption journal; --list-sessions shows them" },
    { "SessionThatIsNoNumber", { "--export", "first", "--format", "srt", "-o", "out" },
        "'first' is not a session id; --list-sessions shows them" },
    { "SessionZero", { "--export", "0", "--format", "srt", "-o", "out" },
        "'0' is not a session id; --list-sessions shows them" },
    { "SessionWithoutId", { "--format", "srt", "-o", "out", "--export" },
        "Missing value after '--export'." },
    { "NoFormat", { "--export", "1", "-o", "out" },
        "--export needs --format (txt, srt, vtt or jsonl)" },
    { "UnknownFormat", { "--export", "1", "--format", "ass", "-o", "out" },
        "unknown format 'ass' (txt, srt, vtt or jsonl)" },
    { "FormatInCapitals", { "--export", "1", "--format", "SRT", "-o", "out" },
        "unknown format 'SRT' (txt, srt, vtt or jsonl)" },
    { "UnknownText", { "--export", "1", "--format", "srt", "--text", "all", "-o", "out" },
        "unknown text 'all' (source, target or both)" },
    { "OneTextOfPlainText", { "--export", "1", "--format", "txt", "--text", "source", "-o", "out" },
        "--text source goes with srt and vtt; txt always holds both texts" },
    { "OneTextOfJsonLines",
        { "--export", "1", "--format", "jsonl", "--text", "target", "-o", "out" },
        "--text target goes with srt and vtt; jsonl always holds both texts" },
    { "NoOutput", { "--export", "1", "--format", "srt" },
        "--export needs -o FILE (- for standard output)" },
    { "EmptyOutput", { "--export", "1", "--format", "srt", "-o", "" },
        "--export needs -o FILE (- for standard output)" },
    { "FormatWithoutExport", { "--format", "srt", "-o", "out" },
        "--format, --text and -o go with --export" },
    { "ListWithAFormat", { "--list-sessions", "--format", "srt" },
        "--format, --text and -o go with --export" },
    { "ListAndExport", { "--list-sessions", "--export", "1" },
        "--list-sessions and --export go one at a time" },
    { "UnknownOptionBesideList", { "--list-sessions", "--all" }, "unknown option '--all'" },
    { "QtOptionBesideExport",
        { "-platform", "offscreen", "--export", "1", "--format", "srt", "-o", "out" },
        "unknown option '-platform'" },
    { "StrayWordBesideList", { "--list-sessions", "1" }, "unexpected argument '1'" },
};

class JournalCommandMistake : public JournalCommandLine,
                              public ::testing::WithParamInterface<MistakeCase> { };

TEST_P(JournalCommandMistake, ExitsTwoWithTheReasonAndWritesNothing)
{
    const MistakeCase &c = GetParam();
    const QStringList before = TestSupport::folderEntries(home.path());
    const Ended ended = command(arguments(c.options));
    EXPECT_EQ(ended.exitCode, 2);
    EXPECT_EQ(ended.output, QByteArray());
    EXPECT_EQ(QString::fromUtf8(ended.error),
        QStringLiteral("quorvel-translate: ") + QString::fromUtf8(c.complaint) + hint);
    EXPECT_EQ(TestSupport::folderEntries(home.path()), before);
}

INSTANTIATE_TEST_SUITE_P(JournalCommandLine, JournalCommandMistake,
    ::testing::ValuesIn(mistakeCases),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(JournalCommandLine, WithoutAJournalListsNothingAndKnowsNoSessionAndCreatesNothing)
{
    journal.reset();
    ASSERT_TRUE(QDir(home.filePath(QStringLiteral("data"))).removeRecursively());
    ASSERT_TRUE(QDir(home.path()).mkdir(QStringLiteral("data")));

    const Ended listing = command({ QStringLiteral("--list-sessions") });
    EXPECT_EQ(listing.exitCode, 0);
    EXPECT_EQ(listing.output, QByteArray());
    EXPECT_EQ(QString::fromUtf8(listing.error),
        QStringLiteral("quorvel-translate: no sessions recorded yet (no journal at ")
            + journalPath() + QStringLiteral(")\n"));

    const Ended exporting = command(arguments({ "--export", "1", "--format", "srt", "-o", "-" }));
    EXPECT_EQ(exporting.exitCode, 2);
    EXPECT_EQ(exporting.output, QByteArray());
    EXPECT_EQ(QString::fromUtf8(exporting.error),
        QStringLiteral(
            "quorvel-translate: no session 1 in the caption journal; --list-sessions shows them")
            + hint);

    EXPECT_TRUE(TestSupport::folderEntries(home.filePath(QStringLiteral("data"))).isEmpty());
}

TEST_F(JournalCommandLine, AnUnreadableJournalExitsOneAndIsLeftAsItIs)
{
    journal.reset();
    const struct {
        const char *name;
        QByteArray why;
    } cases[] = {
        { "garbage", "is damaged or not a caption journal" },
        { "newer", "was written by a newer version of Quorvel Translate" },
        { "not a journal", "is damaged or not a caption journal" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QDir(journalFolder()).removeRecursively());
        ASSERT_TRUE(QDir().mkpath(journalFolder()));
        if (c.name == QByteArray("garbage")) {
            TestSupport::writeFile(journalPath(), QByteArray(8192, 'x'));
        } else {
            sqlite3 *db = nullptr;
            sqlite3_open(QFile::encodeName(journalPath()).constData(), &db);
            sqlite3_exec(db,
                c.name == QByteArray("newer") ? "CREATE TABLE sessions (x); PRAGMA user_version = 2"
                                              : "CREATE TABLE notes (x)",
                nullptr, nullptr, nullptr);
            sqlite3_close(db);
        }
        const QByteArray bytes = TestSupport::contentOf(journalPath());
        const QByteArray complaint = "quorvel-translate: the caption journal "
            + QFile::encodeName(journalPath()) + ' ' + c.why + "; it was left as it is\n";
        for (const QStringList &words : { QStringList { QStringLiteral("--list-sessions") },
                 arguments({ "--export", "1", "--format", "vtt", "-o", "-" }) }) {
            const Ended ended = command(words);
            EXPECT_EQ(ended.exitCode, 1) << words.join(u' ').toStdString();
            EXPECT_EQ(ended.output, QByteArray());
            EXPECT_EQ(ended.error, complaint);
        }
        EXPECT_EQ(TestSupport::contentOf(journalPath()), bytes);
        EXPECT_EQ(TestSupport::folderEntries(journalFolder()),
            QStringList { QStringLiteral("journal.sqlite3") });
    }
}

TEST_F(JournalCommandLine, AFileThatCannotBeWrittenExitsOneAndLeavesNothingBehind)
{
    TestSupport::writeFile(home.filePath(QStringLiteral("a-file")), "not a folder");
    const QString existing = home.filePath(QStringLiteral("existing.srt"));
    TestSupport::writeFile(existing, "old\n");
    const QString notWritable = QStringLiteral("字幕未能保存，请检查目标文件夹权限。");
    const struct {
        const char *name;
        QString path;
        QString why;
        // The largest file the command may write, as a file system without more room.
        rlim_t room = RLIM_INFINITY;
    } cases[] = {
        { "a folder that does not exist", home.filePath(QStringLiteral("missing/out.srt")),
            notWritable },
        { "a file where the folder should be", home.filePath(QStringLiteral("a-file/out.srt")),
            notWritable },
        { "a full disk", existing, QStringLiteral("字幕未能保存，磁盘空间不足，请清理后重试。"),
            256 },
    };
    const QStringList before = TestSupport::folderEntries(home.path());
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const rlim_t room = c.room;
        const Ended ended = command(
            QStringList { QStringLiteral("--export"), QStringLiteral("1"),
                QStringLiteral("--format"), QStringLiteral("srt"), QStringLiteral("-o"), c.path },
            [room] {
                if (room == RLIM_INFINITY)
                    return;
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit { room, room };
                setrlimit(RLIMIT_FSIZE, &limit);
            });
        EXPECT_EQ(ended.exitCode, 1);
        EXPECT_EQ(ended.output, QByteArray());
        EXPECT_EQ(QString::fromUtf8(ended.error),
            QStringLiteral("quorvel-translate: cannot write %1: %2\n").arg(c.path, c.why));
    }
    EXPECT_EQ(TestSupport::folderEntries(home.path()), before);
    EXPECT_EQ(TestSupport::contentOf(existing), QByteArray("old\n"));
}

} // namespace
