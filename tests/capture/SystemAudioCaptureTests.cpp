#include "support/AudioTestSupport.h"
#include "support/TestSupport.h"

#include "TranslateMac/Capture/PulseAudio/SystemAudioCapture.h"

#include "TranslateCore/Contract/TranslationFailure.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace TranslateMac;
using namespace TestSupport;
using TranslateCore::TranslationFailure;

namespace {

constexpr auto audioDeadline = std::chrono::seconds(8);

double amplitudeOf(const QList<CapturedPacket> &packets, double frequency)
{
    return toneAmplitude(joinedPCM(packets), frequency);
}

// Has PipeWire end a recording as if its device went away: pipewire-pulse does not implement
// killing a source output, so the recording's node (whose serial is the index) is destroyed.
bool destroyNode(const QString &serial)
{
    QProcess dump;
    dump.start(QStringLiteral("pw-dump"), {});
    dump.waitForFinished(5000);
    for (const QJsonValue object : QJsonDocument::fromJson(dump.readAllStandardOutput()).array()) {
        const QJsonValue props = object[QStringLiteral("info")][QStringLiteral("props")];
        if (props[QStringLiteral("object.serial")].toInteger(-1) == serial.toLongLong())
            return QProcess::execute(QStringLiteral("pw-cli"),
                       { QStringLiteral("destroy"),
                           QString::number(object[QStringLiteral("id")].toInteger()) })
                == 0;
    }
    return false;
}

class SystemAudioCaptureOnSoundServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        QUORVEL_REQUIRE_SOUND_SERVER();
        m_sourceOutputs = pactlList(QStringLiteral("source-outputs"));
        m_modules = pactlList(QStringLiteral("modules"));
    }

    PacketStream capturing(SystemAudioCapture &capture, const AudioSource &source)
    {
        runTask(capture.prepare(source));
        return runTask(capture.start());
    }

    void expectNothingLeftBehind()
    {
        EXPECT_EQ(pactlList(QStringLiteral("source-outputs")), m_sourceOutputs);
        EXPECT_EQ(pactlList(QStringLiteral("modules")), m_modules);
    }

    SystemAudioCapture capture;
    QStringList m_sourceOutputs;
    QStringList m_modules;
};

TEST_F(
    SystemAudioCaptureOnSoundServer, CapturesOnlyTheChosenApplicationAcrossItsStreamsUntilItIsGone)
{
    TonePlayer chosen(tone(1000, QStringLiteral("test.chosen")));
    TonePlayer other(tone(440, QStringLiteral("test.other")));
    ASSERT_TRUE(chosen.start() && other.start());
    SystemAudioCapture everything;
    PacketStream application = capturing(capture, chosen.source());
    PacketStream whole = capturing(everything, AudioSource::wholeSystem());
    const PacketRead read = readPacketsUntil(application, hears(1000, 10), audioDeadline);
    ASSERT_TRUE(read.satisfied);
    EXPECT_LT(amplitudeOf(read.packets.mid(read.packets.size() - 10), 440), 0.01);
    // Both applications still reach the speakers while one of them is captured.
    EXPECT_TRUE(readPacketsUntil(
        whole, [](const auto &p) { return hears(1000, 10)(p) && hears(440, 10)(p); }, audioDeadline)
                    .satisfied);
    runTask(everything.stop(false));

    // A helper process of the same application opens a new stream, then the first one ends.
    TonePlayer helper(tone(700, QStringLiteral("test.chosen")));
    ASSERT_TRUE(helper.start());
    ASSERT_TRUE(chosen.stop());
    const PacketRead followed = readPacketsUntil(
        application,
        [](const auto &p) { return hears(700, 10)(p) && !endsWithTone(p, 1000, 10, 0.01); },
        audioDeadline);
    ASSERT_TRUE(followed.satisfied) << "ended: " << followed.ended;
    EXPECT_LT(amplitudeOf(followed.packets, 440), 0.01);

    // The application quits: the capture ends instead of taking up the other one.
    ASSERT_TRUE(helper.stop());
    const PacketRead rest = readUntilEnd(application, audioDeadline);
    ASSERT_TRUE(rest.ended);
    EXPECT_EQ(failureIn(rest.error), TranslationFailure::sourceUnavailable());
    EXPECT_LT(amplitudeOf(rest.packets, 440), 0.01);
    EXPECT_TRUE(other.isRunning() && other.sinkInputIndex().has_value());
    runTask(capture.stop(true));
    expectNothingLeftBehind();
}

TEST_F(SystemAudioCaptureOnSoundServer, RefusesAnApplicationThatQuitAndStartingUnpreparedOrTwice)
{
    TonePlayer player(tone(1000, QStringLiteral("test.gone")));
    ASSERT_TRUE(player.start());
    const AudioSource gone = player.source();
    ASSERT_TRUE(player.stop());
    EXPECT_EQ(failureOf([&] { runTask(capture.prepare(gone)); }),
        TranslationFailure::sourceUnavailable());
    EXPECT_EQ(failureOf([&] { runTask(capture.start()); }), TranslationFailure::audioFormat());
    expectNothingLeftBehind();
    PacketStream stream = capturing(capture, AudioSource::wholeSystem());
    EXPECT_EQ(failureOf([&] { runTask(capture.start()); }), TranslationFailure::audioFormat());
    // The first capture keeps running.
    EXPECT_TRUE(readPacketsUntil(
        stream, [](const auto &p) { return p.size() >= 3; }, audioDeadline)
                    .satisfied);
    runTask(capture.stop(false));
    expectNothingLeftBehind();
}

TEST_F(SystemAudioCaptureOnSoundServer, HearsNoMicrophoneAndStopsWithOrWithoutFlush)
{
    TonePlayer player(tone(1000, QStringLiteral("test.flush")));
    ASSERT_TRUE(player.start());
    for (const auto &[source, flush] : { std::pair { AudioSource::wholeSystem(), true },
             { player.source(), true }, { AudioSource::wholeSystem(), false } }) {
        SCOPED_TRACE(source.id().toStdString() + (flush ? " flushed" : ""));
        PacketStream stream = capturing(capture, source);
        const PacketRead read = readPacketsUntil(stream, hears(1000, 10), audioDeadline);
        ASSERT_TRUE(read.satisfied);
        // The fake microphone of the test server plays 440 Hz; none of it may be in the capture.
        EXPECT_LT(amplitudeOf(read.packets.mid(read.packets.size() - 10), 440), 0.01);
        EXPECT_GT(read.packets.back().level(), 0.5f);
        runTask(capture.stop(flush));
        const PacketRead rest = readUntilEnd(stream, audioDeadline);
        ASSERT_TRUE(rest.ended && !rest.error);
        QList<CapturedPacket> all = read.packets + rest.packets;
        if (flush) { // the remainder comes last
            ASSERT_FALSE(rest.packets.isEmpty());
            EXPECT_GT(all.back().pcm.size(), 0);
            EXPECT_LT(all.takeLast().pcm.size(), 3200);
        }
        for (const CapturedPacket &packet : all)
            EXPECT_EQ(packet.pcm.size(), 3200);
    }
    expectNothingLeftBehind();
}

TEST_F(SystemAudioCaptureOnSoundServer, AnUnreadStreamEndsWithQueueFullAfterThirtyPackets)
{
    PacketStream stream = capturing(capture, AudioSource::wholeSystem());
    ASSERT_TRUE(spinUntil([&] { return stream.overflowCount() > 0; }, std::chrono::seconds(10)));
    const PacketRead read = readUntilEnd(stream, audioDeadline);
    EXPECT_EQ(read.packets.size(), 30);
    EXPECT_EQ(failureIn(read.error), TranslationFailure::queueFull());
    runTask(capture.stop(true));
    expectNothingLeftBehind();
}

TEST_F(SystemAudioCaptureOnSoundServer, TheServerStoppingTheRecordingEndsWithSourceUnavailable)
{
    if (soundServerFlavour() != QStringLiteral("pipewire"))
        GTEST_SKIP() << "a plain PulseAudio server stops a recording only with its output, and "
                        "then the capture follows the next one (tested below)";
    PacketStream stream = capturing(capture, AudioSource::wholeSystem());
    QString ours;
    for (const QString &line : pactlList(QStringLiteral("source-outputs"))) {
        if (!m_sourceOutputs.contains(line))
            ours = line.section(u'\t', 0, 0);
    }
    ASSERT_TRUE(destroyNode(ours));
    const PacketRead read = readUntilEnd(stream, audioDeadline);
    ASSERT_TRUE(read.ended);
    EXPECT_EQ(failureIn(read.error), TranslationFailure::sourceUnavailable());
    runTask(capture.stop(false));
    expectNothingLeftBehind();
}

TEST_F(SystemAudioCaptureOnSoundServer, UnpluggingTheDefaultOutputFollowsTheOneTheUserHearsNext)
{
    const QStringList loaded = pactl({ QStringLiteral("load-module"),
        QStringLiteral("module-null-sink"), QStringLiteral("sink_name=quorvel_unplugged") });
    ASSERT_EQ(loaded.size(), 1);
    pactl({ QStringLiteral("set-default-sink"), QStringLiteral("quorvel_unplugged") });
    PacketStream stream = capturing(capture, AudioSource::wholeSystem());
    ASSERT_TRUE(readPacketsUntil(
        stream, [](const auto &p) { return p.size() >= 3; }, audioDeadline)
                    .satisfied);
    pactl({ QStringLiteral("unload-module"), loaded.first() });
    pactl({ QStringLiteral("set-default-sink"), qEnvironmentVariable("AUDIO_TEST_SINK") });
    // What plays now plays on the remaining output, and the capture hears it there.
    TonePlayer player(tone(1000, QStringLiteral("test.unplugged")));
    ASSERT_TRUE(player.start());
    const PacketRead read = readPacketsUntil(stream, hears(1000, 5), audioDeadline);
    EXPECT_TRUE(read.satisfied);
    EXPECT_FALSE(read.ended);
    runTask(capture.stop(false));
    expectNothingLeftBehind();
}

TEST_F(SystemAudioCaptureOnSoundServer, ASinkRateChangeKeepsTheFramesContiguous)
{
    if (soundServerFlavour() != QStringLiteral("pipewire"))
        GTEST_SKIP() << "forcing the sink's rate needs PipeWire";
    TonePlayer player(tone(1000, QStringLiteral("test.rate")));
    ASSERT_TRUE(player.start());
    PacketStream stream = capturing(capture, AudioSource::wholeSystem());
    ASSERT_TRUE(readPacketsUntil(stream, hears(1000, 3), audioDeadline).satisfied);
    auto forceRate = [](int rate) {
        return QProcess::execute(QStringLiteral("pw-metadata"),
            QStringLiteral("-n settings 0 clock.force-rate").split(u' ') << QString::number(rate));
    };
    ASSERT_EQ(forceRate(44100), 0);
    const PacketRead read = readPacketsUntil(
        stream, [](const auto &packets) { return packets.size() >= 20; }, audioDeadline);
    forceRate(0);
    ASSERT_TRUE(read.satisfied);
    // Every frame is full and the tone goes on at the new rate. The server's graph may fall
    // silent for a moment while it switches; that silence is audio too, not a gap in the frames.
    qsizetype withoutTone = 0;
    for (const CapturedPacket &packet : read.packets) {
        EXPECT_EQ(packet.pcm.size(), 3200);
        withoutTone += toneAmplitude(packet.pcm, 1000) < 0.3 ? 1 : 0;
    }
    EXPECT_LE(withoutTone, 3);
    EXPECT_TRUE(endsWithTone(read.packets, 1000, 10, 0.3));
    runTask(capture.stop(false));
}

TEST(SystemAudioCaptureOnOwnSoundServer, TheServerQuittingEndsTheCaptureWithSourceUnavailable)
{
    // A throwaway PulseAudio daemon of this test's own, so it can be stopped mid-capture.
    if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty()) {
        if (inCI())
            FAIL() << "pulseaudio is not installed";
        GTEST_SKIP() << "pulseaudio is not installed";
    }
    QTemporaryDir directory;
    const QString socket = directory.filePath(QStringLiteral("native"));
    QProcess daemon;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_STATE_HOME" })
        environment.insert(QLatin1String(name), directory.path());
    environment.remove(QStringLiteral("PULSE_SERVER"));
    daemon.setProcessEnvironment(environment);
    daemon.setStandardOutputFile(QProcess::nullDevice());
    daemon.setStandardErrorFile(QProcess::nullDevice());
    daemon.start(QStringLiteral("pulseaudio"),
        QStringLiteral("-n --daemonize=no --exit-idle-time=-1 --use-pid-file=no").split(u' ')
            << QStringLiteral("-L")
            << QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + socket
            << QStringLiteral("-L") << QStringLiteral("module-null-sink sink_name=throwaway"));
    ASSERT_TRUE(daemon.waitForStarted());
    const auto restore
        = qScopeGuard([saved = qgetenv("PULSE_SERVER")] { qputenv("PULSE_SERVER", saved); });
    qputenv("PULSE_SERVER", (QStringLiteral("unix:") + socket).toUtf8());
    ASSERT_TRUE(spinUntil([] { return soundServerAvailable(); }, std::chrono::seconds(10)));

    SystemAudioCapture capture;
    runTask(capture.prepare(AudioSource::wholeSystem()));
    PacketStream stream = runTask(capture.start());
    daemon.terminate();
    ASSERT_TRUE(daemon.waitForFinished(5000));
    const PacketRead read = readUntilEnd(stream, audioDeadline);
    ASSERT_TRUE(read.ended);
    EXPECT_EQ(failureIn(read.error), TranslationFailure::sourceUnavailable());
    runTask(capture.stop(true));
    // The next attempt finds no server: that is a missing permission, reported at once.
    EXPECT_EQ(failureOf([&] { runTask(capture.prepare(AudioSource::wholeSystem())); }),
        TranslationFailure::permission());
}

} // namespace
