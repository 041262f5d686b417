#include "ServiceEnvironment.h"

#include "support/TestSupport.h"
#include "support/TextSession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <optional>

namespace {

// A live-socket client that keeps every text event it receives.
struct SocketClient {
    QWebSocket socket;
    std::vector<QJsonObject> events;
    bool closed = false;

    explicit SocketClient(const QString &url)
    {
        socket.setSslConfiguration(localService().tlsConfiguration());
        QObject::connect(&socket, &QWebSocket::textMessageReceived, [this](const QString &text) {
            events.push_back(QJsonDocument::fromJson(text.toUtf8()).object());
        });
        QObject::connect(&socket, &QWebSocket::disconnected, [this] { closed = true; });
        socket.open(QUrl(url));
    }
    // "type field..." for each event whose type starts with `prefix`, in order of arrival.
    QStringList summary(const QString &prefix, const QStringList &fields = {}) const
    {
        QStringList lines;
        for (const QJsonObject &event : events) {
            QString line = event["type"].toString();
            for (const QString &field : fields)
                line += event.contains(field) ? ' ' + event[field].toVariant().toString() : "";
            if (line.startsWith(prefix))
                lines << line;
        }
        return lines;
    }
    bool waitFor(const QString &type, qsizetype count = 1)
    {
        return TestSupport::spinUntil([&] { return summary(type).size() >= count; });
    }
};

QByteArray tone(int milliseconds, int hertz)
{
    QByteArray pcm;
    for (int i = 0; i < 16 * milliseconds; ++i) {
        const auto value
            = qint16(std::lround(8000 * std::sin(2 * std::numbers::pi * hertz * i / 16000.0)));
        pcm.append(char(value & 0xff)).append(char((value >> 8) & 0xff));
    }
    return pcm;
}

QByteArray silence(int milliseconds)
{
    return QByteArray(32 * milliseconds, '\0');
}

class LocalServiceTests : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(localService().isRunning()) << localService().failure().toStdString();
        localService().reset();
        token = signInByPhone(localService(), "13900000001");
        session = createTextSession(
            [this](const QByteArray &method, const QString &path, const QJsonObject &body) {
                const QByteArray key = method == "POST" ? "key-1" : "";
                return callService(localService(), method, path, body, token, key)
                    .envelope.value("data");
            });
        ASSERT_TRUE(session["wsUrl"].isString());
    }
    SocketClient &connect()
    {
        client.emplace(session["wsUrl"].toString());
        EXPECT_TRUE(client->waitFor("session.ready"));
        return *client;
    }
    void sendAudio(const QByteArray &pcm)
    {
        for (qsizetype at = 0; at < pcm.size(); at += 3200)
            client->socket.sendBinaryMessage(pcm.mid(at, 3200));
    }

    qint64 sessionId() const { return session["sessionId"].toInteger(); }
    // The service's read-back of this test's session.
    QJsonObject readBack() const
    {
        const QJsonArray sessions
            = localService().control("GET", "/control/sessions")["sessions"].toArray();
        for (const QJsonValue &entry : sessions) {
            if (entry["sessionId"].toInteger() == sessionId())
                return entry.toObject();
        }
        return {};
    }
    void abandonAfter(qint64 milliseconds)
    {
        localService().control(
            "POST", "/control/session-expiry", { { "abandonedMs", milliseconds } });
    }
    // Leaves the socket and the event loop alone for a while, as a client gone away would.
    static void idle(std::chrono::milliseconds time)
    {
        TestSupport::spinUntil([] { return false; }, time);
    }

    QString token;
    QJsonObject session;
    std::optional<SocketClient> client;
};

TEST_F(LocalServiceTests, TicketOpensOneSocketOnlyAndMalformedInputIsAnswered)
{
    QWebSocket &socket = connect().socket;
    EXPECT_EQ(client->summary("session.ready", { "sessionId" }),
        QStringList { "session.ready " + QString::number(session["sessionId"].toInteger()) });
    SocketClient second(session["wsUrl"].toString());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return second.closed; }));
    EXPECT_TRUE(second.events.empty());

    for (const char *text : { "not json", "[1,2]", R"({"type":7})" })
        socket.sendTextMessage(text);
    socket.sendBinaryMessage(QByteArray(3, 'x'));
    socket.sendBinaryMessage(QByteArray(3202, 'x'));
    socket.sendTextMessage(R"({"type":"client.ping","ts":5})");
    ASSERT_TRUE(client->waitFor("server.pong"));
    EXPECT_EQ(client->summary("server.pong", { "ts" }), QStringList { "server.pong 5" });
    EXPECT_EQ(client->summary("error", { "code" }),
        QStringList({ "error INVALID_MESSAGE", "error INVALID_MESSAGE", "error INVALID_MESSAGE",
            "error INVALID_AUDIO", "error INVALID_AUDIO" }));
    const QJsonValue received = localService().control("GET", "/control/socket/received");
    EXPECT_EQ(received["errors"].toArray().size(), 5);
    EXPECT_EQ(received["frames"].toArray().size(), 6);
    EXPECT_EQ(received["audioBytes"].toInteger(), 0);
}

TEST_F(LocalServiceTests, CaptionsEachVoicedStretchOfAToneAndFinishes)
{
    connect();
    sendAudio(tone(1500, 1000) + silence(500) + tone(1000, 1000) + silence(400));
    ASSERT_TRUE(client->waitFor("translation.final", 2));
    EXPECT_EQ(client->summary("asr.", { "segmentSeq", "text" }),
        QStringList({ "asr.partial 1 tone 1000 Hz, 0.1 s", "asr.partial 1 tone 1000 Hz, 0.6 s",
            "asr.partial 1 tone 1000 Hz, 1.1 s", "asr.partial 1 tone 1000 Hz, 1.6 s",
            "asr.final 1 tone 1000 Hz, 1.5 s", "asr.partial 2 tone 1000 Hz, 0.1 s",
            "asr.partial 2 tone 1000 Hz, 0.6 s", "asr.partial 2 tone 1000 Hz, 1.1 s",
            "asr.final 2 tone 1000 Hz, 1.0 s" }));
    EXPECT_EQ(client->summary("translation.final", { "text" }).value(0),
        "translation.final 1000 赫兹音调，1.5 秒");

    client->socket.sendTextMessage(R"({"type":"input.flush"})");
    client->socket.sendTextMessage(R"({"type":"session.finish"})");
    ASSERT_TRUE(client->waitFor("session.finished"));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return client->closed; }));
    EXPECT_EQ(client->socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
}

TEST_F(LocalServiceTests, ChargesEachMinuteUntilTheBalanceRunsOut)
{
    localService().control(
        "POST", "/control/balance", { { "phone", "13900000001" }, { "points", 15 } });
    connect();
    sendAudio(silence(120000));
    ASSERT_TRUE(client->waitFor("error"));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return client->closed; }));
    EXPECT_EQ(client->summary("", { "remainingPoints", "code" }),
        QStringList({ "session.ready", "usage.update 5", "balance.warning 5", "usage.update 0",
            "error BALANCE_EXHAUSTED" }));
    EXPECT_EQ(client->socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
    const QJsonValue settled = callService(localService(), "POST",
        QStringLiteral("v1/translation/sessions/%1/finish").arg(session["sessionId"].toInteger()),
        { { "reason", "USER_STOPPED" } }, token)
                                   .envelope.value("data");
    EXPECT_EQ(settled["status"], "BALANCE_EXHAUSTED");
    EXPECT_EQ(settled["chargedPoints"].toInteger(), 15);
}

TEST_F(LocalServiceTests, StopReadingBacksUpTheClientsSends)
{
    connect();
    localService().control("POST", "/control/socket", { { "action", "stopReading" } });
    const qint64 frames = 5000; // 16 MB, far more than the kernel buffers between the two ends
    sendAudio(silence(100 * frames));
    // Without backpressure the service would have read it all by the time its count stops moving.
    ASSERT_TRUE(TestSupport::spinUntil([&] { return client->socket.bytesToWrite() == 0; }));
    const auto received = [] {
        return localService().control("GET", "/control/socket/received")["audioBytes"].toInteger();
    };
    qint64 held = -1;
    for (int steady = 0; steady < 25; QThread::msleep(20)) {
        const qint64 now = received();
        steady = now == held ? steady + 1 : 0;
        held = now;
    }
    EXPECT_LT(held, frames * 3200 / 2);

    localService().control("POST", "/control/socket", { { "action", "resumeReading" } });
    EXPECT_TRUE(TestSupport::spinUntil(
        [&] { return received() == frames * 3200; }, std::chrono::seconds(20)));
}

TEST_F(LocalServiceTests, SessionLeftWithoutASocketExpiresChargedForWhatItReceived)
{
    connect();
    sendAudio(tone(1500, 1000) + silence(500));
    ASSERT_TRUE(client->waitFor("asr.final"));
    abandonAfter(300);
    idle(std::chrono::milliseconds(450));
    EXPECT_FALSE(readBack()["settled"].toBool()) << "a session with an open socket is kept";

    client->socket.abort();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return readBack()["settled"].toBool(); }));
    EXPECT_EQ(readBack()["status"], "EXPIRED");
    EXPECT_EQ(readBack()["chargedPoints"].toInteger(), 10); // one started minute
    EXPECT_EQ(readBack()["audioBytes"].toInteger(), 64000);

    // A client settling later hears the same settlement, and the account can start again.
    const QJsonObject finished = callService(localService(), "POST",
        QStringLiteral("v1/translation/sessions/%1/finish").arg(sessionId()),
        { { "reason", "USER_STOPPED" } }, token)
                                     .envelope;
    EXPECT_EQ(finished["data"]["status"], "EXPIRED");
    EXPECT_EQ(finished["data"]["segments"].toArray().size(), 1);
    const QJsonObject next = createTextSession(
        [this](const QByteArray &method, const QString &path, const QJsonObject &body) {
            return callService(
                localService(), method, path, body, token, method == "POST" ? "key-2" : "")
                .envelope.value("data");
        });
    EXPECT_GT(next["sessionId"].toInteger(), sessionId()) << "refused with 3011?";
}

TEST_F(LocalServiceTests, ReconnectingInTimeOrExpiryOffKeepsTheSession)
{
    connect();
    abandonAfter(1500);
    client->socket.abort();
    const QJsonObject ticket = callService(localService(), "POST",
        QStringLiteral("v1/translation/sessions/%1/ws-ticket").arg(sessionId()),
        { { "lastReceivedSegmentSeq", 0 } }, token)
                                   .envelope["data"]
                                   .toObject();
    client.emplace(ticket["wsUrl"].toString());
    ASSERT_TRUE(client->waitFor("session.ready"));
    idle(std::chrono::milliseconds(1800));
    EXPECT_FALSE(readBack()["settled"].toBool());

    abandonAfter(0);
    client->socket.abort();
    idle(std::chrono::milliseconds(600));
    EXPECT_FALSE(readBack()["settled"].toBool()) << "expiry is off";
}

} // namespace
