#include "support/AudioTestSupport.h"
#include "support/TestSupport.h"

#include "TranslateMac/Capture/SystemAudioCapture.h"

#include "TranslateCore/Contract/TranslationFailure.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace TranslateMac;
using TestSupport::PacketRead;
using TestSupport::TonePlayer;
using TranslateCore::TranslationFailure;

namespace {

constexpr auto audioDeadline = std::chrono::seconds(8);

TonePlayer::Options tone(double frequency, const QString &name, const QString &id)
{
    TonePlayer::Options options;
    options.frequency = frequency;
    options.applicationName = name;
    options.applicationID = id;
    return options;
}

std::optional<TranslationFailure> failureOf(const PacketRead &read)
{
    try {
        if (read.error)
            std::rethrow_exception(read.error);
    } catch (const TranslationFailure &failure) {
        return failure;
    } catch (...) {
    }
    return std::nullopt;
}

double amplitudeOf(const QList<CapturedPacket> &packets, double frequency)
{
    return TestSupport::toneAmplitude(TestSupport::joinedPCM(packets), frequency);
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

class SystemAudioCaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QUORVEL_REQUIRE_SOUND_SERVER();
        m_sourceOutputs = TestSupport::pactlList(QStringLiteral("source-outputs"));
        m_modules = TestSupport::pactlList(QStringLiteral("modules"));
    }

    PacketStream capturing(SystemAudioCapture &capture, const AudioSource &source)
    {
        TestSupport::runTask(capture.prepare(source));
        return TestSupport::runTask(capture.start());
    }

    void expectNothingLeftBehind()
    {
        EXPECT_EQ(TestSupport::pactlList(QStringLiteral("source-outputs")), m_sourceOutputs);
        EXPECT_EQ(TestSupport::pactlList(QStringLiteral("modules")), m_modules);
    }

    SystemAudioCapture capture;
    QStringList m_sourceOutputs;
    QStringList m_modules;
};

TEST_F(SystemAudioCaptureTest, WholeSystemHearsWhatPlaysButNeverTheMicrophone)
{
    TonePlayer player(tone(1000, QStringLiteral("Whole Tone"), QStringLiteral("test.whole")));
    ASSERT_TRUE(player.start());
    PacketStream stream = capturing(capture, AudioSource::wholeSystem());
    const PacketRead read = TestSupport::readPacketsUntil(
        stream, [](const auto &packets) { return TestSupport::endsWithTone(packets, 1000, 10); },
        audioDeadline);
    ASSERT_TRUE(read.satisfied);
    const auto last = read.packets.mid(read.packets.size() - 10);
    // The fake microphone of the test server plays 440 Hz; none of it may be in the capture.
    EXPECT_LT(amplitudeOf(last, 440), 0.01);
    EXPECT_GT(last.back().level(), 0.5f);
    for (const CapturedPacket &packet : read.packets)
        EXPECT_EQ(packet.pcm.size(), 3200);
    TestSupport::runTask(capture.stop(false));
    expectNothingLeftBehind();
}

TEST_F(SystemAudioCaptureTest, CapturesOnlyTheChosenApplicationWhichKeepsPlaying)
{
    TonePlayer chosen(tone(1000, QStringLiteral("Chosen"), QStringLiteral("test.chosen")));
    TonePlayer other(tone(440, QStringLiteral("Other"), QStringLiteral("test.other")));
    ASSERT_TRUE(chosen.start());
    ASSERT_TRUE(other.start());
    SystemAudioCapture everything;
    PacketStream application = capturing(capture, chosen.source());
    PacketStream whole = capturing(everything, AudioSource::wholeSystem());

    const PacketRead read = TestSupport::readPacketsUntil(
        application,
        [](const auto &packets) { return TestSupport::endsWithTone(packets, 1000, 10); },
        audioDeadline);
    ASSERT_TRUE(read.satisfied);
    EXPECT_LT(amplitudeOf(read.packets.mid(read.packets.size() - 10), 440), 0.01);
    // Both applications still reach the speakers while one of them is captured.
    const PacketRead heard = TestSupport::readPacketsUntil(
        whole,
        [](const auto &packets) {
            return TestSupport::endsWithTone(packets, 1000, 10)
                && TestSupport::endsWithTone(packets, 440, 10);
        },
        audioDeadline);
    EXPECT_TRUE(heard.satisfied);

    // The chosen application quits: the capture ends instead of taking up the other one.
    ASSERT_TRUE(chosen.stop());
    const PacketRead rest = TestSupport::readUntilEnd(application, audioDeadline);
    ASSERT_TRUE(rest.ended);
    EXPECT_EQ(failureOf(rest), TranslationFailure::sourceUnavailable());
    EXPECT_LT(amplitudeOf(rest.packets, 440), 0.01);
    EXPECT_TRUE(other.isRunning());
    EXPECT_TRUE(other.sinkInputIndex().has_value());
    TestSupport::runTask(capture.stop(false));
    TestSupport::runTask(everything.stop(false));
    expectNothingLeftBehind();
}

TEST_F(SystemAudioCaptureTest, FollowsTheApplicationAcrossItsStreamsUntilItIsGone)
{
    TonePlayer first(tone(1000, QStringLiteral("Player"), QStringLiteral("test.follow")));
    TonePlayer bystander(tone(440, QStringLiteral("Bystander"), QStringLiteral("test.bystander")));
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(bystander.start());
    PacketStream stream = capturing(capture, first.source());
    ASSERT_TRUE(TestSupport::readPacketsUntil(
        stream, [](const auto &packets) { return TestSupport::endsWithTone(packets, 1000); },
        audioDeadline)
                    .satisfied);

    // A helper process of the same application opens a new stream, then the first one ends.
    TonePlayer helper(tone(700, QStringLiteral("Player Helper"), QStringLiteral("test.follow")));
    ASSERT_TRUE(helper.start());
    ASSERT_TRUE(first.stop());
    const PacketRead followed = TestSupport::readPacketsUntil(
        stream,
        [](const auto &packets) {
            return TestSupport::endsWithTone(packets, 700, 10)
                && !TestSupport::endsWithTone(packets, 1000, 10, 0.01);
        },
        audioDeadline);
    ASSERT_TRUE(followed.satisfied) << "ended: " << followed.ended;
    EXPECT_LT(amplitudeOf(followed.packets, 440), 0.01);

    ASSERT_TRUE(helper.stop());
    const PacketRead rest = TestSupport::readUntilEnd(stream, audioDeadline);
    ASSERT_TRUE(rest.ended);
    EXPECT_EQ(failureOf(rest), TranslationFailure::sourceUnavailable());
    TestSupport::runTask(capture.stop(true));
    expectNothingLeftBehind();
}

TEST_F(SystemAudioCaptureTest, FollowsAStreamThatStartsAfterTheCapture)
{
    TonePlayer quiet(tone(1000, QStringLiteral("Late"), QStringLiteral("test.late")));
    quiet.start();
    PacketStream stream = capturing(capture, quiet.source());
    TonePlayer late(tone(700, QStringLiteral("Late"), QStringLiteral("test.late")));
    ASSERT_TRUE(late.start());
    EXPECT_TRUE(TestSupport::readPacketsUntil(
        stream, [](const auto &packets) { return TestSupport::endsWithTone(packets, 700); },
        audioDeadline)
                    .satisfied);
    TestSupport::runTask(capture.stop(false));
}

TEST_F(SystemAudioCaptureTest, RefusesToStartUnpreparedOrTwice)
{
    EXPECT_THROW(TestSupport::runTask(capture.start()), TranslationFailure);
    PacketStream stream = capturing(capture, AudioSource::wholeSystem());
    try {
        TestSupport::runTask(capture.start());
        ADD_FAILURE() << "a second start succeeded";
    } catch (const TranslationFailure &failure) {
        EXPECT_EQ(failure, TranslationFailure::audioFormat());
    }
    // The first capture keeps running, and a stopped capture may start again without prepare.
    EXPECT_EQ(TestSupport::readPacketsUntil(
                  stream, [](const auto &p) { return p.size() >= 3; }, audioDeadline)
                  .packets.size(),
        3);
    TestSupport::runTask(capture.stop(false));
    TestSupport::runTask(capture.stop(false));
    PacketStream again = TestSupport::runTask(capture.start());
    EXPECT_TRUE(TestSupport::readPacketsUntil(
        again, [](const auto &p) { return !p.isEmpty(); }, audioDeadline)
                    .satisfied);
    TestSupport::runTask(capture.stop(false));
    expectNothingLeftBehind();
}

TEST_F(SystemAudioCaptureTest, StopWithFlushDeliversTheRemainderLast)
{
    TonePlayer player(tone(1000, QStringLiteral("Flush"), QStringLiteral("test.flush")));
    ASSERT_TRUE(player.start());
    for (const AudioSource &source : { AudioSource::wholeSystem(), player.source() }) {
        SCOPED_TRACE(source.id().toStdString());
        PacketStream stream = capturing(capture, source);
        ASSERT_TRUE(TestSupport::readPacketsUntil(
            stream, [](const auto &packets) { return TestSupport::endsWithTone(packets, 1000, 2); },
            audioDeadline)
                        .satisfied);
        TestSupport::runTask(capture.stop(true));
        const PacketRead rest = TestSupport::readUntilEnd(stream, audioDeadline);
        ASSERT_TRUE(rest.ended);
        EXPECT_FALSE(rest.error);
        ASSERT_FALSE(rest.packets.isEmpty());
        EXPECT_LT(rest.packets.back().pcm.size(), 3200);
        EXPECT_GT(rest.packets.back().pcm.size(), 0);
    }
}

TEST_F(SystemAudioCaptureTest, StopWithoutFlushEndsAtOnce)
{
    PacketStream stream = capturing(capture, AudioSource::wholeSystem());
    TestSupport::readPacketsUntil(
        stream, [](const auto &p) { return p.size() >= 2; }, audioDeadline);
    TestSupport::runTask(capture.stop(false));
    const PacketRead rest = TestSupport::readUntilEnd(stream, audioDeadline);
    ASSERT_TRUE(rest.ended);
    EXPECT_FALSE(rest.error);
    for (const CapturedPacket &packet : rest.packets)
        EXPECT_EQ(packet.pcm.size(), 3200);
}

TEST_F(SystemAudioCaptureTest, AnUnreadStreamEndsWithQueueFullAfterThirtyPackets)
{
    PacketStream stream = capturing(capture, AudioSource::wholeSystem());
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] { return stream.overflowCount() > 0; }, std::chrono::seconds(10)));
    const PacketRead read = TestSupport::readUntilEnd(stream, audioDeadline);
    EXPECT_EQ(read.packets.size(), 30);
    EXPECT_EQ(failureOf(read), TranslationFailure::queueFull());
    TestSupport::runTask(capture.stop(true));
    expectNothingLeftBehind();
}

TEST_F(SystemAudioCaptureTest, TheServerStoppingTheRecordingEndsWithSourceUnavailable)
{
    const bool pipewire = TestSupport::soundServerFlavour() == QStringLiteral("pipewire");
    // PulseAudio: the default output is unplugged (a second null sink goes away).
    QString module;
    if (!pipewire) {
        const QStringList loaded = TestSupport::pactl({ QStringLiteral("load-module"),
            QStringLiteral("module-null-sink"), QStringLiteral("sink_name=quorvel_unplugged") });
        ASSERT_EQ(loaded.size(), 1);
        module = loaded.first();
        TestSupport::pactl(
            { QStringLiteral("set-default-sink"), QStringLiteral("quorvel_unplugged") });
    }
    PacketStream stream = capturing(capture, AudioSource::wholeSystem());
    if (pipewire) {
        QString ours;
        for (const QString &line : TestSupport::pactlList(QStringLiteral("source-outputs"))) {
            if (!m_sourceOutputs.contains(line))
                ours = line.section(u'\t', 0, 0);
        }
        ASSERT_TRUE(destroyNode(ours));
    } else {
        TestSupport::pactl({ QStringLiteral("unload-module"), module });
        TestSupport::pactl(
            { QStringLiteral("set-default-sink"), qEnvironmentVariable("AUDIO_TEST_SINK") });
    }
    const PacketRead read = TestSupport::readUntilEnd(stream, audioDeadline);
    ASSERT_TRUE(read.ended);
    EXPECT_EQ(failureOf(read), TranslationFailure::sourceUnavailable());
    TestSupport::runTask(capture.stop(false));
    expectNothingLeftBehind();
}

TEST_F(SystemAudioCaptureTest, PreparingAnApplicationThatQuitFailsAndLeavesNothing)
{
    TonePlayer player(tone(1000, QStringLiteral("Gone"), QStringLiteral("test.gone")));
    ASSERT_TRUE(player.start());
    const AudioSource gone = player.source();
    ASSERT_TRUE(player.stop());
    try {
        TestSupport::runTask(capture.prepare(gone));
        ADD_FAILURE() << "prepared an application that quit";
    } catch (const TranslationFailure &failure) {
        EXPECT_EQ(failure, TranslationFailure::sourceUnavailable());
    }
    EXPECT_THROW(TestSupport::runTask(capture.start()), TranslationFailure);
    expectNothingLeftBehind();
}

TEST_F(SystemAudioCaptureTest, ASinkRateChangeKeepsTheFramesContiguous)
{
    if (TestSupport::soundServerFlavour() != QStringLiteral("pipewire"))
        GTEST_SKIP() << "forcing the sink's rate needs PipeWire";
    TonePlayer player(tone(1000, QStringLiteral("Rate"), QStringLiteral("test.rate")));
    ASSERT_TRUE(player.start());
    PacketStream stream = capturing(capture, AudioSource::wholeSystem());
    ASSERT_TRUE(TestSupport::readPacketsUntil(
        stream, [](const auto &packets) { return TestSupport::endsWithTone(packets, 1000, 3); },
        audioDeadline)
                    .satisfied);
    auto forceRate = [](int rate) {
        return QProcess::execute(QStringLiteral("pw-metadata"),
            { QStringLiteral("-n"), QStringLiteral("settings"), QStringLiteral("0"),
                QStringLiteral("clock.force-rate"), QString::number(rate) });
    };
    ASSERT_EQ(forceRate(44100), 0);
    const PacketRead read = TestSupport::readPacketsUntil(
        stream, [](const auto &packets) { return packets.size() >= 20; }, audioDeadline);
    forceRate(0);
    ASSERT_TRUE(read.satisfied);
    // Every frame is full and the tone goes on at the new rate. The server's graph may fall
    // silent for a moment while it switches; that silence is audio too, not a gap in the frames.
    qsizetype withoutTone = 0;
    for (const CapturedPacket &packet : read.packets) {
        EXPECT_EQ(packet.pcm.size(), 3200);
        withoutTone += TestSupport::toneAmplitude(packet.pcm, 1000) < 0.3 ? 1 : 0;
    }
    EXPECT_LE(withoutTone, 3);
    EXPECT_TRUE(TestSupport::endsWithTone(read.packets, 1000, 10, 0.3));
    TestSupport::runTask(capture.stop(false));
}

TEST(SystemAudioCaptureServerTest, TheServerQuittingEndsTheCaptureWithSourceUnavailable)
{
    // A throwaway PulseAudio daemon of this test's own, so it can be stopped mid-capture.
    if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty()) {
        if (TestSupport::inCI())
            FAIL() << "pulseaudio is not installed";
        GTEST_SKIP() << "pulseaudio is not installed";
    }
    QTemporaryDir directory;
    const QString socket = directory.filePath(QStringLiteral("native"));
    QProcess daemon;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), directory.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), directory.path());
    environment.insert(QStringLiteral("XDG_STATE_HOME"), directory.path());
    environment.remove(QStringLiteral("PULSE_SERVER"));
    daemon.setProcessEnvironment(environment);
    daemon.setStandardOutputFile(QProcess::nullDevice());
    daemon.setStandardErrorFile(QProcess::nullDevice());
    daemon.start(QStringLiteral("pulseaudio"),
        { QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
            QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
            QStringLiteral("-L"),
            QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + socket,
            QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=throwaway") });
    ASSERT_TRUE(daemon.waitForStarted());
    const QByteArray saved = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", (QStringLiteral("unix:") + socket).toUtf8());
    struct Restore {
        QByteArray value;
        ~Restore() { qputenv("PULSE_SERVER", value); }
    } restore { saved };
    ASSERT_TRUE(TestSupport::spinUntil(
        [] { return TestSupport::soundServerAvailable(); }, std::chrono::seconds(10)));

    SystemAudioCapture capture;
    TestSupport::runTask(capture.prepare(AudioSource::wholeSystem()));
    PacketStream stream = TestSupport::runTask(capture.start());
    daemon.terminate();
    ASSERT_TRUE(daemon.waitForFinished(5000));
    const PacketRead read = TestSupport::readUntilEnd(stream, audioDeadline);
    ASSERT_TRUE(read.ended);
    EXPECT_EQ(failureOf(read), TranslationFailure::sourceUnavailable());
    TestSupport::runTask(capture.stop(true));
    // The next attempt finds no server: that is a missing permission, reported at once.
    EXPECT_THROW(
        TestSupport::runTask(capture.prepare(AudioSource::wholeSystem())), TranslationFailure);
}

} // namespace
