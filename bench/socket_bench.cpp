// The live socket over TLS on loopback, against a local service this program starts itself (the
// build's quorvel-local-service with the build's test certificates): client.ping -> server.pong
// round trips, and audio upload through the ordered writer.
#include "BenchSupport.h"
#include "TranslateCore/Contract/ProductionEndpoint.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/Socket/LiveSocket.h"
#include "TranslateCore/Socket/OrderedSocketWriter.h"
#include "support/LocalServiceProcess.h"
#include "support/TextSession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QUuid>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

using namespace TranslateCore;
using Clock = std::chrono::steady_clock;

namespace {

constexpr qint64 bytesPerSecond = 32'000; // 16 kHz mono 16-bit upload audio

using Bench::awaitTask;
using Bench::fail;
using Bench::spinUntil;

// One signed-in account on the local service, reached over plain HTTPS calls.
class ServiceAccount {
public:
    explicit ServiceAccount(LocalServiceProcess &service) : m_service(service)
    {
        m_network.setProxy(QNetworkProxy::NoProxy);
        // Every measured round opens a session of its own and leaves it running.
        m_service.control("POST", QStringLiteral("/control/session-limit"),
            { { "oneSessionPerAccount", false } });
        signIn();
    }

    // The socket address of a new session.
    QUrl newSessionSocket()
    {
        const QJsonObject created
            = createTextSession([this](const QByteArray &method, const QString &path,
                                    const QJsonObject &body) { return call(method, path, body); });
        const qint64 id = created.value(QStringLiteral("sessionId")).toInteger();
        return ProductionEndpoint::socketURL(*ProductionEndpoint::baseForOrigin(m_service.origin()),
            created.value(QStringLiteral("wsUrl")).toString(),
            created.value(QStringLiteral("wsTicket")).toString(), id);
    }

    // Calls "/api/<path>" and returns the answer's "data".
    QJsonValue call(const QByteArray &method, const QString &path, const QJsonObject &body = {})
    {
        QNetworkRequest request(QUrl(m_service.origin() + QStringLiteral("/api/") + path));
        request.setSslConfiguration(m_service.tlsConfiguration());
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        if (!m_token.isEmpty())
            request.setRawHeader("Authorization", "Bearer " + m_token.toUtf8());
        request.setRawHeader("Idempotency-Key", QUuid::createUuid().toByteArray());
        QNetworkReply *reply = m_network.sendCustomRequest(request, method,
            method == "GET" ? QByteArray() : QJsonDocument(body).toJson(QJsonDocument::Compact));
        spinUntil([&] { return reply->isFinished(); }, std::chrono::seconds(10));
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError)
            fail(QStringLiteral("%1: %2").arg(path, reply->errorString()));
        return QJsonDocument::fromJson(reply->readAll()).object().value(QStringLiteral("data"));
    }

private:
    void signIn()
    {
        const QString phone = QStringLiteral("13800000002");
        call("POST", QStringLiteral("v1/auth/send-code"),
            { { "purpose", "LOGIN" }, { "countryCode", "+86" }, { "phoneNumber", phone } });
        m_service.control("POST", QStringLiteral("/control/balance"),
            { { "phone", phone }, { "points", 100000 } });
        const QString code
            = m_service.control("GET", QStringLiteral("/control/sms-code?phone=") + phone)
                  .toObject()
                  .value(QStringLiteral("code"))
                  .toString();
        m_token = call("POST", QStringLiteral("v1/auth/login/phone-code"),
            { { "countryCode", "+86" }, { "phoneNumber", phone }, { "code", code } })
                      .toObject()
                      .value(QStringLiteral("token"))
                      .toString();
        if (m_token.isEmpty())
            fail(QStringLiteral("sign-in failed"));
    }

    LocalServiceProcess &m_service;
    QNetworkAccessManager m_network;
    QString m_token;
};

// One account for the whole program (the service allows one sign-in code a minute per number);
// it goes with the program's service.
std::unique_ptr<ServiceAccount> account;

ServiceAccount &service()
{
    if (!account)
        account = std::make_unique<ServiceAccount>(Bench::service());
    return *account;
}

QString typeOf(const SocketMessage &message)
{
    return QJsonDocument::fromJson(message.textPayload.toUtf8())
        .object()
        .value(QStringLiteral("type"))
        .toString();
}

void receiveUntil(LiveSocket &socket, const QString &type)
{
    while (typeOf(awaitTask(socket.receive())) != type) { }
}

// Reads and drops every incoming event, so the inbox never fills while audio goes out.
QCoro::Task<> drainIncoming(std::shared_ptr<LiveSocket> socket, bool *ended)
{
    try {
        for (;;)
            co_await socket->receive();
    } catch (...) {
    }
    *ended = true;
}

void BM_PingPongRoundTrip(benchmark::State &state)
{
    auto socket = std::make_shared<LiveSocket>(service().newSessionSocket());
    receiveUntil(*socket, QStringLiteral("session.ready"));
    bool sendFailed = false;
    OrderedSocketWriter writer(socket, [&] { sendFailed = true; });
    for (int i = 0; i < 50; ++i) { // warm-up
        writer.control(clientPingText(std::chrono::system_clock::now()));
        receiveUntil(*socket, QStringLiteral("server.pong"));
    }

    std::vector<double> samples;
    for (auto _ : state) {
        const auto start = Clock::now();
        writer.control(clientPingText(std::chrono::system_clock::now()));
        receiveUntil(*socket, QStringLiteral("server.pong"));
        const std::chrono::duration<double> elapsed = Clock::now() - start;
        state.SetIterationTime(elapsed.count());
        samples.push_back(elapsed.count() * 1000.0);
    }
    Bench::reportLatency(state, std::move(samples));
    if (sendFailed)
        fail(QStringLiteral("a send failed"));
    awaitTask(writer.discard());
}
BENCHMARK(BM_PingPongRoundTrip)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(2000);

// Uploads `seconds` of silence in 100 ms frames. With `pace` > 0 a frame is offered every
// 100 ms / pace of wall time; otherwise as fast as the writer accepts them.
void uploadAudio(benchmark::State &state, int seconds, double pace)
{
    const int frames = seconds * 10;
    const QByteArray frame(3200, '\0');
    for (auto _ : state) {
        auto socket = std::make_shared<LiveSocket>(service().newSessionSocket());
        receiveUntil(*socket, QStringLiteral("session.ready"));
        bool ended = false;
        drainIncoming(socket, &ended);
        bool sendFailed = false;
        OrderedSocketWriter writer(socket, [&] { sendFailed = true; });

        int sent = 0, refused = 0;
        qint64 mostPending = 0;
        const auto start = Clock::now();
        while (sent < frames) {
            if (pace > 0) {
                const auto due = start + std::chrono::microseconds(qint64(100'000 * sent / pace));
                spinUntil([&] { return Clock::now() >= due; }, std::chrono::seconds(5));
            }
            try {
                writer.audio(frame);
                ++sent;
                mostPending = std::max(mostPending, writer.pendingBytes());
            } catch (const TranslationFailure &) { // queueFull: let the network catch up
                ++refused;
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            }
            if (pace <= 0 && sent % 8 == 0)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        spinUntil([&] { return writer.pendingBytes() == 0; }, std::chrono::seconds(30));
        const std::chrono::duration<double> elapsed = Clock::now() - start;
        state.SetIterationTime(elapsed.count());
        state.counters["x_real_time"] = seconds / elapsed.count();
        state.counters["queue_full_refusals"] = refused;
        state.counters["most_pending_bytes"] = double(mostPending);
        state.counters["audio_bytes"] = double(qint64(frames) * frame.size());
        if (sendFailed || writer.pendingBytes() != 0)
            fail(QStringLiteral("the upload did not complete"));
        awaitTask(writer.discard());
        spinUntil([&] { return ended; }, std::chrono::seconds(5));
    }
}

void BM_AudioUploadUnpaced(benchmark::State &state)
{
    uploadAudio(state, 120, 0);
}
BENCHMARK(BM_AudioUploadUnpaced)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_AudioUploadAt20xRealTime(benchmark::State &state)
{
    uploadAudio(state, 60, 20);
}
BENCHMARK(BM_AudioUploadAt20xRealTime)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    return Bench::runBenchmarks(argc, argv, { .service = true, .finish = [] { account.reset(); } });
}
