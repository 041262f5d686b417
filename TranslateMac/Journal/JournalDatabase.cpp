#include "TranslateMac/Journal/JournalDatabase.h"

#include "TranslateMac/Account/SessionDatabase.h"
#include "TranslateMac/Journal/JournalFailure.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>

namespace TranslateMac::JournalDatabase {

namespace {

constexpr int lengthLimit = 8 << 20;

// WAL: appends do not wait for readers (the history, another process listing sessions), and a
// commit survives a crash of the process without a sync per caption.
constexpr char settings[] = "PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON; "
                            "PRAGMA secure_delete = ON; PRAGMA trusted_schema = OFF";

// The full-text index holds both sides of every caption. Its trigram tokenizer finds any run of
// three or more characters, Chinese included (unicode61 would take a whole Chinese sentence for
// one word); shorter search words are matched by a scan instead (JournalReader). The
// trusted_schema setting forbids triggers on a virtual table, so the writer keeps the index in
// step in the same transaction as the captions.
constexpr char creationScript[]
    = "BEGIN IMMEDIATE;\n"
      "CREATE TABLE IF NOT EXISTS sessions (\n"
      "    id INTEGER PRIMARY KEY CHECK (id > 0),\n"
      "    service_session_id INTEGER NOT NULL CHECK (service_session_id > 0),\n"
      "    route_code TEXT NOT NULL,\n"
      "    direction TEXT NOT NULL,\n"
      "    source_name TEXT NOT NULL,\n"
      "    started_at_ms INTEGER NOT NULL,\n"
      "    ended_at_ms INTEGER,\n"
      "    interrupted INTEGER NOT NULL DEFAULT 0 CHECK (interrupted IN (0, 1)),\n"
      "    charged_points INTEGER\n"
      ");\n"
      "CREATE TABLE IF NOT EXISTS captions (\n"
      "    id INTEGER PRIMARY KEY,\n"
      "    session_id INTEGER NOT NULL REFERENCES sessions (id),\n"
      "    sequence INTEGER NOT NULL CHECK (sequence > 0),\n"
      "    source TEXT NOT NULL,\n"
      "    target TEXT NOT NULL,\n"
      "    appeared_ms INTEGER NOT NULL,\n"
      "    final_ms INTEGER NOT NULL,\n"
      "    UNIQUE (session_id, sequence)\n"
      ");\n"
      "CREATE VIRTUAL TABLE IF NOT EXISTS caption_text USING fts5 (\n"
      "    source, target, content = 'captions', content_rowid = 'id', tokenize = 'trigram'\n"
      ");\n"
      "PRAGMA user_version = 1;\n"
      "COMMIT;";

// Every table a journal must have; a file missing one is not a journal this version can use.
constexpr char schemaProbe[] = "SELECT (SELECT count(*) FROM (SELECT id FROM sessions LIMIT 0)) + "
                               "(SELECT count(*) FROM (SELECT id FROM captions LIMIT 0)) + "
                               "(SELECT count(*) FROM (SELECT rowid FROM caption_text LIMIT 0))";

bool isItem(const QByteArray &path, struct stat &attributes)
{
    if (::lstat(path.constData(), &attributes) == 0)
        return true;
    if (errno != ENOENT)
        throw JournalFailure::unavailable();
    return false;
}

void makePrivate(const QByteArray &path, mode_t mode)
{
    if (::fchmodat(AT_FDCWD, path.constData(), mode, AT_SYMLINK_NOFOLLOW) != 0 && errno != ENOENT)
        throw JournalFailure::unavailable();
}

QByteArray realPath(const QByteArray &folder)
{
    const std::unique_ptr<char, decltype(&std::free)> resolved(
        ::realpath(folder.constData(), nullptr), &std::free);
    if (!resolved)
        throw JournalFailure::unavailable();
    return QByteArray(resolved.get());
}

qint64 readVersion(sqlite3 *db)
{
    const Statement statement = prepare(db, "PRAGMA user_version");
    const int result = sqlite3_step(statement.get());
    if (result != SQLITE_ROW)
        throw JournalFailure::database(result);
    return sqlite3_column_int64(statement.get(), 0);
}

void useWriteAheadLog(sqlite3 *db)
{
    const Statement statement = prepare(db, "PRAGMA journal_mode = WAL");
    const int result = sqlite3_step(statement.get());
    if (result != SQLITE_ROW)
        throw JournalFailure::database(result);
    if (text(statement.get(), 0).compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
        throw JournalFailure::unavailable();
}

// The version is checked before anything is written: a newer journal is left exactly as it is.
void checkVersion(sqlite3 *db)
{
    const qint64 version = readVersion(db);
    if (version < 0 || version > schemaVersion)
        throw JournalFailure::unsupportedSchema();
}

void probeSchema(sqlite3 *db)
{
    const Statement probe = prepare(db, schemaProbe);
    if (const int result = sqlite3_step(probe.get()); result != SQLITE_ROW)
        throw JournalFailure::database(result);
}

void migrate(sqlite3 *db)
{
    if (readVersion(db) == 0) {
        if (const int result = sqlite3_exec(db, creationScript, nullptr, nullptr, nullptr)) {
            if (!sqlite3_get_autocommit(db))
                sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw JournalFailure::database(result);
        }
    }
    probeSchema(db);
}

// Opens the file (never through a link) with the journal's settings and checks its version.
Connection connect(const QByteArray &file, int flags, std::chrono::milliseconds busyTimeout)
{
    sqlite3 *handle = nullptr;
    const int opened
        = sqlite3_open_v2(file.constData(), &handle, flags | SQLITE_OPEN_NOFOLLOW, nullptr);
    Connection db(handle);
    if (opened != SQLITE_OK)
        throw JournalFailure::database(opened);
    if (!db)
        throw JournalFailure::unavailable();
    if (const int result = sqlite3_busy_timeout(db.get(), int(busyTimeout.count())))
        throw JournalFailure::database(result);
    sqlite3_limit(db.get(), SQLITE_LIMIT_LENGTH, lengthLimit);
    exec(db.get(), settings);
    checkVersion(db.get());
    return db;
}

} // namespace

void ConnectionCloser::operator()(sqlite3 *db) const noexcept
{
    sqlite3_close(db);
}

void StatementFinalizer::operator()(sqlite3_stmt *statement) const noexcept
{
    sqlite3_finalize(statement);
}

Connection open(const QString &path, std::chrono::milliseconds busyTimeout)
{
    const QByteArray file = QFile::encodeName(path);
    const qsizetype slash = file.lastIndexOf('/');
    if (!path.startsWith(u'/') || slash <= 0 || slash == file.size() - 1)
        throw JournalFailure::unavailable();
    const QByteArray folder = file.left(slash);
    struct stat attributes { };
    if (isItem(folder, attributes)) {
        if (!S_ISDIR(attributes.st_mode))
            throw JournalFailure::unavailable();
    } else {
        try {
            SessionDatabase::createPrivateFolder(folder);
        } catch (const std::filesystem::filesystem_error &) {
            throw JournalFailure::unavailable();
        }
    }
    makePrivate(folder, 0700);
    if (isItem(file, attributes) && !S_ISREG(attributes.st_mode))
        throw JournalFailure::unavailable();
    const QByteArray real = realPath(folder) + file.mid(slash);

    Connection db = connect(real, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, busyTimeout);
    // The log files take the database file's mode when SQLite creates them.
    for (const char *suffix : { "", "-wal", "-shm" })
        makePrivate(real + suffix, 0600);
    useWriteAheadLog(db.get());
    migrate(db.get());
    return db;
}

std::optional<Connection> openReadOnly(const QString &path, std::chrono::milliseconds busyTimeout)
{
    const QByteArray file = QFile::encodeName(path);
    if (!path.startsWith(u'/'))
        throw JournalFailure::unavailable();
    struct stat attributes { };
    if (!isItem(file, attributes))
        return std::nullopt;
    if (!S_ISREG(attributes.st_mode))
        throw JournalFailure::unavailable();
    Connection db = connect(file, SQLITE_OPEN_READONLY, busyTimeout);
    // Version 0 is a database no journal was ever created in: there is nothing to read.
    if (readVersion(db.get()) == 0)
        throw JournalFailure::database(SQLITE_NOTADB);
    probeSchema(db.get());
    return db;
}

Statement prepare(sqlite3 *db, const char *sql)
{
    sqlite3_stmt *handle = nullptr;
    const int result = sqlite3_prepare_v2(db, sql, -1, &handle, nullptr);
    Statement statement(handle);
    if (result != SQLITE_OK || !statement)
        throw JournalFailure::database(result);
    return statement;
}

void exec(sqlite3 *db, const char *sql)
{
    if (const int result = sqlite3_exec(db, sql, nullptr, nullptr, nullptr))
        throw JournalFailure::database(result);
}

void run(sqlite3_stmt *statement)
{
    const int result = sqlite3_step(statement);
    sqlite3_reset(statement);
    if (result != SQLITE_DONE)
        throw JournalFailure::database(result);
}

void bind(sqlite3_stmt *statement, int column, qint64 value)
{
    if (const int result = sqlite3_bind_int64(statement, column, value))
        throw JournalFailure::database(result);
}

void bind(sqlite3_stmt *statement, int column, const QString &text)
{
    QByteArray utf8 = text.toUtf8();
    if (utf8.size() > maximumTextBytes) {
        // Cut before a continuation byte, so the text stays valid UTF-8.
        qsizetype end = maximumTextBytes;
        while (end > 0 && (uchar(utf8[end]) & 0xC0) == 0x80)
            --end;
        utf8.truncate(end);
    }
    const int result = sqlite3_bind_text(
        statement, column, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    if (result != SQLITE_OK)
        throw JournalFailure::database(result);
}

QString text(sqlite3_stmt *statement, int column)
{
    const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return bytes ? QString::fromUtf8(bytes, sqlite3_column_bytes(statement, column)) : QString();
}

} // namespace TranslateMac::JournalDatabase
