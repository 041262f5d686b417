#include "TranslateMac/Capture/CaptureAccess.h"
#include "TranslateMac/Capture/PipeWire/TapAudioCapture.h"
#include "TranslateMac/Capture/PipeWire/TapProperties.h"

#include "TranslateCore/Contract/TranslationFailure.h"
#include "support/AudioTestSupport.h"
#include "support/FakeTapSession.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace TranslateMac;
using namespace TranslateCore;
using namespace std::chrono_literals;
using TestSupport::failureIn;
using TestSupport::failureOf;
using TestSupport::hears;
using TestSupport::runTask;
using TestSupport::spinUntil;
using TestSupport::tone;

namespace {

struct Outcome {
    bool done = false;
    std::exception_ptr error;
};

QCoro::Task<> track(QCoro::Task<> task, Outcome *outcome)
{
    try {
        co_await std::move(task);
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
}

const TranslationFailure unavailable = TranslationFailure::sourceUnavailable();
using FakeRecordings = TestSupport::FakeTapRecordings;

const AudioSource player { 4312, QStringLiteral("Player"), QStringLiteral("org.example.player") };

} // namespace

TEST(TapAudioCapture, PreparedSourceStartsAFreshRecordingAndStopForgetsIt)
{
    ManualClock clock;
    FakeRecordings recordings;
    TapAudioCapture capture(clock, 30s, recordings.factory());
    runTask(capture.prepare(player));
    ASSERT_EQ(recordings.made.size(), 1u);
    EXPECT_EQ(recordings.made[0]->stops, 1) << "the probe's recording ends with prepare";
    EXPECT_FALSE(recordings.made[0]->flushed);

    PacketStream packets = runTask(capture.start());
    ASSERT_EQ(recordings.made.size(), 2u);
    EXPECT_EQ(recordings.made[1]->starts, 1);
    EXPECT_EQ(failureOf([&] { runTask(capture.prepare(player)); }), unavailable);
    EXPECT_EQ(failureOf([&] { runTask(capture.start()); }), unavailable);

    runTask(capture.stop(true));
    EXPECT_EQ(recordings.made[1]->stops, 1);
    EXPECT_TRUE(recordings.made[1]->flushed);
    EXPECT_TRUE(capture.hasPermission()) << "stop leaves the permission as it was";
    EXPECT_EQ(failureOf([&] { runTask(capture.start()); }), unavailable);
    runTask(capture.stop(false)); // nothing to stop: nothing happens
    EXPECT_EQ(recordings.made.size(), 2u);
}

TEST(TapAudioCapture, ASilentOrStoppedProbeLeavesNoRecordingAndNoPermission)
{
    for (const bool stopped : { false, true }) {
        SCOPED_TRACE(stopped ? "stopped during the probe" : "silent for 30 s");
        ManualClock clock;
        FakeRecordings recordings;
        TapAudioCapture capture(clock, 30s, recordings.factory());
        EXPECT_FALSE(capture.hasPermission());
        runTask(capture.prepare(player));
        EXPECT_TRUE(capture.hasPermission());
        recordings.sound = false;
        Outcome prepared;
        auto task = track(capture.prepare(player), &prepared);
        EXPECT_FALSE(capture.hasPermission()) << "false from the start of prepare";
        ASSERT_TRUE(spinUntil([&] { return clock.sleeperCount() == 1; }));
        if (stopped)
            runTask(capture.stop(false));
        else
            clock.advance(30s);
        ASSERT_TRUE(spinUntil([&] { return prepared.done; }));
        ASSERT_TRUE(prepared.error);
        if (stopped)
            EXPECT_THROW(std::rethrow_exception(prepared.error), CancellationError);
        else
            EXPECT_EQ(failureIn(prepared.error), TranslationFailure::noPlayingAudio());
        EXPECT_FALSE(capture.hasPermission());
        EXPECT_EQ(recordings.made.back()->stops, 1) << "the probe's recording is stopped";
        EXPECT_EQ(failureOf([&] { runTask(capture.start()); }), unavailable);
    }
}

TEST(TapAudioCapture, AnUnreachableServerWhilePreparingIsAMissingPermission)
{
    ManualClock clock;
    FakeRecordings recordings;
    recordings.failure = std::make_exception_ptr(SoundServerAccessError(111, "refused"));
    TapAudioCapture capture(clock, 30s, recordings.factory());
    EXPECT_EQ(
        failureOf([&] { runTask(capture.prepare(player)); }), TranslationFailure::permission());
    EXPECT_FALSE(capture.hasPermission());
}

TEST(TapProperties, ReadsApplicationsFromTheirAnnouncedProperties)
{
    const TapProcessObject object = TapProperties::processObject(7,
        { { "application.process.id", "4312" }, { "application.name", "Player" },
            { "application.id", "org.example.player" }, { "media.class", "Stream/Output/Audio" } },
        false);
    EXPECT_EQ(object.application,
        (SoundServerClient { 7, 4312, "Player", "org.example.player", std::nullopt }));
    EXPECT_TRUE(object.isOutputStream);
    EXPECT_FALSE(object.isClient);
    EXPECT_EQ(TapProperties::processObject(8, { { "application.process.id", "-3" } }, true)
                  .application.pid,
        std::nullopt);
}

TEST(TapProperties, SendsEachSideOfAnApplicationToTheSameSideOnly)
{
    const QList<TapPort> ours { { 10, 5, false, false, "FL" }, { 11, 5, false, false, "FR" } };
    const std::pair<const char *, QList<std::uint32_t>> cases[] = {
        { "FL", { 10 } },
        { "FR", { 11 } }, // stereo keeps its sides
        { "RL", { 10 } },
        { "SR", { 11 } }, // surround sides fold onto their side
        { "MONO", { 10, 11 } },
        { "FC", { 10, 11 } },
        { "LFE", { 10, 11 } },
        { "", { 10, 11 } },
    };
    for (const auto &[channel, inputs] : cases) {
        SCOPED_TRACE(channel);
        EXPECT_EQ(TapProperties::inputsFor(channel, ours), inputs);
    }
    // While our ports are still being announced nothing is linked: with one input known, the
    // other side would land on it.
    EXPECT_TRUE(TapProperties::inputsFor("FR", ours.first(1)).isEmpty());
}

TEST(TapProperties, DescribesATapThatNeverFallsBackToAMicrophone)
{
    EXPECT_EQ(TapProperties::defaultSinkName(R"({"name":"test_sink"})"), "test_sink");
    EXPECT_EQ(TapProperties::defaultSinkName(R"({"name":""})"), std::nullopt);

    const PropertyMap whole
        = TapProperties::description(AudioSource::wholeSystem(), QStringLiteral("test_sink"));
    EXPECT_EQ(whole.value("stream.capture.sink"), "true");
    EXPECT_EQ(whole.value("target.object"), "test_sink");
    EXPECT_EQ(whole.value("node.dont-reconnect"), "true");
    const PropertyMap app = TapProperties::description(player, QStringLiteral("test_sink"));
    EXPECT_EQ(app.value("node.autoconnect"), "false");
    EXPECT_EQ(app.value("node.dont-reconnect"), "true");
    EXPECT_FALSE(app.contains("stream.capture.sink") || app.contains("target.object"));
}

namespace {

// Whether the sound server still holds anything of this process: our client connection, a
// capture node, or a link or port belonging to one.
int leftovers()
{
    QProcess dump;
    dump.start(QStringLiteral("pw-dump"), {});
    if (!dump.waitForFinished(5000))
        return -1;
    const QJsonArray objects = QJsonDocument::fromJson(dump.readAllStandardOutput()).array();
    const auto property = [](const QJsonValue &object, const char *name) {
        return object[QStringLiteral("info")][QStringLiteral("props")][QLatin1String(name)];
    };
    const QString ourPid = QString::number(QCoreApplication::applicationPid());
    QSet<qint64> ourClients;
    int count = 0;
    for (const QJsonValue &object : objects) {
        if (object[QStringLiteral("type")].toString().endsWith(QLatin1String("Client"))
            && property(object, "application.process.id").toVariant().toString() == ourPid)
            ourClients.insert(object[QStringLiteral("id")].toInteger());
        count += property(object, "node.name").toString() == QLatin1String(TapProperties::nodeName);
    }
    for (const QJsonValue &object : objects)
        count += ourClients.contains(property(object, "client.id").toInteger());
    return count + int(ourClients.size());
}

bool nothingLeftBehind()
{
    return spinUntil([] { return leftovers() == 0; }, 5s);
}

// Amplitude of `frequency` in the loudest stretch of `count` packets of `read`.
double loudest(const QList<CapturedPacket> &read, double frequency, qsizetype count = 5)
{
    double best = 0;
    for (qsizetype from = 0; from + count <= read.size(); from += count) {
        QList<CapturedPacket> part = read.mid(from, count);
        best = std::max(best, TestSupport::toneAmplitude(TestSupport::joinedPCM(part), frequency));
    }
    return best;
}

class TapAudioCaptureOnSoundServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        QUORVEL_REQUIRE_SOUND_SERVER();
        if (TestSupport::soundServerFlavour() == QStringLiteral("pulseaudio"))
            GTEST_SKIP() << "a plain PulseAudio server has no PipeWire graph to tap";
        if (!TapAudioCapture::isAvailable() && TestSupport::inCI())
            FAIL() << "no PipeWire daemon: run eval \"$(scripts/start-audio pipewire)\" first";
        if (!TapAudioCapture::isAvailable())
            GTEST_SKIP() << "no PipeWire daemon: run eval \"$(scripts/start-audio pipewire)\"";
        ASSERT_TRUE(app.start());
    }
    PacketStream capturing(const AudioSource &source)
    {
        runTask(capture.prepare(source), 15s);
        return runTask(capture.start());
    }

    TestSupport::TonePlayer app { tone(1000, QStringLiteral("test.tone.app")) };
    TapAudioCapture capture { SystemClock::shared() };
};

} // namespace

TEST_F(TapAudioCaptureOnSoundServer, ApplicationCaptureHearsOnlyThatApplicationAndItsHelpers)
{
    TestSupport::TonePlayer helper(tone(2500, QStringLiteral("test.tone.app.renderer")));
    TestSupport::TonePlayer other(tone(440, QStringLiteral("test.tone.other")));
    ASSERT_TRUE(helper.start() && other.start());
    PacketStream packets = capturing(app.source());
    EXPECT_TRUE(capture.hasPermission());
    auto read = TestSupport::readPacketsUntil(
        packets, [](const auto &p) { return hears(1000)(p) && hears(2500)(p) && p.size() >= 20; },
        10s);
    ASSERT_TRUE(read.satisfied) << "heard " << read.packets.size() << " packets";
    EXPECT_LT(loudest(read.packets, 440), 0.01) << "another application or the microphone";
    EXPECT_GT(TestSupport::toneAmplitude(
                  TestSupport::joinedPCM(read.packets, read.packets.size() - 5), 1000),
        0.2)
        << "the application's level is kept (no gain, no clipping)";
    runTask(capture.stop(false));
    EXPECT_TRUE(TestSupport::readUntilEnd(packets, 5s).ended);
    EXPECT_TRUE(app.isRunning());
    EXPECT_TRUE(nothingLeftBehind());
}

TEST_F(TapAudioCaptureOnSoundServer, WholeSystemNeverHearsTheMicrophoneAndFlushesTheRemainder)
{
    PacketStream packets = capturing(AudioSource::wholeSystem());
    auto read = TestSupport::readPacketsUntil(
        packets, [](const auto &p) { return hears(1000)(p) && p.size() >= 20; }, 10s);
    ASSERT_TRUE(read.satisfied);
    // With AUDIO_FAKE_MIC=1 a 440 Hz microphone is the default source.
    EXPECT_LT(loudest(read.packets, 440), 0.01) << "the microphone was recorded";
    runTask(capture.stop(true));
    auto rest = TestSupport::readUntilEnd(packets, 5s);
    ASSERT_TRUE(rest.ended && !rest.error);
    ASSERT_FALSE(rest.packets.isEmpty());
    for (const CapturedPacket &packet : read.packets + rest.packets.first(rest.packets.size() - 1))
        EXPECT_EQ(packet.pcm.size(), 3200);
    EXPECT_GT(rest.packets.last().pcm.size(), 0);
    EXPECT_LT(rest.packets.last().pcm.size(), 3200);
    EXPECT_TRUE(nothingLeftBehind());
}

TEST_F(TapAudioCaptureOnSoundServer, ApplicationQuittingEndsTheCaptureWithSourceUnavailable)
{
    PacketStream packets = capturing(app.source());
    ASSERT_TRUE(TestSupport::readPacketsUntil(packets, hears(1000), 10s).satisfied);

    ASSERT_TRUE(app.stop());
    auto rest = TestSupport::readUntilEnd(packets, 10s);
    ASSERT_TRUE(rest.ended);
    EXPECT_EQ(failureIn(rest.error), unavailable);
    runTask(capture.stop(false));
    EXPECT_EQ(failureOf([&] { runTask(capture.prepare(app.source()), 15s); }), unavailable);
    EXPECT_TRUE(nothingLeftBehind());
}

TEST_F(TapAudioCaptureOnSoundServer, SilentSourceFailsWithNoPlayingAudioAndLeavesNothing)
{
    TestSupport::TonePlayer silent(tone(1000, QStringLiteral("test.tone.silent"), 0));
    ASSERT_TRUE(silent.start());
    ManualClock clock; // the probe's 30 s pass in virtual time
    TapAudioCapture capture(clock);
    Outcome prepared;
    auto task = track(capture.prepare(silent.source()), &prepared);
    ASSERT_TRUE(spinUntil([&] { return clock.sleeperCount() == 1 || prepared.done; }, 10s));
    ASSERT_FALSE(prepared.done);
    // Real silence flows through the probe for a moment before the limit passes.
    spinUntil([] { return false; }, 300ms);
    clock.advance(30s);
    ASSERT_TRUE(spinUntil([&] { return prepared.done; }, 10s));
    EXPECT_EQ(failureIn(prepared.error), TranslationFailure::noPlayingAudio());
    EXPECT_FALSE(capture.hasPermission());
    EXPECT_TRUE(nothingLeftBehind());

    // Stopped while the probe listens: the probe's recording goes too.
    Outcome cancelled;
    auto again = track(capture.prepare(silent.source()), &cancelled);
    ASSERT_TRUE(spinUntil([&] { return clock.sleeperCount() == 1 || cancelled.done; }, 10s));
    runTask(capture.stop(false));
    ASSERT_TRUE(spinUntil([&] { return cancelled.done; }, 10s));
    ASSERT_TRUE(cancelled.error);
    EXPECT_THROW(std::rethrow_exception(cancelled.error), CancellationError);
    EXPECT_TRUE(nothingLeftBehind());
}

TEST_F(TapAudioCaptureOnSoundServer, ThirtyUnreadPacketsEndTheStreamWithQueueFull)
{
    PacketStream packets = capturing(AudioSource::wholeSystem());
    // Full, and a further packet was refused.
    ASSERT_TRUE(spinUntil([&] { return packets.overflowCount() > 0; }, 10s));
    auto read = TestSupport::readUntilEnd(packets, 10s);
    EXPECT_EQ(read.packets.size(), qsizetype(packetStreamCapacity));
    EXPECT_EQ(failureIn(read.error), TranslationFailure::queueFull());
    runTask(capture.stop(false));
    EXPECT_TRUE(nothingLeftBehind());
}

TEST(TapAudioCaptureWithoutDaemon, UnreachableDaemonIsAPromptPermissionFailure)
{
    const auto restore = qScopeGuard([saved = qgetenv("PIPEWIRE_REMOTE")] {
        saved.isNull() ? qunsetenv("PIPEWIRE_REMOTE") : qputenv("PIPEWIRE_REMOTE", saved);
    });
    qputenv("PIPEWIRE_REMOTE", "quorvel-no-such-daemon");
    TapAudioCapture capture(SystemClock::shared());
    const bool available = TapAudioCapture::isAvailable();
    const auto failure
        = failureOf([&] { runTask(capture.prepare(AudioSource::wholeSystem()), 3s); });
    EXPECT_FALSE(available);
    EXPECT_EQ(failure, TranslationFailure::permission());
    EXPECT_FALSE(capture.hasPermission());
}

// A system running PulseAudio may have PipeWire's library without its client configuration (the
// configuration comes with PipeWire's tools): PipeWire is then unreachable, and the application
// must go on to PulseAudio rather than crash. The shared PipeWire loop is made once per process,
// so this runs in a fresh one.
TEST(TapAudioCaptureWithoutDaemon, MissingClientConfigurationIsUnreachableNotACrash)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QTemporaryDir emptyConfiguration;
    ASSERT_TRUE(emptyConfiguration.isValid());
    EXPECT_EXIT(
        {
            qputenv("PIPEWIRE_CONFIG_DIR", emptyConfiguration.path().toLocal8Bit());
            TapAudioCapture capture(SystemClock::shared());
            const bool available = TapAudioCapture::isAvailable();
            const auto failure
                = failureOf([&] { runTask(capture.prepare(AudioSource::wholeSystem()), 3s); });
            std::_Exit(!available && failure == TranslationFailure::permission() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
