#pragma once

#include "support/TestSupport.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

// The built application, started as a user would start it.
class ApplicationProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        for (const char *folder : { "data", "config", "cache", "run" })
            ASSERT_TRUE(QDir(home.path()).mkdir(QString::fromLatin1(folder)));
        QFile::setPermissions(home.filePath(QStringLiteral("run")),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // No display at all, and everything the application keeps in a private folder; the
    // service is a closed loopback port and the sound servers do not exist, so nothing leaves
    // this folder or the machine.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : { "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY",
                 "QUORVEL_SERVICE_CA", "XDG_SESSION_TYPE" })
            environment.remove(QString::fromLatin1(name));
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        environment.insert(
            QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        environment.insert(
            QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
        environment.insert(
            QStringLiteral("QUORVEL_SERVICE_ORIGIN"), QStringLiteral("https://127.0.0.1:9"));
        environment.insert(QStringLiteral("PULSE_SERVER"),
            QStringLiteral("unix:") + home.filePath(QStringLiteral("run/no-pulse")));
        environment.insert(
            QStringLiteral("PIPEWIRE_REMOTE"), home.filePath(QStringLiteral("run/no-pipewire")));
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
            QStringLiteral("unix:path=") + home.filePath(QStringLiteral("run/no-bus")));
        return environment;
    }

    QProcessEnvironment offscreen() const
    {
        QProcessEnvironment environment = this->environment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return environment;
    }

    struct Ended {
        int exitCode = -1;
        QByteArray output;
        QByteArray error;
    };

    // Started in the private home, so that a relative path it writes stays there.
    void start(
        QProcess &process, const QStringList &arguments, const QProcessEnvironment &environment)
    {
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(home.path());
        process.start(TestSupport::buildPath(QUORVEL_TRANSLATE_PATH), arguments);
        ASSERT_TRUE(process.waitForStarted());
    }

    // `prepareChild` runs in the child between fork and exec.
    Ended run(const QStringList &arguments, const QProcessEnvironment &environment,
        const std::function<void()> &prepareChild = {})
    {
        QProcess process;
        if (prepareChild)
            process.setChildProcessModifier(prepareChild);
        start(process, arguments, environment);
        const bool finished = process.waitForFinished(30000);
        EXPECT_TRUE(finished) << "still running: " << arguments.join(u' ').toStdString();
        if (!finished) {
            process.kill();
            process.waitForFinished();
        }
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        return { process.exitCode(), process.readAllStandardOutput(),
            process.readAllStandardError() };
    }

    QTemporaryDir home;
};
