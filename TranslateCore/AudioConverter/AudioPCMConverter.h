#pragma once

#include "TranslateCore/AudioConverter/AudioFormat.h"
#include "TranslateCore/AudioConverter/PCMFramer.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

struct SwrContext;

namespace TranslateCore {

// Turns captured PCM of any rate, channel count and sample type into the upload format (16 kHz,
// mono, signed 16-bit little-endian) cut into 100 ms frames. One instance per capture run, used
// from one serial context; nothing in it blocks.
class AudioPCMConverter {
public:
    static constexpr AudioFormat outputFormat { 16000, 1, SampleType::int16, true };
    static constexpr int maximumChannels = 64;

    AudioPCMConverter();
    ~AudioPCMConverter();
    AudioPCMConverter(const AudioPCMConverter &) = delete;
    AudioPCMConverter &operator=(const AudioPCMConverter &) = delete;

    // The complete frames that result from one captured buffer (often none for a short buffer).
    // Unusable input fails with `TranslationFailure::audioFormat`.
    QList<QByteArray> convert(const PCMBuffer &buffer);
    // Drains the resampler and the framer at the end of a run; the last frame may be shorter.
    QList<QByteArray> finish();

private:
    struct ConverterDeleter {
        void operator()(SwrContext *context) const noexcept;
    };
    using Converter = std::unique_ptr<SwrContext, ConverterDeleter>;

    static Converter makeConverter(const AudioFormat &format);
    // Runs the resampler into `m_output` and returns the number of samples it produced.
    int resample(const std::uint8_t **input, int inputFrames, int capacity);
    QByteArrayView outputBytes(int frames) const;

    Converter m_converter;
    std::optional<AudioFormat> m_inputFormat;
    PCMFramer m_framer;
    // Output samples of the call in progress; grows to the largest buffer seen and stays there.
    std::vector<std::int16_t> m_output;
};

} // namespace TranslateCore
