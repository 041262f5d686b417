// Latency of one authenticated HTTPS request through the service client (the wallet read) on a
// kept-alive loopback TLS connection to a local service that this program starts itself (the
// build's quorvel-local-service with the build's test certificates).
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

[[noreturn]] void fail(const QString &why)
{
    std::fprintf(stderr, "https_request_bench: %s\n", qPrintable(why));
    std::exit(2);
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

// Started once in main(): the client's service origin is fixed for the whole process.
LocalServiceProcess *localService = nullptr;

void BM_WalletRequestKeptAlive(benchmark::State &state)
{
    LocalServiceProcess &service = *localService;
    // A number per run: the service allows one code a minute per number.
    static int run = 0;
    const QString phone = QStringLiteral("1380000%1").arg(1000 + run++);
    service.control("POST", QStringLiteral("/control/balance"),
        QJsonObject { { "phone", phone }, { "points", 5000 } });

    TranslationAPI api;
    awaitTask(asBool(api.sendCode(QStringLiteral("+86"), phone)));
    const QJsonObject code
        = service.control("GET", QStringLiteral("/control/sms-code?phone=") + phone).toObject();
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
    LocalServiceProcess service;
    if (!service.isRunning())
        fail(service.failure());
    service.setFailureHandler(fail);
    service.exportEndpoint();
    localService = &service;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
