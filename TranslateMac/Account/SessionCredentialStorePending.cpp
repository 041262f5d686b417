#include "TranslateMac/Account/SessionCredentialStore.h"

#include "TranslateMac/Account/SessionDatabase.h"
#include "TranslateMac/Account/SessionStorageFailure.h"

#include <QStringDecoder>

#include <sqlite3.h>

#include <chrono>

namespace TranslateMac {

namespace {

constexpr qsizetype maximumRouteBytes = 256;

constexpr char selectPending[]
    = "SELECT session_id, route_code, started_at_ms FROM pending_session\n"
      "ORDER BY started_at_ms, session_id";

constexpr char upsertPending[]
    = "INSERT INTO pending_session (session_id, route_code, started_at_ms) VALUES (?, ?, ?)\n"
      "ON CONFLICT(session_id) DO UPDATE SET\n"
      "    route_code = excluded.route_code, started_at_ms = excluded.started_at_ms";

constexpr char deletePending[] = "DELETE FROM pending_session WHERE session_id = ?";

bool isStorableRoute(const QString &route)
{
    return !route.isEmpty() && !route.contains(QChar(u'\0')) && route.isValidUtf16()
        && route.toUtf8().size() <= maximumRouteBytes;
}

// The route of a stored row, or empty when it is not text a record could have written.
QString storedRoute(sqlite3_stmt *statement)
{
    if (sqlite3_column_type(statement, 1) != SQLITE_TEXT)
        return {};
    const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(statement, 1));
    const int count = sqlite3_column_bytes(statement, 1);
    if (!bytes || count > maximumRouteBytes)
        return {};
    QStringDecoder decoder(QStringConverter::Utf8);
    const QString route = decoder.decode(QByteArrayView(bytes, count));
    return !decoder.hasError() && isStorableRoute(route) ? route : QString();
}

std::optional<TranslateCore::Instant> storedTime(sqlite3_stmt *statement)
{
    if (sqlite3_column_type(statement, 2) != SQLITE_INTEGER)
        return std::nullopt;
    return TranslateCore::instantFromEpochMilliseconds(sqlite3_column_int64(statement, 2));
}

void bindInteger(sqlite3_stmt *statement, int column, qint64 value)
{
    if (const int result = sqlite3_bind_int64(statement, column, value))
        throw SessionStorageFailure::database(result);
}

// One statement inside its own write transaction, rolled back when any step fails.
template <typename Bind> void writeOne(sqlite3 *db, const char *sql, const Bind &bind)
{
    SessionDatabase::beginWrite(db);
    try {
        const SessionDatabase::Statement statement = SessionDatabase::prepare(db, sql);
        bind(statement.get());
        const int result = sqlite3_step(statement.get());
        if (result != SQLITE_DONE)
            throw SessionStorageFailure::database(result);
    } catch (...) {
        SessionDatabase::rollBack(db);
        throw;
    }
    SessionDatabase::commit(db);
}

} // namespace

std::vector<PendingSession> SessionCredentialStore::pendingSessions() const
{
    std::vector<PendingSession> sessions;
    withDatabase([&sessions](sqlite3 *db) {
        const SessionDatabase::Statement statement = SessionDatabase::prepare(db, selectPending);
        int result = SQLITE_ROW;
        while ((result = sqlite3_step(statement.get())) == SQLITE_ROW) {
            if (sqlite3_column_type(statement.get(), 0) != SQLITE_INTEGER
                || sqlite3_column_int64(statement.get(), 0) <= 0)
                throw SessionStorageFailure::invalidPendingSession();
            sessions.push_back(PendingSession { sqlite3_column_int64(statement.get(), 0),
                storedRoute(statement.get()), storedTime(statement.get()) });
        }
        if (result != SQLITE_DONE)
            throw SessionStorageFailure::database(result);
    });
    return sessions;
}

void SessionCredentialStore::recordPendingSession(const PendingSession &session) const
{
    if (session.sessionId <= 0 || !isStorableRoute(session.routeCode) || !session.startedAt)
        throw SessionStorageFailure::invalidPendingSession();
    const qint64 startedAtMs = std::chrono::duration_cast<std::chrono::milliseconds>(
        session.startedAt->time_since_epoch())
                                   .count();
    withDatabase([&](sqlite3 *db) {
        writeOne(db, upsertPending, [&](sqlite3_stmt *statement) {
            bindInteger(statement, 1, session.sessionId);
            SessionDatabase::bind(session.routeCode, statement, 2);
            bindInteger(statement, 3, startedAtMs);
        });
    });
}

void SessionCredentialStore::removePendingSession(qint64 sessionId) const
{
    withDatabase([sessionId](sqlite3 *db) {
        writeOne(db, deletePending,
            [sessionId](sqlite3_stmt *statement) { bindInteger(statement, 1, sessionId); });
    });
}

} // namespace TranslateMac
