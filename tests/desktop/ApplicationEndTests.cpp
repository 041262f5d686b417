#include "TranslateMac/Account/SQLiteSessionPreferences.h"
#include "TranslateMac/Account/SessionCredentialStore.h"
#include "TranslateMac/Account/SessionSQLiteStore.h"
#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Journal/CaptionJournal.h"

#include "support/ApplicationHarness.h"
#include "support/AudioTestSupport.h"
#include "support/FakeLogind.h"
#include "support/LocalServiceProcess.h"
#include "support/TestSupport.h"
#include "support/VirtualDesktop.h"

#include "TranslateCore/API/TranslationAPI.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <iostream>

using namespace TranslateMac;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr qint64 bytesPerSecond = 32000; // 16 kHz, 16-bit mono
constexpr qint64 pointsPerMinute = 10; // the preferred route on the local service

qint64 milliseconds(Clock::duration duration)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

// The built application on the private X desktop, signed in against the local service, with a
// tone playing on the private sound server: the way a user's session looks while it translates.
class ApplicationEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        QUORVEL_REQUIRE_DESKTOP();
        QUORVEL_REQUIRE_SOUND_SERVER();
        ASSERT_TRUE(surroundings.isReady()) << surroundings.failure().toStdString();
        ASSERT_TRUE(runtime.isValid());
        // The sound server's runtime folder is the application's too (it is private to the test
        // run), so the application reaches the server as a user's would.
        ASSERT_TRUE(player.start());
        storeSignIn();
    }

    void TearDown() override
    {
        if (application.state() != QProcess::NotRunning) {
            application.kill();
            application.waitForFinished();
        }
    }

    // Signs in as the user would have before, and leaves the sign-in where the application
    // restores it from.
    void storeSignIn()
    {
        // A client of this test's service alone: a model would fix the process-wide endpoint
        // (its update check's client) on this service for the tests that follow.
        TranslateCore::TranslationAPI api(
            std::nullopt, QUrl(service().origin() + QStringLiteral("/api/")));
        const QString phone = QStringLiteral("13900000019");
        TestSupport::runTask(api.sendCode(QStringLiteral("+86"), phone));
        const QString code
            = service().control("GET", "/control/sms-code?phone=" + phone)["code"].toString();
        TestSupport::runTask(api.login(QStringLiteral("+86"), phone, code));
        ASSERT_TRUE(api.credentials().has_value());
        QSettings defaults(QStringLiteral("Quorvel"), QStringLiteral("QuorvelTranslate"));
        const SessionCredentialStore store(
            credentialsURL(), std::make_shared<SQLiteSessionPreferences>(defaults));
        store.save(api.credentials());
    }

    static QUrl credentialsURL()
    {
        return SessionSQLite::databaseURLFor(
            qEnvironmentVariable("XDG_DATA_HOME"), qEnvironmentVariable("HOME"));
    }

    // The application's caption journal, beside its credential store.
    static std::unique_ptr<CaptionJournal> openJournal()
    {
        return CaptionJournal::open(
            QFileInfo(credentialsURL().toLocalFile()).path() + QStringLiteral("/journal.sqlite3"));
    }

    LocalServiceProcess &service() { return surroundings.service(); }

    void launch(const QString &systemBus = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(
            QStringLiteral("DISPLAY"), TestSupport::VirtualDesktop::current()->display());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // Without a system bus unless the test brings one: never the machine's own logind.
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
            systemBus.isEmpty() ? QStringLiteral("unix:path=") + runtime.filePath("no-bus")
                                : systemBus);
        application.setProcessEnvironment(environment);
        application.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        application.start(TestSupport::buildPath(QUORVEL_TRANSLATE_PATH), {});
        ASSERT_TRUE(application.waitForStarted());
    }

    // Pauses the tone, which closes its caption, until a final caption reached the journal (they
    // are written as they come).
    bool pauseUntilCaptioned(CaptionJournal &journal)
    {
        player.freeze();
        const bool captioned = TestSupport::spinUntil(
            [&] {
                const auto recorded = journal.sessions();
                return !recorded.isEmpty() && recorded.first().captionCount > 0;
            },
            10s);
        player.resume();
        return captioned;
    }

    QJsonArray sessions()
    {
        return service().control("GET", "/control/sessions")["sessions"].toArray();
    }

    // Clicks the start button, which sits in the window's bottom-right corner.
    static void pressStart(const QString &window)
    {
        int width = 0, height = 0;
        const QStringList geometry = TestSupport::commandOutput(QStringLiteral("xdotool"),
            { QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window })
                                         .split(u'\n');
        for (const QString &line : geometry) {
            if (line.startsWith(QLatin1String("WIDTH=")))
                width = line.mid(6).toInt();
            if (line.startsWith(QLatin1String("HEIGHT=")))
                height = line.mid(7).toInt();
        }
        TestSupport::commandOutput(QStringLiteral("xdotool"),
            { QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                QString::number(width - 100), QString::number(height - 28), QStringLiteral("click"),
                QStringLiteral("1") });
    }

    // Presses the start button until the service receives a second of audio for the
    // `sessionCount`th session; the first presses may come before the quote that allows a start
    // has arrived.
    bool startTranslating(qsizetype sessionCount = 1)
    {
        const QString pid = QString::number(application.processId());
        const auto deadline = Clock::now() + 40s;
        while (Clock::now() < deadline) {
            const QStringList windows = TestSupport::commandOutput(QStringLiteral("xdotool"),
                { QStringLiteral("search"), QStringLiteral("--pid"), pid, QStringLiteral("--name"),
                    QStringLiteral("系统音频翻译") })
                                            .split(u'\n', Qt::SkipEmptyParts);
            if (!windows.isEmpty() && sessions().size() < sessionCount) {
                pressStart(windows.first());
            }
            if (TestSupport::spinUntil(
                    [&] {
                        const QJsonArray created = sessions();
                        return created.size() >= sessionCount
                            && created.last()["audioBytes"].toInteger() >= bytesPerSecond;
                    },
                    1500ms))
                return true;
            if (application.state() == QProcess::NotRunning) {
                ADD_FAILURE() << "the application ended with status " << application.exitCode();
                return false;
            }
        }
        // What the application asked the service, and what its screen showed, for the report.
        QStringList asked;
        for (const QJsonValue &request :
            service().control("GET", QStringLiteral("requests"))["requests"].toArray())
            asked << request[QStringLiteral("path")].toString();
        QGuiApplication::primaryScreen()->grabWindow(0).save(
            TestSupport::screenshotPath(QStringLiteral("application-end-no-start.png")));
        ADD_FAILURE() << "requests: " << asked.join(u' ').toStdString();
        return false;
    }

    // The one session's read-back, checked to be settled, finished once and charged for its
    // audio (every started minute at the route's rate).
    void expectSettledAndCharged(const QJsonObject &session)
    {
        std::cout << "read-back: " << QJsonDocument(session).toJson(QJsonDocument::Compact).data()
                  << std::endl;
        EXPECT_TRUE(session["settled"].toBool());
        EXPECT_EQ(session["status"].toString(), QStringLiteral("COMPLETED"));
        const qint64 audio = session["audioBytes"].toInteger();
        const qint64 startedMinutes = (audio + 60 * bytesPerSecond - 1) / (60 * bytesPerSecond);
        EXPECT_GE(audio, bytesPerSecond);
        EXPECT_EQ(session["chargedPoints"].toInteger(), startedMinutes * pointsPerMinute);
        // On the socket, or once over HTTP.
        EXPECT_LE(service()
                      .requestsTo(QStringLiteral("v1/translation/sessions/%1/finish")
                                      .arg(session["sessionId"].toInteger()))
                      .size(),
            1);
    }

    TestSupport::ApplicationSurroundings surroundings;
    QTemporaryDir runtime;
    TestSupport::TonePlayer player { TestSupport::tone(660, QStringLiteral("quorvel.test.end")) };
    QProcess application;
};

} // namespace

TEST_F(ApplicationEnd, TerminationWhileListeningSettlesTheSessionThenExits)
{
    launch();
    ASSERT_TRUE(startTranslating()) << "the application never started translating";

    const auto sent = Clock::now();
    application.terminate();
    ASSERT_TRUE(application.waitForFinished(12000)) << "still running 12 s after SIGTERM";
    const auto took = Clock::now() - sent;
    EXPECT_EQ(application.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(application.exitCode(), 0);
    std::cout << "SIGTERM to exit: " << milliseconds(took) << " ms" << std::endl;

    const QJsonArray created = sessions();
    ASSERT_EQ(created.size(), 1);
    expectSettledAndCharged(created.first().toObject());
}

TEST_F(ApplicationEnd, SecondSignalEndsAtOnceWhileTheSettlementWaits)
{
    // The service never confirms the end on the socket: the first signal waits for it.
    service().control("POST", "/control/socket", QJsonObject { { "withholdFinished", true } });
    launch();
    ASSERT_TRUE(startTranslating());

    ::kill(pid_t(application.processId()), SIGTERM);
    EXPECT_FALSE(application.waitForFinished(1000)) << "the first signal did not wait";
    const auto sent = Clock::now();
    ::kill(pid_t(application.processId()), SIGINT);
    ASSERT_TRUE(application.waitForFinished(5000));
    EXPECT_LT(milliseconds(Clock::now() - sent), 2000);
    EXPECT_EQ(application.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(application.exitCode(), 0);
}

TEST_F(ApplicationEnd, SleepSettlesTheSessionBeforeLettingTheComputerSleep)
{
    TestSupport::PrivateBus bus;
    ASSERT_TRUE(bus.isRunning()) << bus.failure().toStdString();
    TestSupport::FakeLogind logind(bus.address());
    ASSERT_TRUE(logind.isServing());
    launch(bus.address());
    ASSERT_TRUE(startTranslating());

    // Held while the session is owned, as a delay lock on sleep only.
    ASSERT_TRUE(TestSupport::spinUntil([&] { return logind.heldLocks() == 1; }, 5s));
    ASSERT_EQ(logind.inhibitions().size(), 1);
    EXPECT_EQ(logind.inhibitions().first().what, QStringLiteral("sleep"));
    EXPECT_EQ(logind.inhibitions().first().mode, QStringLiteral("delay"));
    EXPECT_EQ(logind.inhibitions().first().who, QStringLiteral("Quorvel"));

    // What the service knows at the moment the lock is let go, before anything else happens.
    std::optional<QJsonArray> atRelease;
    Clock::time_point releasedAt;
    logind.onRelease([&] {
        releasedAt = Clock::now();
        atRelease = sessions();
    });
    const auto announced = Clock::now();
    logind.announceSleep(true);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return atRelease.has_value(); }, 6s))
        << "the lock was never let go";
    std::cout << "sleep announced to lock released: " << milliseconds(releasedAt - announced)
              << " ms" << std::endl;
    EXPECT_LT(releasedAt - announced, 4500ms);
    ASSERT_EQ(atRelease->size(), 1);
    expectSettledAndCharged(atRelease->first().toObject());

    // Awake again with nothing owned: no new lock, and the program still ends at once.
    logind.announceSleep(false);
    TestSupport::spinUntil([] { return false; }, 500ms);
    QGuiApplication::primaryScreen()->grabWindow(0).save(
        TestSupport::screenshotPath(QStringLiteral("application-end-after-sleep.png")));
    EXPECT_EQ(logind.inhibitions().size(), 1);
    application.terminate();
    ASSERT_TRUE(application.waitForFinished(5000));
    EXPECT_EQ(application.exitCode(), 0);
}

TEST_F(ApplicationEnd, KillWhileListeningLeavesTheSessionAndItsCaptionsForTheNextLaunch)
{
    launch();
    ASSERT_TRUE(startTranslating());
    const auto journal = openJournal();
    ASSERT_TRUE(pauseUntilCaptioned(*journal)) << "no final caption reached the journal";

    application.kill();
    ASSERT_TRUE(application.waitForFinished(5000));
    ASSERT_EQ(sessions().size(), 1);
    EXPECT_FALSE(sessions().first()["settled"].toBool());

    const auto relaunched = Clock::now();
    launch();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return sessions().first()["settled"].toBool(); }, 15s))
        << "the session the killed run left was not settled";
    std::cout << "relaunch to settled: " << milliseconds(Clock::now() - relaunched) << " ms"
              << std::endl;
    expectSettledAndCharged(sessions().first().toObject());
    // What the user sees after the relaunch (looked at by hand).
    TestSupport::spinUntil([] { return false; }, 1s);
    QGuiApplication::primaryScreen()->grabWindow(0).save(
        TestSupport::screenshotPath(QStringLiteral("application-relaunch-after-kill.png")));

    // The transcript is kept, marked as cut off, for the user to read, copy or export.
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] {
            const auto recorded = journal->sessions();
            return recorded.size() == 1 && recorded.first().interrupted;
        },
        5s));
    const JournalSession recorded = journal->sessions().first();
    EXPECT_EQ(recorded.serviceSessionId, sessions().first()["sessionId"].toInteger());
    const QList<JournalCaption> captions = journal->captions(recorded.id);
    ASSERT_FALSE(captions.isEmpty());
    EXPECT_FALSE(captions.first().source.isEmpty());
    EXPECT_LT(captions.first().appearedMs, captions.first().finalMs);

    // Nothing is left behind on the service: a new translation starts.
    ASSERT_TRUE(startTranslating(2)) << "a new start after the relaunch failed";
    EXPECT_EQ(sessions().size(), 2);
}

TEST_F(ApplicationEnd, ADamagedJournalIsSetAsideAndTranslationGoesOn)
{
    const QString path
        = QFileInfo(credentialsURL().toLocalFile()).path() + QStringLiteral("/journal.sqlite3");
    const QByteArray damaged(8192, 'x');
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(damaged);
    }
    launch();
    // What the user is told (looked at by hand): the window's message line.
    TestSupport::spinUntil([] { return false; }, 3s);
    QGuiApplication::primaryScreen()->grabWindow(0).save(
        TestSupport::screenshotPath(QStringLiteral("application-damaged-journal.png")));
    ASSERT_TRUE(startTranslating()) << "the sign-in or the start suffered from the damaged journal";

    const QStringList aside = QFileInfo(path).dir().entryList(
        { QStringLiteral("journal.sqlite3.unreadable-*") }, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    QFile kept(QFileInfo(path).dir().filePath(aside.first()));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), damaged);
    // The new journal records this session.
    EXPECT_TRUE(pauseUntilCaptioned(*openJournal()));
}
