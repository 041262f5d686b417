#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <chrono>
#include <memory>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace TranslateMac::JournalDatabase {

// The journal's SQLite steps. Every failure throws JournalFailure (file-system failures too:
// the journal is optional, so its caller needs one error type only).

struct ConnectionCloser {
    void operator()(sqlite3 *db) const noexcept;
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt *statement) const noexcept;
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

constexpr qint64 schemaVersion = 1;
// Longest text kept of one side of a caption, in UTF-8 bytes; longer text is cut there.
constexpr qsizetype maximumTextBytes = 1 << 20;

// Opens the journal at `path` in a private folder (0700) as a private file (0600) without
// following links, in WAL mode, creating or checking the schema. A damaged file gives `corrupt`,
// a newer one `unsupportedSchema`; neither is changed.
Connection open(const QString &path, std::chrono::milliseconds busyTimeout);
// Opens an existing journal for reading only, beside a writer that may have it open: nothing is
// created, changed or migrated. Nothing when there is no file at `path`; a file that is no
// journal gives `corrupt`, a newer one `unsupportedSchema`.
std::optional<Connection> openReadOnly(const QString &path, std::chrono::milliseconds busyTimeout);

Statement prepare(sqlite3 *db, const char *sql);
void exec(sqlite3 *db, const char *sql);
// Steps a statement that returns no rows, then resets it for the next use.
void run(sqlite3_stmt *statement);
void bind(sqlite3_stmt *statement, int column, qint64 value);
void bind(sqlite3_stmt *statement, int column, const QString &text);
// A text column (an unreadable one reads as empty).
QString text(sqlite3_stmt *statement, int column);

} // namespace TranslateMac::JournalDatabase
