#pragma once

// The credential store's test fixture: a store over files in a temporary folder, restarted at
// will, and a plain second connection to its database as another process would hold it.

#include "TranslateMac/Account/SessionSQLiteStore.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <functional>
#include <memory>

using Failure = TranslateMac::SessionStorageFailure;

// A second, plain connection to the store's file, as another process would hold it.
class RawDatabase {
public:
    explicit RawDatabase(const QString &path)
    {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db,
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    }
    ~RawDatabase() { sqlite3_close(m_db); }
    QByteArray accessToken() { return value("SELECT access_token FROM session"); }
    int exec(const QByteArray &sql)
    {
        return sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, nullptr);
    }
    // The first column of the first row, as bytes ("" without a row).
    QByteArray value(const char *sql)
    {
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr);
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

inline void expectFailure(const std::function<void()> &call, const Failure &expected)
{
    try {
        call();
        ADD_FAILURE() << "expected a SessionStorageFailure";
    } catch (const Failure &failure) {
        EXPECT_EQ(int(failure.kind()), int(expected.kind()));
        EXPECT_EQ(failure.resultCode(), expected.resultCode());
    }
}

inline int mode(const QString &path)
{
    struct stat attributes { };
    ::lstat(QFile::encodeName(path).constData(), &attributes);
    return attributes.st_mode & 07777;
}

// Every file of a folder with its bytes.
inline QMap<QString, QByteArray> contents(const QString &folder)
{
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(folder).entryList(QDir::Files)) {
        QFile file(folder + u'/' + name);
        file.open(QIODevice::ReadOnly);
        files.insert(name, file.readAll());
    }
    return files;
}

inline const TranslateCore::Credentials first { QStringLiteral("access-1"),
    QStringLiteral("refresh-1") };
inline const TranslateCore::Credentials second { QStringLiteral("access-2"),
    QStringLiteral("refresh-2") };

class SessionStoreTest : public ::testing::Test {
protected:
    QString folder() const
    {
        return temporary.path() + QStringLiteral("/data/com.quorvel.translate.mac");
    }
    QString file() const { return folder() + QStringLiteral("/session.sqlite3"); }
    QString settingsFile() const { return temporary.path() + QStringLiteral("/settings.ini"); }

    // A fresh store over the same files, as after a restart of the application.
    TranslateMac::SessionCredentialStore restart()
    {
        settings = std::make_unique<QSettings>(settingsFile(), QSettings::IniFormat);
        return TranslateMac::SessionCredentialStore(QUrl::fromLocalFile(file()),
            std::make_shared<TranslateMac::SQLiteSessionPreferences>(*settings));
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
