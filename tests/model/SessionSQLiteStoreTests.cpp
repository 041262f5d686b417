#include "TranslateMac/Account/SessionSQLiteStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

using TranslateCore::Credentials;
using namespace TranslateMac;

namespace {

using Failure = SessionStorageFailure;

// A second, plain connection to the store's file, as another process would hold it.
class RawDatabase {
public:
    explicit RawDatabase(const QString &path)
    {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db,
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    }
    ~RawDatabase() { sqlite3_close(m_db); }
    int exec(const QByteArray &sql)
    {
        return sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, nullptr);
    }
    qint64 integer(const char *sql)
    {
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr);
        const qint64 value
            = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
        sqlite3_finalize(statement);
        return value;
    }
    QByteArray accessTokenBytes()
    {
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(m_db, "SELECT access_token FROM session", -1, &statement, nullptr);
        QByteArray bytes;
        if (sqlite3_step(statement) == SQLITE_ROW)
            bytes = QByteArray(static_cast<const char *>(sqlite3_column_blob(statement, 0)),
                sqlite3_column_bytes(statement, 0));
        sqlite3_finalize(statement);
        return bytes;
    }

private:
    sqlite3 *m_db = nullptr;
};

void expectFailure(const std::function<void()> &call, const Failure &expected)
{
    try {
        call();
        ADD_FAILURE() << "expected a SessionStorageFailure";
    } catch (const Failure &failure) {
        EXPECT_EQ(int(failure.kind()), int(expected.kind()));
        EXPECT_EQ(failure.resultCode(), expected.resultCode());
    }
}

int mode(const QString &path)
{
    struct stat attributes { };
    ::lstat(QFile::encodeName(path).constData(), &attributes);
    return attributes.st_mode & 07777;
}

// Every file of a folder with its bytes.
QMap<QString, QByteArray> contents(const QString &folder)
{
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(folder).entryList(QDir::Files)) {
        QFile file(folder + u'/' + name);
        file.open(QIODevice::ReadOnly);
        files.insert(name, file.readAll());
    }
    return files;
}

const Credentials first { QStringLiteral("access-1"), QStringLiteral("refresh-1") };
const Credentials second { QStringLiteral("access-2"), QStringLiteral("refresh-2") };

class SessionStoreTest : public ::testing::Test {
protected:
    QString folder() const
    {
        return temporary.path() + QStringLiteral("/data/com.quorvel.translate.mac");
    }
    QString file() const { return folder() + QStringLiteral("/session.sqlite3"); }
    QString settingsFile() const { return temporary.path() + QStringLiteral("/settings.ini"); }

    // A fresh store over the same files, as after a restart of the application.
    SessionCredentialStore restart()
    {
        settings = std::make_unique<QSettings>(settingsFile(), QSettings::IniFormat);
        return SessionCredentialStore(
            QUrl::fromLocalFile(file()), std::make_shared<SQLiteSessionPreferences>(*settings));
    }
    bool flagRaised() { return restart().preferences().restorationDisabled(); }
    // A database made by hand: schema version `version` and whatever `sql` adds.
    void makeDatabase(int version, const QByteArray &sql)
    {
        QDir().mkpath(folder());
        RawDatabase raw(file());
        ASSERT_EQ(
            raw.exec(sql + "; PRAGMA user_version = " + QByteArray::number(version)), SQLITE_OK);
    }

    QTemporaryDir temporary;
    std::unique_ptr<QSettings> settings;
};

TEST_F(SessionStoreTest, FirstStartCreatesPrivateFolderAndFileAtSchemaVersionOne)
{
    EXPECT_EQ(restart().load(), std::nullopt);
    EXPECT_EQ(mode(temporary.path() + QStringLiteral("/data")), 0700);
    EXPECT_EQ(mode(folder()), 0700);
    EXPECT_EQ(mode(file()), 0600);
    RawDatabase raw(file());
    EXPECT_EQ(raw.integer("PRAGMA user_version"), 1);
    EXPECT_EQ(raw.integer("SELECT count(*) FROM session"), 0);
}

TEST_F(SessionStoreTest, EveryOpenTightensPermissionsAndMigratesAnEmptyFile)
{
    makeDatabase(0, "");
    QFile::setPermissions(folder(), QFileDevice::Permissions(0x7755));
    ::chmod(QFile::encodeName(file()).constData(), 0644);
    EXPECT_EQ(restart().load(), std::nullopt);
    EXPECT_EQ(mode(folder()), 0700);
    EXPECT_EQ(mode(file()), 0600);
    EXPECT_EQ(RawDatabase(file()).integer("PRAGMA user_version"), 1);
}

TEST_F(SessionStoreTest, SignInSurvivesRestartByteForByte)
{
    const QString longest = QStringLiteral("a") + QString(349525, QChar(u'中'));
    ASSERT_EQ(longest.toUtf8().size(), 1048576);
    const std::vector<Credentials> cases {
        first,
        { QStringLiteral("令牌-Токен-😀"), QStringLiteral("e\u0301 \u00e9") },
        { QStringLiteral("\uFEFFbom"), QStringLiteral("\uFFFF") },
        { longest, QString(1048576, QChar(u'r')) },
    };
    for (const Credentials &credentials : cases) {
        SCOPED_TRACE(credentials.accessToken.left(20).toStdString());
        restart().save(credentials);
        EXPECT_FALSE(flagRaised());
        EXPECT_EQ(restart().load(), credentials);
        EXPECT_EQ(RawDatabase(file()).accessTokenBytes(), credentials.accessToken.toUtf8());
    }
}

TEST_F(SessionStoreTest, RefusesInvalidTokensBeforeTouchingTheDatabase)
{
    const QString overlong = QString(349526, QChar(u'中'));
    const std::vector<std::pair<const char *, Credentials>> cases {
        { "empty access", { QString(), QStringLiteral("r") } },
        { "empty refresh", { QStringLiteral("a"), QString() } },
        { "NUL", { QString::fromUtf16(u"a\0b", 3), QStringLiteral("r") } },
        { "1,048,577 bytes", { QString(1048577, QChar(u'a')), QStringLiteral("r") } },
        { "1,048,578 bytes of CJK", { QStringLiteral("a"), overlong } },
        { "lone surrogate", { QString(QChar(0xD800)), QStringLiteral("r") } },
    };
    restart().save(first);
    for (const auto &[description, credentials] : cases) {
        SCOPED_TRACE(description);
        expectFailure([&] { restart().save(credentials); }, Failure::invalidCredentials());
        EXPECT_TRUE(flagRaised());
        EXPECT_EQ(RawDatabase(file()).accessTokenBytes(), first.accessToken.toUtf8());
        EXPECT_EQ(restart().load(), std::nullopt);
        restart().save(first);
    }
}

TEST_F(SessionStoreTest, RefusesStoredColumnsThatAreNotValidText)
{
    const std::vector<std::pair<const char *, QByteArray>> cases {
        { "NULL", "NULL" },
        { "blob", "x'616263'" },
        { "integer", "42" },
        { "real", "1.5" },
        { "empty text", "''" },
        { "invalid UTF-8", "CAST(x'61ff62' AS TEXT)" },
        { "overlong encoding", "CAST(x'c0af' AS TEXT)" },
        { "encoded surrogate", "CAST(x'eda080' AS TEXT)" },
        { "NUL inside", "CAST(x'610062' AS TEXT)" },
        { "1,048,577 bytes", "printf('%.*c', 1048577, 'a')" },
    };
    for (const auto &[description, value] : cases) {
        for (const bool inAccessColumn : { true, false }) {
            SCOPED_TRACE(std::string(description) + (inAccessColumn ? " (access)" : " (refresh)"));
            QFile::remove(file());
            const QByteArray values = inAccessColumn ? value + ", 'r'" : "'a', " + value;
            makeDatabase(1,
                "CREATE TABLE session (id INTEGER PRIMARY KEY, access_token, refresh_token); "
                "INSERT INTO session VALUES (1, "
                    + values + ")");
            expectFailure([&] { restart().load(); }, Failure::invalidCredentials());
        }
    }
}

TEST_F(SessionStoreTest, NewerSchemaIsRefusedAndLeftUntouched)
{
    makeDatabase(2,
        "CREATE TABLE session (id INTEGER PRIMARY KEY, access_token TEXT, refresh_token TEXT); "
        "INSERT INTO session VALUES (1, 'newer', 'client')");
    expectFailure([&] { restart().load(); }, Failure::unsupportedSchema());
    expectFailure([&] { restart().save(second); }, Failure::unsupportedSchema());
    EXPECT_TRUE(flagRaised());
    RawDatabase raw(file());
    EXPECT_EQ(raw.integer("PRAGMA user_version"), 2);
    EXPECT_EQ(raw.accessTokenBytes(), QByteArray("newer"));
}

TEST_F(SessionStoreTest, ForeignFileIsReportedWithItsSQLiteCode)
{
    QDir().mkpath(folder());
    QFile garbage(file());
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, 'x'));
    garbage.close();
    expectFailure([&] { restart().load(); }, Failure::database(SQLITE_NOTADB));
    QFile reread(file());
    ASSERT_TRUE(reread.open(QIODevice::ReadOnly));
    EXPECT_EQ(reread.readAll(), QByteArray(4096, 'x'));
}

TEST_F(SessionStoreTest, ItemsOfTheWrongKindOrLinksAreRefused)
{
    const QString elsewhere = temporary.path() + QStringLiteral("/elsewhere");
    const std::vector<std::pair<const char *, std::function<void()>>> cases {
        { "file in place of the folder", [&] { QFile(folder()).open(QIODevice::WriteOnly); } },
        { "folder in place of the file", [&] { QDir().mkpath(file()); } },
        { "link in place of the folder",
            [&] {
                QDir().mkpath(elsewhere);
                QFile::link(elsewhere, folder());
            } },
        { "link in place of the file",
            [&] {
                QDir().mkpath(folder());
                QDir().mkpath(elsewhere);
                RawDatabase(elsewhere + QStringLiteral("/session.sqlite3"))
                    .exec("PRAGMA user_version = 1");
                QFile::link(elsewhere + QStringLiteral("/session.sqlite3"), file());
            } },
        { "dangling link in place of the file",
            [&] {
                QDir().mkpath(folder());
                QFile::link(elsewhere + QStringLiteral("/missing"), file());
            } },
    };
    for (const auto &[description, arrange] : cases) {
        SCOPED_TRACE(description);
        QDir(temporary.path()).removeRecursively();
        QDir().mkpath(temporary.path() + QStringLiteral("/data"));
        arrange();
        const QMap<QString, QByteArray> before = contents(elsewhere);
        expectFailure([&] { restart().load(); }, Failure::unavailable());
        expectFailure([&] { restart().save(first); }, Failure::unavailable());
        EXPECT_EQ(contents(elsewhere), before) << "nothing may be written through a link";
    }
}

TEST_F(SessionStoreTest, UnusableLocationsFail)
{
    const auto store = [this](const QUrl &url) {
        return SessionCredentialStore(url, std::make_shared<SQLiteSessionPreferences>(*settings));
    };
    restart();
    expectFailure([&] { store(QUrl()).load(); }, Failure::unavailable());
    expectFailure([&] { store(QUrl(QStringLiteral("https://example.com/s"))).load(); },
        Failure::unavailable());
    // The file system's own error comes through unchanged.
    QFile(temporary.path() + QStringLiteral("/plain")).open(QIODevice::WriteOnly);
    EXPECT_THROW(store(QUrl::fromLocalFile(temporary.path() + QStringLiteral("/plain/a/b"))).load(),
        std::filesystem::filesystem_error);
}

TEST_F(SessionStoreTest, LinksAboveTheFolderAreResolved)
{
    const QString real = temporary.path() + QStringLiteral("/real");
    QDir().mkpath(real);
    ASSERT_TRUE(QFile::link(real, temporary.path() + QStringLiteral("/data")));
    restart().save(first);
    EXPECT_EQ(restart().load(), first);
    EXPECT_TRUE(QFile::exists(real + QStringLiteral("/com.quorvel.translate.mac/session.sqlite3")));
}

TEST_F(SessionStoreTest, LockedDatabaseFailsAfterBusyTimeoutAndRestoresNothing)
{
    for (const char *lock : { "BEGIN EXCLUSIVE", "BEGIN IMMEDIATE" }) {
        SCOPED_TRACE(lock);
        restart().save(first);
        RawDatabase other(file());
        ASSERT_EQ(other.exec(lock), SQLITE_OK);
        for (const std::optional<Credentials> &change :
            { std::optional(second), std::optional<Credentials>() }) {
            QElapsedTimer waited;
            waited.start();
            expectFailure([&] { restart().save(change); }, Failure::database(SQLITE_BUSY));
            EXPECT_GE(waited.elapsed(), 240);
            EXPECT_TRUE(flagRaised());
        }
        ASSERT_EQ(other.exec("ROLLBACK"), SQLITE_OK);
        // The older row is still on disk, yet the next start must not bring it back.
        EXPECT_EQ(RawDatabase(file()).accessTokenBytes(), first.accessToken.toUtf8());
        EXPECT_EQ(restart().load(), std::nullopt);
    }
}

TEST_F(SessionStoreTest, SignOutEmptiesTheTableAndKeepsRestorationDisabled)
{
    restart().save(first);
    restart().save(std::nullopt);
    EXPECT_TRUE(flagRaised());
    EXPECT_EQ(RawDatabase(file()).integer("SELECT count(*) FROM session"), 0);
    // Loading does not even open the database while restoration is disabled.
    QDir(folder()).removeRecursively();
    EXPECT_EQ(restart().load(), std::nullopt);
    EXPECT_FALSE(QFile::exists(folder()));
    restart().save(second);
    EXPECT_EQ(restart().load(), second);
}

TEST_F(SessionStoreTest, FlagThatCannotBeWrittenFailsTheSave)
{
    restart().save(first);
    QDir().mkpath(temporary.path() + QStringLiteral("/unwritable.ini"));
    QSettings unwritable(
        temporary.path() + QStringLiteral("/unwritable.ini"), QSettings::IniFormat);
    const SessionCredentialStore store(
        QUrl::fromLocalFile(file()), std::make_shared<SQLiteSessionPreferences>(unwritable));
    expectFailure([&] { store.save(second); }, Failure::unavailable());
    EXPECT_EQ(RawDatabase(file()).accessTokenBytes(), first.accessToken.toUtf8());
    // A sign-out still removes the stored pair, so nothing can come back.
    expectFailure([&] { store.save(std::nullopt); }, Failure::unavailable());
    EXPECT_EQ(RawDatabase(file()).integer("SELECT count(*) FROM session"), 0);
}

TEST(SQLiteSessionPreferencesTest, FlagReadsFalseWhenAbsentAndIsOnDiskAtOnce)
{
    QTemporaryDir temporary;
    const QString path = temporary.path() + QStringLiteral("/settings.ini");
    QSettings defaults(path, QSettings::IniFormat);
    SQLiteSessionPreferences preferences(defaults);
    EXPECT_FALSE(preferences.restorationDisabled());
    for (const bool disabled : { true, false }) {
        preferences.setRestorationDisabled(disabled);
        EXPECT_EQ(preferences.restorationDisabled(), disabled);
        QFile written(path);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_TRUE(written.readAll().contains(
            QByteArray("session.sqlite.restorationDisabled=") + (disabled ? "true" : "false")));
    }
}

TEST(SessionSQLiteTest, DatabaseLivesInTheUserDataFolder)
{
    EXPECT_EQ(SessionSQLite::databaseURL(),
        QUrl::fromLocalFile(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
            + QStringLiteral("/com.quorvel.translate.mac/session.sqlite3")));
    for (const Failure &failure : { Failure::database(5), Failure::unavailable(),
             Failure::invalidCredentials(), Failure::unsupportedSchema() })
        EXPECT_EQ(failure.errorDescription(),
            QStringLiteral("暂时无法保存本机登录状态，下次打开时请重新登录。"));
}

} // namespace
