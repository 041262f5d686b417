#include "AudioConverter/AudioPCMConverter.h"
#include "AudioConverter/PCMFramer.h"
#include "Contract/TranslationFailure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
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

// A 1 kHz sine (the same on every channel unless `onlyFirstChannel`), laid out as `format` says.
struct Signal {
    AudioFormat format;
    qsizetype frames = 0;
    std::vector<std::vector<char>> planes;

    Signal(AudioFormat f, double amplitude, double seconds, bool onlyFirstChannel = false)
        : format(f), frames(qsizetype(f.sampleRate * seconds))
    {
        const int size = f.bytesPerSample();
        const int planeCount = f.interleaved ? 1 : f.channels;
        const int perFrame = f.interleaved ? f.channels : 1;
        planes.assign(planeCount, std::vector<char>(std::size_t(frames * perFrame * size)));
        for (qsizetype i = 0; i < frames; ++i) {
            const double value
                = amplitude * std::sin(2 * std::numbers::pi * 1000 * double(i) / f.sampleRate);
            for (int channel = 0; channel < f.channels; ++channel) {
                const double v = onlyFirstChannel && channel > 0 ? 0 : value;
                char *at = f.interleaved ? &planes[0][(i * f.channels + channel) * size]
                                         : &planes[channel][i * size];
                write(at, v);
            }
        }
    }

    void write(char *at, double v) const
    {
        switch (format.sampleType) {
        case SampleType::int16:
            return put(at, std::int16_t(std::lround(v * 32767)));
        case SampleType::int32:
            return put(at, std::int32_t(std::llround(v * 2147483647.0)));
        case SampleType::float32:
            return put(at, float(v));
        case SampleType::float64:
            return put(at, v);
        }
    }

    template <typename T> static void put(char *at, T value)
    {
        std::memcpy(at, &value, sizeof value);
    }

    PCMBuffer slice(qsizetype offset, qsizetype length) const
    {
        PCMBuffer buffer;
        buffer.format = format;
        buffer.frameLength = length;
        const qsizetype stride
            = format.bytesPerSample() * (format.interleaved ? format.channels : 1);
        for (const auto &plane : planes)
            buffer.data.append(plane.data() + offset * stride);
        return buffer;
    }
};

// Feeds the signal in irregular buffer sizes, as capture delivers it.
QList<QByteArray> feed(AudioPCMConverter &converter, const Signal &signal)
{
    static constexpr qsizetype sizes[] = { 480, 441, 1024, 17 };
    QList<QByteArray> frames;
    qsizetype offset = 0;
    for (int i = 0; offset < signal.frames; ++i) {
        const qsizetype length = std::min(sizes[i % 4], signal.frames - offset);
        frames.append(converter.convert(signal.slice(offset, length)));
        offset += length;
    }
    return frames;
}

std::vector<std::int16_t> samplesOf(const QList<QByteArray> &frames)
{
    std::vector<std::int16_t> samples;
    for (const QByteArray &frame : frames) {
        const auto old = samples.size();
        samples.resize(old + std::size_t(frame.size() / 2));
        std::memcpy(samples.data() + old, frame.constData(), std::size_t(frame.size()));
    }
    return samples;
}

double goertzel(const std::vector<std::int16_t> &x, std::size_t from, std::size_t to, double hz)
{
    const double k = 2 * std::cos(2 * std::numbers::pi * hz / 16000);
    double s1 = 0, s2 = 0;
    for (std::size_t i = from; i < to; ++i) {
        const double s = x[i] + k * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return s1 * s1 + s2 * s2 - k * s1 * s2;
}

double rms(const std::vector<std::int16_t> &x, std::size_t from, std::size_t to)
{
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += double(x[i]) * x[i];
    return std::sqrt(sum / double(to - from));
}

void expectFramed(const QList<QByteArray> &frames)
{
    ASSERT_FALSE(frames.isEmpty());
    for (qsizetype i = 0; i + 1 < frames.size(); ++i)
        ASSERT_EQ(frames[i].size(), PCMFramer::bytesPerFrame) << "frame " << i;
    EXPECT_GT(frames.last().size(), 0);
    EXPECT_LE(frames.last().size(), PCMFramer::bytesPerFrame);
}

// Level, pitch, continuity: the sine must come out as a clean 1 kHz sine at `amplitude` (int16
// full scale) with no steps at buffer joins.
void expectCleanSine(const std::vector<std::int16_t> &samples, double amplitude)
{
    const std::size_t edge = 320; // 20 ms at either end, where the resampler starts and drains
    ASSERT_GT(samples.size(), 4 * edge);
    const std::size_t from = edge, to = samples.size() - edge;
    const double expectedRms = amplitude * 32767 / std::sqrt(2.0);
    EXPECT_NEAR(20 * std::log10(rms(samples, from, to) / expectedRms), 0, 0.5);

    const double tone = goertzel(samples, from, to, 1000);
    for (double neighbour : { 500.0, 800.0, 1200.0, 2000.0, 3000.0 })
        EXPECT_GT(tone, 1000 * goertzel(samples, from, to, neighbour)) << neighbour << " Hz";

    const double steepest = amplitude * 32767 * 2 * std::numbers::pi * 1000 / 16000;
    int largest = 0;
    for (std::size_t i = 1; i < to; ++i)
        largest = std::max(largest, std::abs(samples[i] - samples[i - 1]));
    EXPECT_LE(largest, steepest * 1.05 + 2);
}

} // namespace

TEST(PCMFramerTests, CutsFramesAndHoldsTheRemainder)
{
    struct Case {
        const char *description;
        std::vector<qsizetype> appends;
        std::vector<qsizetype> framesPerAppend; // -1: fails with audioFormat
        qsizetype pending;
    };
    const std::vector<Case> cases = {
        { "odd count", { 3199 }, { -1 }, 0 },
        { "3198 then 2", { 3198, 2 }, { 0, 1 }, 0 },
        { "9600 at once", { 9600 }, { 3 }, 0 },
        { "nothing", { 0 }, { 0 }, 0 },
        { "remainder then two frames", { 100, 6400 }, { 0, 2 }, 100 },
        { "odd after a remainder", { 100, 3199, 3100 }, { 0, -1, 1 }, 0 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.description);
        PCMFramer framer;
        QByteArray accepted, emitted;
        for (std::size_t i = 0; i < c.appends.size(); ++i) {
            const QByteArray data = ramp(c.appends[i], int(accepted.size()));
            if (c.framesPerAppend[i] < 0) {
                expectAudioFormatFailure([&] { framer.append(data); });
                EXPECT_EQ(framer.pendingSize(), accepted.size() - emitted.size());
                continue;
            }
            accepted += data;
            const QList<QByteArray> frames = framer.append(data);
            EXPECT_EQ(frames.size(), c.framesPerAppend[i]);
            for (const QByteArray &frame : frames) {
                EXPECT_EQ(frame.size(), PCMFramer::bytesPerFrame);
                emitted += frame;
            }
        }
        EXPECT_EQ(framer.pendingSize(), c.pending);
        emitted += framer.finish();
        EXPECT_EQ(emitted, accepted); // order and content survive the cutting
    }
}

TEST(PCMFramerTests, FinishReturnsTheRemainderOnceAndResetDiscardsIt)
{
    PCMFramer framer;
    EXPECT_TRUE(framer.finish().isEmpty());
    const QByteArray data = ramp(4000);
    EXPECT_EQ(framer.append(data).size(), 1);
    EXPECT_EQ(framer.finish(), data.sliced(3200));
    EXPECT_EQ(framer.pendingSize(), 0);
    EXPECT_TRUE(framer.finish().isEmpty());

    framer.append(ramp(1000));
    framer.reset();
    EXPECT_EQ(framer.append(ramp(3200)).size(), 1);
}

TEST(AudioPCMConverterTests, ConvertsAnyLayoutToCleanFramedSpeechFormat)
{
    struct Case {
        const char *description;
        AudioFormat format;
        double amplitude;
        bool onlyFirstChannel = false;
    };
    const std::vector<Case> cases = {
        { "float stereo", { 48000, 2, SampleType::float32, true }, 0.9 },
        { "float stereo full scale", { 48000, 2, SampleType::float32, true }, 1.0 },
        { "int16 planar stereo", { 48000, 2, SampleType::int16, false }, 0.9 },
        { "int32 stereo", { 48000, 2, SampleType::int32, true }, 0.9 },
        { "float64 planar stereo", { 48000, 2, SampleType::float64, false }, 0.9 },
        { "float 5.1", { 48000, 6, SampleType::float32, true }, 0.9 },
        { "float planar 64 channels", { 48000, 64, SampleType::float32, false }, 0.9 },
        { "int16 mono 44.1 kHz", { 44100, 1, SampleType::int16, true }, 0.5 },
        // Averaging, not summing: one silent side halves the level.
        { "left only", { 48000, 2, SampleType::float32, true }, 0.9, true },
        { "one of six", { 48000, 6, SampleType::float32, false }, 0.9, true },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.description);
        const Signal signal(c.format, c.amplitude, 1.0, c.onlyFirstChannel);
        AudioPCMConverter converter;
        QList<QByteArray> frames = feed(converter, signal);
        frames.append(converter.finish());
        expectFramed(frames);
        const std::vector<std::int16_t> samples = samplesOf(frames);
        EXPECT_NEAR(double(samples.size()), 16000, 48); // within 3 ms of one second
        const double level = c.onlyFirstChannel ? c.amplitude / c.format.channels : c.amplitude;
        expectCleanSine(samples, level);
        if (c.amplitude < 1) {
            EXPECT_LT(*std::max_element(samples.begin(), samples.end()), 32767);
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
    expectFramed(frames);
    EXPECT_NEAR(double(samplesOf(frames).size()), 16000, 48);
}

TEST(AudioPCMConverterTests, RejectsUnusableBuffersAndKeepsWorking)
{
    const AudioFormat stereo { 48000, 2, SampleType::float32, true };
    const AudioFormat planar { 48000, 2, SampleType::float32, false };
    const float samples[960] = {};
    std::vector<float> many(65 * 10);
    struct Case {
        const char *description;
        PCMBuffer buffer;
    };
    const std::vector<Case> cases = {
        { "rate 0", PCMBuffer({ 0, 2, SampleType::float32, true }, 10, samples) },
        { "negative rate", PCMBuffer({ -48000, 2, SampleType::float32, true }, 10, samples) },
        { "rate NaN",
            PCMBuffer({ std::numeric_limits<double>::quiet_NaN(), 2, SampleType::float32, true },
                10, samples) },
        { "no channels", PCMBuffer({ 48000, 0, SampleType::float32, true }, 10, samples) },
        { "65 channels", PCMBuffer({ 48000, 65, SampleType::float32, true }, 10, many.data()) },
        { "planar with one plane", PCMBuffer(planar, 10, samples) },
        { "missing data", PCMBuffer(stereo, 10, nullptr) },
        { "negative length", PCMBuffer(stereo, -1, samples) },
    };
    const Signal signal(stereo, 0.5, 1.0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.description);
        AudioPCMConverter converter;
        expectAudioFormatFailure([&] { converter.convert(c.buffer); });
        // A failure in the middle of a run leaves the converter usable and the audio contiguous.
        QList<QByteArray> frames = converter.convert(signal.slice(0, 24000));
        expectAudioFormatFailure([&] { converter.convert(c.buffer); });
        frames.append(converter.convert(signal.slice(24000, 24000)));
        frames.append(converter.finish());
        expectFramed(frames);
        const std::vector<std::int16_t> out = samplesOf(frames);
        EXPECT_NEAR(double(out.size()), 16000, 48);
        expectCleanSine(out, 0.5);
    }
}

TEST(AudioPCMConverterTests, FinishDrainsOnceAndARunMayContinue)
{
    AudioPCMConverter converter;
    EXPECT_TRUE(converter.finish().isEmpty());

    const Signal signal({ 48000, 2, SampleType::float32, true }, 0.5, 0.5);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        QList<QByteArray> frames = feed(converter, signal);
        frames.append(converter.finish());
        expectFramed(frames);
        const std::vector<std::int16_t> out = samplesOf(frames);
        EXPECT_NEAR(double(out.size()), 8000, 48);
        expectCleanSine(out, 0.5);
        EXPECT_TRUE(converter.finish().isEmpty());
    }
}
