#include "TranslateMac/Shell/SingleInstance.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <future>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace TranslateMac;
using namespace std::chrono_literals;
using TestSupport::spinUntil;

namespace {

// Failing hand-overs give up in a fraction of a second; a silent client is dropped after 200 ms.
constexpr InstanceTimings quick { 300ms, 20ms, 300ms, 200ms };
// Successful hand-overs end as soon as they are answered; the bounds only guard a slow machine.
constexpr InstanceTimings patient { 10s, 20ms, 10s, 200ms };

struct HandOver {
    bool acknowledged = false;
    std::chrono::milliseconds took {};
};

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        ASSERT_TRUE(QDir().mkpath(runtimeFolder()));
        QFile::setPermissions(
            runtimeFolder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QString dataFolder(const QString &user = QStringLiteral("one")) const
    {
        return home.path() + u'/' + user + QStringLiteral("/share/com.quorvel.translate.mac");
    }
    QString runtimeFolder() const { return home.path() + QStringLiteral("/run"); }

    std::unique_ptr<SingleInstance> instance(
        InstanceTimings timings = patient, const QString &user = QStringLiteral("one")) const
    {
        return std::make_unique<SingleInstance>(dataFolder(user), runtimeFolder(), timings);
    }

    // The blocking hand-over runs on its own thread, as in a second process, while this thread's
    // event loop serves the primary.
    static HandOver handOver(const SingleInstance &secondary)
    {
        const auto started = std::chrono::steady_clock::now();
        std::future<bool> result
            = std::async(std::launch::async, [&] { return secondary.handOver(); });
        spinUntil([&] { return result.wait_for(0s) == std::future_status::ready; }, 30s);
        return { result.get(),
            std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - started) };
    }

    // A later launch for `user`'s data folder: true when it found the running instance and that
    // acknowledged the hand-over.
    bool launchAgain(const QString &user = QStringLiteral("one")) const
    {
        const auto secondary = instance(patient, user);
        return secondary->claim() == InstanceRole::secondary && handOver(*secondary).acknowledged;
    }

    QTemporaryDir home;
};

TEST_F(SingleInstanceTest, SecondLaunchHandsOverAndThePrimaryActivatesOncePerLaunch)
{
    const auto primary = instance();
    ASSERT_EQ(primary->claim(), InstanceRole::primary);
    QSignalSpy activations(primary.get(), &SingleInstance::activationRequested);

    EXPECT_TRUE(launchAgain());
    TestSupport::drainEvents();
    EXPECT_EQ(activations.count(), 1);

    EXPECT_TRUE(launchAgain());
    TestSupport::drainEvents();
    EXPECT_EQ(activations.count(), 2);
}

TEST_F(SingleInstanceTest, DataFolderAndSocketArePrivateToTheUser)
{
    const auto primary = instance();
    ASSERT_EQ(primary->claim(), InstanceRole::primary);
    const QFileInfo folder(dataFolder());
    ASSERT_TRUE(folder.isDir());
    EXPECT_EQ(folder.permissions() & 0x0077, 0) << std::oct << int(folder.permissions());
    const QFileInfo socket(SingleInstance::socketPath(dataFolder(), runtimeFolder()));
    ASSERT_TRUE(socket.exists());
    EXPECT_EQ(socket.permissions() & 0x0077, 0) << std::oct << int(socket.permissions());
    EXPECT_LT(socket.filePath().toUtf8().size(), runtimeFolder().toUtf8().size() + 40);
}

TEST_F(SingleInstanceTest, SameFolderSpeltDifferentlyIsTheSameInstance)
{
    const auto primary = instance();
    ASSERT_EQ(primary->claim(), InstanceRole::primary);
    const QString spelt = home.path() + QStringLiteral("/one/share/./com.quorvel.translate.mac/");
    ASSERT_TRUE(
        QFile::link(home.path() + QStringLiteral("/one"), home.path() + QStringLiteral("/link")));
    const QString linked = home.path() + QStringLiteral("/link/share/com.quorvel.translate.mac");
    for (const QString &folder : { spelt, linked }) {
        SingleInstance other(folder, runtimeFolder(), patient);
        EXPECT_EQ(other.claim(), InstanceRole::secondary) << folder.toStdString();
        EXPECT_EQ(SingleInstance::socketPath(folder, runtimeFolder()),
            SingleInstance::socketPath(dataFolder(), runtimeFolder()));
    }
}

TEST_F(SingleInstanceTest, TwoClaimantsMakeExactlyOnePrimaryAndTheLockIsFreedAtTheEnd)
{
    auto first = instance();
    auto second = instance();
    const InstanceRole roles[] = { first->claim(), second->claim() };
    EXPECT_EQ(std::count(std::begin(roles), std::end(roles), InstanceRole::primary), 1);
    EXPECT_EQ(std::count(std::begin(roles), std::end(roles), InstanceRole::secondary), 1);

    first.reset();
    EXPECT_EQ(instance()->claim(), InstanceRole::primary);
}

TEST_F(SingleInstanceTest, AnotherDataFolderIsAnIndependentPrimary)
{
    const auto one = instance(patient, QStringLiteral("one"));
    const auto demo = instance(patient, QStringLiteral("demo"));
    ASSERT_EQ(one->claim(), InstanceRole::primary);
    ASSERT_EQ(demo->claim(), InstanceRole::primary);
    EXPECT_NE(SingleInstance::socketPath(dataFolder(QStringLiteral("one")), runtimeFolder()),
        SingleInstance::socketPath(dataFolder(QStringLiteral("demo")), runtimeFolder()));
    QSignalSpy oneActivations(one.get(), &SingleInstance::activationRequested);
    QSignalSpy demoActivations(demo.get(), &SingleInstance::activationRequested);

    EXPECT_TRUE(launchAgain(QStringLiteral("demo")));
    TestSupport::drainEvents();
    EXPECT_EQ(demoActivations.count(), 1);
    EXPECT_EQ(oneActivations.count(), 0);
}

// What a process killed while it was the primary leaves behind.
enum Leftover { staleLock = 1, staleSocket = 2 };

void leaveLockOfADeadProcess(const QString &lockPath)
{
    // A lock exactly as QLockFile writes it, but naming a process that has ended.
    QProcess ended;
    ended.start(QStringLiteral("true"), {});
    ASSERT_TRUE(ended.waitForStarted());
    const qint64 pid = ended.processId();
    ASSERT_TRUE(ended.waitForFinished());
    QByteArray contents;
    {
        QLockFile sample(lockPath + QStringLiteral(".sample"));
        ASSERT_TRUE(sample.tryLock(0));
        QFile written(lockPath + QStringLiteral(".sample"));
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        contents = written.readAll();
    }
    contents = QByteArray::number(pid) + contents.mid(contents.indexOf('\n'));
    QFile lock(lockPath);
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    ASSERT_EQ(lock.write(contents), contents.size());
}

void leaveSocketOfADeadProcess(const QString &path)
{
    // Bound and closed without removing the file, as when the process is killed.
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(descriptor, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    ASSERT_LT(size_t(encoded.size()), sizeof(address.sun_path));
    std::copy(encoded.begin(), encoded.end(), address.sun_path);
    EXPECT_EQ(::bind(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
    ::close(descriptor);
    ASSERT_TRUE(QFileInfo::exists(path));
}

class LeftoversOfADeadPrimary : public SingleInstanceTest,
                                public ::testing::WithParamInterface<int> { };

TEST_P(LeftoversOfADeadPrimary, DoNotBlockANewPrimary)
{
    ASSERT_TRUE(QDir().mkpath(dataFolder()));
    if (GetParam() & staleLock)
        leaveLockOfADeadProcess(dataFolder() + QStringLiteral("/instance.lock"));
    if (GetParam() & staleSocket)
        leaveSocketOfADeadProcess(SingleInstance::socketPath(dataFolder(), runtimeFolder()));

    const auto primary = instance();
    ASSERT_EQ(primary->claim(), InstanceRole::primary);
    QSignalSpy activations(primary.get(), &SingleInstance::activationRequested);
    EXPECT_TRUE(launchAgain());
    TestSupport::drainEvents();
    EXPECT_EQ(activations.count(), 1);
}

INSTANTIATE_TEST_SUITE_P(SingleInstance, LeftoversOfADeadPrimary,
    ::testing::Values(staleLock, staleSocket, staleLock | staleSocket), [](const auto &info) {
        return std::string(info.param == staleLock ? "Lock"
                : info.param == staleSocket        ? "Socket"
                                                   : "LockAndSocket");
    });

// A primary that cannot answer: alive and holding the lock, but not listening, or listening and
// never answering.
struct SilentPrimaryCase {
    const char *name;
    bool listens;
};

class SilentPrimary : public SingleInstanceTest,
                      public ::testing::WithParamInterface<SilentPrimaryCase> { };

TEST_P(SilentPrimary, SecondaryGivesUpWithinItsBound)
{
    ASSERT_TRUE(QDir().mkpath(dataFolder()));
    QLockFile held(dataFolder() + QStringLiteral("/instance.lock"));
    ASSERT_TRUE(held.tryLock(0));
    QLocalServer mute;
    if (GetParam().listens) {
        ASSERT_TRUE(mute.listen(SingleInstance::socketPath(dataFolder(), runtimeFolder())));
    }

    const auto secondary = instance(quick);
    ASSERT_EQ(secondary->claim(), InstanceRole::secondary);
    const HandOver result = handOver(*secondary);
    EXPECT_FALSE(result.acknowledged);
    EXPECT_GE(result.took, 250ms);
    EXPECT_LT(result.took, 3s);
}

INSTANTIATE_TEST_SUITE_P(SingleInstance, SilentPrimary,
    ::testing::Values(
        SilentPrimaryCase { "NotListening", false }, SilentPrimaryCase { "NeverAnswering", true }),
    [](const auto &info) { return std::string(info.param.name); });

// Clients that are not a second launch.
struct HostileCase {
    const char *name;
    QByteArray sent;
};

class HostileClient : public SingleInstanceTest,
                      public ::testing::WithParamInterface<HostileCase> { };

TEST_P(HostileClient, IsDroppedWithoutActivating)
{
    const auto primary = instance(quick);
    ASSERT_EQ(primary->claim(), InstanceRole::primary);
    QSignalSpy activations(primary.get(), &SingleInstance::activationRequested);

    QLocalSocket client;
    client.connectToServer(SingleInstance::socketPath(dataFolder(), runtimeFolder()));
    ASSERT_TRUE(client.waitForConnected(2000));
    client.write(GetParam().sent);
    EXPECT_TRUE(spinUntil([&] { return client.state() == QLocalSocket::UnconnectedState; }, 3s));
    EXPECT_EQ(activations.count(), 0);
    EXPECT_EQ(client.readAll(), QByteArray());

    // The primary still serves a real second launch.
    EXPECT_TRUE(launchAgain());
    TestSupport::drainEvents();
    EXPECT_EQ(activations.count(), 1);
}

INSTANTIATE_TEST_SUITE_P(SingleInstance, HostileClient,
    ::testing::Values(HostileCase { "Garbage", "hello\n" },
        HostileCase { "Oversized", QByteArray(1 << 20, 'x') },
        HostileCase { "OversizedLine", QByteArray(200, 'x') + '\n' },
        HostileCase { "RequestWithoutLineEnd", "quorvel-translate activate" },
        HostileCase { "RequestWithJunk", "quorvel-translate activate now\n" },
        HostileCase { "NulBytes", QByteArray(10, '\0') + '\n' },
        HostileCase { "Silent", QByteArray() }),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SingleInstanceTest, ClientsBeyondTheLimitAreDroppedAtOnce)
{
    InstanceTimings slowToDrop = patient;
    slowToDrop.requestWithin = 20s;
    const auto primary = instance(slowToDrop);
    ASSERT_EQ(primary->claim(), InstanceRole::primary);
    const QString path = SingleInstance::socketPath(dataFolder(), runtimeFolder());

    std::vector<std::unique_ptr<QLocalSocket>> silent;
    for (int index = 0; index < SingleInstance::maximumClients; ++index) {
        silent.push_back(std::make_unique<QLocalSocket>());
        silent.back()->connectToServer(path);
        ASSERT_TRUE(silent.back()->waitForConnected(2000));
    }
    TestSupport::drainEvents();
    QLocalSocket extra;
    extra.connectToServer(path);
    ASSERT_TRUE(extra.waitForConnected(2000));
    EXPECT_TRUE(spinUntil([&] { return extra.state() == QLocalSocket::UnconnectedState; }, 3s));
    for (const auto &client : silent)
        EXPECT_EQ(client->state(), QLocalSocket::ConnectedState);

    // Once they leave, a second launch is served again.
    silent.clear();
    // Time for the primary to see them leave.
    spinUntil([] { return false; }, 200ms);
    QSignalSpy activations(primary.get(), &SingleInstance::activationRequested);
    EXPECT_TRUE(launchAgain());
    TestSupport::drainEvents();
    EXPECT_EQ(activations.count(), 1);
}

TEST_F(SingleInstanceTest, DroppedClientsFreeTheirPlace)
{
    const auto primary = instance(quick);
    ASSERT_EQ(primary->claim(), InstanceRole::primary);
    for (int index = 0; index < 2 * SingleInstance::maximumClients; ++index) {
        QLocalSocket client;
        client.connectToServer(SingleInstance::socketPath(dataFolder(), runtimeFolder()));
        ASSERT_TRUE(client.waitForConnected(2000));
        client.write("hello\n");
        ASSERT_TRUE(
            spinUntil([&] { return client.state() == QLocalSocket::UnconnectedState; }, 3s));
    }
    QSignalSpy activations(primary.get(), &SingleInstance::activationRequested);
    EXPECT_TRUE(launchAgain());
    EXPECT_EQ(activations.count(), 1);
}

} // namespace
