#include "ServiceEnvironment.h"
#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/ProductionEndpoint.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/Socket/LiveSocket.h"
#include "TranslateCore/Socket/OrderedSocketWriter.h"
#include "support/TestSupport.h"
#include "support/TextSession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUuid>

#include <gtest/gtest.h>

#include <QSslSocket>

#include <chrono>

using namespace TranslateCore;
using namespace std::chrono_literals;

namespace {

// Receives until a text event of `type` arrives, skipping others.
QJsonObject receiveEvent(LiveSocket &socket, const QString &type)
{
    for (;;) {
        const SocketMessage message = TestSupport::runTask(socket.receive());
        const QJsonObject event = QJsonDocument::fromJson(message.textPayload.toUtf8()).object();
        if (message.kind == SocketMessage::Kind::text && event["type"] == type)
            return event;
    }
}

// The transport error a flow ended with; NoError when it ended otherwise.
NetworkError networkErrorOf(const std::shared_ptr<TestSupport::Started> &run)
{
    EXPECT_TRUE(TestSupport::spinUntil([&] { return run->done; }, 10s));
    try {
        if (run->error)
            std::rethrow_exception(run->error);
    } catch (const NetworkError &error) {
        return error;
    } catch (...) {
    }
    return NetworkError(QNetworkReply::NoError, QStringLiteral("no transport error"));
}

NetworkError networkErrorOf(QCoro::Task<> task)
{
    return networkErrorOf(TestSupport::start(std::move(task)));
}

QCoro::Task<> receiveOnce(LiveSocket &socket)
{
    co_await socket.receive();
}

class LiveSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        localService().reset();
        url = newSessionSocket();
    }
    void control(const QString &action, QJsonObject body = {})
    {
        body.insert(QStringLiteral("action"), action);
        localService().control("POST", QStringLiteral("socket"), body);
    }
    // A connected socket, past the service's greeting.
    std::shared_ptr<LiveSocket> ready()
    {
        auto socket = std::make_shared<LiveSocket>(url);
        receiveEvent(*socket, QStringLiteral("session.ready"));
        return socket;
    }

    QUrl url;
};

TEST_F(LiveSocketTest, ReceivesReadyAndAnswersPing)
{
    auto socket = std::make_shared<LiveSocket>(url);
    EXPECT_TRUE(receiveEvent(*socket, "session.ready").contains("heartbeatIntervalMs"));
    OrderedSocketWriter writer(socket, [] { ADD_FAILURE() << "send failed"; });
    writer.control(clientPingText(std::chrono::system_clock::now()));
    receiveEvent(*socket, QStringLiteral("server.pong"));
    TestSupport::runTask(writer.discard());
}

TEST_F(LiveSocketTest, UploadsFramesInOrderAndFinishes)
{
    auto socket = std::make_shared<LiveSocket>(url);
    OrderedSocketWriter writer(socket, [] { ADD_FAILURE() << "send failed"; });
    QStringList sent;
    for (int size : { 3200, 2, 1600, 3200, 640, 3198, 3200, 320 }) {
        writer.audio(QByteArray(size, '\0'));
        sent << QString::number(size);
    }
    TestSupport::runTask(writer.finish());
    receiveEvent(*socket, QStringLiteral("session.finished"));
    // The service closes after its last event; that arrives as the next receive's error.
    EXPECT_THROW(TestSupport::runTask(socket->receive()), NetworkError);

    const QJsonValue received = localService().control("GET", QStringLiteral("socket/received"));
    QStringList frames;
    for (const QJsonValue &frame : received["frames"].toArray())
        frames << (frame["kind"] == "binary" ? QString::number(frame["size"].toInt())
                                             : frame["text"].toString());
    EXPECT_EQ(frames,
        sent << R"({"type":"input.flush"})"
             << R"({"type":"session.finish"})");
    EXPECT_TRUE(received["errors"].toArray().isEmpty());
}

TEST_F(LiveSocketTest, RefusesIncomingMessagesOverOneMebibyte)
{
    auto socket = ready();
    control("send", { { "binaryBytes", LiveSocket::maxIncomingMessageSize } });
    EXPECT_EQ(TestSupport::runTask(socket->receive()).audioPayload.size(), 1'048'576);
    control("send", { { "binaryBytes", LiveSocket::maxIncomingMessageSize + 1 } });
    const NetworkError error = networkErrorOf(receiveOnce(*socket));
    EXPECT_TRUE(error.message().contains(QStringLiteral("1009"))) << error.what();
    EXPECT_EQ(error.closeCode(), 1009);
    EXPECT_EQ(error.handshakeStatus(), std::nullopt);
}

TEST_F(LiveSocketTest, MalformedUpgradeKeepsTheTicketAndAReusedTicketIsRefused)
{
    const QUrl address = url;
    QSslSocket raw;
    raw.setSslConfiguration(localService().tlsConfiguration());
    raw.connectToHostEncrypted(QStringLiteral("127.0.0.1"), localService().port());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return raw.isEncrypted(); }));
    raw.write("GET " + address.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority)
        + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n");
    QByteArray answer;
    TestSupport::spinUntil([&] { return (answer += raw.readAll()).contains("\r\n\r\n"); });
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 400 ")) << answer.toStdString();

    auto first = std::make_shared<LiveSocket>(address);
    receiveEvent(*first, QStringLiteral("session.ready"));
    LiveSocket second(address);
    const NetworkError refused = networkErrorOf(receiveOnce(second));
    EXPECT_EQ(refused.handshakeStatus(), 403) << refused.what();
    EXPECT_EQ(refused.closeCode(), std::nullopt);
}

TEST_F(LiveSocketTest, DeliversBufferedFramesBeforeTheDrop)
{
    auto socket = ready();
    control("send", { { "rawText", "first" } });
    control("send", { { "rawText", "second" } });
    control("drop");
    EXPECT_EQ(TestSupport::runTask(socket->receive()), SocketMessage::text("first"));
    EXPECT_EQ(TestSupport::runTask(socket->receive()), SocketMessage::text("second"));
    EXPECT_EQ(networkErrorOf(receiveOnce(*socket)).code(), QNetworkReply::RemoteHostClosedError);
}

TEST_F(LiveSocketTest, OverflowingInboxClosesAfterDeliveringWhatFits)
{
    auto socket = ready();
    for (int i = 0; i <= LiveSocket::inboxCapacity; ++i) // one more than it holds, unread
        control("send", { { "rawText", QString::number(i) } });
    int delivered = 0;
    try {
        for (;; ++delivered)
            TestSupport::runTask(socket->receive());
    } catch (const NetworkError &error) {
        EXPECT_EQ(error.code(), QNetworkReply::ProtocolFailure);
    }
    EXPECT_EQ(delivered, LiveSocket::inboxCapacity);
}

TEST_F(LiveSocketTest, CloseWakesAPendingReceiveAndRefusesSends)
{
    auto socket = ready();
    auto receiving = TestSupport::start(receiveOnce(*socket));
    TestSupport::runTask(socket->close());
    EXPECT_EQ(networkErrorOf(receiving).code(), QNetworkReply::OperationCanceledError);
    EXPECT_THROW(TestSupport::runTask(socket->send(SocketMessage::text({}))), NetworkError);
}

TEST_F(LiveSocketTest, StalledServiceIsFeltAsQueueFull)
{
    auto socket = ready();
    OrderedSocketWriter writer(socket, [] { ADD_FAILURE() << "send failed"; });
    control("stopReading");
    // Each frame stands for 100 ms of audio; the next one is offered once the network took the
    // last one or a short while has passed.
    int accepted = 0;
    const QDeadlineTimer deadline(60s);
    for (bool full = false; !full && !deadline.hasExpired();) {
        try {
            writer.audio(QByteArray(3200, '\0'));
            ++accepted;
        } catch (const TranslationFailure &failure) {
            ASSERT_EQ(failure.kind(), TranslationFailure::Case::queueFull);
            full = true;
        }
        TestSupport::spinUntil([&] { return writer.pendingBytes() == 0; }, 20ms);
    }
    // Some 130 s of audio went out before the stall was felt with the kernel's own buffer sizing.
    EXPECT_LT(accepted / 10.0, 20.0) << "seconds of real-time audio";
    EXPECT_TRUE(writer.isAccepting());
    control("resumeReading");
    EXPECT_TRUE(TestSupport::spinUntil([&] { return writer.pendingBytes() == 0; }, 10s));
    TestSupport::runTask(writer.discard());
}

// A handshake answered with a redirect fails; the socket never goes where it points.
TEST(LiveSocketHandshake, DoesNotFollowRedirects)
{
    QTcpServer target, redirecting;
    ASSERT_TRUE(
        target.listen(QHostAddress::LocalHost) && redirecting.listen(QHostAddress::LocalHost));
    int targetConnections = 0;
    QObject::connect(&target, &QTcpServer::newConnection, [&] { ++targetConnections; });
    QObject::connect(&redirecting, &QTcpServer::newConnection, [&] {
        QTcpSocket *peer = redirecting.nextPendingConnection();
        QObject::connect(peer, &QTcpSocket::readyRead, peer, [peer, port = target.serverPort()] {
            peer->readAll();
            peer->write(QStringLiteral("HTTP/1.1 302 Found\r\nLocation: ws://127.0.0.1:%1/\r\n"
                                       "Content-Length: 0\r\n\r\n")
                            .arg(port)
                            .toLatin1());
        });
    });

    LiveSocket socket(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/ws/v1/translation/1?ticket=t")
                               .arg(redirecting.serverPort())));
    EXPECT_EQ(networkErrorOf(receiveOnce(socket)).code(), QNetworkReply::ConnectionRefusedError);
    TestSupport::drainEvents();
    EXPECT_EQ(targetConnections, 0);
}

} // namespace
