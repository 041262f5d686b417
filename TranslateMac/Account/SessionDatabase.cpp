#include "TranslateMac/Account/SessionDatabase.h"

#include "TranslateMac/Account/SessionStorageFailure.h"

#include <QByteArray>
#include <QFile>
#include <QStringDecoder>

#include <sqlite3.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <system_error>

namespace TranslateMac::SessionDatabase {

namespace {

constexpr int openFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW;
static_assert(openFlags == 0x1000006);
constexpr int busyTimeoutMilliseconds = 250;
constexpr int lengthLimit = 0x200400;

constexpr char hardening[] = "PRAGMA journal_mode = DELETE; PRAGMA synchronous = FULL; "
                             "PRAGMA secure_delete = ON; PRAGMA trusted_schema = OFF";

constexpr char creationScript[]
    = "BEGIN IMMEDIATE;\n"
      "CREATE TABLE IF NOT EXISTS session (\n"
      "    id INTEGER PRIMARY KEY CHECK (id = 1),\n"
      "    access_token TEXT NOT NULL CHECK (length(access_token) > 0),\n"
      "    refresh_token TEXT NOT NULL CHECK (length(refresh_token) > 0)\n"
      ");\n"
      "PRAGMA user_version = 1;\n"
      "COMMIT;";

// Sessions the service bills until their settlement is confirmed; runs inside the migration's
// write transaction.
constexpr char pendingSessionStep[]
    = "CREATE TABLE IF NOT EXISTS pending_session (\n"
      "    session_id INTEGER PRIMARY KEY CHECK (session_id > 0),\n"
      "    route_code TEXT NOT NULL CHECK (length(route_code) > 0),\n"
      "    started_at_ms INTEGER NOT NULL\n"
      ");\n"
      "PRAGMA user_version = 2;";

[[noreturn]] void throwFileError(const char *operation, const QByteArray &path, int error)
{
    throw std::filesystem::filesystem_error(operation, std::filesystem::path(path.toStdString()),
        std::error_code(error, std::generic_category()));
}

// The attributes of the item itself (a link is not followed), or nothing when there is none.
std::optional<struct stat> itemAttributes(const QByteArray &path)
{
    struct stat attributes { };
    if (::lstat(path.constData(), &attributes) == 0)
        return attributes;
    if (errno == ENOENT)
        return std::nullopt;
    throwFileError("lstat", path, errno);
}

} // namespace

void createPrivateFolder(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash > 0) {
        const QByteArray parent = path.left(slash);
        if (!itemAttributes(parent))
            createPrivateFolder(parent);
    }
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        throwFileError("mkdir", path, errno);
}

namespace {

// Changes the mode of the item itself; a link put in its place is refused rather than followed.
void setPermissions(const QByteArray &path, mode_t mode)
{
    if (::fchmodat(AT_FDCWD, path.constData(), mode, AT_SYMLINK_NOFOLLOW) != 0)
        throwFileError("chmod", path, errno);
}

// The folder's path with every link resolved.
QByteArray realFolderPath(const QByteArray &folder)
{
    const std::unique_ptr<char, decltype(&std::free)> resolved(
        ::realpath(folder.constData(), nullptr), &std::free);
    if (!resolved)
        throw SessionStorageFailure::unavailable();
    return QByteArray(resolved.get());
}

qint64 schemaVersion(sqlite3 *db)
{
    const Statement statement = prepare(db, "PRAGMA user_version");
    int result = sqlite3_step(statement.get());
    if (result != SQLITE_ROW)
        throw SessionStorageFailure::database(result);
    const qint64 version = sqlite3_column_int64(statement.get(), 0);
    result = sqlite3_step(statement.get());
    if (result != SQLITE_DONE)
        throw SessionStorageFailure::database(result);
    return version;
}

// Runs a script that may stop half-way; its open transaction is undone before the failure is
// reported, so the connection is closed clean.
void runScript(sqlite3 *db, const char *script)
{
    if (const int result = sqlite3_exec(db, script, nullptr, nullptr, nullptr)) {
        if (!sqlite3_get_autocommit(db))
            rollBack(db);
        throw SessionStorageFailure::database(result);
    }
}

// Version 1 to 2. The version is read again inside the write transaction: another process may
// have moved the file on since it was first read, and a newer file must never be set back.
void addPendingSessions(sqlite3 *db)
{
    beginWrite(db);
    try {
        const qint64 version = schemaVersion(db);
        if (version == 1)
            runScript(db, pendingSessionStep);
        else if (version != currentSchemaVersion)
            throw SessionStorageFailure::unsupportedSchema();
    } catch (...) {
        if (!sqlite3_get_autocommit(db))
            rollBack(db);
        throw;
    }
    commit(db);
}

void migrate(sqlite3 *db)
{
    const qint64 version = schemaVersion(db);
    if (version == currentSchemaVersion)
        return;
    if (version != 0 && version != 1)
        throw SessionStorageFailure::unsupportedSchema();
    if (version == 0)
        runScript(db, creationScript);
    addPendingSessions(db);
}

} // namespace

void rollBack(sqlite3 *db)
{
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void beginWrite(sqlite3 *db)
{
    const int result = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (result != SQLITE_OK)
        throw SessionStorageFailure::database(result);
}

void commit(sqlite3 *db)
{
    const int result = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (result != SQLITE_OK) {
        rollBack(db);
        throw SessionStorageFailure::database(result);
    }
}

void ConnectionCloser::operator()(sqlite3 *db) const noexcept
{
    sqlite3_close(db);
}

void StatementFinalizer::operator()(sqlite3_stmt *statement) const noexcept
{
    sqlite3_finalize(statement);
}

Connection open(const QUrl &databaseURL)
{
    const QByteArray file
        = databaseURL.isLocalFile() ? QFile::encodeName(databaseURL.toLocalFile()) : QByteArray();
    const qsizetype slash = file.lastIndexOf('/');
    if (slash <= 0 || slash == file.size() - 1)
        throw SessionStorageFailure::unavailable();
    const QByteArray folder = file.left(slash);
    const QByteArray fileName = file.mid(slash + 1);

    if (const std::optional<struct stat> attributes = itemAttributes(folder)) {
        if (!S_ISDIR(attributes->st_mode))
            throw SessionStorageFailure::unavailable();
    } else {
        createPrivateFolder(folder);
    }
    setPermissions(folder, 0700);
    if (const std::optional<struct stat> attributes = itemAttributes(file)) {
        if (!S_ISREG(attributes->st_mode))
            throw SessionStorageFailure::unavailable();
    }
    const QByteArray path = realFolderPath(folder) + '/' + fileName;

    sqlite3 *handle = nullptr;
    const int opened = sqlite3_open_v2(path.constData(), &handle, openFlags, nullptr);
    // SQLite usually hands out a handle even when opening failed; it must be closed too.
    Connection db(handle);
    if (opened != SQLITE_OK)
        throw SessionStorageFailure::database(opened);
    if (!db)
        throw SessionStorageFailure::unavailable();
    setPermissions(file, 0600);
    if (const int result = sqlite3_busy_timeout(db.get(), busyTimeoutMilliseconds))
        throw SessionStorageFailure::database(result);
    sqlite3_limit(db.get(), SQLITE_LIMIT_LENGTH, lengthLimit);
    if (const int result = sqlite3_exec(db.get(), hardening, nullptr, nullptr, nullptr))
        throw SessionStorageFailure::database(result);
    migrate(db.get());
    return db;
}

Statement prepare(sqlite3 *db, const char *sql)
{
    sqlite3_stmt *handle = nullptr;
    const int result = sqlite3_prepare_v2(db, sql, -1, &handle, nullptr);
    Statement statement(handle);
    if (result != SQLITE_OK || !statement)
        throw SessionStorageFailure::database(result);
    return statement;
}

QString text(sqlite3_stmt *statement, int column)
{
    if (sqlite3_column_type(statement, column) != SQLITE_TEXT)
        throw SessionStorageFailure::invalidCredentials();
    const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    const int count = sqlite3_column_bytes(statement, column);
    if (!bytes || count < 1 || count > maximumTokenBytes)
        throw SessionStorageFailure::invalidCredentials();
    const QByteArrayView stored(bytes, count);
    // Keep a leading byte-order mark as a character: the token must come back byte for byte.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    const QString decoded = decoder.decode(stored);
    if (decoder.hasError() || decoded.toUtf8() != stored)
        throw SessionStorageFailure::invalidCredentials();
    return decoded;
}

void bind(const QString &text, sqlite3_stmt *statement, int column)
{
    const QByteArray utf8 = text.toUtf8();
    const int result = sqlite3_bind_text(
        statement, column, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    if (result != SQLITE_OK)
        throw SessionStorageFailure::database(result);
}

void validate(const TranslateCore::Credentials &credentials)
{
    for (const QString *token : { &credentials.accessToken, &credentials.refreshToken }) {
        // A lone surrogate has no UTF-8 form: it would be stored as something else and a
        // different token would come back.
        if (token->isEmpty() || token->contains(QChar(u'\0')) || !token->isValidUtf16()
            || token->toUtf8().size() > maximumTokenBytes)
            throw SessionStorageFailure::invalidCredentials();
    }
}

} // namespace TranslateMac::SessionDatabase
