#pragma once

#include <QVarLengthArray>
#include <QtGlobal>

namespace TranslateCore {

enum class SampleType { int16, int32, float32, float64 };

// The shape of PCM audio as a capture backend delivers it.
struct AudioFormat {
    double sampleRate = 0;
    int channels = 0;
    SampleType sampleType = SampleType::float32;
    bool interleaved = true;

    int bytesPerSample() const
    {
        switch (sampleType) {
        case SampleType::int16:
            return 2;
        case SampleType::int32:
        case SampleType::float32:
            return 4;
        case SampleType::float64:
            return 8;
        }
        return 0;
    }

    friend bool operator==(const AudioFormat &, const AudioFormat &) = default;
};

// A view of PCM samples owned by someone else (usually the sound server's own memory), valid only
// for the duration of the call it is passed to. Interleaved audio has one data pointer; planar
// audio has one per channel. Up to `inlineChannels` pointers are held without allocating.
struct PCMBuffer {
    static constexpr int inlineChannels = 8;

    AudioFormat format;
    qsizetype frameLength = 0;
    QVarLengthArray<const void *, inlineChannels> data;

    PCMBuffer() = default;
    PCMBuffer(const AudioFormat &format, qsizetype frameLength, const void *interleavedData)
        : format(format), frameLength(frameLength), data({ interleavedData })
    {
    }
};

} // namespace TranslateCore
