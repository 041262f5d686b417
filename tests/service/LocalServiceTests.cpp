#include "ServiceEnvironment.h"

#include "support/TestSupport.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QThread>
#include <QTimer>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

struct Answer {
    int status = 0;
    QJsonObject json;
};

// One HTTP call to the service, straight over the wire.
Answer call(const QByteArray &method, const QString &path, const QJsonObject &body = {},
    const QString &token = {}, const QByteArray &idempotencyKey = {})
{
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(localService().origin() + QStringLiteral("/api/") + path));
    request.setSslConfiguration(localService().tlsConfiguration());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    if (!idempotencyKey.isEmpty())
        request.setRawHeader("Idempotency-Key", idempotencyKey);
    QNetworkReply *reply = network.sendCustomRequest(
        request, method, method == "GET" ? QByteArray() : QJsonDocument(body).toJson());
    EXPECT_TRUE(TestSupport::spinUntil([reply] { return reply->isFinished(); }));
    Answer answer { reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
        QJsonDocument::fromJson(reply->readAll()).object() };
    reply->deleteLater();
    return answer;
}

QString signIn(const QString &phone)
{
    call("POST", "v1/auth/send-code",
        { { "purpose", "LOGIN" }, { "countryCode", "86" }, { "phoneNumber", phone } });
    const QString code
        = localService().control("GET", "/control/sms-code?phone=" + phone)["code"].toString();
    const Answer login = call("POST", "v1/auth/login/phone-code",
        { { "countryCode", "86" }, { "phoneNumber", phone }, { "code", code } });
    return login.json["data"]["token"].toString();
}

QJsonObject createSession(const QString &token)
{
    const QJsonObject audio { { "encoding", "PCM_S16LE" }, { "sampleRate", 16000 },
        { "channels", 1 } };
    return call("POST", "v1/translation/sessions",
        { { "routeCode", "en-zh" }, { "outputMode", "TEXT_ONLY" }, { "historyEnabled", true },
            { "clientType", "H5" }, { "clientVersion", "macOS-1.0.0" }, { "audio", audio } },
        token, "key-1")
        .json["data"]
        .toObject();
}

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

    bool waitFor(const QString &type, qsizetype count = 1)
    {
        return TestSupport::spinUntil([&] {
            return ofType(type).size() >= size_t(count) || closed;
        }) && ofType(type).size() >= size_t(count);
    }

    std::vector<QJsonObject> ofType(const QString &type) const
    {
        std::vector<QJsonObject> found;
        for (const QJsonObject &event : events) {
            if (event["type"].toString() == type)
                found.push_back(event);
        }
        return found;
    }

    void sendAudio(const QByteArray &pcm)
    {
        for (qsizetype at = 0; at < pcm.size(); at += 3200)
            socket.sendBinaryMessage(pcm.mid(at, 3200));
    }
};

QByteArray tone(int milliseconds, int hertz)
{
    QByteArray pcm;
    const int samples = 16 * milliseconds;
    for (int i = 0; i < samples; ++i) {
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
        token = signIn("13900000001");
        ASSERT_FALSE(token.isEmpty());
        session = createSession(token);
        ASSERT_TRUE(session["wsUrl"].isString());
    }

    QString token;
    QJsonObject session;
};

TEST_F(LocalServiceTests, SignsInAndAnswersWithTheEnvelope)
{
    const Answer wallet = call("GET", "v1/points/wallet", {}, token);
    EXPECT_EQ(wallet.status, 200);
    EXPECT_EQ(wallet.json["code"].toInt(), 0);
    EXPECT_EQ(wallet.json["data"]["availablePoints"].toInt(), 1000);
    const Answer anonymous = call("GET", "v1/points/wallet");
    EXPECT_EQ(anonymous.status, 401);
    EXPECT_EQ(anonymous.json["code"].toInt(), 1001);
}

TEST_F(LocalServiceTests, TicketOpensOneSocketOnly)
{
    SocketClient first(session["wsUrl"].toString());
    ASSERT_TRUE(first.waitFor("session.ready"));
    EXPECT_EQ(first.ofType("session.ready")[0]["sessionId"].toInteger(),
        session["sessionId"].toInteger());

    SocketClient second(session["wsUrl"].toString());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return second.closed; }));
    EXPECT_TRUE(second.events.empty());
}

TEST_F(LocalServiceTests, AnswersMalformedInputWithProtocolErrors)
{
    SocketClient client(session["wsUrl"].toString());
    ASSERT_TRUE(client.waitFor("session.ready"));
    client.socket.sendTextMessage("not json");
    client.socket.sendTextMessage("[1,2]");
    client.socket.sendTextMessage(R"({"type":7})");
    client.socket.sendBinaryMessage(QByteArray(3, 'x'));
    client.socket.sendBinaryMessage(QByteArray(3202, 'x'));
    client.socket.sendTextMessage(R"({"type":"client.ping","ts":5})");
    ASSERT_TRUE(client.waitFor("server.pong"));
    EXPECT_EQ(client.ofType("server.pong")[0]["ts"].toInteger(), 5);

    QStringList codes;
    for (const QJsonObject &error : client.ofType("error"))
        codes << error["code"].toString();
    EXPECT_EQ(codes,
        QStringList({ "INVALID_MESSAGE", "INVALID_MESSAGE", "INVALID_MESSAGE", "INVALID_AUDIO",
            "INVALID_AUDIO" }));
    const QJsonObject received
        = localService().control("GET", "/control/socket/received").toObject();
    EXPECT_EQ(received["errors"].toArray().size(), 5);
    EXPECT_EQ(received["frames"].toArray().size(), 6);
    EXPECT_EQ(received["audioBytes"].toInteger(), 0);
}

TEST_F(LocalServiceTests, CaptionsEachVoicedStretchOfAToneAndFinishes)
{
    SocketClient client(session["wsUrl"].toString());
    ASSERT_TRUE(client.waitFor("session.ready"));
    client.sendAudio(tone(1500, 1000) + silence(500) + tone(1000, 1000) + silence(400));
    ASSERT_TRUE(client.waitFor("translation.final", 2));

    QStringList asr;
    for (const QJsonObject &event : client.events) {
        if (event["type"].toString().startsWith("asr."))
            asr << QStringLiteral("%1 %2 %3")
                       .arg(event["type"].toString())
                       .arg(event["segmentSeq"].toInteger())
                       .arg(event["text"].toString());
    }
    EXPECT_EQ(asr,
        QStringList({ "asr.partial 1 tone 1000 Hz, 0.5 s", "asr.partial 1 tone 1000 Hz, 1.0 s",
            "asr.partial 1 tone 1000 Hz, 1.5 s", "asr.final 1 tone 1000 Hz, 1.5 s",
            "asr.partial 2 tone 1000 Hz, 0.5 s", "asr.partial 2 tone 1000 Hz, 1.0 s",
            "asr.final 2 tone 1000 Hz, 1.0 s" }));
    EXPECT_EQ(client.ofType("translation.final")[0]["text"].toString(),
        QStringLiteral("1000 赫兹音调，1.5 秒"));

    client.socket.sendTextMessage(R"({"type":"input.flush"})");
    client.socket.sendTextMessage(R"({"type":"session.finish"})");
    ASSERT_TRUE(client.waitFor("session.finished"));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return client.closed; }));
    EXPECT_EQ(client.socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
}

TEST_F(LocalServiceTests, ChargesEachMinuteUntilTheBalanceRunsOut)
{
    localService().control(
        "POST", "/control/balance", { { "phone", "13900000001" }, { "points", 15 } });
    SocketClient client(session["wsUrl"].toString());
    ASSERT_TRUE(client.waitFor("session.ready"));
    client.sendAudio(silence(120000));
    ASSERT_TRUE(client.waitFor("error"));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return client.closed; }));

    QStringList seen;
    for (const QJsonObject &event : client.events)
        seen << event["type"].toString() + ' '
                + QString::number(event["remainingPoints"].toInteger());
    EXPECT_EQ(seen,
        QStringList({ "session.ready 0", "usage.update 5", "balance.warning 5", "usage.update 0",
            "error 0" }));
    EXPECT_EQ(client.ofType("error")[0]["code"].toString(), QStringLiteral("BALANCE_EXHAUSTED"));
    EXPECT_EQ(client.socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
    const Answer settled = call("POST",
        QStringLiteral("v1/translation/sessions/%1/finish").arg(session["sessionId"].toInteger()),
        { { "reason", "USER_STOPPED" } }, token);
    EXPECT_EQ(settled.json["data"]["status"].toString(), QStringLiteral("BALANCE_EXHAUSTED"));
    EXPECT_EQ(settled.json["data"]["chargedPoints"].toInteger(), 15);
}

TEST_F(LocalServiceTests, StopReadingBacksUpTheClientsSends)
{
    SocketClient client(session["wsUrl"].toString());
    ASSERT_TRUE(client.waitFor("session.ready"));
    localService().control("POST", "/control/socket", { { "action", "stopReading" } });

    const qint64 frames = 5000; // 16 MB, far more than the kernel buffers between the two ends
    for (qint64 i = 0; i < frames; ++i)
        client.socket.sendBinaryMessage(silence(100));
    // The client encrypts everything at once and pushes it while the network takes more; without
    // backpressure the service would have read it all by the time its count stops moving.
    ASSERT_TRUE(TestSupport::spinUntil([&] { return client.socket.bytesToWrite() == 0; }));
    const auto received = [] {
        return localService().control("GET", "/control/socket/received")["audioBytes"].toInteger();
    };
    qint64 held = -1;
    int steady = 0;
    TestSupport::spinUntil(
        [&] {
            const qint64 now = received();
            steady = now == held ? steady + 1 : 0;
            held = now;
            QThread::msleep(20);
            return steady >= 25;
        },
        std::chrono::seconds(10));
    EXPECT_LT(held, frames * 3200 / 2);

    localService().control("POST", "/control/socket", { { "action", "resumeReading" } });
    EXPECT_TRUE(TestSupport::spinUntil(
        [&] { return received() == frames * 3200; }, std::chrono::seconds(20)));
}

} // namespace
