#include "support/AudioTestSupport.h"
#include "support/TestSupport.h"

#include "TranslateMac/Capture/ApplicationMatch.h"
#include "TranslateMac/Capture/AudioCaptureFactory.h"
#include "TranslateMac/Capture/PulseAudio/SystemAudioCapture.h"
#include "TranslateMac/Capture/TapAudioFailure.h"

#include "TranslateCore/Contract/TranslationFailure.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

using namespace TranslateMac;
using TranslateCore::TranslationFailure;

namespace {

constexpr qint64 ownPid = 900;

SoundServerClient client(std::optional<qint32> pid, const char *name, const char *id = nullptr,
    const char *binary = nullptr)
{
    const auto text = [](const char *value) {
        return value ? std::optional<QString>(QString::fromUtf8(value)) : std::nullopt;
    };
    return { 0, pid, QString::fromUtf8(name), text(id), text(binary) };
}

// Points the PulseAudio client library at another server until the returned guard goes.
auto serverOverride(const QString &server)
{
    auto restore
        = qScopeGuard([saved = qgetenv("PULSE_SERVER")] { qputenv("PULSE_SERVER", saved); });
    qputenv("PULSE_SERVER", server.toUtf8());
    return restore;
}

TEST(AudioCaptureFactoryTest, ListsApplicationsByNameAfterTheWholeSystem)
{
    const std::pair<QList<SoundServerClient>, QStringList> cases[] = {
        { {}, {} }, // only the whole system without applications
        { { client(1, "Zoom"), client(2, "app 10"), client(3, "App 2") },
            { "App 2", "app 10", "Zoom" } },
        { { client(ownPid, "Us"), client(4, " "), client(std::nullopt, "Remote"),
              client(5, "Player") },
            { "Player" } },
        { { client(6, "pipewire", nullptr, "pipewire"),
              client(7, "WirePlumber", nullptr, "wireplumber"), client(8, "Player") },
            { "Player" } },
        { { client(9, "Browser", "org.browser"), client(9, "Browser (2)", "org.browser"),
              client(10, "Helper", "org.browser") },
            { "Browser" } },
        // What one entry captures is what the list shows: processes of one identity (two
        // windows of one player) and helpers ("id.helper") are one entry.
        { { client(11, "mpv", nullptr, "mpv"), client(12, "mpv", nullptr, "mpv") }, { "mpv" } },
        { { client(13, "GPU", "org.browser.gpu"), client(14, "Browser", "org.browser"),
              client(15, "Browserx", "org.browserx") },
            { "Browser", "Browserx" } },
    };
    for (const auto &[clients, expected] : cases) {
        SCOPED_TRACE(expected.join(u',').toStdString());
        const QList<AudioSource> sources = AudioCaptureFactory::sourcesFromClients(clients, ownPid);
        ASSERT_EQ(sources.first(), AudioSource::wholeSystem());
        QStringList names;
        for (const AudioSource &source : sources.mid(1))
            names << source.name;
        EXPECT_EQ(names, expected);
    }
}

TEST(AudioCaptureFactoryTest, SourcesCarryPidAndIdentityAndSortStably)
{
    EXPECT_EQ(AudioCaptureFactory::sourcesFromClients(
                  { client(20, "Same", "org.first"), client(21, "same", nullptr, "mpv"),
                      client(22, "Same", nullptr, nullptr) },
                  ownPid),
        (QList<AudioSource> { AudioSource::wholeSystem(), { 20, "Same", "org.first" },
            { 21, "same", "mpv" }, { 22, "Same", std::nullopt } }));
}

TEST(ApplicationMatchTest, TheProcessAndHelpersOfItsIdentityBelongToAnApplication)
{
    const AudioSource player { 40, QStringLiteral("Player"), QStringLiteral("org.player") };
    const std::pair<SoundServerClient, bool> cases[] = {
        { client(40, "x"), true }, // its process
        { client(41, "x", "org.player"), true }, // same identity
        { client(42, "x", nullptr, "org.player"), true }, // the binary stands in for an id
        { client(43, "x", "org.player.gpu"), true }, // a helper
        { client(44, "x", "org.playerx"), false },
        { client(45, "x", "org.other", "org.player"), false }, // the id wins over the binary
        { client(std::nullopt, "x", "org.play"), false },
        { client(qint32(::getpid()), "x", "org.player"), false }, // never this program
    };
    int row = 0;
    for (const auto &[candidate, belongs] : cases) {
        SCOPED_TRACE(row++);
        EXPECT_EQ(candidate.belongsTo(player), belongs);
    }
    EXPECT_FALSE(client(40, "x").belongsTo(AudioSource::wholeSystem()));
    const AudioSource withoutIdentity { 40, QStringLiteral("Player"), std::nullopt };
    EXPECT_FALSE(client(41, "x", "org.player").belongsTo(withoutIdentity));
}

TEST(CapturedPacketTest, LevelIsFourTimesTheRMSClamped)
{
    auto level = [](qint16 value) {
        QByteArray pcm(3200, Qt::Uninitialized);
        for (int i = 0; i < 1600; ++i)
            std::memcpy(pcm.data() + 2 * i, &value, 2);
        return CapturedPacket { pcm }.level();
    };
    EXPECT_FLOAT_EQ(level(16384), 1.0f);
    EXPECT_FLOAT_EQ(level(4096), 0.5f);
    EXPECT_FLOAT_EQ(CapturedPacket {}.level(), 0.0f);
}

TEST(SystemAudioCaptureAccessTest, NoServerFailsPromptlyWithPermission)
{
    QTemporaryDir directory;
    const auto absent
        = serverOverride(QStringLiteral("unix:") + directory.filePath(QStringLiteral("native")));
    SystemAudioCapture capture;
    EXPECT_FALSE(capture.hasPermission());
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(TestSupport::failureOf(
                  [&] { TestSupport::runTask(capture.prepare(AudioSource::wholeSystem())); }),
        TranslationFailure::permission());
    EXPECT_LT(elapsed.elapsed(), 2000);
    EXPECT_EQ(
        TestSupport::runTask(capture.sources()), QList<AudioSource> { AudioSource::wholeSystem() });
}

TEST(SystemAudioCaptureAccessTest, AServerThatNeverAnswersFailsWithinTheTimeLimit)
{
    QTemporaryDir directory;
    const QByteArray path = QFile::encodeName(directory.filePath(QStringLiteral("native")));
    // A socket that accepts connections (into its backlog) but never says anything.
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    const auto silent = serverOverride(QStringLiteral("unix:") + QString::fromUtf8(path));
    SystemAudioCapture capture(std::chrono::milliseconds(300));
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_THROW(
        TestSupport::runTask(capture.prepare(AudioSource::wholeSystem())), TapAudioFailure);
    EXPECT_LT(elapsed.elapsed(), 2000);
    ::close(listener);
}

TEST(RunningSourcesOnSoundServer, ListsAPlayingApplicationButNotThisProcess)
{
    QUORVEL_REQUIRE_SOUND_SERVER();
    TestSupport::TonePlayer player(TestSupport::tone(1000, QStringLiteral("test.listed"), 0.2));
    ASSERT_TRUE(player.start());
    const QList<AudioSource> sources = TestSupport::runTask(AudioCaptureFactory::runningSources());
    ASSERT_FALSE(sources.isEmpty());
    EXPECT_TRUE(sources.contains(player.source()));
    for (const AudioSource &source : sources)
        EXPECT_NE(source.pid, qint32(::getpid()));
}

} // namespace
