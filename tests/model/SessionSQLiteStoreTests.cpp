#include "SessionStoreFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <functional>
#include <memory>
#include <optional>

using TranslateCore::Credentials;
using namespace TranslateMac;

namespace {

TEST_F(SessionStoreTest, EveryOpenMakesAPrivateFolderAndFileAtTheCurrentSchema)
{
    for (const bool existing : { false, true }) {
        SCOPED_TRACE(existing ? "loose permissions, empty file" : "first start");
        if (existing) {
            makeDatabase(0, "");
            QFile::setPermissions(folder(), QFileDevice::Permissions(0x7755));
            ::chmod(QFile::encodeName(file()).constData(), 0644);
        }
        EXPECT_EQ(restart().load(), std::nullopt);
        EXPECT_EQ(mode(temporary.path() + QStringLiteral("/data")), 0700);
        EXPECT_EQ(mode(folder()), 0700);
        EXPECT_EQ(mode(file()), 0600);
        RawDatabase raw(file());
        EXPECT_EQ(raw.value("PRAGMA user_version"), "2");
        EXPECT_EQ(raw.value("SELECT count(*) FROM session"), "0");
        EXPECT_EQ(raw.value("SELECT count(*) FROM pending_session"), "0");
    }
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
        EXPECT_EQ(RawDatabase(file()).accessToken(), credentials.accessToken.toUtf8());
    }
}

TEST_F(SessionStoreTest, RefusesInvalidTokensBeforeTouchingTheDatabase)
{
    const QString overlong = QString(349526, QChar(u'中'));
    const std::vector<std::pair<const char *, Credentials>> cases {
        { "empty access", { QString(), QStringLiteral("r") } },
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
        EXPECT_EQ(RawDatabase(file()).accessToken(), first.accessToken.toUtf8());
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
        { "invalid UTF-8", "CAST(x'61ff62' AS TEXT)" },
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
    makeDatabase(3,
        "CREATE TABLE session (id INTEGER PRIMARY KEY, access_token TEXT, refresh_token TEXT); "
        "INSERT INTO session VALUES (1, 'newer', 'client')");
    expectFailure([&] { restart().load(); }, Failure::unsupportedSchema());
    expectFailure([&] { restart().save(second); }, Failure::unsupportedSchema());
    EXPECT_TRUE(flagRaised());
    RawDatabase raw(file());
    EXPECT_EQ(raw.value("PRAGMA user_version"), "3");
    EXPECT_EQ(raw.accessToken(), QByteArray("newer"));
}

TEST_F(SessionStoreTest, ForeignFileIsReportedWithItsSQLiteCode)
{
    QDir().mkpath(folder());
    QFile garbage(file());
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly) && garbage.write(QByteArray(4096, 'x')));
    garbage.close();
    expectFailure([&] { restart().load(); }, Failure::database(SQLITE_NOTADB));
    EXPECT_EQ(contents(folder()).value(QStringLiteral("session.sqlite3")), QByteArray(4096, 'x'));
}

TEST_F(SessionStoreTest, LinksToTheFolderOrFileAreRefused)
{
    const QString elsewhere = temporary.path() + QStringLiteral("/elsewhere");
    const QString target = elsewhere + QStringLiteral("/session.sqlite3");
    const std::pair<QString, QString> cases[] = {
        { folder(), elsewhere }, { file(), target },
        { file(), elsewhere + QStringLiteral("/missing") }, // dangling
    };
    for (const auto &[link, linkTarget] : cases) {
        SCOPED_TRACE((link + QStringLiteral(" -> ") + linkTarget).toStdString());
        QDir(temporary.path()).removeRecursively();
        QDir().mkpath(QFileInfo(link).path());
        QDir().mkpath(elsewhere);
        RawDatabase(target).exec("PRAGMA user_version = 1");
        ASSERT_TRUE(QFile::link(linkTarget, link));
        const QMap<QString, QByteArray> before = contents(elsewhere);
        expectFailure([&] { restart().load(); }, Failure::unavailable());
        expectFailure([&] { restart().save(first); }, Failure::unavailable());
        EXPECT_EQ(contents(elsewhere), before) << "nothing may be written through a link";
    }
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
    restart().save(first);
    RawDatabase other(file());
    ASSERT_EQ(other.exec("BEGIN EXCLUSIVE"), SQLITE_OK);
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
    EXPECT_EQ(other.accessToken(), first.accessToken.toUtf8());
    EXPECT_EQ(restart().load(), std::nullopt);
}

TEST_F(SessionStoreTest, SignOutEmptiesTheTableAndKeepsRestorationDisabled)
{
    restart().save(first);
    restart().save(std::nullopt);
    EXPECT_TRUE(flagRaised());
    EXPECT_EQ(RawDatabase(file()).value("SELECT count(*) FROM session"), "0");
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
    EXPECT_EQ(RawDatabase(file()).accessToken(), first.accessToken.toUtf8());
    // A sign-out still removes the stored pair, so nothing can come back.
    expectFailure([&] { store.save(std::nullopt); }, Failure::unavailable());
    EXPECT_EQ(RawDatabase(file()).value("SELECT count(*) FROM session"), "0");
}

TEST(SQLiteSessionPreferencesTest, FlagIsOnDiskAtOnce)
{
    QTemporaryDir temporary;
    const QString path = temporary.path() + QStringLiteral("/settings.ini");
    QSettings settings(path, QSettings::IniFormat);
    SQLiteSessionPreferences preferences(settings);
    EXPECT_FALSE(preferences.restorationDisabled());
    preferences.setRestorationDisabled(true);
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.readAll().contains("session.sqlite.restorationDisabled=true"));
}

} // namespace

namespace {

TEST(SessionDatabaseLocation, FollowsTheXdgRulesForTheDataFolder)
{
    const struct {
        const char *xdgDataHome;
        const char *home;
        const char *expected;
    } cases[] = {
        { "/data", "/home/u", "/data/com.quorvel.translate.mac/session.sqlite3" },
        { "", "/home/u", "/home/u/.local/share/com.quorvel.translate.mac/session.sqlite3" },
        { "relative/data", "/home/u",
            "/home/u/.local/share/com.quorvel.translate.mac/session.sqlite3" },
        { "relative/data", "", "" },
        { "", "not/absolute", "" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.xdgDataHome);
        EXPECT_EQ(SessionSQLite::databaseURLFor(c.xdgDataHome, c.home).toLocalFile(),
            QString(c.expected));
    }
}

} // namespace
