#include "SessionStoreFixture.h"

#include <QElapsedTimer>

#include <chrono>
#include <optional>
#include <vector>

using namespace TranslateMac;
using TranslateCore::Instant;

namespace {

Instant at(qint64 ms)
{
    return Instant(std::chrono::milliseconds(ms));
}

const PendingSession created { 41, QStringLiteral("EN_ZH"), at(1'700'000'000'000) };
const PendingSession later { 42, QStringLiteral("中文_EN"), at(1'700'000'060'000) };

using PendingSessionStoreTest = SessionStoreTest;

TEST_F(PendingSessionStoreTest, CreatedSessionsSurviveRestartAndSignOutUntilRemoved)
{
    restart().save(first);
    restart().recordPendingSession(later);
    restart().recordPendingSession(created);
    // Signing out raises the restoration flag; the service still bills these sessions.
    restart().save(std::nullopt);
    EXPECT_EQ(restart().pendingSessions(), (std::vector { created, later }));

    restart().removePendingSession(created.sessionId);
    restart().removePendingSession(999); // never recorded
    EXPECT_EQ(restart().pendingSessions(), std::vector { later });
    restart().removePendingSession(later.sessionId);
    EXPECT_TRUE(restart().pendingSessions().empty());
}

TEST_F(PendingSessionStoreTest, RecordingAnIdAgainReplacesItsRouteAndTime)
{
    restart().recordPendingSession(created);
    const PendingSession moved { created.sessionId, QStringLiteral("ZH_EN"), at(5) };
    restart().recordPendingSession(moved);
    EXPECT_EQ(restart().pendingSessions(), std::vector { moved });
}

TEST_F(PendingSessionStoreTest, RefusesRecordsNoSettlementCouldUse)
{
    const std::vector<std::pair<const char *, PendingSession>> cases {
        { "id 0", { 0, QStringLiteral("EN_ZH"), at(1) } },
        { "negative id", { -7, QStringLiteral("EN_ZH"), at(1) } },
        { "empty route", { 7, QString(), at(1) } },
        { "NUL in route", { 7, QString::fromUtf16(u"EN\0ZH", 5), at(1) } },
        { "257-byte route", { 7, QString(257, QChar(u'R')), at(1) } },
        { "no time", { 7, QStringLiteral("EN_ZH"), std::nullopt } },
    };
    for (const auto &[description, session] : cases) {
        SCOPED_TRACE(description);
        expectFailure(
            [&] { restart().recordPendingSession(session); }, Failure::invalidPendingSession());
    }
    EXPECT_TRUE(restart().pendingSessions().empty());
}

TEST_F(PendingSessionStoreTest, OlderDatabasesMigrateKeepingTheirSignIn)
{
    const std::vector<std::pair<int, QByteArray>> cases {
        { 0, "" },
        { 1,
            "CREATE TABLE session (id INTEGER PRIMARY KEY CHECK (id = 1), access_token TEXT NOT "
            "NULL, refresh_token TEXT NOT NULL); INSERT INTO session VALUES (1, 'access-1', "
            "'refresh-1')" },
    };
    for (const auto &[version, sql] : cases) {
        SCOPED_TRACE(version);
        QDir(temporary.path()).removeRecursively();
        makeDatabase(version, sql);
        EXPECT_EQ(restart().load(), version == 1 ? std::optional(first) : std::nullopt);
        restart().recordPendingSession(created);
        EXPECT_EQ(restart().pendingSessions(), std::vector { created });
        EXPECT_EQ(RawDatabase(file()).value("PRAGMA user_version"), "2");
    }
}

TEST_F(PendingSessionStoreTest, NewerSchemaIsRefusedAndLeftUntouched)
{
    makeDatabase(3,
        "CREATE TABLE pending_session (session_id INTEGER PRIMARY KEY, route_code TEXT, "
        "started_at_ms INTEGER, owner TEXT); INSERT INTO pending_session VALUES (5, 'EN_ZH', 1, "
        "'x')");
    expectFailure([&] { restart().pendingSessions(); }, Failure::unsupportedSchema());
    expectFailure([&] { restart().recordPendingSession(created); }, Failure::unsupportedSchema());
    expectFailure([&] { restart().removePendingSession(5); }, Failure::unsupportedSchema());
    RawDatabase raw(file());
    EXPECT_EQ(raw.value("PRAGMA user_version"), "3");
    EXPECT_EQ(raw.value("SELECT count(*) FROM pending_session"), "1");
}

TEST_F(PendingSessionStoreTest, ForeignFileIsReportedAndKept)
{
    QDir().mkpath(folder());
    QFile garbage(file());
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly) && garbage.write(QByteArray(4096, 'x')));
    garbage.close();
    expectFailure([&] { restart().pendingSessions(); }, Failure::database(SQLITE_NOTADB));
    expectFailure(
        [&] { restart().recordPendingSession(created); }, Failure::database(SQLITE_NOTADB));
    EXPECT_EQ(contents(folder()).value(QStringLiteral("session.sqlite3")), QByteArray(4096, 'x'));
}

TEST_F(PendingSessionStoreTest, LockedDatabaseFailsTheRecordAfterTheBusyTimeout)
{
    restart().recordPendingSession(created);
    RawDatabase other(file());
    ASSERT_EQ(other.exec("BEGIN EXCLUSIVE"), SQLITE_OK);
    QElapsedTimer waited;
    waited.start();
    expectFailure([&] { restart().recordPendingSession(later); }, Failure::database(SQLITE_BUSY));
    EXPECT_GE(waited.elapsed(), 240);
    expectFailure(
        [&] { restart().removePendingSession(created.sessionId); }, Failure::database(SQLITE_BUSY));
    ASSERT_EQ(other.exec("ROLLBACK"), SQLITE_OK);
    // Neither change reached the file.
    EXPECT_EQ(restart().pendingSessions(), std::vector { created });
}

TEST_F(PendingSessionStoreTest, UnreadableRouteOrTimeStillGivesTheIdToSettle)
{
    makeDatabase(2,
        "CREATE TABLE pending_session (session_id INTEGER PRIMARY KEY, route_code, "
        "started_at_ms); INSERT INTO pending_session VALUES (1, x'ff', 'noon'), (2, NULL, "
        "9223372036854775807), (3, 42, 10)");
    const std::vector<PendingSession> read = restart().pendingSessions();
    ASSERT_EQ(read.size(), 3u);
    for (const PendingSession &session : read) {
        SCOPED_TRACE(session.sessionId);
        EXPECT_TRUE(session.routeCode.isEmpty());
    }
    std::vector<bool> timed;
    for (const PendingSession &session : read)
        timed.push_back(session.startedAt.has_value());
    // Ordered by time: a whole number first, then the unreadable ones (SQLite sorts text last).
    EXPECT_EQ(timed, (std::vector { true, false, false }));
}

TEST_F(PendingSessionStoreTest, RowWithoutAUsableIdIsReported)
{
    for (const char *id : { "0", "-3", "'seven'" }) {
        SCOPED_TRACE(id);
        QDir(temporary.path()).removeRecursively();
        makeDatabase(2,
            QByteArray("CREATE TABLE pending_session (session_id, route_code, started_at_ms); "
                       "INSERT INTO pending_session VALUES (")
                + id + ", 'EN_ZH', 1)");
        expectFailure([&] { restart().pendingSessions(); }, Failure::invalidPendingSession());
    }
}

} // namespace
