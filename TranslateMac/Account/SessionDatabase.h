#pragma once

#include "TranslateCore/Contract/Credentials.h"

#include <QString>
#include <QUrl>

#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace TranslateMac::SessionDatabase {

// The steps of the credential store that talk to the file system and to SQLite. Each throws
// SessionStorageFailure (or a file-system error) at once; the handles close themselves on every
// exit.

struct ConnectionCloser {
    void operator()(sqlite3 *db) const noexcept;
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt *statement) const noexcept;
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// The schema this client writes, kept in SQLite's user_version: 1 holds the token pair, 2 adds
// the sessions whose settlement is pending. Older files are migrated on open; newer ones refused.
constexpr qint64 currentSchemaVersion = 2;

// The largest token, in UTF-8 bytes.
constexpr qsizetype maximumTokenBytes = 0x100000;

// Creates the folder and any missing folders above it, each private to the user (0700); a
// folder already there is left as it is. Throws a file-system error.
void createPrivateFolder(const QByteArray &path);
// Makes the private folder, opens the database without following links, hardens the connection
// and brings the schema to `currentSchemaVersion`.
Connection open(const QUrl &databaseURL);
Statement prepare(sqlite3 *db, const char *sql);
// A column that is text of 1 to `maximumTokenBytes` bytes of valid UTF-8, else invalidCredentials.
QString text(sqlite3_stmt *statement, int column);
void bind(const QString &text, sqlite3_stmt *statement, int column);
// One write transaction: BEGIN IMMEDIATE (no rollback when it fails), COMMIT (rolled back when it
// fails), ROLLBACK (its result ignored).
void beginWrite(sqlite3 *db);
void commit(sqlite3 *db);
void rollBack(sqlite3 *db);
// Both tokens non-empty, free of U+0000, well-formed and at most `maximumTokenBytes` in UTF-8.
void validate(const TranslateCore::Credentials &credentials);

} // namespace TranslateMac::SessionDatabase
