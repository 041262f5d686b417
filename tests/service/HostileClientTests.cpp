#include "ServiceEnvironment.h"

#include "support/TestSupport.h"

#include "TranslateCore/API/TranslationAPI.h"

#include <QSslSocket>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace TranslateCore;

namespace {

// A service of its own with short time-outs, so that clients it gives up on are seen going.
class HostileClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!service.isRunning())
            GTEST_SKIP() << "local service unavailable: " << service.failure().toStdString();
    }

    std::unique_ptr<QSslSocket> encrypted()
    {
        auto socket = std::make_unique<QSslSocket>();
        socket->setSslConfiguration(service.tlsConfiguration());
        socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), service.port());
        EXPECT_TRUE(TestSupport::spinUntil([&] { return socket->isEncrypted(); }));
        return socket;
    }

    // Everything the service answers to `request` until it closes the connection.
    QByteArray answer(const QByteArray &request)
    {
        const std::unique_ptr<QSslSocket> socket = encrypted();
        socket->write(request);
        QByteArray received;
        TestSupport::spinUntil([&] {
            received += socket->readAll();
            return socket->state() == QAbstractSocket::UnconnectedState;
        });
        return received + socket->readAll();
    }

    LocalServiceProcess service { { "--handshake-timeout-ms", "1500", "--request-timeout-ms",
        "1500", "--idle-timeout-ms", "1500" } };
};

TEST_F(HostileClientTest, SilentAndSlowClientsNeitherBlockSignInNorStayForever)
{
    std::vector<std::unique_ptr<QTcpSocket>> silent;
    for (int i = 0; i < 200; ++i) {
        silent.push_back(std::make_unique<QTcpSocket>());
        silent.back()->connectToHost(QStringLiteral("127.0.0.1"), service.port());
    }
    const auto connected = [&] {
        return std::all_of(silent.begin(), silent.end(),
            [](const auto &s) { return s->state() == QAbstractSocket::ConnectedState; });
    };
    ASSERT_TRUE(TestSupport::spinUntil(connected));
    const std::unique_ptr<QSslSocket> slow = encrypted();
    slow->write("POST /api/v1/auth/send-code HTTP/1.1\r\nHost: 127.0.0.1\r\n");

    TranslationAPI api({}, QUrl(service.origin() + "/api/"));
    EXPECT_FALSE(signIn(api, "13800000030", service).accessToken.isEmpty());

    const auto closed
        = [](const auto &s) { return s->state() == QAbstractSocket::UnconnectedState; };
    EXPECT_TRUE(TestSupport::spinUntil(
        [&] { return std::all_of(silent.begin(), silent.end(), closed) && closed(slow); },
        std::chrono::seconds(10)))
        << std::count_if(silent.begin(), silent.end(), closed) << " silent closed, slow "
        << (closed(slow) ? "closed" : "open");
}

TEST_F(HostileClientTest, OversizedRequestsAreRefusedWithTheEnvelope)
{
    const QByteArray header = "GET /api/v1/points/wallet HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Long: "
        + QByteArray(20 * 1024, 'a') + "\r\n\r\n";
    const QByteArray tooLong = answer(header);
    EXPECT_TRUE(tooLong.startsWith("HTTP/1.1 431 ")) << tooLong.left(80).toStdString();
    EXPECT_TRUE(tooLong.endsWith("\r\n\r\n{\"code\":431}"));

    const QByteArray body = answer("POST /api/v1/auth/send-code HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                   "Content-Length: 2097152\r\n\r\n{");
    EXPECT_TRUE(body.startsWith("HTTP/1.1 413 ")) << body.left(80).toStdString();
    EXPECT_TRUE(body.endsWith("\r\n\r\n{\"code\":413}"));
    EXPECT_TRUE(service.requestsTo("v1/auth/send-code").isEmpty());
}

TEST_F(HostileClientTest, ControlInterfaceNeedsTheSecret)
{
    const QByteArray reset = "POST /control/reset HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                             "Content-Length: 0\r\nConnection: close\r\n";
    EXPECT_TRUE(answer(reset + "\r\n").startsWith("HTTP/1.1 403 "));
    EXPECT_TRUE(answer(reset + "X-Control-Secret: wrong\r\n\r\n").startsWith("HTTP/1.1 403 "));
    EXPECT_TRUE(answer(reset + "X-Control-Secret: " + service.controlSecret() + "\r\n\r\n")
                    .startsWith("HTTP/1.1 200 "));
}

} // namespace
