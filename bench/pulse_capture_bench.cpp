// Capturing what the sink plays through the PulseAudio protocol backend: CPU spent per second of
// captured audio, and the latency from a click written to the sink to the packet carrying it.
// Needs the private sound server: eval "$(scripts/start-audio)" first.
#include "TranslateMac/Capture/CaptureAccess.h"
#include "TranslateMac/Capture/PulseAudio/SystemAudioCapture.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <numbers>
#include <thread>
#include <vector>

using namespace TranslateMac;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int playbackRate = 48000;
constexpr int clickFrames = playbackRate / 50; // 20 ms

template <typename T>
QCoro::Task<> settle(
    QCoro::Task<T> task, std::optional<T> *result, std::exception_ptr *error, bool *done)
{
    try {
        result->emplace(co_await task);
    } catch (...) {
        *error = std::current_exception();
    }
    *done = true;
}

// Drives `task` on the event loop until it finishes.
template <typename T> T run(QCoro::Task<T> task)
{
    std::optional<T> result;
    std::exception_ptr error;
    bool done = false;
    QCoro::Task<> settling = settle(std::move(task), &result, &error, &done);
    QEventLoop loop;
    while (!done)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    if (error)
        std::rethrow_exception(error);
    return std::move(*result);
}

QCoro::Task<int> asValue(QCoro::Task<> task)
{
    co_await task;
    co_return 0;
}

void run(QCoro::Task<> task)
{
    run(asValue(std::move(task)));
}

QCoro::Task<std::optional<CapturedPacket>> receive(PacketStream *stream)
{
    co_return co_await stream->next();
}

std::optional<CapturedPacket> next(PacketStream &stream)
{
    return run(receive(&stream));
}

double processCPUMilliseconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// A low-latency playback stream to the default sink that plays silence, or a click on request.
class ClickPlayer {
public:
    ClickPlayer()
    {
        m_loop = pa_threaded_mainloop_new();
        m_context
            = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "pulse_capture_bench clicks");
        pa_threaded_mainloop_start(m_loop);
        pa_threaded_mainloop_lock(m_loop);
        pa_context_set_state_callback(
            m_context,
            [](pa_context *, void *loop) {
                pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(loop), 0);
            },
            m_loop);
        pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
        while (pa_context_get_state(m_context) != PA_CONTEXT_READY
            && PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)))
            pa_threaded_mainloop_wait(m_loop);
        const pa_sample_spec sampleSpec { PA_SAMPLE_FLOAT32LE, playbackRate, 2 };
        m_stream = pa_stream_new(m_context, "clicks", &sampleSpec, nullptr);
        pa_stream_set_write_callback(m_stream, writable, this);
        pa_buffer_attr attributes;
        std::fill_n(reinterpret_cast<char *>(&attributes), sizeof attributes, char(0xff));
        attributes.tlength = std::uint32_t(pa_usec_to_bytes(10'000, &sampleSpec));
        pa_stream_connect_playback(
            m_stream, nullptr, &attributes, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr);
        pa_threaded_mainloop_unlock(m_loop);
    }
    ~ClickPlayer()
    {
        pa_threaded_mainloop_lock(m_loop);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        pa_threaded_mainloop_unlock(m_loop);
        pa_threaded_mainloop_stop(m_loop);
        pa_threaded_mainloop_free(m_loop);
    }
    // The time the click was handed to the server.
    Clock::time_point click()
    {
        m_clickRequested = true;
        while (m_clickRequested)
            std::this_thread::yield();
        return m_clickWritten;
    }

private:
    static void writable(pa_stream *stream, std::size_t bytes, void *data)
    {
        auto *self = static_cast<ClickPlayer *>(data);
        std::vector<float> samples(bytes / sizeof(float), 0.0f);
        if (self->m_clickRequested) {
            for (std::size_t i = 0; i < std::min<std::size_t>(clickFrames, samples.size() / 2); ++i)
                samples[2 * i] = samples[2 * i + 1]
                    = float(0.8 * std::sin(2 * std::numbers::pi * 1000 * double(i) / playbackRate));
        }
        pa_stream_write(
            stream, samples.data(), samples.size() * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE);
        if (self->m_clickRequested) {
            self->m_clickWritten = Clock::now();
            self->m_clickRequested = false;
        }
    }

    pa_threaded_mainloop *m_loop;
    pa_context *m_context;
    pa_stream *m_stream;
    std::atomic<bool> m_clickRequested { false };
    Clock::time_point m_clickWritten;
};

void WholeSystemCaptureCPU(benchmark::State &state)
{
    SystemAudioCapture capture;
    run(capture.prepare(AudioSource::wholeSystem()));
    PacketStream stream = run(capture.start());
    next(stream); // start-up is not measured
    std::size_t packets = 0;
    const double cpuBefore = processCPUMilliseconds();
    for (auto _ : state) {
        for (int i = 0; i < 10; ++i) // one second of audio
            packets += next(stream) ? 1 : 0;
    }
    const double cpu = processCPUMilliseconds() - cpuBefore;
    run(capture.stop(false));
    state.counters["cpu_ms_per_audio_s"] = cpu / (double(packets) / 10);
}

void ClickToPacketLatency(benchmark::State &state)
{
    ClickPlayer player;
    SystemAudioCapture capture;
    run(capture.prepare(AudioSource::wholeSystem()));
    PacketStream stream = run(capture.start());
    std::vector<double> latencies;
    int phase = 0;
    for (auto _ : state) {
        // Let the capture run into silence, then click at a varying point of the frame.
        while (auto packet = next(stream)) {
            if (packet->level() < 0.01f)
                break;
        }
        QEventLoop wait;
        QTimer::singleShot(std::chrono::milliseconds(7 * (phase++ % 14)), &wait, &QEventLoop::quit);
        wait.exec();
        const Clock::time_point clicked = player.click();
        while (auto packet = next(stream)) {
            if (packet->level() > 0.1f) {
                latencies.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - clicked).count());
                break;
            }
        }
    }
    run(capture.stop(false));
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty()) {
        state.counters["median_latency_ms"] = latencies[latencies.size() / 2];
        state.counters["max_latency_ms"] = latencies.back();
    }
}

BENCHMARK(WholeSystemCaptureCPU)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ClickToPacketLatency)->Iterations(30)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER") || !CaptureAccess::soundServerReachable()) {
        std::puts("pulse_capture_bench: skipped, no sound server (run eval "
                  "\"$(scripts/start-audio)\" first)");
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
