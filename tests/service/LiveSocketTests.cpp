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
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUuid>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

using namespace TranslateCore;
using namespace std::chrono_literals;

namespace {

const QString phone = QStringLiteral("13800138000");

// Signs in and creates sessions through plain HTTP calls, as the service expects them.
class ServiceClient {
public:
    QJsonValue call(const QByteArray &method, const QString &path, const QJsonObject &body = {},
        const QByteArray &key = {})
    {
        QNetworkRequest request(QUrl(localService().origin() + QStringLiteral("/api/") + path));
        request.setSslConfiguration(localService().tlsConfiguration());
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        if (!m_token.isEmpty())
            request.setRawHeader("Authorization", "Bearer " + m_token.toUtf8());
        if (!key.isEmpty())
            request.setRawHeader("Idempotency-Key", key);
        const QByteArray payload
            = method == "GET" ? QByteArray() : QJsonDocument(body).toJson(QJsonDocument::Compact);
        QNetworkReply *reply = m_network.sendCustomRequest(request, method, payload);
        EXPECT_TRUE(TestSupport::spinUntil([&] { return reply->isFinished(); }, 10s));
        const QJsonObject envelope = QJsonDocument::fromJson(reply->readAll()).object();
        reply->deleteLater();
        EXPECT_EQ(envelope.value(QStringLiteral("code")).toInt(-1), 0) << path.toStdString();
        return envelope.value(QStringLiteral("data"));
    }

    void signIn()
    {
        call("POST", QStringLiteral("v1/auth/send-code"),
            { { "purpose", "LOGIN" }, { "countryCode", "+86" }, { "phoneNumber", phone } });
        const QString code = localService()
                                 .control("GET", QStringLiteral("sms-code?phone=") + phone)
                                 .toObject()
                                 .value(QStringLiteral("code"))
                                 .toString();
        m_token = call("POST", QStringLiteral("v1/auth/login/phone-code"),
            { { "countryCode", "+86" }, { "phoneNumber", phone }, { "code", code } })
                      .toObject()
                      .value(QStringLiteral("token"))
                      .toString();
    }

    // A new session's live socket address with a fresh one-use ticket.
    QUrl newSessionSocket()
    {
        // Only the session creation carries an idempotency key.
        const QJsonObject created = createTextSession(
            [this](const QByteArray &method, const QString &path, const QJsonObject &body) {
                return call(method, path, body,
                    method == "POST" ? QUuid::createUuid().toByteArray(QUuid::WithoutBraces)
                                     : QByteArray());
            });
        m_sessionId = created.value(QStringLiteral("sessionId")).toInteger();
        return ticketURL();
    }

    QUrl ticketURL()
    {
        const QJsonObject ticket = call("POST",
            QStringLiteral("v1/translation/sessions/%1/ws-ticket").arg(m_sessionId),
            { { "lastReceivedSegmentSeq",
                0 } }).toObject();
        return ProductionEndpoint::socketURL(
            *ProductionEndpoint::baseForOrigin(localService().origin()),
            ticket.value(QStringLiteral("wsUrl")).toString(),
            ticket.value(QStringLiteral("wsTicket")).toString(), m_sessionId);
    }

private:
    QNetworkAccessManager m_network;
    QString m_token;
    qint64 m_sessionId = 0;
};

QJsonObject eventOf(const SocketMessage &message)
{
    return message.kind == SocketMessage::Kind::text
        ? QJsonDocument::fromJson(message.textPayload.toUtf8()).object()
        : QJsonObject();
}

// Receives until a text event of `type` arrives, skipping others.
QJsonObject receiveEvent(LiveSocket &socket, const QString &type)
{
    for (;;) {
        const QJsonObject event = eventOf(TestSupport::runTask(socket.receive()));
        if (event.value(QStringLiteral("type")) == type)
            return event;
    }
}

// The transport error that `task` ended with, if it ended with one.
std::optional<NetworkError> networkErrorOf(QCoro::Task<> task)
{
    try {
        TestSupport::runTask(std::move(task));
    } catch (const NetworkError &error) {
        return error;
    }
    return std::nullopt;
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
        client.signIn();
        url = client.newSessionSocket();
    }

    void sendToClient(const QJsonObject &body)
    {
        QJsonObject request = body;
        request.insert(QStringLiteral("action"), QStringLiteral("send"));
        localService().control("POST", QStringLiteral("socket"), request);
    }

    ServiceClient client;
    QUrl url;
};

TEST_F(LiveSocketTest, ReceivesReadyAndAnswersPing)
{
    auto socket = std::make_shared<LiveSocket>(url);
    const QJsonObject ready = receiveEvent(*socket, QStringLiteral("session.ready"));
    EXPECT_TRUE(ready.contains(QStringLiteral("heartbeatIntervalMs")));
    // Set only once connected; Linux reports twice the size asked for.
    EXPECT_GE(socket->kernelSendBufferSize(), LiveSocket::sendBufferSize);
    EXPECT_LE(socket->kernelSendBufferSize(), 2 * LiveSocket::sendBufferSize);

    OrderedSocketWriter writer(socket, [] { ADD_FAILURE() << "send failed"; });
    writer.control(clientPingText(std::chrono::system_clock::now()));
    receiveEvent(*socket, QStringLiteral("server.pong"));
    TestSupport::runTask(writer.discard());
}

TEST_F(LiveSocketTest, UploadsFramesInOrderAndFinishes)
{
    auto socket = std::make_shared<LiveSocket>(url);
    OrderedSocketWriter writer(socket, [] { ADD_FAILURE() << "send failed"; });
    const std::vector<int> sizes = { 3200, 2, 1600, 3200, 640, 3198, 3200, 320 };
    for (int size : sizes)
        writer.audio(QByteArray(size, '\0'));
    TestSupport::runTask(writer.finish());
    EXPECT_EQ(writer.pendingBytes(), 0);
    receiveEvent(*socket, QStringLiteral("session.finished"));
    // The service closes after its last event; that arrives as the next receive's error.
    EXPECT_THROW(TestSupport::runTask(socket->receive()), NetworkError);

    const QJsonObject received
        = localService().control("GET", QStringLiteral("socket/received")).toObject();
    std::vector<int> binarySizes;
    QStringList texts;
    for (const QJsonValue &frame : received.value(QStringLiteral("frames")).toArray()) {
        if (frame[QStringLiteral("kind")] == QLatin1String("binary"))
            binarySizes.push_back(frame[QStringLiteral("size")].toInt());
        else
            texts.append(frame[QStringLiteral("text")].toString());
    }
    EXPECT_EQ(binarySizes, sizes);
    EXPECT_EQ(texts, QStringList({ R"({"type":"input.flush"})", R"({"type":"session.finish"})" }));
    EXPECT_TRUE(received.value(QStringLiteral("errors")).toArray().isEmpty());
}

TEST_F(LiveSocketTest, RefusesIncomingMessagesOverOneMebibyte)
{
    LiveSocket socket(url);
    receiveEvent(socket, QStringLiteral("session.ready"));
    sendToClient({ { "binaryBytes", LiveSocket::maxIncomingMessageSize } });
    const SocketMessage largest = TestSupport::runTask(socket.receive());
    EXPECT_EQ(largest.audioPayload.size(), LiveSocket::maxIncomingMessageSize);

    sendToClient({ { "binaryBytes", LiveSocket::maxIncomingMessageSize + 1 } });
    const auto error = networkErrorOf(receiveOnce(socket));
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->message().contains(QStringLiteral("1009"))) << error->what();
}

TEST_F(LiveSocketTest, DeliversBufferedFramesBeforeTheDrop)
{
    LiveSocket socket(url);
    receiveEvent(socket, QStringLiteral("session.ready"));
    sendToClient({ { "rawText", "first" } });
    sendToClient({ { "rawText", "second" } });
    localService().control("POST", QStringLiteral("socket"), { { "action", "drop" } });
    EXPECT_EQ(TestSupport::runTask(socket.receive()), SocketMessage::text(QStringLiteral("first")));
    EXPECT_EQ(
        TestSupport::runTask(socket.receive()), SocketMessage::text(QStringLiteral("second")));
    try {
        TestSupport::runTask(socket.receive());
        ADD_FAILURE() << "the drop was not reported";
    } catch (const NetworkError &error) {
        EXPECT_EQ(error.code(), QNetworkReply::RemoteHostClosedError);
    }
}

TEST_F(LiveSocketTest, OverflowingInboxClosesAfterDeliveringWhatFits)
{
    LiveSocket socket(url);
    receiveEvent(socket, QStringLiteral("session.ready"));
    // One more than the inbox holds, while nobody reads.
    for (int i = 0; i <= LiveSocket::inboxCapacity; ++i)
        sendToClient({ { "rawText", QString::number(i) } });
    int delivered = 0;
    try {
        for (;;) {
            TestSupport::runTask(socket.receive());
            ++delivered;
        }
    } catch (const NetworkError &error) {
        EXPECT_EQ(error.code(), QNetworkReply::ProtocolFailure);
    }
    EXPECT_EQ(delivered, LiveSocket::inboxCapacity);
}

TEST_F(LiveSocketTest, CloseWakesAPendingReceive)
{
    auto socket = std::make_shared<LiveSocket>(url);
    receiveEvent(*socket, QStringLiteral("session.ready"));
    bool failed = false;
    [](std::shared_ptr<LiveSocket> s, bool *flag) -> QCoro::Task<> {
        try {
            co_await s->receive();
        } catch (const NetworkError &error) {
            *flag = error.code() == QNetworkReply::OperationCanceledError;
        }
    }(socket, &failed);
    TestSupport::runTask(socket->close());
    EXPECT_TRUE(TestSupport::spinUntil([&] { return failed; }));
    EXPECT_THROW(TestSupport::runTask(socket->send(SocketMessage::text({}))), NetworkError);
}

TEST_F(LiveSocketTest, FailedHandshakeSurfacesOnFirstSendAndReceive)
{
    { // the ticket is used up by this connection
        LiveSocket first(url);
        receiveEvent(first, QStringLiteral("session.ready"));
    }
    LiveSocket reused(url);
    const auto error = networkErrorOf(reused.send(SocketMessage::text({})));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), QNetworkReply::ConnectionRefusedError) << error->what();
    EXPECT_TRUE(networkErrorOf(receiveOnce(reused)));
}

TEST_F(LiveSocketTest, StalledServiceIsFeltAsQueueFull)
{
    auto socket = std::make_shared<LiveSocket>(url);
    receiveEvent(*socket, QStringLiteral("session.ready"));
    OrderedSocketWriter writer(socket, [] { ADD_FAILURE() << "send failed"; });
    localService().control("POST", QStringLiteral("socket"), { { "action", "stopReading" } });

    // Each frame stands for 100 ms of audio; the next one is offered once the network took the
    // last one or a short while has passed.
    const QByteArray frame(3200, '\0');
    int accepted = 0;
    bool full = false;
    const QDeadlineTimer deadline(60s);
    while (!full && accepted < 3000 && !deadline.hasExpired()) {
        try {
            writer.audio(frame);
            ++accepted;
        } catch (const TranslationFailure &failure) {
            ASSERT_EQ(failure.kind(), TranslationFailure::Case::queueFull);
            full = true;
        }
        TestSupport::spinUntil([&] { return writer.pendingBytes() == 0; }, 20ms);
    }
    ASSERT_TRUE(full) << accepted << " frames went out while the service was not reading";
    const double stalledSeconds = accepted / 10.0;
    std::printf(
        "stall felt after %.1f s of real-time audio (%d frames)\n", stalledSeconds, accepted);
    EXPECT_LT(stalledSeconds, 20.0); // some 130 s with the kernel's own buffer sizing
    EXPECT_TRUE(writer.isAccepting());
    localService().control("POST", QStringLiteral("socket"), { { "action", "resumeReading" } });
    EXPECT_TRUE(TestSupport::spinUntil([&] { return writer.pendingBytes() == 0; }, 10s));
    TestSupport::runTask(writer.discard());
}

// A handshake answered with a redirect fails; the socket never goes where it points.
TEST(LiveSocketHandshake, DoesNotFollowRedirects)
{
    QTcpServer target;
    ASSERT_TRUE(target.listen(QHostAddress::LocalHost));
    int targetConnections = 0;
    QObject::connect(&target, &QTcpServer::newConnection, [&] { ++targetConnections; });

    QTcpServer redirecting;
    ASSERT_TRUE(redirecting.listen(QHostAddress::LocalHost));
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
    const auto error = networkErrorOf(receiveOnce(socket));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), QNetworkReply::ConnectionRefusedError) << error->what();
    TestSupport::drainEvents();
    EXPECT_EQ(targetConnections, 0);
}

} // namespace
