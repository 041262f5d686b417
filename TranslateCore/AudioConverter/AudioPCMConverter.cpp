#include "AudioPCMConverter.h"

#include "TranslateCore/Contract/TranslationFailure.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

namespace TranslateCore {

namespace {

constexpr int outputRate = int(AudioPCMConverter::outputFormat.sampleRate);
constexpr int flushCapacity = 2048;
// Keeps one call's output bounded however long the captured buffer is.
constexpr int maximumOutputPerRun = 1 << 16;
constexpr int slack = 128;

std::optional<AVSampleFormat> sampleFormat(const AudioFormat &format)
{
    switch (format.sampleType) {
    case SampleType::int16:
        return format.interleaved ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S16P;
    case SampleType::int32:
        return format.interleaved ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S32P;
    case SampleType::float32:
        return format.interleaved ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP;
    case SampleType::float64:
        return format.interleaved ? AV_SAMPLE_FMT_DBL : AV_SAMPLE_FMT_DBLP;
    }
    return std::nullopt;
}

std::optional<int> integralRate(double sampleRate)
{
    if (!std::isfinite(sampleRate) || sampleRate <= 0 || sampleRate > INT_MAX)
        return std::nullopt;
    const int rate = int(std::lround(sampleRate));
    if (rate <= 0)
        return std::nullopt;
    return rate;
}

// Moves rather than copies the list in the usual case of a single batch.
void appendFrames(QList<QByteArray> &frames, QList<QByteArray> &&more)
{
    if (frames.isEmpty())
        frames = std::move(more);
    else
        frames.append(std::move(more));
}

} // namespace

void AudioPCMConverter::ConverterDeleter::operator()(SwrContext *context) const noexcept
{
    swr_free(&context);
}

AudioPCMConverter::AudioPCMConverter() = default;
AudioPCMConverter::~AudioPCMConverter() = default;

AudioPCMConverter::Converter AudioPCMConverter::makeConverter(const AudioFormat &format)
{
    const std::optional<int> rate = integralRate(format.sampleRate);
    const std::optional<AVSampleFormat> inputFormat = sampleFormat(format);
    if (!rate || format.channels <= 0 || format.channels > maximumChannels || !inputFormat)
        throw TranslationFailure::audioFormat();

    AVChannelLayout inputLayout {};
    av_channel_layout_default(&inputLayout, format.channels);
    AVChannelLayout outputLayout = AV_CHANNEL_LAYOUT_MONO;
    SwrContext *raw = nullptr;
    // Failures surface as audioFormat; the library's console messages are demoted below its
    // default log level.
    const int allocated = swr_alloc_set_opts2(&raw, &outputLayout, AV_SAMPLE_FMT_S16, outputRate,
        &inputLayout, *inputFormat, *rate, AV_LOG_DEBUG, nullptr);
    av_channel_layout_uninit(&inputLayout);
    Converter converter(raw);
    if (allocated < 0 || !converter)
        throw TranslationFailure::audioFormat();

    if (format.channels > 1) {
        // Every channel counts equally. The library's own downmix weights channels by their
        // layout role (centre, surround, none for LFE), adds them at -3 dB where the output is
        // floating point, and has no mix at all for large layouts without named channels.
        std::array<double, maximumChannels> matrix;
        matrix.fill(1.0 / format.channels);
        if (swr_set_matrix(converter.get(), matrix.data(), format.channels) < 0)
            throw TranslationFailure::audioFormat();
    }
    if (swr_init(converter.get()) < 0)
        throw TranslationFailure::audioFormat();
    return converter;
}

QList<QByteArray> AudioPCMConverter::convert(const PCMBuffer &buffer)
{
    const AudioFormat &format = buffer.format;
    // The buffer's shape is checked first so that a malformed buffer cannot displace a working
    // converter.
    const qsizetype planes = format.interleaved ? 1 : format.channels;
    if (buffer.frameLength < 0 || planes < 1 || planes > maximumChannels
        || buffer.data.size() != planes)
        throw TranslationFailure::audioFormat();
    if (buffer.frameLength > 0
        && std::any_of(buffer.data.begin(), buffer.data.end(), [](const void *p) { return !p; }))
        throw TranslationFailure::audioFormat();
    if (!m_converter || format != *m_inputFormat) {
        // Built before anything changes: a format that cannot be converted keeps the current
        // converter. Samples still inside a replaced converter are dropped; the framer's
        // remainder is kept so frames stay contiguous.
        Converter replacement = makeConverter(format);
        m_converter = std::move(replacement);
        m_inputFormat = format;
    }

    if (buffer.frameLength == 0)
        return {};
    std::array<const std::uint8_t *, maximumChannels> input;
    for (qsizetype plane = 0; plane < planes; ++plane)
        input[plane] = static_cast<const std::uint8_t *>(buffer.data[plane]);

    const double ratio = outputRate / format.sampleRate;
    const qsizetype bytesPerFrame = qsizetype(format.bytesPerSample()) * format.channels;
    const qsizetype inputStride = format.interleaved ? bytesPerFrame : format.bytesPerSample();
    const qsizetype chunk
        = std::clamp<qsizetype>(qsizetype((maximumOutputPerRun - slack) / ratio), 1, INT_MAX);

    QList<QByteArray> frames;
    for (qsizetype done = 0; done < buffer.frameLength;) {
        const int count = int(std::min(chunk, buffer.frameLength - done));
        std::array<const std::uint8_t *, maximumChannels> position;
        for (qsizetype plane = 0; plane < planes; ++plane)
            position[plane] = input[plane] + done * inputStride;
        const int capacity = int(std::ceil(count * ratio)) + slack;
        const int produced = resample(position.data(), count, capacity);
        appendFrames(frames, m_framer.append(outputBytes(produced)));
        done += count;
    }
    return frames;
}

int AudioPCMConverter::resample(const std::uint8_t **input, int inputFrames, int capacity)
{
    capacity = std::max(capacity, swr_get_out_samples(m_converter.get(), inputFrames));
    if (m_output.size() < std::size_t(capacity))
        m_output.resize(std::size_t(capacity));
    std::uint8_t *output[] = { reinterpret_cast<std::uint8_t *>(m_output.data()) };
    const int produced = swr_convert(m_converter.get(), output, capacity, input, inputFrames);
    if (produced < 0)
        throw TranslationFailure::audioFormat();
    return produced;
}

QByteArrayView AudioPCMConverter::outputBytes(int frames) const
{
    return QByteArrayView(reinterpret_cast<const char *>(m_output.data()), qsizetype(frames) * 2);
}

QList<QByteArray> AudioPCMConverter::finish()
{
    QList<QByteArray> frames;
    if (m_converter) {
        // Drain until the resampler has nothing left, so no audio stays inside it.
        while (const int produced = resample(nullptr, 0, flushCapacity))
            appendFrames(frames, m_framer.append(outputBytes(produced)));
    }
    QByteArray rest = m_framer.finish();
    if (!rest.isEmpty())
        frames.append(std::move(rest));
    return frames;
}

} // namespace TranslateCore
