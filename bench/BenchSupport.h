#pragma once
// What the benchmark programs share: failing loudly, driving a coroutine on the event loop without
// adding polling delay to what is measured, and reporting latency percentiles.
#include <QCoreApplication>
#include <QCoroTask>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QString>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <optional>
#include <type_traits>
#include <variant>
#include <vector>

namespace Bench {

[[noreturn]] inline void fail(const QString &why)
{
    std::fprintf(
        stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()), qPrintable(why));
    std::exit(2);
}

// The whole main of a benchmark program that needs nothing but a Qt application object.
inline int runBenchmarks(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Runs the event loop until `done` holds; false if `limit` passed first.
inline bool spinUntil(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    const QDeadlineTimer deadline(limit);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// Like spinUntil, but sleeping while nothing happens (looking at `done` at least every 20 ms), so
// that waiting costs no CPU time: for measuring the CPU time of what runs meanwhile.
inline bool sleepUntil(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    const QDeadlineTimer deadline(limit);
    QTimer tick;
    tick.start(20);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Runs the event loop until `task` ends and returns its value or rethrows its failure; a task
// that does not end within `limit` stops the program.
template <typename T>
T awaitTask(QCoro::Task<T> task, std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    using Stored = std::conditional_t<std::is_void_v<T>, std::monostate, T>;
    std::optional<Stored> value;
    std::exception_ptr error;
    [](QCoro::Task<T> inner, std::optional<Stored> *out, std::exception_ptr *err) -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await inner;
                out->emplace();
            } else {
                out->emplace(co_await inner);
            }
        } catch (...) {
            *err = std::current_exception();
        }
    }(std::move(task), &value, &error);
    if (!spinUntil([&] { return value.has_value() || error; }, limit))
        fail(QStringLiteral("an operation did not finish in time"));
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*value);
}

// Reports the median and 90th percentile of `samplesMs` as counters.
inline void reportLatency(benchmark::State &state, std::vector<double> samplesMs)
{
    if (samplesMs.empty())
        return;
    std::sort(samplesMs.begin(), samplesMs.end());
    state.counters["median_ms"] = samplesMs[samplesMs.size() / 2];
    state.counters["p90_ms"] = samplesMs[samplesMs.size() * 9 / 10];
}

} // namespace Bench
