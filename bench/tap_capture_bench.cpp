// The process-tap capture against the private PipeWire stack (scripts/start-audio pipewire):
// CPU time this process spends per second of captured 48 kHz stereo audio, and the time from a
// click written into a player to the packet that carries it. Skips without the stack.
#include "BenchSupport.h"

#include "TranslateMac/Capture/PipeWire/TapAudioCapture.h"

#include "TranslateCore/Async/Clock.h"

#include "PacedPlayer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <memory>
#include <numbers>
#include <vector>

using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

void spin(const std::function<bool()> &until, std::chrono::milliseconds timeout);

double processCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Drives a coroutine on the event loop; false on time-out or failure.
template <typename T>
bool run(QCoro::Task<T> task, std::optional<T> *result, std::chrono::milliseconds timeout)
{
    bool done = false, ok = false;
    auto wrapper
        = [](QCoro::Task<T> inner, std::optional<T> *out, bool *done, bool *ok) -> QCoro::Task<> {
        try {
            out->emplace(co_await std::move(inner));
            *ok = true;
        } catch (...) {
        }
        *done = true;
    }(std::move(task), result, &done, &ok);
    spin([&] { return done; }, timeout);
    return done && ok;
}

bool runVoid(QCoro::Task<> task, std::chrono::milliseconds timeout)
{
    std::optional<int> unused;
    return run<int>(
        [](QCoro::Task<> t) -> QCoro::Task<int> {
            co_await std::move(t);
            co_return 0;
        }(std::move(task)),
        &unused, timeout);
}

struct Arrival {
    qint64 atNs;
    float level;
};

// Reads packets as they arrive, noting when each came and how loud it was.
QCoro::Task<> collect(PacketStream &packets, std::vector<Arrival> *arrivals, QElapsedTimer *clock)
{
    try {
        while (auto packet = co_await packets.next())
            arrivals->push_back({ clock->nsecsElapsed(), packet->level() });
    } catch (...) {
    }
}

// A started capture's packets, read as they arrive. The reader points into it: it stays put.
struct Listening {
    explicit Listening(PacketStream stream) : packets(std::move(stream)) { }
    PacketStream packets;
    std::vector<Arrival> arrivals;
    QElapsedTimer clock;
    QCoro::Task<> reader;
};

// Starts `capture` and reads what it delivers; null (the benchmark skipped) if it did not start.
std::unique_ptr<Listening> startListening(benchmark::State &state, TapAudioCapture &capture)
{
    std::optional<PacketStream> packets;
    if (!run(capture.start(), &packets, 5s)) {
        state.SkipWithError("start failed");
        return nullptr;
    }
    auto listening = std::make_unique<Listening>(std::move(*packets));
    listening->clock.start();
    listening->reader = collect(listening->packets, &listening->arrivals, &listening->clock);
    return listening;
}

// Runs the event loop (sleeping while nothing happens) until `until` holds or `timeout` passes.
void spin(const std::function<bool()> &until, std::chrono::milliseconds timeout)
{
    QElapsedTimer clock;
    clock.start();
    QTimer tick; // wakes the wait to look at the clock
    tick.start(20);
    while (!until() && clock.elapsed() < timeout.count())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

bool stackAvailable(benchmark::State &state)
{
    if (!TapAudioCapture::isAvailable()) {
        state.SkipWithError(
            "no PipeWire daemon: run eval \"$(scripts/start-audio pipewire)\" first");
        return false;
    }
    return true;
}

void BM_TapCaptureCpu(benchmark::State &state)
{
    if (!stackAvailable(state))
        return;
    const Bench::ExternalTone tone; // only the capture's work is counted here
    TapAudioCapture capture(TranslateCore::SystemClock::shared());
    double cpuMs = 0, audioSeconds = 0;
    for (auto _ : state) {
        if (!runVoid(capture.prepare(AudioSource::wholeSystem()), 35s)) {
            state.SkipWithError("prepare failed");
            break;
        }
        const std::unique_ptr<Listening> listening = startListening(state, capture);
        if (!listening)
            break;
        std::vector<Arrival> &arrivals = listening->arrivals;
        spin([&] { return arrivals.size() >= 10; }, 5s); // settle
        const double cpuBefore = processCpuSeconds();
        const std::size_t from = arrivals.size();
        spin([&] { return arrivals.size() >= from + 100; }, 20s); // 10 s of audio
        cpuMs += (processCpuSeconds() - cpuBefore) * 1000;
        audioSeconds += double(arrivals.size() - from) / 10;
        runVoid(capture.stop(false), 5s);
        spin([&] { return listening->reader.isReady(); }, 2s);
    }
    state.counters["cpu_ms_per_audio_s"] = audioSeconds > 0 ? cpuMs / audioSeconds : 0;
    state.counters["audio_s"] = audioSeconds;
}

void BM_TapClickToPacket(benchmark::State &state)
{
    if (!stackAvailable(state))
        return;
    Bench::PacedPlayer player;
    TapAudioCapture capture(TranslateCore::SystemClock::shared());
    std::vector<double> latencies;
    for (auto _ : state) {
        player.setTone(true); // the probe inside prepare needs sound
        if (!runVoid(capture.prepare(AudioSource::wholeSystem()), 35s)) {
            state.SkipWithError("prepare failed");
            break;
        }
        player.setTone(false);
        const std::unique_ptr<Listening> listening = startListening(state, capture);
        if (!listening)
            break;
        std::vector<Arrival> &arrivals = listening->arrivals;
        for (int trial = 0; trial < 20; ++trial) {
            // Silence first (the tone's tail drains), at a varying phase against the 100 ms frames.
            const std::size_t quietFrom = arrivals.size();
            spin(
                [&] {
                    return arrivals.size() >= quietFrom + 3
                        && std::all_of(arrivals.end() - 2, arrivals.end(),
                            [](const Arrival &a) { return a.level < 0.01f; });
                },
                5s);
            spin([] { return false; }, std::chrono::milliseconds(7 + trial * 13 % 100));
            player.rearm();
            const std::size_t from = arrivals.size();
            player.click();
            spin(
                [&] {
                    return std::any_of(arrivals.begin() + qsizetype(from), arrivals.end(),
                        [](const Arrival &a) { return a.level > 0.05f; });
                },
                3s);
            const auto written = player.clickWrittenAt(listening->clock);
            const auto heard = std::find_if(arrivals.begin() + qsizetype(from), arrivals.end(),
                [](const Arrival &a) { return a.level > 0.05f; });
            if (written && heard != arrivals.end())
                latencies.push_back(double(heard->atNs - *written) / 1e6);
        }
        runVoid(capture.stop(false), 5s);
        spin([&] { return listening->reader.isReady(); }, 2s);
    }
    if (!latencies.empty()) {
        std::sort(latencies.begin(), latencies.end());
        state.counters["median_ms"] = latencies[latencies.size() / 2];
        state.counters["max_ms"] = latencies.back();
        state.counters["clicks"] = double(latencies.size());
    }
}

} // namespace

BENCHMARK(BM_TapCaptureCpu)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TapClickToPacket)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    return Bench::runBenchmarks(argc, argv);
}
