// Latency of one authenticated HTTPS request through the service client (the wallet read) on a
// kept-alive loopback TLS connection to a local service that this program starts itself.
//
// The local service executable and the certificates are looked up beside this program in its
// build folder (../LocalService/quorvel-local-service, ../certs); QUORVEL_LOCAL_SERVICE and
// QUORVEL_TEST_CERTS override them. Missing certificates are generated with scripts/gen-certs.
#include "TranslateCore/API/TranslationAPI.h"
#include "TranslateCore/Async/ReplyAwaiter.h"
#include "TranslateCore/Contract/ProductionEndpoint.h"
#include "TranslateCore/Contract/ServiceTLS.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

using namespace TranslateCore;

namespace {

[[noreturn]] void fail(const QString &why)
{
    std::fprintf(stderr, "https_request_bench: %s\n", qPrintable(why));
    std::exit(2);
}

QString located(const char *variable, const QString &besideProgram)
{
    const QString configured = qEnvironmentVariable(variable);
    return configured.isEmpty()
        ? QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(besideProgram)
        : configured;
}

// The certificate folder: the build's, or a fresh one made by the project's script.
QString certificates(QTemporaryDir &scratch)
{
    const QString dir = located("QUORVEL_TEST_CERTS", QStringLiteral("../certs"));
    if (QFileInfo::exists(dir + QStringLiteral("/server.pem")))
        return dir;
    const QString script
        = QFileInfo(QString::fromUtf8(__FILE__)).absoluteDir().filePath("../scripts/gen-certs");
    if (QProcess::execute(script, { scratch.path() }) != 0)
        fail(QStringLiteral("no certificates in %1 and %2 failed").arg(dir, script));
    return scratch.path();
}

// Runs the event loop until `task` ends; returns its value or rethrows its failure.
template <typename T> T awaitTask(QCoro::Task<T> task)
{
    struct Outcome {
        std::optional<T> value;
        std::exception_ptr error;
        bool done = false;
        QEventLoop loop;
    };
    Outcome outcome;
    auto drive = [](QCoro::Task<T> inner, Outcome *out) -> QCoro::Task<> {
        try {
            out->value.emplace(co_await inner);
        } catch (...) {
            out->error = std::current_exception();
        }
        out->done = true;
        out->loop.quit();
    };
    drive(std::move(task), &outcome);
    if (!outcome.done)
        outcome.loop.exec();
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    return std::move(*outcome.value);
}

QCoro::Task<bool> asBool(QCoro::Task<> task)
{
    co_await task;
    co_return true;
}

// A control request of the local service (plain JSON, not the service envelope).
QCoro::Task<QJsonObject> control(QNetworkAccessManager *network, QString path, QByteArray body)
{
    QNetworkRequest request(ProductionEndpoint::base().resolved(QUrl(path)));
    request.setSslConfiguration(serviceTLSConfiguration());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    QNetworkReply *reply = body.isNull() ? network->get(request) : network->post(request, body);
    co_await awaitReply(reply);
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError)
        fail(QStringLiteral("control %1: %2").arg(path, reply->errorString()));
    co_return QJsonDocument::fromJson(reply->readAll()).object();
}

class LocalService {
public:
    LocalService()
    {
        const QString program = located(
            "QUORVEL_LOCAL_SERVICE", QStringLiteral("../LocalService/quorvel-local-service"));
        const QString certs = certificates(m_scratch);
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
        qputenv("QUORVEL_SERVICE_ORIGIN", line.mid(int(qstrlen("listening on "))));
        qputenv("QUORVEL_SERVICE_CA", (certs + QStringLiteral("/test-ca.pem")).toUtf8());
    }
    ~LocalService()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }

private:
    QTemporaryDir m_scratch;
    QProcess m_process;
};

void BM_WalletRequestKeptAlive(benchmark::State &state)
{
    LocalService service;
    QNetworkAccessManager controlNetwork;
    controlNetwork.setProxy(QNetworkProxy::NoProxy);
    const QString phone = QStringLiteral("13800000001");
    awaitTask(control(&controlNetwork, QStringLiteral("/control/balance"),
        QJsonDocument(QJsonObject { { "phone", phone }, { "points", 5000 } }).toJson()));

    TranslationAPI api;
    awaitTask(asBool(api.sendCode(QStringLiteral("+86"), phone)));
    const QJsonObject code = awaitTask(
        control(&controlNetwork, QStringLiteral("/control/sms-code?phone=") + phone, QByteArray()));
    awaitTask(asBool(api.login(QStringLiteral("+86"), phone, code.value("code").toString())));
    for (int i = 0; i < 20; ++i) // TLS handshake and connection set-up happen here, not below
        awaitTask(api.wallet());

    std::vector<double> samples;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const qint64 points = awaitTask(api.wallet());
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        benchmark::DoNotOptimize(points);
        state.SetIterationTime(elapsed.count());
        samples.push_back(elapsed.count() * 1000.0);
    }
    std::sort(samples.begin(), samples.end());
    state.counters["median_ms"] = samples.empty() ? 0.0 : samples[samples.size() / 2];
    state.counters["p90_ms"] = samples.empty() ? 0.0 : samples[samples.size() * 9 / 10];
}
BENCHMARK(BM_WalletRequestKeptAlive)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(2000);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
