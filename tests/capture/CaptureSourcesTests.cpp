#include "support/AudioTestSupport.h"
#include "support/TestSupport.h"

#include "TranslateMac/Capture/AudioCaptureFactory.h"
#include "TranslateMac/Capture/CaptureAccess.h"
#include "TranslateMac/Capture/SystemAudioCapture.h"
#include "TranslateMac/Capture/TapAudioFailure.h"

#include "TranslateCore/Contract/TranslationFailure.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

using namespace TranslateMac;
using TranslateCore::TranslationFailure;

namespace {

constexpr qint64 ownPid = 900;

SoundServerClient client(std::optional<qint32> pid, const QString &name,
    std::optional<QString> id = {}, std::optional<QString> binary = QStringLiteral("app"))
{
    return { 0, pid, name, std::move(id), std::move(binary) };
}

QStringList namesOf(const QList<AudioSource> &sources)
{
    QStringList names;
    for (const AudioSource &source : sources)
        names << source.name;
    return names;
}

// Points the PulseAudio client library at another server for the lifetime of the object.
class ServerOverride {
public:
    explicit ServerOverride(const QString &server) : m_saved(qgetenv("PULSE_SERVER"))
    {
        qputenv("PULSE_SERVER", server.toUtf8());
    }
    ~ServerOverride() { qputenv("PULSE_SERVER", m_saved); }

private:
    QByteArray m_saved;
};

TEST(AudioCaptureFactoryTest, ListsApplicationsByNameAfterTheWholeSystem)
{
    const QString system = AudioSource::wholeSystem().name;
    struct Case {
        const char *description;
        QList<SoundServerClient> clients;
        QStringList expected;
    };
    const QList<Case> cases {
        { "no applications", {}, { system } },
        { "case-insensitive, numbers by value",
            { client(1, QStringLiteral("Zoom")), client(2, QStringLiteral("app 10")),
                client(3, QStringLiteral("App 2")) },
            { system, QStringLiteral("App 2"), QStringLiteral("app 10"), QStringLiteral("Zoom") } },
        { "this process, nameless and pid-less clients left out",
            { client(ownPid, QStringLiteral("Us")), client(4, QStringLiteral(" ")),
                client(std::nullopt, QStringLiteral("Remote")),
                client(5, QStringLiteral("Player")) },
            { system, QStringLiteral("Player") } },
        { "the sound server's own services left out",
            { client(6, QStringLiteral("pipewire"), {}, QStringLiteral("pipewire")),
                client(7, QStringLiteral("WirePlumber"), {}, QStringLiteral("wireplumber")),
                client(8, QStringLiteral("Player")) },
            { system, QStringLiteral("Player") } },
        { "one entry per process and per application id",
            { client(9, QStringLiteral("Browser"), QStringLiteral("org.browser")),
                client(9, QStringLiteral("Browser (2)"), QStringLiteral("org.browser")),
                client(10, QStringLiteral("Browser helper"), QStringLiteral("org.browser")) },
            { system, QStringLiteral("Browser") } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(namesOf(AudioCaptureFactory::sourcesFromClients(c.clients, ownPid)), c.expected);
    }
}

TEST(AudioCaptureFactoryTest, SourcesCarryPidAndIdentityAndSortStably)
{
    const QList<AudioSource> sources = AudioCaptureFactory::sourcesFromClients(
        { client(20, QStringLiteral("Same"), QStringLiteral("org.first")),
            client(21, QStringLiteral("same"), {}, QStringLiteral("mpv")),
            client(22, QStringLiteral("Same"), {}, std::nullopt) },
        ownPid);
    ASSERT_EQ(sources.size(), 4);
    EXPECT_EQ(sources[0], AudioSource::wholeSystem());
    EXPECT_EQ(
        sources[1], (AudioSource { 20, QStringLiteral("Same"), QStringLiteral("org.first") }));
    EXPECT_EQ(sources[2], (AudioSource { 21, QStringLiteral("same"), QStringLiteral("mpv") }));
    EXPECT_EQ(sources[3], (AudioSource { 22, QStringLiteral("Same"), std::nullopt }));
}

TEST(AudioSourceTest, IdentityEqualityAndHash)
{
    EXPECT_EQ(
        (AudioSource { 77, QStringLiteral("Player"), std::nullopt }).id(), QStringLiteral("77"));
    EXPECT_EQ(AudioSource::wholeSystem().id(), QStringLiteral("system"));
    const AudioSource without { 5, QStringLiteral("A"), std::nullopt };
    const AudioSource withEmpty { 5, QStringLiteral("A"), QString() };
    EXPECT_NE(without, withEmpty);
    EXPECT_NE(qHash(without), qHash(withEmpty));
}

TEST(SoundServerClientTest, BelongsToTheProcessOrItsApplicationIdentity)
{
    const AudioSource player { 40, QStringLiteral("Player"), QStringLiteral("org.player") };
    EXPECT_TRUE(client(40, QStringLiteral("x")).belongsTo(player));
    EXPECT_TRUE(client(41, QStringLiteral("x"), QStringLiteral("org.player")).belongsTo(player));
    EXPECT_TRUE(
        client(42, QStringLiteral("x"), {}, QStringLiteral("org.player")).belongsTo(player));
    EXPECT_FALSE(
        client(43, QStringLiteral("x"), QStringLiteral("org.other"), QStringLiteral("org.player"))
            .belongsTo(player));
    EXPECT_FALSE(client(40, QStringLiteral("x")).belongsTo(AudioSource::wholeSystem()));
}

TEST(CapturedPacketTest, LevelIsFourTimesTheRMSClamped)
{
    auto filled = [](qint16 value) {
        QByteArray pcm(3200, Qt::Uninitialized);
        for (int i = 0; i < 1600; ++i)
            std::memcpy(pcm.data() + 2 * i, &value, 2);
        return CapturedPacket { pcm };
    };
    EXPECT_FLOAT_EQ(filled(8192).level(), 1.0f);
    EXPECT_FLOAT_EQ(filled(16384).level(), 1.0f);
    EXPECT_FLOAT_EQ(filled(4096).level(), 0.5f);
    EXPECT_FLOAT_EQ(filled(0).level(), 0.0f);
    EXPECT_FLOAT_EQ(CapturedPacket {}.level(), 0.0f);
}

TEST(CaptureAccessTest, AnUnreachableServerMeansNoPermission)
{
    const auto mapped = [](std::exception_ptr error) -> std::exception_ptr {
        return CaptureAccess::failure(error);
    };
    EXPECT_THROW(std::rethrow_exception(mapped(std::make_exception_ptr(
                     SoundServerAccessError(6, QStringLiteral("refused"))))),
        TranslationFailure);
    try {
        std::rethrow_exception(mapped(std::make_exception_ptr(TapAudioFailure(-8))));
    } catch (const TapAudioFailure &failure) {
        EXPECT_EQ(failure.status(), -8);
    }
    try {
        std::rethrow_exception(mapped(std::make_exception_ptr(TranslationFailure::noDisplay())));
    } catch (const TranslationFailure &failure) {
        EXPECT_EQ(failure, TranslationFailure::noDisplay());
    }
}

TEST(SystemAudioCaptureAccessTest, NoServerFailsPromptlyWithPermission)
{
    QTemporaryDir directory;
    const ServerOverride absent(
        QStringLiteral("unix:") + directory.filePath(QStringLiteral("native")));
    SystemAudioCapture capture;
    EXPECT_FALSE(capture.hasPermission());
    QElapsedTimer elapsed;
    elapsed.start();
    try {
        TestSupport::runTask(capture.prepare(AudioSource::wholeSystem()));
        ADD_FAILURE() << "prepared without a server";
    } catch (const TranslationFailure &failure) {
        EXPECT_EQ(failure, TranslationFailure::permission());
    }
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
    const ServerOverride silent(QStringLiteral("unix:") + QString::fromUtf8(path));

    SystemAudioCapture capture(std::chrono::milliseconds(300));
    EXPECT_TRUE(capture.hasPermission());
    QElapsedTimer elapsed;
    elapsed.start();
    try {
        TestSupport::runTask(capture.prepare(AudioSource::wholeSystem()));
        ADD_FAILURE() << "prepared against a silent server";
    } catch (const TapAudioFailure &failure) {
        EXPECT_LT(failure.status(), 0);
    }
    EXPECT_LT(elapsed.elapsed(), 2000);
    ::close(listener);
}

TEST(AudioCaptureFactoryTest, ListsAPlayingApplicationButNotThisProcess)
{
    QUORVEL_REQUIRE_SOUND_SERVER();
    TestSupport::TonePlayer player(
        { 1000, QStringLiteral("Listed Player"), QStringLiteral("test.listed"), 48000, 2, 0.2 });
    ASSERT_TRUE(player.start());
    const QList<AudioSource> sources = TestSupport::runTask(AudioCaptureFactory::runningSources());
    ASSERT_FALSE(sources.isEmpty());
    EXPECT_EQ(sources.first(), AudioSource::wholeSystem());
    EXPECT_TRUE(sources.contains(player.source()));
    for (const AudioSource &source : sources)
        EXPECT_NE(source.pid, qint32(::getpid()));
}

} // namespace
