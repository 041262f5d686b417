#pragma once
// What the benchmark programs share: their main (application object, local service), failing
// loudly, driving a coroutine on the event loop without adding polling delay to what is measured,
// timing paints, and reporting latency percentiles.
#include "support/LocalServiceProcess.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCoroTask>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEvent>
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
#include <memory>
#include <optional>
#include <string>
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

// What a benchmark program needs around its benchmarks.
struct Program {
    // A widget application on the offscreen platform rather than a core application.
    bool widgets = false;
    // One local service for the whole program (the client reads its address once per process),
    // reached through service().
    bool service = false;
    // Runs before the application object is made.
    std::function<void()> prepare = nullptr;
    // Runs after the benchmarks, before the service and the application object go: ends what
    // the benchmarks kept for the whole program.
    std::function<void()> finish = nullptr;
};

inline LocalServiceProcess *runningService = nullptr;

// The program's local service.
inline LocalServiceProcess &service()
{
    if (!runningService)
        fail(QStringLiteral("the program runs no local service"));
    return *runningService;
}

// The whole main of a benchmark program.
inline int runBenchmarks(int argc, char **argv, const Program &program = {})
{
    if (program.widgets)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (program.prepare)
        program.prepare();
    const std::unique_ptr<QCoreApplication> app = program.widgets
        ? std::make_unique<QApplication>(argc, argv)
        : std::make_unique<QCoreApplication>(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::optional<LocalServiceProcess> service;
    if (program.service) {
        service.emplace();
        if (!service->isRunning())
            fail(service->failure());
        service->setFailureHandler(fail);
        service->exportEndpoint();
        runningService = &*service;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (program.finish)
        program.finish();
    runningService = nullptr;
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

// Reports the median and 90th percentile of `samplesMs` as counters, named after `prefix`
// ("model_" gives model_median_ms and model_p90_ms).
inline void reportLatency(
    benchmark::State &state, std::vector<double> samplesMs, const std::string &prefix = {})
{
    if (samplesMs.empty())
        return;
    std::sort(samplesMs.begin(), samplesMs.end());
    state.counters[prefix + "median_ms"] = samplesMs[samplesMs.size() / 2];
    state.counters[prefix + "p90_ms"] = samplesMs[samplesMs.size() * 9 / 10];
}

// Installed on a window: paints the window's pending update itself, noting when each paint ended
// and how long it took, on `clock`.
class PaintClock : public QObject {
public:
    explicit PaintClock(const QElapsedTimer &clock) : m_clock(clock) { }
    qint64 lastPaintEnd = -1; // nanoseconds on the clock
    std::vector<double> paintMs;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::UpdateRequest || m_inside)
            return false;
        m_inside = true;
        const qint64 begin = m_clock.nsecsElapsed();
        watched->event(event); // QObject::event is public; the widget paints here
        lastPaintEnd = m_clock.nsecsElapsed();
        paintMs.push_back(double(lastPaintEnd - begin) / 1e6);
        m_inside = false;
        return true;
    }

private:
    const QElapsedTimer &m_clock;
    bool m_inside = false;
};

} // namespace Bench
