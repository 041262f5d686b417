// Converting captured system audio (48 kHz stereo float, 10 ms buffers) into upload frames,
// beside a bare libswresample loop doing the same resampling and downmix.
#include "TranslateCore/AudioConverter/AudioPCMConverter.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace {

constexpr int inputRate = 48000;
constexpr int channels = 2;
constexpr int framesPerBuffer = 480; // 10 ms
constexpr int buffers = 100; // one second of distinct audio, replayed

std::vector<float> sine()
{
    std::vector<float> samples(std::size_t(framesPerBuffer * buffers * channels));
    for (std::size_t i = 0; i < samples.size() / channels; ++i) {
        const float v = float(0.5 * std::sin(2 * std::numbers::pi * 1000 * double(i) / inputRate));
        samples[i * channels] = v;
        samples[i * channels + 1] = v;
    }
    return samples;
}

void reportRealtime(benchmark::State &state)
{
    const double audioSeconds = double(state.iterations()) * framesPerBuffer / inputRate;
    // A rate counter divides by CPU time: seconds of audio per second of CPU.
    state.counters["x_realtime"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
}

void BM_AudioPCMConverter(benchmark::State &state)
{
    using namespace TranslateCore;
    const std::vector<float> input = sine();
    const AudioFormat format { inputRate, channels, SampleType::float32, true };
    AudioPCMConverter converter;
    int index = 0;
    qsizetype bytes = 0;
    for (auto _ : state) {
        const PCMBuffer buffer(format, framesPerBuffer,
            input.data() + std::size_t(index * framesPerBuffer * channels));
        const QList<QByteArray> frames = converter.convert(buffer);
        for (const QByteArray &frame : frames)
            bytes += frame.size();
        benchmark::DoNotOptimize(bytes);
        index = (index + 1) % buffers;
    }
    reportRealtime(state);
}
BENCHMARK(BM_AudioPCMConverter);

void BM_BareSwrConvert(benchmark::State &state)
{
    const std::vector<float> input = sine();
    AVChannelLayout in = AV_CHANNEL_LAYOUT_STEREO;
    AVChannelLayout out = AV_CHANNEL_LAYOUT_MONO;
    SwrContext *context = nullptr;
    swr_alloc_set_opts2(
        &context, &out, AV_SAMPLE_FMT_S16, 16000, &in, AV_SAMPLE_FMT_FLT, inputRate, 0, nullptr);
    const double matrix[channels] = { 0.5, 0.5 };
    if (!context || swr_set_matrix(context, matrix, channels) < 0 || swr_init(context) < 0) {
        state.SkipWithError("libswresample refused the conversion");
        swr_free(&context);
        return;
    }
    std::vector<std::int16_t> output(framesPerBuffer / 3 + 128);
    int index = 0;
    long long produced = 0;
    for (auto _ : state) {
        const auto *data = reinterpret_cast<const std::uint8_t *>(
            input.data() + std::size_t(index * framesPerBuffer * channels));
        std::uint8_t *outData = reinterpret_cast<std::uint8_t *>(output.data());
        produced += swr_convert(context, &outData, int(output.size()), &data, framesPerBuffer);
        benchmark::DoNotOptimize(produced);
        index = (index + 1) % buffers;
    }
    swr_free(&context);
    reportRealtime(state);
}
BENCHMARK(BM_BareSwrConvert);

} // namespace

BENCHMARK_MAIN();
