#pragma once

#include "Recogniser.h"

namespace LocalService {

// The tone recogniser: a voiced stretch (energy above a threshold) that is closed by 300 ms of
// silence is one segment, captioned with its pitch and length in English and Chinese. Everything is
// measured on the audio itself, in 10 ms windows, so the outcome depends only on the frames
// received, never on wall-clock time. A segment is announced (a first partial) at the end of the
// frame that opened it, as a streaming recogniser shows its first word at once: a caption
// appears while the sound is still new, not half a second into it.
class AudioSegmenter : public Recogniser {
public:
    static constexpr int sampleRate = 16000;
    static constexpr int windowSamples = 160; // 10 ms
    static constexpr int partialEveryMs = 500;
    static constexpr int closingSilenceMs = 300;
    static constexpr double voicedRms = 500.0;

    explicit AudioSegmenter(qint64 firstSequence = 1);

    std::vector<Caption> feed(const QByteArray &pcm) override;
    std::vector<Caption> flush() override;

private:
    void analyseWindow(std::vector<Caption> &out);
    Caption captionNow(bool final) const;
    void closeSegment(std::vector<Caption> &out);

    qint64 m_nextSequence;
    QByteArray m_carry;
    std::vector<qint16> m_window;
    qint16 m_previousSample = 0;

    bool m_open = false;
    qint64 m_sequence = 0;
    int m_segmentWindows = 0; // from the first voiced window to now
    int m_voicedEndWindows = 0; // from the first voiced window to the last voiced one
    int m_silentRun = 0;
    qint64 m_crossings = 0;
    qint64 m_voicedWindows = 0;
    int m_lastPartialAt = 0;
    bool m_announced = false;
};

} // namespace LocalService
