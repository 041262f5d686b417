#include "TranslateMac/Shell/SingleInstance.h"

#include "BuildInfo.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>

using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

// The built application, started as a user would start it.
class ApplicationLaunch : public ::testing::Test {
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

    static void start(
        QProcess &process, const QStringList &arguments, const QProcessEnvironment &environment)
    {
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(QUORVEL_TRANSLATE_PATH), arguments);
        ASSERT_TRUE(process.waitForStarted());
    }

    static Ended run(const QStringList &arguments, const QProcessEnvironment &environment)
    {
        QProcess process;
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

TEST_F(ApplicationLaunch, VersionPrintsOneLineWithoutAnyDisplay)
{
    for (const char *option : { "--version", "-v" }) {
        const Ended ended = run({ QString::fromLatin1(option) }, environment());
        EXPECT_EQ(ended.exitCode, 0) << option;
        EXPECT_EQ(ended.output,
            QByteArray(
                "Quorvel Translate " QUORVEL_VERSION_STRING " (" QUORVEL_BUILD_NUMBER_STRING ")\n"))
            << option;
        EXPECT_EQ(ended.error, QByteArray()) << option;
    }
    // Nothing was created for the user either.
    EXPECT_TRUE(QDir(home.filePath(QStringLiteral("data"))).isEmpty());
}

TEST_F(ApplicationLaunch, SecondLaunchHandsOverAndEndsWhileTheFirstKeepsRunning)
{
    QProcess first;
    start(first, {}, offscreen());
    const QString socket = SingleInstance::socketPath(
        home.filePath(QStringLiteral("data/com.quorvel.translate.mac")),
        home.filePath(QStringLiteral("run")));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return QFileInfo::exists(socket); }, 30s))
        << first.readAllStandardError().data();

    // The offscreen platform says so each time a window is raised: that is the workspace
    // window coming forward.
    QByteArray firstsErrors;
    const auto raises = [&] {
        firstsErrors += first.readAllStandardError();
        return firstsErrors.count("does not support raise()");
    };
    TestSupport::drainEvents();
    const qsizetype raisedAtStart = raises();

    const auto started = std::chrono::steady_clock::now();
    const Ended second = run({}, offscreen());
    EXPECT_EQ(second.exitCode, 0) << second.error.data();
    EXPECT_EQ(second.error, QByteArray());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_TRUE(TestSupport::spinUntil([&] { return raises() == raisedAtStart + 1; }, 10s))
        << firstsErrors.data();

    EXPECT_FALSE(first.waitForFinished(300));
    EXPECT_EQ(first.state(), QProcess::Running);
    first.terminate();
    if (!first.waitForFinished(10000)) {
        first.kill();
        first.waitForFinished();
    }
}

} // namespace
