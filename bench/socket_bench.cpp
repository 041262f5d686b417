// The live socket over TLS on loopback, against a local service this program starts itself:
// client.ping -> server.pong round trips, and audio upload through the ordered writer.
//
// The local service executable and the certificates are looked up beside this program in its
// build folder (../LocalService/quorvel-local-service, ../certs); QUORVEL_LOCAL_SERVICE and
// QUORVEL_TEST_CERTS override them. Missing certificates are generated with scripts/gen-certs.
#include "TranslateCore/Contract/ProductionEndpoint.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/Socket/LiveSocket.h"
#include "TranslateCore/Socket/OrderedSocketWriter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

using namespace TranslateCore;
using Clock = std::chrono::steady_clock;

namespace {

constexpr qint64 bytesPerSecond = 32'000; // 16 kHz mono 16-bit upload audio

[[noreturn]] void fail(const QString &why)
{
    std::fprintf(stderr, "socket_bench: %s\n", qPrintable(why));
    std::exit(2);
}

QString located(const char *variable, const QString &besideProgram)
{
    const QString configured = qEnvironmentVariable(variable);
    return configured.isEmpty()
        ? QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(besideProgram)
        : configured;
}

// Runs the event loop until `done` holds; false if `limit` passed first.
bool spinUntil(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    const QDeadlineTimer deadline(limit);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

template <typename T> T awaitTask(QCoro::Task<T> task)
{
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
    [](QCoro::Task<T> inner, std::optional<T> *out, std::exception_ptr *err,
        bool *flag) -> QCoro::Task<> {
        try {
            out->emplace(co_await inner);
        } catch (...) {
            *err = std::current_exception();
        }
        *flag = true;
    }(std::move(task), &value, &error, &done);
    if (!spinUntil([&] { return done; }, std::chrono::seconds(30)))
        fail(QStringLiteral("a socket operation did not finish"));
    if (error)
        std::rethrow_exception(error);
    return std::move(*value);
}

QCoro::Task<bool> completed(QCoro::Task<> task)
{
    co_await task;
    co_return true;
}

// The local service with one signed-in account, reached over plain HTTP calls.
class LocalService {
public:
    LocalService()
    {
        const QString program = located(
            "QUORVEL_LOCAL_SERVICE", QStringLiteral("../LocalService/quorvel-local-service"));
        QString certs = located("QUORVEL_TEST_CERTS", QStringLiteral("../certs"));
        if (!QFileInfo::exists(certs + QStringLiteral("/server.pem"))) {
            const QString script = QFileInfo(QString::fromUtf8(__FILE__))
                                       .absoluteDir()
                                       .filePath(QStringLiteral("../scripts/gen-certs"));
            if (QProcess::execute(script, { m_scratch.path() }) != 0)
                fail(QStringLiteral("no certificates in %1 and %2 failed").arg(certs, script));
            certs = m_scratch.path();
        }
        m_process.setProgram(program);
        m_process.setArguments({ QStringLiteral("--port"), QStringLiteral("0"),
            QStringLiteral("--cert"), certs + QStringLiteral("/server.pem"),
            QStringLiteral("--key"), certs + QStringLiteral("/server.key") });
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            fail(QStringLiteral("cannot start %1").arg(program));
        QByteArray line;
        while (!line.startsWith("listening on ")) {
            if (!m_process.canReadLine() && !m_process.waitForReadyRead(10000))
                fail(QStringLiteral("%1 never said where it listens").arg(program));
            if (m_process.canReadLine())
                line = m_process.readLine().trimmed();
        }
        m_origin = QString::fromUtf8(line.mid(int(qstrlen("listening on "))));
        // The socket takes its trust from these, as the application does.
        qputenv("QUORVEL_SERVICE_ORIGIN", m_origin.toUtf8());
        qputenv("QUORVEL_SERVICE_CA", (certs + QStringLiteral("/test-ca.pem")).toUtf8());
        m_tls = QSslConfiguration::defaultConfiguration();
        m_tls.addCaCertificates(certs + QStringLiteral("/test-ca.pem"));
        m_network.setProxy(QNetworkProxy::NoProxy);
        signIn();
    }
    ~LocalService()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }

    // The socket address of a new session.
    QUrl newSessionSocket()
    {
        const QJsonArray routes
            = call("GET", QStringLiteral("/api/v1/translation/routes?catalogVersion=2")).toArray();
        const QJsonObject audio { { "encoding", "PCM_S16LE" }, { "sampleRate", 16000 },
            { "channels", 1 } };
        const QJsonObject body { { "routeCode", routes.first()[QStringLiteral("routeCode")] },
            { "outputMode", "TEXT_ONLY" }, { "historyEnabled", false }, { "clientType", "H5" },
            { "clientVersion", "macOS-1.0.0" }, { "audio", audio } };
        const QJsonObject created
            = call("POST", QStringLiteral("/api/v1/translation/sessions"), body).toObject();
        const qint64 id = created.value(QStringLiteral("sessionId")).toInteger();
        return ProductionEndpoint::socketURL(*ProductionEndpoint::baseForOrigin(m_origin),
            created.value(QStringLiteral("wsUrl")).toString(),
            created.value(QStringLiteral("wsTicket")).toString(), id);
    }

    QJsonValue call(const QByteArray &method, const QString &path, const QJsonObject &body = {})
    {
        QNetworkRequest request(QUrl(m_origin + path));
        request.setSslConfiguration(m_tls);
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
        const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
        return path.startsWith(QStringLiteral("/api/")) ? answer.value(QStringLiteral("data"))
                                                        : QJsonValue(answer);
    }

private:
    void signIn()
    {
        const QString phone = QStringLiteral("13800000002");
        call("POST", QStringLiteral("/api/v1/auth/send-code"),
            { { "purpose", "LOGIN" }, { "countryCode", "+86" }, { "phoneNumber", phone } });
        call("POST", QStringLiteral("/control/balance"),
            { { "phone", phone }, { "points", 100000 } });
        const QString code = call("GET", QStringLiteral("/control/sms-code?phone=") + phone)
                                 .toObject()
                                 .value(QStringLiteral("code"))
                                 .toString();
        m_token = call("POST", QStringLiteral("/api/v1/auth/login/phone-code"),
            { { "countryCode", "+86" }, { "phoneNumber", phone }, { "code", code } })
                      .toObject()
                      .value(QStringLiteral("token"))
                      .toString();
        if (m_token.isEmpty())
            fail(QStringLiteral("sign-in failed"));
    }

    QTemporaryDir m_scratch;
    QProcess m_process;
    QNetworkAccessManager m_network;
    QSslConfiguration m_tls;
    QString m_origin;
    QString m_token;
};

LocalService *runningService = nullptr; // lives in main(), inside the application's lifetime

LocalService &service()
{
    return *runningService;
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
    std::sort(samples.begin(), samples.end());
    state.counters["median_ms"] = samples[samples.size() / 2];
    state.counters["p90_ms"] = samples[samples.size() * 9 / 10];
    if (sendFailed)
        fail(QStringLiteral("a send failed"));
    awaitTask(completed(writer.discard()));
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
        awaitTask(completed(writer.discard()));
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
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    LocalService local;
    runningService = &local;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
