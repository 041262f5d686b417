// Latency of one authenticated HTTPS request through the service client (the wallet read) on a
// kept-alive loopback TLS connection to a local service that this program starts itself (the
// build's quorvel-local-service with the build's test certificates).
#include "BenchSupport.h"
#include "TranslateCore/API/TranslationAPI.h"
#include "support/LocalServiceProcess.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonObject>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

using namespace TranslateCore;

namespace {

using Bench::awaitTask;
using Bench::fail;

void BM_WalletRequestKeptAlive(benchmark::State &state)
{
    LocalServiceProcess &service = Bench::service();
    // A number per run: the service allows one code a minute per number.
    static int run = 0;
    const QString phone = QStringLiteral("1380000%1").arg(1000 + run++);
    service.control("POST", QStringLiteral("/control/balance"),
        QJsonObject { { "phone", phone }, { "points", 5000 } });

    TranslationAPI api;
    awaitTask(api.sendCode(QStringLiteral("+86"), phone));
    const QJsonObject code
        = service.control("GET", QStringLiteral("/control/sms-code?phone=") + phone).toObject();
    awaitTask(api.login(QStringLiteral("+86"), phone, code.value("code").toString()));
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
    Bench::reportLatency(state, std::move(samples));
}
BENCHMARK(BM_WalletRequestKeptAlive)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(2000);

} // namespace

int main(int argc, char **argv)
{
    return Bench::runBenchmarks(argc, argv, { .service = true });
}
