// What a user hears is what the capture delivers: the level and the channels of what plays,
// without gaps, nothing else, and the same on both backends, for the whole system and for one
// application. The players are separate processes, as a user's applications are.
#include "support/AudioTestSupport.h"
#include "support/TestSupport.h"

#include "TranslateMac/Capture/PipeWire/TapAudioCapture.h"
#include "TranslateMac/Capture/PulseAudio/SystemAudioCapture.h"

#include "TranslateCore/Async/Clock.h"
#include "TranslateCore/Contract/TranslationFailure.h"

#include <QElapsedTimer>
#include <QScopeGuard>

#include <cmath>

using namespace TranslateMac;
using namespace TestSupport;
using namespace std::chrono_literals;

namespace {

enum class Backend { tap, pulse };
enum class Mode { wholeSystem, application };

struct Case {
    Backend backend;
    Mode mode;
};

std::string caseName(const ::testing::TestParamInfo<Case> &info)
{
    return std::string(info.param.backend == Backend::tap ? "PipeWireTap" : "PulseAudioProtocol")
        + (info.param.mode == Mode::wholeSystem ? "WholeSystem" : "OneApplication");
}

// Within ±1 dB of `expected`.
::testing::AssertionResult withinOneDecibel(double measured, double expected)
{
    const double decibels = 20 * std::log10(measured / expected);
    if (std::abs(decibels) <= 1.0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
        << measured << " is " << decibels << " dB from " << expected;
}

double amplitude(const QList<CapturedPacket> &packets, double frequency)
{
    return toneAmplitude(joinedPCM(packets), frequency);
}

QList<CapturedPacket> lastPackets(const QList<CapturedPacket> &packets, qsizetype count)
{
    return packets.mid(std::max<qsizetype>(0, packets.size() - count));
}

class HeardAudioOnSoundServer : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        QUORVEL_REQUIRE_SOUND_SERVER();
        if (GetParam().backend == Backend::tap && !soundServerIsPipeWire())
            GTEST_SKIP() << "a plain PulseAudio server has no PipeWire graph to tap";
        if (GetParam().backend == Backend::tap)
            m_capture = std::make_unique<TapAudioCapture>(TranslateCore::SystemClock::shared());
        else
            m_capture = std::make_unique<SystemAudioCapture>();
    }
    void TearDown() override
    {
        if (m_capture)
            runTask(m_capture->stop(false));
    }

    bool wholeSystem() const { return GetParam().mode == Mode::wholeSystem; }

    // A player of the kind the server's own applications are: a native client on PipeWire (its
    // stream is processed in its own process), a PulseAudio client on PulseAudio.
    TonePlayer::Options player(double frequency, const QString &identity, double volume = 0.5)
    {
        TonePlayer::Options options = tone(frequency, identity, volume);
        if (soundServerIsPipeWire())
            options.kind = TonePlayer::Kind::pipewire;
        return options;
    }

    PacketStream capturing(const TonePlayer &app)
    {
        const AudioSource source = wholeSystem() ? AudioSource::wholeSystem() : app.source();
        runTask(m_capture->prepare(source), 15s);
        return runTask(m_capture->start());
    }

    // The next `count` packets, read while the player kept its stream fed and the output played
    // it: a window in which the player ran dry, or in which a recorder of our own heard the
    // output itself drop out, measures the player or the server, not the capture, and is read
    // again.
    PacketRead playedWindow(TonePlayer &app, PacketStream &packets, qsizetype count)
    {
        OutputWitness witness;
        EXPECT_TRUE(witness.start());
        // What the witness did not hear is not measured: what was played before it listened
        // goes by unread. A window's first packet was played up to a packet and a graph cycle
        // before it arrived, and packets wait while the previous window is judged.
        readPacketsUntil(
            packets, [](const auto &) { return false; }, 500ms);
        constexpr auto inFlight = 300ms;
        PacketRead window;
        auto windowFrom = OutputWitness::Clock::now() - inFlight;
        for (int attempt = 0; attempt < 3; ++attempt) {
            const int underruns = app.underruns();
            window = readPacketsUntil(
                packets, [count](const auto &p) { return p.size() >= count; }, 10s);
            if (!window.satisfied)
                break;
            const auto windowTo = OutputWitness::Clock::now();
            const bool ranDry = app.underruns() != underruns;
            const bool outputDropped = witness.droppedOutBetween(windowFrom, windowTo);
            if ((!ranDry && !outputDropped) || attempt == 2)
                break;
            std::printf("%s while measuring: measuring again\n",
                ranDry ? "the player ran dry" : "the output itself dropped out");
            windowFrom = windowTo - inFlight;
        }
        return window;
    }

    std::unique_ptr<AudioCapturing> m_capture;
};

TEST_P(HeardAudioOnSoundServer, KeepsTheLevelAndChannelsOfWhatPlaysWithoutGaps)
{
    TonePlayer::Options stereo = player(523, QStringLiteral("test.heard.stereo"), 0.3);
    stereo.rightFrequency = 1500;
    TonePlayer app(stereo);
    // Another application; for the whole system the test server's microphone (440 Hz) is the
    // sound that must not be heard.
    TonePlayer other(player(440, QStringLiteral("test.heard.other"), 0.5));
    ASSERT_TRUE(app.start());
    if (!wholeSystem()) {
        ASSERT_TRUE(other.start());
    }
    PacketStream packets = capturing(app);
    const PacketRead read = readPacketsUntil(
        packets, [](const auto &p) { return hears(523, 3)(p) && hears(1500, 3)(p); }, 10s);
    ASSERT_TRUE(read.satisfied);
    const PacketRead steady = playedWindow(app, packets, 20);
    ASSERT_TRUE(steady.satisfied);

    // Each side at 0.3 is 0.15 after the averaging downmix: nothing doubled, nothing lost.
    const double left = amplitude(steady.packets, 523), right = amplitude(steady.packets, 1500);
    std::printf("level of the 0.3 left/right tone: left %.4f right %.4f\n", left, right);
    EXPECT_TRUE(withinOneDecibel(left, 0.15));
    EXPECT_TRUE(withinOneDecibel(right, 0.15));
    EXPECT_LT(amplitude(steady.packets, 440), 0.003) << "something else was heard";
    // Continuous: every packet is full and carries both sides at their level.
    for (const CapturedPacket &packet : steady.packets) {
        EXPECT_EQ(packet.pcm.size(), 3200);
        EXPECT_TRUE(withinOneDecibel(toneAmplitude(packet.pcm, 523), 0.15));
        EXPECT_TRUE(withinOneDecibel(toneAmplitude(packet.pcm, 1500), 0.15));
    }
}

TEST_P(HeardAudioOnSoundServer, AFullScaleToneDoesNotClip)
{
    TonePlayer app(player(1000, QStringLiteral("test.heard.loud"), 1.0));
    ASSERT_TRUE(app.start());
    PacketStream packets = capturing(app);
    ASSERT_TRUE(readPacketsUntil(packets, hears(1000, 3), 10s).satisfied);
    const PacketRead steady = playedWindow(app, packets, 10);
    ASSERT_TRUE(steady.satisfied);
    EXPECT_TRUE(withinOneDecibel(amplitude(steady.packets, 1000), 1.0));
    // A clipped sine grows odd harmonics.
    EXPECT_LT(amplitude(steady.packets, 3000), 0.005);
}

TEST_P(HeardAudioOnSoundServer, AFrozenPlayerIsHeardAsContinuousSilenceUntilItPlaysAgain)
{
    TonePlayer app(player(1000, QStringLiteral("test.heard.frozen")));
    ASSERT_TRUE(app.start());
    PacketStream packets = capturing(app);
    ASSERT_TRUE(readPacketsUntil(packets, hears(1000, 3), 10s).satisfied);

    app.freeze();
    const auto thaw = qScopeGuard([&] { app.resume(); });
    QElapsedTimer elapsed;
    elapsed.start();
    const PacketRead paused = readPacketsUntil(
        packets, [](const auto &p) { return p.size() >= 25; }, 5s);
    ASSERT_TRUE(paused.satisfied) << "only " << paused.packets.size() << " packets in 5 s";
    // Real time: 25 packets are 2.5 s of audio, delivered as they happen.
    EXPECT_GE(elapsed.elapsed(), 2000);
    EXPECT_LT(amplitude(lastPackets(paused.packets, 10), 1000), 0.01);

    app.resume();
    EXPECT_TRUE(readPacketsUntil(packets, hears(1000, 3), 10s).satisfied);
}

TEST_P(HeardAudioOnSoundServer, FollowsWhereTheUserHearsItWhenTheOutputChanges)
{
    const QStringList loaded = pactl({ QStringLiteral("load-module"),
        QStringLiteral("module-null-sink"), QStringLiteral("sink_name=quorvel_headphones") });
    ASSERT_EQ(loaded.size(), 1);
    const QString testSink = qEnvironmentVariable("AUDIO_TEST_SINK");
    const auto unplug = qScopeGuard([&] {
        pactl({ QStringLiteral("set-default-sink"), testSink });
        pactl({ QStringLiteral("unload-module"), loaded.first() });
    });
    TonePlayer app(player(1000, QStringLiteral("test.heard.moving")));
    ASSERT_TRUE(app.start());
    PacketStream packets = capturing(app);
    ASSERT_TRUE(readPacketsUntil(packets, hears(1000, 3), 10s).satisfied);

    // Headphones plugged in: the default output changes, and the player goes along.
    pactl({ QStringLiteral("set-default-sink"), QStringLiteral("quorvel_headphones") });
    pactl({ QStringLiteral("move-sink-input"), QString::number(*app.sinkInputIndex()),
        QStringLiteral("quorvel_headphones") });
    const PacketRead moved = readPacketsUntil(
        packets, [](const auto &p) { return p.size() >= 20 && endsWithTone(p, 1000, 10, 0.2); },
        10s);
    EXPECT_TRUE(moved.satisfied) << "not heard after the switch: " << moved.packets.size()
                                 << " packets, ended " << moved.ended << ", 1000 Hz at "
                                 << amplitude(lastPackets(moved.packets, 10), 1000);
    if (wholeSystem()) {
        // What starts now plays on the new default output, and is heard there.
        TonePlayer later(player(700, QStringLiteral("test.heard.later")));
        ASSERT_TRUE(later.start());
        EXPECT_TRUE(readPacketsUntil(packets, hears(700, 3), 10s).satisfied);
    }
}

TEST_P(HeardAudioOnSoundServer, AStreamThatStartsLaterIsHeard)
{
    if (wholeSystem())
        GTEST_SKIP() << "the whole system hears every stream of its output anyway";
    TonePlayer app(player(1000, QStringLiteral("test.heard.late")));
    ASSERT_TRUE(app.start());
    PacketStream packets = capturing(app);
    ASSERT_TRUE(readPacketsUntil(packets, hears(1000, 3), 10s).satisfied);
    // The application's next song comes from a stream (and a process) that starts now.
    TonePlayer next(player(700, QStringLiteral("test.heard.late")));
    ASSERT_TRUE(next.start());
    EXPECT_TRUE(readPacketsUntil(packets, hears(700, 3), 10s).satisfied);
}

TEST_P(HeardAudioOnSoundServer, AFrozenTwinDoesNotSilenceThePlayingApplication)
{
    if (wholeSystem())
        GTEST_SKIP() << "about one application's processes";
    TonePlayer twin(player(440, QStringLiteral("test.heard.twin")));
    ASSERT_TRUE(twin.start());
    // Frozen once it plays (frozen while the server still sets its stream up, it would hold up
    // the server itself).
    spinUntil([] { return false; }, 500ms);
    twin.freeze();
    const auto thaw = qScopeGuard([&] { twin.resume(); });
    TonePlayer app(player(1000, QStringLiteral("test.heard.twin")));
    ASSERT_TRUE(app.start());
    // The probe inside prepare hears the playing one.
    PacketStream packets = capturing(app);
    const PacketRead read = readPacketsUntil(packets, hears(1000, 3), 10s);
    ASSERT_TRUE(read.satisfied) << read.packets.size() << " packets, 1000 Hz at "
                                << amplitude(lastPackets(read.packets, 3), 1000);
    const PacketRead steady = playedWindow(app, packets, 10);
    ASSERT_TRUE(steady.satisfied);
    EXPECT_TRUE(withinOneDecibel(amplitude(steady.packets, 1000), 0.5));
}

TEST_P(HeardAudioOnSoundServer, TheSourceListShowsOneEntryForWhatOneCaptureHears)
{
    if (wholeSystem())
        GTEST_SKIP() << "about one application's processes";
    TonePlayer first(player(1000, QStringLiteral("test.heard.twowindows")));
    TonePlayer second(player(700, QStringLiteral("test.heard.twowindows")));
    ASSERT_TRUE(first.start() && second.start());
    const QList<AudioSource> sources = runTask(m_capture->sources());
    QList<AudioSource> entries;
    for (const AudioSource &source : sources) {
        if (source.pid == first.pid() || source.pid == second.pid())
            entries.append(source);
    }
    ASSERT_EQ(entries.size(), 1) << "two processes of one identity are one entry";
    // The one entry captures both processes.
    runTask(m_capture->prepare(entries.first()), 15s);
    PacketStream packets = runTask(m_capture->start());
    EXPECT_TRUE(readPacketsUntil(
        packets, [](const auto &p) { return hears(1000, 5)(p) && hears(700, 5)(p); }, 10s)
                    .satisfied);
}

INSTANTIATE_TEST_SUITE_P(Backends, HeardAudioOnSoundServer,
    ::testing::Values(Case { Backend::tap, Mode::wholeSystem },
        Case { Backend::tap, Mode::application }, Case { Backend::pulse, Mode::wholeSystem },
        Case { Backend::pulse, Mode::application }),
    caseName);

} // namespace
