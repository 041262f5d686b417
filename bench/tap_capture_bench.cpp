// The process-tap capture against the private PipeWire stack (scripts/start-audio pipewire):
// CPU time this process spends per second of captured 48 kHz stereo audio, and the time from a
// click written into a player to the packet that carries it. Skips without the stack.
#include "TranslateMac/Capture/PipeWire/TapAudioCapture.h"

#include "TranslateCore/Async/Clock.h"

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

constexpr int rate = 48000;
constexpr int channels = 2;

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

// A player fed by this process in real time, so the moment a click enters it is known.
class PacedPlayer {
public:
    PacedPlayer()
    {
        m_process.start(QStringLiteral("pacat"),
            { QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
                QStringLiteral("--rate=48000"), QStringLiteral("--channels=2"),
                QStringLiteral("--latency-msec=10"),
                QStringLiteral("--property=application.name=Quorvel click") });
        m_process.waitForStarted(3000);
        m_clock.start();
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { feed(); });
        m_timer.start(5);
    }
    ~PacedPlayer()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    void setTone(bool on) { m_tone = on; }
    // The click starts with the next write.
    void click() { m_clickFrames = rate / 20; }
    // When the click was written, in nanoseconds on `clock`.
    std::optional<qint64> clickWrittenAt(const QElapsedTimer &clock)
    {
        if (!m_clickWritten)
            return std::nullopt;
        return *m_clickWritten - m_clock.nsecsElapsed() + clock.nsecsElapsed();
    }
    void rearm() { m_clickWritten.reset(); }

private:
    void feed()
    {
        // Keep 20 ms ahead of real time: the player never starves and never queues more.
        const qint64 target = (m_clock.nsecsElapsed() / 1000 + 20000) * rate / 1000000;
        std::vector<qint16> samples;
        for (; m_written < target; ++m_written) {
            double v = 0;
            if (m_tone)
                v = 0.3 * std::sin(2 * std::numbers::pi * 1000 * double(m_written) / rate);
            if (m_clickFrames > 0) {
                if (!m_clickWritten)
                    m_clickWritten = m_clock.nsecsElapsed();
                v = 0.5 * std::sin(2 * std::numbers::pi * 1000 * double(m_written) / rate);
                --m_clickFrames;
            }
            for (int c = 0; c < channels; ++c)
                samples.push_back(qint16(v * 32767));
        }
        if (!samples.empty())
            m_process.write(
                reinterpret_cast<const char *>(samples.data()), qint64(samples.size() * 2));
    }

    QProcess m_process;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_written = 0;
    bool m_tone = true;
    int m_clickFrames = 0;
    std::optional<qint64> m_clickWritten;
};

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
    // An external player, so that only the capture's work is counted here.
    QProcess tone, player;
    tone.setStandardOutputProcess(&player);
    player.start(QStringLiteral("pacat"),
        { QStringLiteral("--raw"), QStringLiteral("--format=float32le"),
            QStringLiteral("--rate=48000"), QStringLiteral("--channels=2"),
            QStringLiteral("--latency-msec=20") });
    tone.start(QStringLiteral("sox"),
        QStringLiteral("-q -n -t raw -r 48000 -e floating-point -b 32 -c 2 - "
                       "synth 3600 sine 1000 vol 0.5")
            .split(QLatin1Char(' ')));
    player.waitForStarted(3000);
    tone.waitForStarted(3000);
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
    for (QProcess *process : { &tone, &player }) {
        process->kill();
        process->waitForFinished(3000);
    }
    state.counters["cpu_ms_per_audio_s"] = audioSeconds > 0 ? cpuMs / audioSeconds : 0;
    state.counters["audio_s"] = audioSeconds;
}

void BM_TapClickToPacket(benchmark::State &state)
{
    if (!stackAvailable(state))
        return;
    PacedPlayer player;
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
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
