#include "TranslateCore/AudioConverter/AudioPCMConverter.h"
#include "TranslateCore/AudioConverter/PCMFramer.h"
#include "TranslateCore/Contract/TranslationFailure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <utility>
#include <vector>

using namespace TranslateCore;

namespace {

QByteArray ramp(qsizetype size, int start = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((start + i) % 251);
    return bytes;
}

template <typename F> void expectAudioFormatFailure(F &&call)
{
    try {
        call();
        ADD_FAILURE() << "no failure";
    } catch (const TranslationFailure &failure) {
        EXPECT_EQ(failure.kind(), TranslationFailure::Case::audioFormat);
    }
}

// A 1 kHz sine at `amplitude` in int16 or float32 samples, laid out as `format` says, on every
// channel or, with `onlyFirstChannel`, on the first alone (the others stay silent).
struct Signal {
    AudioFormat format;
    qsizetype frames;
    int stride = format.bytesPerSample() * (format.interleaved ? format.channels : 1);
    std::vector<QByteArray> planes
        = std::vector<QByteArray>(std::size_t(format.interleaved ? 1 : format.channels),
            QByteArray(qsizetype(frames) * stride, 0));

    Signal(AudioFormat f, double amplitude, double seconds, bool onlyFirstChannel = false)
        : format(f), frames(qsizetype(f.sampleRate * seconds))
    {
        const auto put = [](char *at, auto sample) { std::memcpy(at, &sample, sizeof sample); };
        for (qsizetype i = 0; i < frames; ++i) {
            const double v
                = amplitude * std::sin(2 * std::numbers::pi * 1000 * double(i) / f.sampleRate);
            for (int channel = 0; channel < (onlyFirstChannel ? 1 : f.channels); ++channel) {
                char *at = f.interleaved
                    ? planes[0].data() + i * stride + channel * f.bytesPerSample()
                    : planes[channel].data() + i * stride;
                f.sampleType == SampleType::int16 ? put(at, std::int16_t(std::lround(v * 32767)))
                                                  : put(at, float(v));
            }
        }
    }

    PCMBuffer slice(qsizetype offset, qsizetype length) const
    {
        PCMBuffer buffer;
        buffer.format = format;
        buffer.frameLength = length;
        for (const QByteArray &plane : planes)
            buffer.data.append(plane.constData() + offset * stride);
        return buffer;
    }
};

// Feeds the signal in irregular buffer sizes, as capture delivers it.
QList<QByteArray> feed(AudioPCMConverter &converter, const Signal &signal)
{
    static constexpr qsizetype sizes[] = { 480, 441, 1024, 17 };
    QList<QByteArray> frames;
    for (qsizetype i = 0, offset = 0; offset < signal.frames; offset += sizes[i++ % 4])
        frames.append(converter.convert(
            signal.slice(offset, std::min(sizes[i % 4], signal.frames - offset))));
    return frames;
}

double goertzel(const std::vector<std::int16_t> &x, std::size_t from, std::size_t to, double hz)
{
    const double k = 2 * std::cos(2 * std::numbers::pi * hz / 16000);
    double s1 = 0, s2 = 0;
    for (std::size_t i = from; i < to; ++i)
        s2 = std::exchange(s1, x[i] + k * s1 - s2);
    return s1 * s1 + s2 * s2 - k * s1 * s2;
}

// The samples of `frames`, which must be whole upload frames but a shorter last one.
std::vector<std::int16_t> framedSamples(const QList<QByteArray> &frames)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < frames.size(); ++i) {
        const qsizetype size = frames[i].size();
        EXPECT_TRUE(i + 1 == frames.size() ? size > 0 && size <= 3200 : size == 3200)
            << "frame " << i;
        bytes += frames[i];
    }
    std::vector<std::int16_t> samples(std::size_t(bytes.size() / 2));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

// `frames` must be `seconds` long (within 3 ms) and hold a clean 1 kHz sine at `amplitude` of
// int16 full scale: level, pitch, and no step at buffer joins. Returns the samples.
std::vector<std::int16_t> expectCleanSine(
    const QList<QByteArray> &frames, double seconds, double amplitude)
{
    const std::vector<std::int16_t> x = framedSamples(frames);
    EXPECT_NEAR(double(x.size()), 16000 * seconds, 48);
    const std::size_t edge = 320; // 20 ms at either end, where the resampler starts and drains
    if (x.size() <= 4 * edge)
        return x; // already reported as too short
    const std::size_t from = edge, to = x.size() - edge;
    double sum = 0;
    int largest = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += double(x[i]) * x[i];
    for (std::size_t i = 1; i < to; ++i)
        largest = std::max(largest, std::abs(x[i] - x[i - 1]));
    const double rms = std::sqrt(sum / double(to - from));
    EXPECT_NEAR(20 * std::log10(rms / (amplitude * 32767 / std::sqrt(2.0))), 0, 0.5);
    const double tone = goertzel(x, from, to, 1000);
    for (double neighbour : { 500.0, 800.0, 1200.0, 2000.0, 3000.0 })
        EXPECT_GT(tone, 1000 * goertzel(x, from, to, neighbour)) << neighbour << " Hz";
    EXPECT_LE(largest, amplitude * 32767 * 2 * std::numbers::pi * 1000 / 16000 * 1.05 + 2);
    return x;
}

} // namespace

TEST(PCMFramerTests, CutsFramesAndHoldsTheRemainder)
{
    // Bytes appended call after call, frames each call yields, bytes left pending.
    const std::tuple<std::vector<qsizetype>, std::vector<qsizetype>, qsizetype> cases[] = {
        { { 3198, 2 }, { 0, 1 }, 0 },
        { { 3200 }, { 1 }, 0 },
        { { 3202 }, { 1 }, 2 },
        { { 4000 }, { 1 }, 800 },
        { { 9600 }, { 3 }, 0 },
        { { 0 }, { 0 }, 0 },
    };
    for (const auto &[appends, framesPerAppend, pending] : cases) {
        SCOPED_TRACE(::testing::PrintToString(appends));
        PCMFramer framer;
        QByteArray accepted, emitted;
        for (std::size_t i = 0; i < appends.size(); ++i) {
            const QByteArray data = ramp(appends[i], int(accepted.size()));
            accepted += data;
            const QList<QByteArray> frames = framer.append(data);
            EXPECT_EQ(frames.size(), framesPerAppend[i]);
            for (const QByteArray &frame : frames) {
                EXPECT_EQ(frame.size(), PCMFramer::bytesPerFrame);
                emitted += frame;
            }
        }
        EXPECT_EQ(framer.pendingSize(), pending);
        emitted += framer.finish();
        EXPECT_EQ(emitted, accepted); // order and content survive the cutting
        EXPECT_TRUE(framer.finish().isEmpty());
    }

    // An odd byte count fails and leaves the remainder as it was; reset discards it.
    PCMFramer framer;
    framer.append(ramp(100));
    expectAudioFormatFailure([&] { framer.append(ramp(3199)); });
    EXPECT_EQ(framer.finish(), ramp(100));
    framer.append(ramp(100));
    framer.reset();
    EXPECT_EQ(framer.append(ramp(3200)).size(), 1);
    EXPECT_EQ(framer.pendingSize(), 0);
}

TEST(AudioPCMConverterTests, ConvertsAnyLayoutToCleanFramedSpeechFormat)
{
    const std::tuple<const char *, AudioFormat, double, bool> cases[] = {
        { "float stereo", { 48000, 2, SampleType::float32, true }, 0.9, false },
        { "float stereo full scale", { 48000, 2, SampleType::float32, true }, 1.0, false },
        { "int16 planar stereo", { 48000, 2, SampleType::int16, false }, 0.9, false },
        { "float planar 64 channels", { 48000, 64, SampleType::float32, false }, 0.9, false },
        // Averaging, not summing: one loud channel of six is a sixth of the level.
        { "one of six", { 48000, 6, SampleType::float32, false }, 0.9, true },
    };
    for (const auto &[description, format, amplitude, onlyFirstChannel] : cases) {
        SCOPED_TRACE(description);
        AudioPCMConverter converter;
        EXPECT_TRUE(converter.finish().isEmpty());
        const Signal signal(format, amplitude, 0.5, onlyFirstChannel);
        for (int run = 0; run < 2; ++run) { // finish drains once, and a run may then continue
            QList<QByteArray> frames = feed(converter, signal);
            frames.append(converter.finish());
            EXPECT_TRUE(converter.finish().isEmpty());
            const auto samples = expectCleanSine(
                frames, 0.5, onlyFirstChannel ? amplitude / format.channels : amplitude);
            if (amplitude < 1) {
                EXPECT_LT(*std::max_element(samples.begin(), samples.end()), 32767); // no clipping
            }
        }
    }
}

TEST(AudioPCMConverterTests, FormatChangeReplacesTheConverterAndKeepsTheRemainder)
{
    AudioPCMConverter converter;
    QList<QByteArray> frames
        = feed(converter, Signal({ 48000, 2, SampleType::float32, true }, 0.5, 0.53));
    frames.append(feed(converter, Signal({ 44100, 2, SampleType::float32, true }, 0.5, 0.47)));
    frames.append(converter.finish());
    EXPECT_NEAR(double(framedSamples(frames).size()), 16000, 48);
}

TEST(AudioPCMConverterTests, RejectsUnusableBuffersAndKeepsWorking)
{
    const float samples[960] = {};
    const std::vector<float> many(65 * 10);
    const auto buffer = [&](double rate, int channels, bool interleaved = true,
                            qsizetype length = 10, const void *data = nullptr) {
        return PCMBuffer(
            { rate, channels, SampleType::float32, interleaved }, length, data ? data : samples);
    };
    const std::pair<const char *, PCMBuffer> cases[] = {
        { "rate 0", buffer(0, 2) },
        { "negative rate", buffer(-48000, 2) },
        { "rate NaN", buffer(std::numeric_limits<double>::quiet_NaN(), 2) },
        { "no channels", buffer(48000, 0) },
        { "65 channels", buffer(48000, 65, true, 10, many.data()) },
        { "planar with one plane", buffer(48000, 2, false) },
        { "missing data", PCMBuffer({ 48000, 2, SampleType::float32, true }, 10, nullptr) },
        { "negative length", buffer(48000, 2, true, -1) },
    };
    const Signal signal({ 48000, 2, SampleType::float32, true }, 0.5, 1.0);
    for (const auto &[description, bad] : cases) {
        SCOPED_TRACE(description);
        AudioPCMConverter converter;
        expectAudioFormatFailure([&] { converter.convert(bad); });
        // A failure in the middle of a run leaves the converter usable and the audio contiguous.
        QList<QByteArray> frames = converter.convert(signal.slice(0, 24000));
        expectAudioFormatFailure([&] { converter.convert(bad); });
        frames.append(converter.convert(signal.slice(24000, 24000)));
        frames.append(converter.finish());
        expectCleanSine(frames, 1.0, 0.5);
    }
}
