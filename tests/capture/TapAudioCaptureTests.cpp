#include "TranslateMac/Capture/TapAudioCapture.h"
#include "TranslateMac/Capture/TapAudioFailure.h"
#include "TranslateMac/Capture/TapProperties.h"

#include "TranslateCore/Contract/TranslationFailure.h"
#include "support/AudioTestSupport.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace TranslateMac;
using namespace TranslateCore;
using namespace std::chrono_literals;
using TestSupport::runTask;
using TestSupport::spinUntil;

namespace {

// --- The outcome of a flow left running while the test acts ---------------------------------

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

template <typename Body> std::exception_ptr failureOf(Body body)
{
    try {
        body();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

void expectFailure(std::exception_ptr error, const TranslationFailure &expected)
{
    ASSERT_TRUE(error) << "expected " << expected.what();
    try {
        std::rethrow_exception(error);
    } catch (const TranslationFailure &failure) {
        EXPECT_EQ(failure, expected) << failure.what();
    } catch (const std::exception &other) {
        ADD_FAILURE() << "expected " << expected.what() << ", got " << other.what();
    }
}

void expectCancellation(std::exception_ptr error)
{
    ASSERT_TRUE(error);
    EXPECT_THROW(std::rethrow_exception(error), CancellationError);
}

// --- A recording that plays what the test tells it ------------------------------------------

class FakeSession final : public TapSession {
public:
    explicit FakeSession(bool sound) : m_sound(sound)
    {
        auto [sink, packets] = makeChannel<CapturedPacket>(packetStreamCapacity);
        m_sink.emplace(std::move(sink));
        m_packets.emplace(std::move(packets));
    }
    PacketStream &packets() override { return *m_packets; }
    QCoro::Task<> start() override
    {
        ++starts;
        m_sink->push(CapturedPacket { QByteArray(3200, m_sound ? '\x10' : '\0') });
        co_return;
    }
    QCoro::Task<> stop(bool flush) override
    {
        ++stops;
        flushed = flush;
        m_sink->close();
        co_return;
    }

    int starts = 0;
    int stops = 0;
    bool flushed = false;

private:
    bool m_sound;
    std::optional<PacketSink> m_sink;
    std::optional<PacketStream> m_packets;
};

struct FakeRecordings {
    bool sound = true;
    std::vector<std::shared_ptr<FakeSession>> made;

    TapAudioCapture::MakeRecording factory()
    {
        return [this](AudioSource) -> QCoro::Task<std::shared_ptr<TapSession>> {
            auto session = std::make_shared<FakeSession>(sound);
            made.push_back(session);
            co_return session; // a named T: QCoro 0.8 moves from any other lvalue it is given
        };
    }
};

const AudioSource player { 4312, QStringLiteral("Player"), QStringLiteral("org.example.player") };

} // namespace

TEST(TapAudioCapture, StopDuringTheProbeCancelsPrepareAndStopsItsRecording)
{
    ManualClock clock;
    FakeRecordings recordings;
    recordings.sound = false;
    TapAudioCapture capture(clock, 30s, recordings.factory());
    Outcome prepared;
    auto task = track(capture.prepare(player), &prepared);
    ASSERT_TRUE(spinUntil([&] { return clock.sleeperCount() == 1; })) << "the probe is waiting";

    runTask(capture.stop(false));
    ASSERT_TRUE(spinUntil([&] { return prepared.done; }));
    expectCancellation(prepared.error);
    ASSERT_EQ(recordings.made.size(), 1u);
    EXPECT_EQ(recordings.made[0]->stops, 1);
    EXPECT_FALSE(capture.hasPermission());
    expectFailure(
        failureOf([&] { runTask(capture.start()); }), TranslationFailure::sourceUnavailable());
}

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
    expectFailure(failureOf([&] { runTask(capture.prepare(player)); }),
        TranslationFailure::sourceUnavailable());
    expectFailure(
        failureOf([&] { runTask(capture.start()); }), TranslationFailure::sourceUnavailable());

    runTask(capture.stop(true));
    EXPECT_EQ(recordings.made[1]->stops, 1);
    EXPECT_TRUE(recordings.made[1]->flushed);
    EXPECT_TRUE(capture.hasPermission()) << "stop leaves the permission as it was";
    expectFailure(
        failureOf([&] { runTask(capture.start()); }), TranslationFailure::sourceUnavailable());
    runTask(capture.stop(false)); // nothing to stop: nothing happens
    EXPECT_EQ(recordings.made.size(), 2u);
}

TEST(TapAudioCapture, PermissionIsFalseFromEveryPrepareUntilOneSucceeds)
{
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
    clock.advance(30s);
    ASSERT_TRUE(spinUntil([&] { return prepared.done; }));
    expectFailure(prepared.error, TranslationFailure::noPlayingAudio());
    EXPECT_FALSE(capture.hasPermission());
    EXPECT_EQ(recordings.made.back()->stops, 1) << "the silent recording is stopped";
    expectFailure(
        failureOf([&] { runTask(capture.start()); }), TranslationFailure::sourceUnavailable());
}

TEST(TapAudioCapture, RecordingFailuresPassThroughUnchanged)
{
    ManualClock clock;
    TapAudioCapture capture(
        clock, 30s, [](AudioSource) -> QCoro::Task<std::shared_ptr<TapSession>> {
            throw TapAudioFailure(-50);
            co_return std::shared_ptr<TapSession>();
        });
    std::exception_ptr error = failureOf([&] { runTask(capture.prepare(player)); });
    ASSERT_TRUE(error);
    try {
        std::rethrow_exception(error);
    } catch (const TapAudioFailure &failure) {
        EXPECT_EQ(failure.status(), -50);
        EXPECT_EQ(failure.errorDescription(),
            QStringLiteral("系统音频采集暂时无法启动（-50），请重试。"));
    }
    EXPECT_FALSE(capture.hasPermission());
}

// --- Reading the sound server's objects ------------------------------------------------------

TEST(TapProperties, MatchesAnApplicationByProcessOrIdentity)
{
    struct Case {
        const char *description;
        PropertyMap properties;
        bool belongs;
    };
    const std::vector<Case> cases {
        { "same pid", { { "application.process.id", "4312" } }, true },
        { "other pid, no identity", { { "application.process.id", "99" } }, false },
        { "same identity",
            { { "application.process.id", "99" }, { "application.id", "org.example.player" } },
            true },
        { "helper identity", { { "application.id", "org.example.player.gpu" } }, true },
        { "identity sharing only a prefix", { { "application.id", "org.example.playerx" } },
            false },
        { "binary stands in for a missing id",
            { { "application.process.binary", "org.example.player" } }, true },
        { "application id wins over the binary",
            { { "application.id", "other" },
                { "application.process.binary", "org.example.player" } },
            false },
        { "nothing announced", {}, false },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(TapProperties::belongsTo(TapProperties::processObject(1, c.properties), player),
            c.belongs);
    }
    const AudioSource withoutIdentity { 4312, QStringLiteral("Player"), std::nullopt };
    EXPECT_FALSE(TapProperties::belongsTo(
        TapProperties::processObject(
            1, { { "application.id", "" }, { "application.process.id", "1" } }),
        withoutIdentity));
}

TEST(TapProperties, PairsPortsByChannelAndSpreadsOthersOverAll)
{
    const QList<TapPort> inputs { { 10, 5, false, false, "FL" }, { 11, 5, false, false, "FR" } };
    EXPECT_EQ(TapProperties::inputsFor("FL", inputs), QList<std::uint32_t>({ 10 }));
    EXPECT_EQ(TapProperties::inputsFor("FR", inputs), QList<std::uint32_t>({ 11 }));
    EXPECT_EQ(TapProperties::inputsFor("MONO", inputs), QList<std::uint32_t>({ 10, 11 }));
    EXPECT_EQ(TapProperties::inputsFor("", inputs), QList<std::uint32_t>({ 10, 11 }));
}

TEST(TapProperties, DescribesACaptureThatNeverFallsBackToAMicrophone)
{
    EXPECT_EQ(
        TapProperties::defaultSinkName(R"({"name":"test_sink"})"), QStringLiteral("test_sink"));
    EXPECT_EQ(TapProperties::defaultSinkName(R"({"name":""})"), std::nullopt);
    EXPECT_EQ(TapProperties::defaultSinkName("nonsense"), std::nullopt);

    const PropertyMap whole
        = TapProperties::description(AudioSource::wholeSystem(), QStringLiteral("test_sink"));
    EXPECT_EQ(whole.value("stream.capture.sink"), "true");
    EXPECT_EQ(whole.value("target.object"), "test_sink");
    EXPECT_EQ(whole.value("node.dont-reconnect"), "true");
    const PropertyMap app = TapProperties::description(player, QStringLiteral("test_sink"));
    EXPECT_EQ(app.value("node.autoconnect"), "false");
    EXPECT_EQ(app.value("node.dont-reconnect"), "true");
    EXPECT_FALSE(app.contains("stream.capture.sink"));
    EXPECT_FALSE(app.contains("target.object"));
}

// --- Against the private PipeWire stack ----------------------------------------------------

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
    const QString ourPid = QString::number(QCoreApplication::applicationPid());
    QSet<qint64> ourClients;
    int count = 0;
    for (const QJsonValue &object : objects) {
        const QJsonObject props
            = object[QStringLiteral("info")][QStringLiteral("props")].toObject();
        if (object[QStringLiteral("type")].toString().endsWith(QLatin1String("Client"))
            && props.value(QStringLiteral("application.process.id")).toVariant().toString()
                == ourPid) {
            ourClients.insert(object[QStringLiteral("id")].toInteger());
            ++count;
        }
        if (props.value(QStringLiteral("node.name")).toString()
            == QLatin1String(TapProperties::nodeName))
            ++count;
    }
    for (const QJsonValue &object : objects) {
        const QJsonObject props
            = object[QStringLiteral("info")][QStringLiteral("props")].toObject();
        if (ourClients.contains(props.value(QStringLiteral("client.id")).toInteger()))
            ++count;
    }
    return count;
}

bool nothingLeftBehind()
{
    return spinUntil([] { return leftovers() == 0; }, 5s);
}

#define QUORVEL_REQUIRE_PIPEWIRE()                                                                 \
    do {                                                                                           \
        QUORVEL_REQUIRE_SOUND_SERVER();                                                            \
        if (::TestSupport::soundServerFlavour() == QStringLiteral("pulseaudio"))                   \
            GTEST_SKIP() << "a plain PulseAudio server has no PipeWire graph to tap";              \
        if (!TapAudioCapture::isAvailable()) {                                                     \
            if (::TestSupport::inCI())                                                             \
                FAIL()                                                                             \
                    << "no PipeWire daemon: run eval \"$(scripts/start-audio pipewire)\" first";   \
            else                                                                                   \
                GTEST_SKIP()                                                                       \
                    << "no PipeWire daemon: run eval \"$(scripts/start-audio pipewire)\"";         \
        }                                                                                          \
    } while (false)

TestSupport::TonePlayer::Options tone(
    double frequency, const QString &identity, double volume = 0.5)
{
    TestSupport::TonePlayer::Options options;
    options.frequency = frequency;
    options.applicationName = QStringLiteral("Tone ") + identity;
    options.applicationID = identity;
    options.volume = volume;
    return options;
}

auto hears(double frequency, qsizetype packets = 5)
{
    return [=](const QList<CapturedPacket> &read) {
        return TestSupport::endsWithTone(read, frequency, packets);
    };
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

} // namespace

TEST(TapAudioCaptureIntegration, ApplicationCaptureHearsOnlyThatApplicationAndItsHelpers)
{
    QUORVEL_REQUIRE_PIPEWIRE();
    TestSupport::TonePlayer app(tone(1000, QStringLiteral("test.tone.app")));
    TestSupport::TonePlayer helper(tone(2500, QStringLiteral("test.tone.app.renderer")));
    TestSupport::TonePlayer other(tone(440, QStringLiteral("test.tone.other")));
    ASSERT_TRUE(app.start() && helper.start() && other.start());

    TapAudioCapture capture(SystemClock::shared());
    runTask(capture.prepare(app.source()), 15s);
    EXPECT_TRUE(capture.hasPermission());
    PacketStream packets = runTask(capture.start());
    auto read = TestSupport::readPacketsUntil(
        packets, [](const auto &p) { return hears(1000)(p) && hears(2500)(p) && p.size() >= 20; },
        10s);
    ASSERT_TRUE(read.satisfied) << "heard " << read.packets.size() << " packets";
    EXPECT_LT(loudest(read.packets, 440), 0.01) << "another application leaked in";
    EXPECT_GT(TestSupport::toneAmplitude(
                  TestSupport::joinedPCM(read.packets, read.packets.size() - 5), 1000),
        0.2)
        << "the application's level is kept (no gain, no clipping)";

    runTask(capture.stop(false));
    EXPECT_TRUE(TestSupport::readUntilEnd(packets, 5s).ended);
    EXPECT_TRUE(app.isRunning()) << "capturing leaves the application playing";
    EXPECT_TRUE(nothingLeftBehind());
}

TEST(TapAudioCaptureIntegration, WholeSystemHearsThePlayerAndNeverTheMicrophone)
{
    QUORVEL_REQUIRE_PIPEWIRE();
    TestSupport::TonePlayer app(tone(1000, QStringLiteral("test.tone.app")));
    ASSERT_TRUE(app.start());
    for (const AudioSource &source : { AudioSource::wholeSystem(), app.source() }) {
        SCOPED_TRACE(source.name.toStdString());
        TapAudioCapture capture(SystemClock::shared());
        runTask(capture.prepare(source), 15s);
        PacketStream packets = runTask(capture.start());
        auto read = TestSupport::readPacketsUntil(
            packets, [](const auto &p) { return hears(1000)(p) && p.size() >= 20; }, 10s);
        ASSERT_TRUE(read.satisfied);
        // With AUDIO_FAKE_MIC=1 a 440 Hz microphone is the default source.
        EXPECT_LT(loudest(read.packets, 440), 0.01) << "the microphone was recorded";
        runTask(capture.stop(false));
    }
    EXPECT_TRUE(nothingLeftBehind());
}

TEST(TapAudioCaptureIntegration, ApplicationQuittingEndsTheCaptureWithSourceUnavailable)
{
    QUORVEL_REQUIRE_PIPEWIRE();
    TestSupport::TonePlayer app(tone(1000, QStringLiteral("test.tone.app")));
    ASSERT_TRUE(app.start());
    TapAudioCapture capture(SystemClock::shared());
    runTask(capture.prepare(app.source()), 15s);
    PacketStream packets = runTask(capture.start());
    ASSERT_TRUE(TestSupport::readPacketsUntil(packets, hears(1000), 10s).satisfied);

    ASSERT_TRUE(app.stop());
    auto rest = TestSupport::readUntilEnd(packets, 10s);
    ASSERT_TRUE(rest.ended);
    expectFailure(rest.error, TranslationFailure::sourceUnavailable());
    runTask(capture.stop(false));
    EXPECT_TRUE(nothingLeftBehind());

    expectFailure(failureOf([&] { runTask(capture.prepare(app.source()), 15s); }),
        TranslationFailure::sourceUnavailable());
    EXPECT_TRUE(nothingLeftBehind());
}

TEST(TapAudioCaptureIntegration, SilentSourceFailsWithNoPlayingAudioAndLeavesNothing)
{
    QUORVEL_REQUIRE_PIPEWIRE();
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
    expectFailure(prepared.error, TranslationFailure::noPlayingAudio());
    EXPECT_FALSE(capture.hasPermission());
    EXPECT_TRUE(nothingLeftBehind());

    // Stopped while the probe listens: the probe's recording goes too.
    Outcome cancelled;
    auto again = track(capture.prepare(silent.source()), &cancelled);
    ASSERT_TRUE(spinUntil([&] { return clock.sleeperCount() == 1 || cancelled.done; }, 10s));
    runTask(capture.stop(false));
    ASSERT_TRUE(spinUntil([&] { return cancelled.done; }, 10s));
    expectCancellation(cancelled.error);
    EXPECT_TRUE(nothingLeftBehind());
}

TEST(TapAudioCaptureIntegration, FlushingStopDeliversTheShorterLastPacket)
{
    QUORVEL_REQUIRE_PIPEWIRE();
    TestSupport::TonePlayer app(tone(1000, QStringLiteral("test.tone.app")));
    ASSERT_TRUE(app.start());
    TapAudioCapture capture(SystemClock::shared());
    runTask(capture.prepare(AudioSource::wholeSystem()), 15s);
    PacketStream packets = runTask(capture.start());
    ASSERT_TRUE(TestSupport::readPacketsUntil(packets, hears(1000, 3), 10s).satisfied);

    runTask(capture.stop(true));
    auto rest = TestSupport::readUntilEnd(packets, 5s);
    ASSERT_TRUE(rest.ended);
    EXPECT_FALSE(rest.error);
    ASSERT_FALSE(rest.packets.isEmpty());
    for (qsizetype i = 0; i + 1 < rest.packets.size(); ++i)
        EXPECT_EQ(rest.packets[i].pcm.size(), 3200);
    EXPECT_GT(rest.packets.last().pcm.size(), 0);
    EXPECT_LT(rest.packets.last().pcm.size(), 3200);
}

TEST(TapAudioCaptureIntegration, ThirtyUnreadPacketsEndTheStreamWithQueueFull)
{
    QUORVEL_REQUIRE_PIPEWIRE();
    TestSupport::TonePlayer app(tone(1000, QStringLiteral("test.tone.app")));
    ASSERT_TRUE(app.start());
    TapAudioCapture capture(SystemClock::shared());
    runTask(capture.prepare(AudioSource::wholeSystem()), 15s);
    PacketStream packets = runTask(capture.start());
    // Full, and a further packet was refused.
    ASSERT_TRUE(spinUntil([&] { return packets.overflowCount() > 0; }, 10s));
    auto read = TestSupport::readUntilEnd(packets, 10s);
    EXPECT_EQ(read.packets.size(), qsizetype(packetStreamCapacity));
    expectFailure(read.error, TranslationFailure::queueFull());
    runTask(capture.stop(false));
    EXPECT_TRUE(nothingLeftBehind());
}

TEST(TapAudioCaptureIntegration, UnreachableDaemonIsAPromptPermissionFailure)
{
    const QByteArray saved = qgetenv("PIPEWIRE_REMOTE");
    qputenv("PIPEWIRE_REMOTE", "quorvel-no-such-daemon");
    TapAudioCapture capture(SystemClock::shared());
    const bool available = TapAudioCapture::isAvailable();
    std::exception_ptr error
        = failureOf([&] { runTask(capture.prepare(AudioSource::wholeSystem()), 3s); });
    if (saved.isNull())
        qunsetenv("PIPEWIRE_REMOTE");
    else
        qputenv("PIPEWIRE_REMOTE", saved);
    EXPECT_FALSE(available);
    expectFailure(error, TranslationFailure::permission());
    EXPECT_FALSE(capture.hasPermission());
}
