#include "TranslateMac/Shell/SingleInstance.h"

#include "BuildInfo.h"

#include "ApplicationProcess.h"
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

class ApplicationLaunch : public ApplicationProcess { };

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
