#include "AudioSegmenter.h"

#include <cmath>

namespace LocalService {

namespace {

constexpr int windowMs = 10;

QString secondsText(qint64 durationMs)
{
    return QString::number(double(durationMs) / 1000.0, 'f', 1);
}

QString sourceText(int frequencyHz, qint64 durationMs)
{
    return QStringLiteral("tone %1 Hz, %2 s").arg(frequencyHz).arg(secondsText(durationMs));
}

QString targetText(int frequencyHz, qint64 durationMs)
{
    return QStringLiteral("%1 赫兹音调，%2 秒").arg(frequencyHz).arg(secondsText(durationMs));
}

} // namespace

AudioSegmenter::AudioSegmenter(qint64 firstSequence) : m_nextSequence(firstSequence)
{
    m_window.reserve(windowSamples);
}

std::vector<Caption> AudioSegmenter::feed(const QByteArray &pcm)
{
    std::vector<Caption> out;
    QByteArray bytes = m_carry + pcm;
    const qsizetype usable = bytes.size() & ~qsizetype(1);
    m_carry = bytes.mid(usable);
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    for (qsizetype i = 0; i < usable; i += 2) {
        m_window.push_back(qint16(quint16(data[i]) | (quint16(data[i + 1]) << 8)));
        if (int(m_window.size()) == windowSamples) {
            analyseWindow(out);
            m_window.clear();
        }
    }
    if (m_open && !m_announced) {
        m_announced = true;
        m_lastPartialAt = m_segmentWindows;
        out.push_back(captionNow(false));
    }
    return out;
}

std::vector<Caption> AudioSegmenter::flush()
{
    std::vector<Caption> out;
    if (m_open)
        closeSegment(out);
    m_window.clear();
    m_carry.clear();
    return out;
}

void AudioSegmenter::analyseWindow(std::vector<Caption> &out)
{
    double energy = 0;
    qint64 crossings = 0;
    qint16 previous = m_previousSample;
    for (const qint16 sample : m_window) {
        energy += double(sample) * double(sample);
        if ((previous < 0) != (sample < 0))
            ++crossings;
        previous = sample;
    }
    m_previousSample = previous;
    const bool voiced = std::sqrt(energy / double(m_window.size())) > voicedRms;

    if (!m_open) {
        if (!voiced)
            return;
        m_open = true;
        m_sequence = m_nextSequence++;
        m_segmentWindows = 0;
        m_voicedEndWindows = 0;
        m_silentRun = 0;
        m_crossings = 0;
        m_voicedWindows = 0;
        m_lastPartialAt = 0;
        m_announced = false;
    }
    ++m_segmentWindows;
    if (voiced) {
        m_silentRun = 0;
        m_voicedEndWindows = m_segmentWindows;
        m_crossings += crossings;
        ++m_voicedWindows;
    } else if (++m_silentRun * windowMs >= closingSilenceMs) {
        closeSegment(out);
        return;
    }
    if ((m_segmentWindows - m_lastPartialAt) * windowMs >= partialEveryMs) {
        m_lastPartialAt = m_segmentWindows;
        m_announced = true;
        out.push_back(captionNow(false));
    }
}

Caption AudioSegmenter::captionNow(bool final) const
{
    // Zero crossings per second are twice the frequency; rounded to 10 Hz to hide window edges.
    const double seconds = double(m_voicedWindows * windowSamples) / sampleRate;
    const double hz = seconds > 0 ? double(m_crossings) / 2.0 / seconds : 0.0;
    const int frequency = int(std::lround(hz / 10.0) * 10);
    const qint64 durationMs = qint64(final ? m_voicedEndWindows : m_segmentWindows) * windowMs;
    return Caption { m_sequence, final, sourceText(frequency, durationMs),
        targetText(frequency, durationMs) };
}

void AudioSegmenter::closeSegment(std::vector<Caption> &out)
{
    out.push_back(captionNow(true));
    m_open = false;
}

} // namespace LocalService
