#include "ServiceEnvironment.h"

#include "support/TestSupport.h"

#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Socket/LiveSocket.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslSocket>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

using namespace TranslateCore;

namespace {

struct Frame {
    int opcode = 0;
    QByteArray payload;
};

// One client frame; masked frames carry a fixed masking key.
QByteArray clientFrame(int opcode, const QByteArray &payload, bool masked)
{
    QByteArray frame(1, char(0x80 | opcode));
    const char maskBit = masked ? char(0x80) : char(0);
    if (payload.size() < 126) {
        frame.append(char(maskBit | char(payload.size())));
    } else if (payload.size() <= 0xffff) {
        frame.append(char(maskBit | 126));
        frame.append(char(payload.size() >> 8)).append(char(payload.size() & 0xff));
    } else {
        frame.append(char(maskBit | 127));
        for (int shift = 56; shift >= 0; shift -= 8)
            frame.append(char((quint64(payload.size()) >> shift) & 0xff));
    }
    if (!masked)
        return frame + payload;
    const QByteArray key("\x12\x34\x56\x78", 4);
    frame.append(key);
    for (qsizetype i = 0; i < payload.size(); ++i)
        frame.append(char(payload[i] ^ key[i % 4]));
    return frame;
}

// A WebSocket client written by hand over TLS, so that it can send what QWebSocket never would.
class RawSocketClient {
public:
    explicit RawSocketClient(const QUrl &url)
    {
        m_socket.setSslConfiguration(localService().tlsConfiguration());
        m_socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), localService().port());
        EXPECT_TRUE(TestSupport::spinUntil([&] { return m_socket.isEncrypted(); }));
        m_socket.write("GET " + url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority)
            + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
        TestSupport::spinUntil(
            [&] { return (m_received += m_socket.readAll()).contains("\r\n\r\n"); });
        const qsizetype end = m_received.indexOf("\r\n\r\n");
        m_status = m_received.left(m_received.indexOf("\r\n"));
        m_received.remove(0, end < 0 ? m_received.size() : end + 4);
    }

    const QByteArray &status() const { return m_status; }
    // Sends `bytes` and lets them arrive on their own, so that each piece is a separate read.
    void send(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
        TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(20));
    }
    // The service's next frame; nothing once the connection has ended without one.
    std::optional<Frame> next()
    {
        std::optional<Frame> frame;
        TestSupport::spinUntil([&] {
            m_received += m_socket.readAll();
            frame = parsed();
            return frame || m_socket.state() == QAbstractSocket::UnconnectedState;
        });
        return frame ? frame : parsed();
    }
    // The next text event of `type`, skipping others; nothing when another kind of frame came.
    std::optional<Frame> nextTextOf(const QString &type)
    {
        for (std::optional<Frame> frame = next(); frame; frame = next()) {
            if (frame->opcode != 1)
                return frame;
            if (QJsonDocument::fromJson(frame->payload).object()["type"] == type)
                return frame;
        }
        return std::nullopt;
    }
    bool closedByService()
    {
        return TestSupport::spinUntil(
            [&] { return m_socket.state() == QAbstractSocket::UnconnectedState; });
    }

private:
    std::optional<Frame> parsed()
    {
        if (m_received.size() < 2)
            return std::nullopt;
        qsizetype header = 2;
        quint64 length = quint8(m_received[1]) & 0x7f;
        if (length >= 126) {
            const int extended = length == 126 ? 2 : 8;
            if (m_received.size() < 2 + extended)
                return std::nullopt;
            length = 0;
            for (int i = 0; i < extended; ++i)
                length = (length << 8) | quint8(m_received[2 + i]);
            header += extended;
        }
        if (quint64(m_received.size() - header) < length)
            return std::nullopt;
        Frame frame { quint8(m_received[0]) & 0x0f, m_received.mid(header, qsizetype(length)) };
        m_received.remove(0, header + qsizetype(length));
        return frame;
    }

    QSslSocket m_socket;
    QByteArray m_received;
    QByteArray m_status;
};

const QByteArray ping = R"({"type":"client.ping","ts":5})";

class UpgradedConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { localService().reset(); }

    // The first refused upgrade the service recorded, once its connection has ended.
    std::optional<QJsonObject> endedRefusal()
    {
        const QJsonArray refused
            = localService()
                  .control("GET", "/control/socket/received")["refusedUpgrades"]
                  .toArray();
        if (refused.isEmpty() || refused.at(0).toObject()["open"].toBool())
            return std::nullopt;
        return refused.at(0).toObject();
    }
};

TEST_F(UpgradedConnectionTest, MaskedFramesPassAndAnUnmaskedOneIsAnsweredWithClose1002)
{
    // Payloads whose lengths take each of the three length encodings.
    for (const qsizetype size : { 20, 3000, 70000 }) {
        SCOPED_TRACE(size);
        RawSocketClient client(newSessionSocket());
        ASSERT_EQ(client.status(), "HTTP/1.1 101 Switching Protocols");
        ASSERT_TRUE(client.nextTextOf(QStringLiteral("session.ready")));

        // One masked frame in pieces that split its header, key and payload across reads.
        const QByteArray audio = clientFrame(2, QByteArray(size, '\0'), true);
        client.send(audio.left(1));
        client.send(audio.mid(1, 4));
        client.send(audio.mid(5, audio.size() / 2));
        client.send(audio.mid(5 + audio.size() / 2) + clientFrame(1, ping, true));
        const std::optional<Frame> pong = client.nextTextOf(QStringLiteral("server.pong"));
        ASSERT_TRUE(pong && pong->opcode == 1);

        client.send(clientFrame(1, ping, false));
        const std::optional<Frame> close = client.next();
        ASSERT_TRUE(close);
        EXPECT_EQ(close->opcode, 8);
        EXPECT_EQ(close->payload, QByteArray("\x03\xea", 2));
        EXPECT_TRUE(client.closedByService());
        const QJsonArray frames
            = localService().control("GET", "/control/socket/received")["frames"].toArray();
        const auto texts = std::count_if(frames.begin(), frames.end(),
            [](const QJsonValue &f) { return f["kind"] == QLatin1String("text"); });
        EXPECT_EQ(texts, 1) << "the unmasked frame must not reach the session";
        localService().reset();
    }
}

TEST_F(UpgradedConnectionTest, RefusedUpgradeRecordsWhatTheClientStillSends)
{
    const QUrl url = newSessionSocket();
    LiveSocket first(url);
    TestSupport::runTask(first.receive()); // the ticket is spent

    // A careless client that answers the refusal with a close frame: six bytes are recorded.
    RawSocketClient careless(url);
    EXPECT_TRUE(careless.status().startsWith("HTTP/1.1 403 ")) << careless.status().toStdString();
    careless.send(clientFrame(8, {}, true));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return endedRefusal().has_value(); }));
    EXPECT_EQ((*endedRefusal())["bytesAfterAnswer"].toInteger(), 6);
}

TEST_F(UpgradedConnectionTest, LiveSocketWritesNothingAfterARefusedUpgrade)
{
    const QUrl url = newSessionSocket();
    LiveSocket first(url);
    TestSupport::runTask(first.receive());

    std::optional<int> status;
    {
        LiveSocket refused(url);
        try {
            TestSupport::runTask(refused.receive());
        } catch (const NetworkError &error) {
            status = error.handshakeStatus();
        }
    }
    EXPECT_EQ(status, 403);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return endedRefusal().has_value(); }));
    EXPECT_EQ((*endedRefusal())["bytesAfterAnswer"].toInteger(), 0);
}

} // namespace
