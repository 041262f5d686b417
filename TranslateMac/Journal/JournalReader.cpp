#include "TranslateMac/Journal/JournalReader.h"

#include "TranslateMac/Journal/JournalFailure.h"

#include <QRegularExpression>
#include <QStringList>

#include <sqlite3.h>

namespace TranslateMac {

namespace {

using JournalDatabase::Statement;

// The trigram index finds runs of at least this many characters; shorter words are scanned for.
constexpr qsizetype shortestIndexedWord = 3;
constexpr qsizetype mostSearchWords = 16;

#define SESSION_COLUMNS                                                                            \
    "SELECT s.id, s.service_session_id, s.route_code, s.direction, s.source_name, "                \
    "s.started_at_ms, s.ended_at_ms, s.interrupted, s.charged_points, "                            \
    "(SELECT count(*) FROM captions c WHERE c.session_id = s.id) FROM sessions s "
constexpr char allSessions[] = SESSION_COLUMNS "ORDER BY s.id DESC";
constexpr char oneSession[] = SESSION_COLUMNS "WHERE s.id = ?1";
constexpr char openSessions[] = SESSION_COLUMNS
    "WHERE s.ended_at_ms IS NULL AND s.interrupted = 0 AND s.id < ?1 ORDER BY s.id DESC";
#undef SESSION_COLUMNS

constexpr char sessionCaptions[]
    = "SELECT session_id, sequence, source, target, appeared_ms, final_ms FROM captions "
      "WHERE session_id = ?1 ORDER BY sequence";

std::optional<qint64> optionalInteger(sqlite3_stmt *statement, int column)
{
    if (sqlite3_column_type(statement, column) == SQLITE_NULL)
        return std::nullopt;
    return sqlite3_column_int64(statement, column);
}

// Steps through every row, handing each to `read`.
template <typename Read> void eachRow(sqlite3_stmt *statement, const Read &read)
{
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW)
        read(statement);
    if (result != SQLITE_DONE)
        throw JournalFailure::database(result);
}

QList<JournalSession> readSessions(sqlite3 *db, const char *sql, std::optional<qint64> parameter)
{
    const Statement statement = JournalDatabase::prepare(db, sql);
    if (parameter)
        JournalDatabase::bind(statement.get(), 1, *parameter);
    QList<JournalSession> sessions;
    eachRow(statement.get(), [&sessions](sqlite3_stmt *row) {
        sessions.append(JournalSession { sqlite3_column_int64(row, 0), sqlite3_column_int64(row, 1),
            JournalDatabase::text(row, 2), JournalDatabase::text(row, 3),
            JournalDatabase::text(row, 4), sqlite3_column_int64(row, 5), optionalInteger(row, 6),
            sqlite3_column_int(row, 7) != 0, optionalInteger(row, 8),
            sqlite3_column_int64(row, 9) });
    });
    return sessions;
}

JournalCaption readCaption(sqlite3_stmt *row)
{
    return JournalCaption { sqlite3_column_int64(row, 0), sqlite3_column_int64(row, 1),
        JournalDatabase::text(row, 2), JournalDatabase::text(row, 3), sqlite3_column_int64(row, 4),
        sqlite3_column_int64(row, 5) };
}

// A word as one FTS5 phrase: quoted, its quotes doubled, so no word is read as an operator.
QString phrase(const QString &word)
{
    return u'"' + QString(word).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

// A word as a LIKE pattern that matches it anywhere, its wildcards taken literally.
QString containing(const QString &word)
{
    QString escaped = word;
    escaped.replace(u'\\', QStringLiteral("\\\\"))
        .replace(u'%', QStringLiteral("\\%"))
        .replace(u'_', QStringLiteral("\\_"));
    return u'%' + escaped + u'%';
}

} // namespace

std::optional<JournalReader> JournalReader::openReadOnly(
    const QString &path, std::chrono::milliseconds busyTimeout)
{
    std::optional<JournalDatabase::Connection> db
        = JournalDatabase::openReadOnly(path, busyTimeout);
    if (!db)
        return std::nullopt;
    return JournalReader(std::move(*db));
}

JournalReader::JournalReader(JournalDatabase::Connection db) : m_db(std::move(db)) { }

QList<JournalSession> JournalReader::sessions() const
{
    return readSessions(m_db.get(), allSessions, std::nullopt);
}

std::optional<JournalSession> JournalReader::session(qint64 sessionId) const
{
    const QList<JournalSession> found = readSessions(m_db.get(), oneSession, sessionId);
    if (found.isEmpty())
        return std::nullopt;
    return found.first();
}

QList<JournalSession> JournalReader::sessionsLeftOpenBefore(qint64 sessionId) const
{
    return readSessions(m_db.get(), openSessions, sessionId);
}

qint64 JournalReader::latestSessionId() const
{
    const Statement statement
        = JournalDatabase::prepare(m_db.get(), "SELECT coalesce(max(id), 0) FROM sessions");
    if (const int result = sqlite3_step(statement.get()); result != SQLITE_ROW)
        throw JournalFailure::database(result);
    return sqlite3_column_int64(statement.get(), 0);
}

QList<JournalCaption> JournalReader::captions(qint64 sessionId) const
{
    const Statement statement = JournalDatabase::prepare(m_db.get(), sessionCaptions);
    JournalDatabase::bind(statement.get(), 1, sessionId);
    QList<JournalCaption> captions;
    eachRow(statement.get(), [&captions](sqlite3_stmt *row) { captions.append(readCaption(row)); });
    return captions;
}

QList<JournalSearchHit> JournalReader::search(const QString &words, int limit) const
{
    static const QRegularExpression space(QStringLiteral("\\s+"));
    const QStringList list = words.split(space, Qt::SkipEmptyParts).mid(0, mostSearchWords);
    if (list.isEmpty() || limit < 1)
        return {};
    // Long words go to the index together (each may be in either column); short ones are
    // checked on the rows the index found, or on every row when there is no long word.
    QStringList indexed;
    QStringList scanned;
    for (const QString &word : list) {
        if (word.toUcs4().size() >= shortestIndexedWord)
            indexed << phrase(word);
        else
            scanned << containing(word);
    }
    QByteArray sql = "SELECT c.session_id, c.sequence, c.source, c.target, c.appeared_ms, "
                     "c.final_ms, s.started_at_ms, s.direction FROM ";
    // CROSS JOIN keeps the index (or the captions table) as the outer loop, so that rows come in
    // the order asked for and the search stops at the limit instead of sorting every match.
    sql += indexed.isEmpty() ? "captions c "
                             : "caption_text CROSS JOIN captions c ON c.id = caption_text.rowid ";
    sql += "CROSS JOIN sessions s ON s.id = c.session_id WHERE ";
    sql += indexed.isEmpty() ? "1" : "caption_text MATCH ?1";
    for (qsizetype i = 0; i < scanned.size(); ++i) {
        const QByteArray parameter = QByteArray::number(i + 2);
        sql += " AND (c.source LIKE ?" + parameter + " ESCAPE '\\' OR c.target LIKE ?" + parameter
            + " ESCAPE '\\')";
    }
    // Caption ids grow as captions arrive: the newest come first.
    sql += indexed.isEmpty() ? " ORDER BY c.id DESC" : " ORDER BY caption_text.rowid DESC";
    sql += " LIMIT " + QByteArray::number(limit);

    const Statement statement = JournalDatabase::prepare(m_db.get(), sql.constData());
    if (!indexed.isEmpty())
        JournalDatabase::bind(statement.get(), 1, indexed.join(QStringLiteral(" AND ")));
    for (qsizetype i = 0; i < scanned.size(); ++i)
        JournalDatabase::bind(statement.get(), int(i + 2), scanned[i]);
    QList<JournalSearchHit> hits;
    eachRow(statement.get(), [&hits](sqlite3_stmt *row) {
        hits.append(JournalSearchHit {
            readCaption(row), sqlite3_column_int64(row, 6), JournalDatabase::text(row, 7) });
    });
    return hits;
}

} // namespace TranslateMac
