#pragma once

#include <QByteArray>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace TranslateMac {

// One upload frame of captured audio (16 kHz mono 16-bit little-endian; the last frame of a
// flushed capture may be shorter).
struct CapturedPacket {
    QByteArray pcm;

    // Meter level 0…1: four times the RMS amplitude, so about -12 dBFS already fills the meter.
    float level() const
    {
        const qsizetype samples = pcm.size() / 2;
        if (samples == 0)
            return 0;
        double sum = 0;
        for (qsizetype i = 0; i < samples; ++i) {
            qint16 s;
            std::memcpy(&s, pcm.constData() + 2 * i, sizeof s);
            const double x = s / 32768.0;
            sum += x * x;
        }
        return static_cast<float>(std::min(1.0, std::sqrt(sum / samples) * 4));
    }

    friend bool operator==(const CapturedPacket &, const CapturedPacket &) = default;
};

} // namespace TranslateMac
