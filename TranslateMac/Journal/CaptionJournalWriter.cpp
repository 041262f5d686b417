#include "TranslateMac/Journal/CaptionJournal.h"

#include <sqlite3.h>

namespace TranslateMac {

namespace {

using JournalDatabase::bind;
using JournalDatabase::run;

constexpr char insertSession[]
    = "INSERT INTO sessions (id, service_session_id, route_code, direction, source_name, "
      "started_at_ms) VALUES (?1, ?2, ?3, ?4, ?5, ?6)";

// The index has no triggers (see JournalDatabase): each change of a caption takes its old text
// out of the index and puts the new one in, in the same transaction.
constexpr char unindexCaption[]
    = "INSERT INTO caption_text (caption_text, rowid, source, target) "
      "SELECT 'delete', id, source, target FROM captions WHERE session_id = ?1 AND sequence = ?2";
constexpr char upsertCaption[]
    = "INSERT INTO captions (session_id, sequence, source, target, appeared_ms, final_ms)\n"
      "SELECT ?1, ?2, ?3, ?4, ?5, ?6 WHERE EXISTS (SELECT 1 FROM sessions WHERE id = ?1)\n"
      "ON CONFLICT (session_id, sequence) DO UPDATE SET source = excluded.source, "
      "target = excluded.target, appeared_ms = min(appeared_ms, excluded.appeared_ms), "
      "final_ms = min(final_ms, excluded.final_ms)";
constexpr char indexCaption[]
    = "INSERT INTO caption_text (rowid, source, target) "
      "SELECT id, source, target FROM captions WHERE session_id = ?1 AND sequence = ?2";

constexpr char endSessionSql[] = "UPDATE sessions SET ended_at_ms = ?2 WHERE id = ?1";
constexpr char chargeSession[] = "UPDATE sessions SET charged_points = ?2 WHERE id = ?1";
constexpr char interruptSession[]
    = "UPDATE sessions SET interrupted = 1, ended_at_ms = started_at_ms + "
      "coalesce((SELECT max(final_ms) FROM captions WHERE session_id = ?1), 0) "
      "WHERE id = ?1 AND ended_at_ms IS NULL";

// Deleting sessions: the index first (it needs the old texts), then captions, then sessions.
#define OLDER_THAN_RETAINED "(SELECT id FROM sessions ORDER BY id DESC LIMIT -1 OFFSET ?1)"
constexpr char unindexOlder[]
    = "INSERT INTO caption_text (caption_text, rowid, source, target) SELECT 'delete', id, "
      "source, target FROM captions WHERE session_id IN " OLDER_THAN_RETAINED;
constexpr char deleteOlderCaptions[]
    = "DELETE FROM captions WHERE session_id IN " OLDER_THAN_RETAINED;
constexpr char deleteOlderSessions[] = "DELETE FROM sessions WHERE id IN " OLDER_THAN_RETAINED;
#undef OLDER_THAN_RETAINED

constexpr char unindexSession[]
    = "INSERT INTO caption_text (caption_text, rowid, source, target) SELECT 'delete', id, "
      "source, target FROM captions WHERE session_id = ?1";
constexpr char deleteCaptions[] = "DELETE FROM captions WHERE session_id = ?1";
constexpr char deleteSessionSql[] = "DELETE FROM sessions WHERE id = ?1";

template <class... Handlers> struct Overloaded : Handlers... {
    using Handlers::operator()...;
};

} // namespace

sqlite3_stmt *CaptionJournal::statement(const char *sql)
{
    auto found = m_statements.find(sql);
    if (found == m_statements.end())
        found = m_statements.emplace(sql, JournalDatabase::prepare(m_writer.get(), sql)).first;
    return found->second.get();
}

void CaptionJournal::write(const std::deque<Command> &batch)
{
    sqlite3 *db = m_writer.get();
    const auto byId = [this](const char *sql, qint64 id) {
        sqlite3_stmt *s = statement(sql);
        bind(s, 1, id);
        run(s);
    };
    const auto withValue = [this](const char *sql, qint64 id, qint64 value) {
        sqlite3_stmt *s = statement(sql);
        bind(s, 1, id);
        bind(s, 2, value);
        run(s);
    };
    const auto retain = [&] {
        for (const char *sql : { unindexOlder, deleteOlderCaptions, deleteOlderSessions })
            byId(sql, m_retainedSessions);
    };
    bool deleted = false;
    JournalDatabase::exec(db, "BEGIN IMMEDIATE");
    try {
        for (const Command &command : batch) {
            std::visit(
                Overloaded {
                    [&](const Begin &begin) {
                        sqlite3_stmt *s = statement(insertSession);
                        bind(s, 1, begin.id);
                        bind(s, 2, begin.start.serviceSessionId);
                        bind(s, 3, begin.start.routeCode);
                        bind(s, 4, begin.start.direction);
                        bind(s, 5, begin.start.sourceName);
                        bind(s, 6, begin.start.startedAtMs);
                        run(s);
                        retain();
                    },
                    [&](const JournalCaption &caption) {
                        for (const char *sql : { unindexCaption, upsertCaption, indexCaption }) {
                            sqlite3_stmt *s = statement(sql);
                            bind(s, 1, caption.sessionId);
                            bind(s, 2, caption.sequence);
                            if (sql == upsertCaption) {
                                bind(s, 3, caption.source);
                                bind(s, 4, caption.target);
                                bind(s, 5, caption.appearedMs);
                                bind(s, 6, caption.finalMs);
                            }
                            run(s);
                        }
                    },
                    [&](const End &end) { withValue(endSessionSql, end.id, end.endedAtMs); },
                    [&](const Charge &charge) {
                        withValue(chargeSession, charge.id, charge.points);
                    },
                    [&](const Interrupted &session) { byId(interruptSession, session.id); },
                    [&](const Delete &session) {
                        for (const char *sql : { unindexSession, deleteCaptions, deleteSessionSql })
                            byId(sql, session.id);
                        deleted = true;
                    },
                    [&](const Clear &) {
                        JournalDatabase::exec(db,
                            "INSERT INTO caption_text (caption_text) VALUES ('delete-all'); "
                            "DELETE FROM captions; DELETE FROM sessions");
                        deleted = true;
                    },
                    [&](const Retain &rule) {
                        m_retainedSessions = rule.count;
                        retain();
                        deleted = true;
                    },
                },
                command);
        }
        JournalDatabase::exec(db, "COMMIT");
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    // What the user deleted must not linger in the log either (secure_delete clears the pages of
    // the database file itself). A reader still holding the old log lets this do less; it is
    // tried again after the next deletion.
    if (deleted)
        sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
}

} // namespace TranslateMac
