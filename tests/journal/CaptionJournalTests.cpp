#include "TranslateMac/Journal/CaptionJournal.h"
#include "TranslateMac/Journal/JournalOpening.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <memory>

using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

// A plain connection to the journal file, as another process would hold it.
class RawDatabase {
public:
    explicit RawDatabase(const QString &path)
    {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
    }
    ~RawDatabase() { sqlite3_close(m_db); }
    int exec(const char *sql) { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr); }
    QByteArray value(const char *sql)
    {
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr);
        QByteArray bytes;
        if (sqlite3_step(statement) == SQLITE_ROW)
            bytes = QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
        sqlite3_finalize(statement);
        return bytes;
    }

private:
    sqlite3 *m_db = nullptr;
};

int mode(const QString &path)
{
    struct stat attributes { };
    ::lstat(QFile::encodeName(path).constData(), &attributes);
    return attributes.st_mode & 07777;
}

// A journal as a later version of the application might leave it.
void writeNewerJournal(const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    sqlite3_exec(
        db, "CREATE TABLE sessions (x); PRAGMA user_version = 2", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

void expectFailure(const std::function<void()> &call, JournalFailure::Case expected)
{
    try {
        call();
        ADD_FAILURE() << "expected a JournalFailure";
    } catch (const JournalFailure &failure) {
        EXPECT_EQ(int(failure.kind()), int(expected)) << failure.resultCode();
    }
}

JournalSessionStart start(qint64 serviceId, qint64 startedAtMs = 1'700'000'000'000)
{
    return { serviceId, QStringLiteral("EN_ZH"), QStringLiteral("English → 中文"),
        QStringLiteral("全电脑播放音频"), startedAtMs };
}

class CaptionJournalTest : public ::testing::Test {
protected:
    QString folder() const { return temporary.path() + QStringLiteral("/data/app"); }
    QString path() const { return folder() + QStringLiteral("/journal.sqlite3"); }
    CaptionJournal &reopen(CaptionJournal::Options options = {})
    {
        journal.reset();
        journal = CaptionJournal::open(path(), options);
        return *journal;
    }
    // A session with captions "sequence: source / target", written and on disk.
    qint64 record(qint64 serviceId, const std::vector<std::pair<QString, QString>> &texts)
    {
        const qint64 id = journal->beginSession(start(serviceId));
        qint64 sequence = 0;
        for (const auto &[source, target] : texts) {
            ++sequence;
            EXPECT_TRUE(journal->append(
                { id, sequence, source, target, sequence * 1000, sequence * 1000 + 800 }));
        }
        EXPECT_TRUE(journal->flush(5s));
        return id;
    }
    // "session:sequence" of every hit of a search.
    QStringList found(const QString &words)
    {
        QStringList hits;
        for (const JournalSearchHit &hit : journal->search(words))
            hits << QStringLiteral("%1:%2").arg(hit.caption.sessionId).arg(hit.caption.sequence);
        return hits;
    }

    QTemporaryDir temporary;
    std::unique_ptr<CaptionJournal> journal;
};

TEST_F(CaptionJournalTest, IsAPrivateWriteAheadLoggedFile)
{
    reopen();
    record(7, { { QStringLiteral("hello"), QStringLiteral("你好") } });
    EXPECT_EQ(mode(folder()), 0700);
    EXPECT_EQ(mode(path()), 0600);
    EXPECT_EQ(mode(path() + QStringLiteral("-wal")), 0600);
    RawDatabase raw(path());
    EXPECT_EQ(raw.value("PRAGMA journal_mode"), "wal");
    EXPECT_EQ(raw.value("PRAGMA user_version"), "1");
}

TEST_F(CaptionJournalTest, SessionsComeBackNewestFirstWithTheirCaptions)
{
    reopen();
    QSignalSpy written(journal.get(), &CaptionJournal::written);
    const qint64 older = record(41, { { QStringLiteral("one"), QStringLiteral("一") } });
    const qint64 newer = record(42,
        { { QStringLiteral("two"), QStringLiteral("二") },
            { QStringLiteral("three"), QStringLiteral("三") } });
    journal->endSession(older, 1'700'000'090'000);
    journal->recordCharge(older, 10);
    ASSERT_TRUE(journal->flush(5s));
    EXPECT_TRUE(written.count() > 0 || written.wait(5000));

    reopen();
    const QList<JournalSession> sessions = journal->sessions();
    ASSERT_EQ(sessions.size(), 2);
    EXPECT_EQ(sessions[0].id, newer);
    EXPECT_EQ(sessions[0].captionCount, 2);
    EXPECT_EQ(sessions[0].endedAtMs, std::nullopt);
    EXPECT_EQ(sessions[0].chargedPoints, std::nullopt);
    const JournalSession expected { older, 41, QStringLiteral("EN_ZH"),
        QStringLiteral("English → 中文"), QStringLiteral("全电脑播放音频"), 1'700'000'000'000,
        1'700'000'090'000, false, 10, 1 };
    EXPECT_EQ(sessions[1], expected);
    EXPECT_EQ(journal->session(older), expected);
    EXPECT_EQ(journal->captions(newer),
        (QList<JournalCaption> {
            { newer, 1, QStringLiteral("two"), QStringLiteral("二"), 1000, 1800 },
            { newer, 2, QStringLiteral("three"), QStringLiteral("三"), 2000, 2800 } }));
}

TEST_F(CaptionJournalTest, ARevisedCaptionKeepsItsFirstTimesAndIsFoundByItsNewText)
{
    reopen();
    const qint64 id = record(5, { { QStringLiteral("first draft"), QStringLiteral("草稿") } });
    journal->append(
        { id, 1, QStringLiteral("final words"), QStringLiteral("定稿文字"), 3000, 9000 });
    // Times that run backwards are straightened: a cue must not end before it starts.
    journal->append({ id, 2, QStringLiteral("late"), QStringLiteral("迟"), 5000, 4000 });
    ASSERT_TRUE(journal->flush(5s));
    const QList<JournalCaption> captions = journal->captions(id);
    ASSERT_EQ(captions.size(), 2);
    EXPECT_EQ(captions[0],
        (JournalCaption {
            id, 1, QStringLiteral("final words"), QStringLiteral("定稿文字"), 1000, 1800 }));
    EXPECT_EQ(captions[1].finalMs, 5000);
    EXPECT_TRUE(found(QStringLiteral("draft")).isEmpty());
    EXPECT_EQ(found(QStringLiteral("定稿")), QStringList { QStringLiteral("%1:1").arg(id) });
}

TEST_F(CaptionJournalTest, SearchFindsWordsInEitherLanguage)
{
    reopen();
    const qint64 a = record(1,
        { { QStringLiteral("Hello world"), QStringLiteral("你好，世界") },
            { QStringLiteral("Live captions are OK"), QStringLiteral("实时翻译字幕") } });
    const qint64 b = record(2,
        { { QStringLiteral("hello again"), QStringLiteral("再次问好") },
            { QStringLiteral("100% \"quoted\" AND NEAR(x)"), QStringLiteral("百分之百") } });
    const auto at = [](qint64 session, int sequence) {
        return QStringLiteral("%1:%2").arg(session).arg(sequence);
    };
    const std::vector<std::pair<QString, QStringList>> cases {
        { QStringLiteral("HELLO"), { at(b, 1), at(a, 1) } },
        { QStringLiteral("o"), { at(b, 2), at(b, 1), at(a, 2), at(a, 1) } }, // newest first
        { QStringLiteral("hello 世界"), { at(a, 1) } }, // one word in each language
        { QStringLiteral("翻译字幕"), { at(a, 2) } },
        { QStringLiteral("你好"), { at(a, 1) } }, // two characters: below the index
        { QStringLiteral("ok"), { at(a, 2) } },
        { QStringLiteral("  world   hello "), { at(a, 1) } },
        { QStringLiteral("\"quoted\""), { at(b, 2) } },
        { QStringLiteral("AND NEAR(x)"), { at(b, 2) } },
        { QStringLiteral("%"), { at(b, 2) } },
        { QStringLiteral("_"), {} },
        { QStringLiteral("hello missing"), {} },
        { QStringLiteral("   "), {} },
    };
    for (const auto &[words, expected] : cases) {
        SCOPED_TRACE(words.toStdString());
        EXPECT_EQ(found(words), expected);
    }
    const QList<JournalSearchHit> hits = journal->search(QStringLiteral("再次"));
    ASSERT_EQ(hits.size(), 1);
    EXPECT_EQ(hits[0].direction, QStringLiteral("English → 中文"));
    EXPECT_EQ(hits[0].sessionStartedAtMs, 1'700'000'000'000);
    EXPECT_EQ(journal->search(QStringLiteral("hello"), 1).size(), 1);
}

TEST_F(CaptionJournalTest, KeepsTheNewestSessionsAndForgetsTheTextOfOlderOnes)
{
    CaptionJournal::Options options;
    options.retainedSessions = 3;
    reopen(options);
    std::vector<qint64> ids;
    for (int i = 1; i <= 5; ++i)
        ids.push_back(
            record(i, { { QStringLiteral("caption %1").arg(i), QStringLiteral("字幕") } }));
    const auto listed = [this] {
        std::vector<qint64> list;
        for (const JournalSession &session : journal->sessions())
            list.push_back(session.id);
        return list;
    };
    EXPECT_EQ(listed(), (std::vector { ids[4], ids[3], ids[2] }));
    EXPECT_TRUE(found(QStringLiteral("caption 1")).isEmpty());
    EXPECT_TRUE(journal->captions(ids[0]).isEmpty());

    journal->setRetainedSessions(1);
    ASSERT_TRUE(journal->flush(5s));
    EXPECT_EQ(listed(), std::vector { ids[4] });
    EXPECT_EQ(found(QStringLiteral("字幕")).size(), 1);
}

TEST_F(CaptionJournalTest, DeletingASessionOrEverythingLeavesNoTextBehind)
{
    reopen();
    const qint64 kept = record(1, { { QStringLiteral("keep me"), QStringLiteral("保留") } });
    const qint64 gone = record(2, { { QStringLiteral("secretword"), QStringLiteral("机密内容") } });
    journal->deleteSession(gone);
    // A caption of the deleted session still on its way is not kept.
    journal->append({ gone, 2, QStringLiteral("secretword again"), QStringLiteral("x"), 0, 1 });
    ASSERT_TRUE(journal->flush(5s));
    EXPECT_EQ(journal->sessions().size(), 1);
    EXPECT_TRUE(found(QStringLiteral("secretword")).isEmpty());
    EXPECT_FALSE(journal->session(gone));

    journal->clearHistory();
    ASSERT_TRUE(journal->flush(5s));
    EXPECT_TRUE(journal->sessions().isEmpty());
    EXPECT_FALSE(journal->session(kept));
    journal.reset();
    for (const char *suffix : { "", "-wal" }) {
        SCOPED_TRACE(suffix);
        const QByteArray bytes = TestSupport::contentOf(path() + QLatin1String(suffix));
        EXPECT_FALSE(bytes.contains("secretword"));
        EXPECT_FALSE(bytes.contains("keep me"));
    }
}

TEST_F(CaptionJournalTest, AKilledProcessLeavesItsSessionAndFinalCaptions)
{
    reopen();
    const qint64 finished = record(1, { { QStringLiteral("done"), QStringLiteral("完") } });
    journal->endSession(finished, 1'700'000'001'000);
    ASSERT_TRUE(journal->flush(5s));
    journal.reset();

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child records and is killed without any clean-up, as by kill -9.
        auto cut = CaptionJournal::open(path());
        const qint64 id = cut->beginSession(start(2));
        for (qint64 sequence = 1; sequence <= 3; ++sequence)
            cut->append({ id, sequence, QStringLiteral("line %1").arg(sequence),
                QStringLiteral("行"), sequence * 100, sequence * 100 + 50 });
        cut->flush(5s);
        ::raise(SIGKILL);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    reopen();
    const QList<JournalSession> open = journal->sessionsLeftOpen();
    ASSERT_EQ(open.size(), 1);
    EXPECT_EQ(open[0].serviceSessionId, 2);
    EXPECT_EQ(open[0].captionCount, 3);
    EXPECT_EQ(journal->captions(open[0].id).last().source, QStringLiteral("line 3"));

    journal->markInterrupted(open[0].id);
    ASSERT_TRUE(journal->flush(5s));
    EXPECT_TRUE(journal->sessionsLeftOpen().isEmpty());
    const std::optional<JournalSession> interrupted = journal->session(open[0].id);
    ASSERT_TRUE(interrupted);
    EXPECT_TRUE(interrupted->interrupted);
    EXPECT_EQ(interrupted->endedAtMs, interrupted->startedAtMs + 350); // its last caption's time
    // A session begun by this process is never taken for one cut off.
    journal->beginSession(start(3));
    ASSERT_TRUE(journal->flush(5s));
    EXPECT_TRUE(journal->sessionsLeftOpen().isEmpty());
}

TEST_F(CaptionJournalTest, DamagedOrNewerJournalIsRefusedAndLeftAsItIs)
{
    const std::vector<std::pair<const char *, JournalFailure::Case>> cases {
        { "garbage", JournalFailure::Case::corrupt },
        { "newer", JournalFailure::Case::unsupportedSchema },
        { "folder", JournalFailure::Case::unavailable },
        { "link", JournalFailure::Case::unavailable },
    };
    for (const auto &[kind, expected] : cases) {
        SCOPED_TRACE(kind);
        QDir(temporary.path()).removeRecursively();
        QDir().mkpath(folder());
        const QString name = QLatin1String(kind);
        if (name == QLatin1String("garbage")) {
            QFile file(path());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(8192, 'x'));
        } else if (name == QLatin1String("newer")) {
            writeNewerJournal(path());
        } else if (name == QLatin1String("folder")) {
            QDir().mkpath(path());
        } else {
            ASSERT_TRUE(QFile::link(temporary.path() + QStringLiteral("/elsewhere"), path()));
        }
        const QByteArray before = TestSupport::contentOf(path());
        expectFailure([&] { CaptionJournal::open(path()); }, expected);
        EXPECT_EQ(TestSupport::contentOf(path()), before);
        EXPECT_FALSE(QFile::exists(temporary.path() + QStringLiteral("/elsewhere")));
    }
}

// What the application does at launch: a damaged journal is kept aside and a new one begun, a
// newer one is left untouched and not used; either way the user is told and translation goes on.
TEST_F(CaptionJournalTest, AtLaunchADamagedJournalIsSetAsideAndANewerOneLeftAlone)
{
    struct Case {
        const char *kind;
        bool usable; // a journal to record in this run
        bool setAside;
        const char *problem; // part of the text the user is told, or nothing
    };
    const std::vector<Case> cases {
        { "none", true, false, nullptr },
        { "garbage", true, true, "已改名保存为“journal.sqlite3.unreadable-" },
        { "newer", false, false, "更新版本" },
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.kind);
        journal.reset();
        QDir(temporary.path()).removeRecursively();
        QDir().mkpath(folder());
        const QString kind = QLatin1String(test.kind);
        if (kind == QLatin1String("garbage")) {
            QFile file(path());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(8192, 'x'));
        } else if (kind == QLatin1String("newer")) {
            writeNewerJournal(path());
        }
        const QByteArray before = TestSupport::contentOf(path());

        JournalOpening opening = openJournalForUse(path(), {});
        EXPECT_EQ(opening.journal != nullptr, test.usable);
        if (test.problem) {
            ASSERT_TRUE(opening.problem.has_value());
            EXPECT_TRUE(opening.problem->contains(QString::fromUtf8(test.problem)))
                << opening.problem->toStdString();
        } else {
            EXPECT_FALSE(opening.problem.has_value());
        }
        const QStringList aside = QDir(folder()).entryList(
            { QStringLiteral("journal.sqlite3.unreadable-*") }, QDir::Files);
        if (test.setAside) {
            ASSERT_EQ(aside.size(), 1);
            EXPECT_EQ(TestSupport::contentOf(folder() + u'/' + aside.first()), before);
        } else {
            EXPECT_TRUE(aside.isEmpty());
        }
        if (!test.usable) {
            EXPECT_EQ(TestSupport::contentOf(path()), before);
            continue;
        }
        // The journal of this run records.
        const qint64 id = opening.journal->beginSession(start(7));
        ASSERT_TRUE(opening.journal->flush(5s));
        EXPECT_EQ(opening.journal->sessions().first().id, id);
    }
}

TEST_F(CaptionJournalTest, ALockedFileDelaysWritesWithoutLosingThem)
{
    CaptionJournal::Options options;
    options.busyTimeout = 20ms;
    options.retryDelay = 20ms;
    reopen(options);
    QSignalSpy failed(journal.get(), &CaptionJournal::writeFailed);
    RawDatabase other(path());
    ASSERT_EQ(other.exec("BEGIN EXCLUSIVE"), SQLITE_OK);
    const qint64 id = journal->beginSession(start(9));
    ASSERT_GT(id, 0);
    EXPECT_TRUE(journal->append({ id, 1, QStringLiteral("waiting"), QStringLiteral("等"), 0, 1 }));
    EXPECT_FALSE(journal->flush(300ms));
    ASSERT_TRUE(failed.count() > 0 || failed.wait(5000));
    ASSERT_TRUE(journal->writeFailure());
    EXPECT_EQ(journal->writeFailure()->resultCode() & 0xff, SQLITE_BUSY);

    ASSERT_EQ(other.exec("COMMIT"), SQLITE_OK);
    ASSERT_TRUE(journal->flush(5s));
    EXPECT_EQ(journal->captions(id).size(), 1);
    EXPECT_EQ(journal->lostCaptions(), 0);
}

TEST_F(CaptionJournalTest, AFullQueueRefusesAndCountsInsteadOfWaiting)
{
    CaptionJournal::Options options;
    options.queueCapacity = 3;
    options.busyTimeout = 20ms;
    options.retryDelay = 20ms;
    reopen(options);
    RawDatabase other(path());
    ASSERT_EQ(other.exec("BEGIN EXCLUSIVE"), SQLITE_OK);
    const qint64 id = journal->beginSession(start(9));
    EXPECT_TRUE(journal->append({ id, 1, QStringLiteral("a"), QStringLiteral("甲"), 0, 1 }));
    EXPECT_TRUE(journal->append({ id, 2, QStringLiteral("b"), QStringLiteral("乙"), 0, 1 }));
    EXPECT_FALSE(journal->append({ id, 3, QStringLiteral("c"), QStringLiteral("丙"), 0, 1 }));
    ASSERT_TRUE(journal->writeFailure());
    EXPECT_EQ(journal->writeFailure()->kind(), JournalFailure::Case::queueFull);
    EXPECT_EQ(journal->lostCaptions(), 1);

    ASSERT_EQ(other.exec("COMMIT"), SQLITE_OK);
    ASSERT_TRUE(journal->flush(5s));
    EXPECT_EQ(journal->captions(id).size(), 2);
}

} // namespace
