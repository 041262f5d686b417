#pragma once
// A player fed by the benchmark process itself, so the moment a click enters the sound server is
// known: the start of the click-to-packet and click-to-socket measurements.
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QTimer>

#include <cmath>
#include <numbers>
#include <optional>
#include <vector>

namespace Bench {

// A player fed by this process in real time, so the moment a click enters it is known.
class PacedPlayer {
public:
    PacedPlayer()
    {
        m_process.start(QStringLiteral("pacat"),
            { QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
                QStringLiteral("--rate=48000"), QStringLiteral("--channels=2"),
                QStringLiteral("--latency-msec=10"),
                QStringLiteral("--property=application.name=Quorvel click") });
        m_process.waitForStarted(3000);
        m_clock.start();
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { feed(); });
        m_timer.start(5);
    }
    ~PacedPlayer()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    void setTone(bool on) { m_tone = on; }
    // The click starts with the next write.
    void click() { m_clickFrames = rate / 20; }
    // When the click was written, in nanoseconds on `clock`.
    std::optional<qint64> clickWrittenAt(const QElapsedTimer &clock)
    {
        if (!m_clickWritten)
            return std::nullopt;
        return *m_clickWritten - m_clock.nsecsElapsed() + clock.nsecsElapsed();
    }
    void rearm() { m_clickWritten.reset(); }

private:
    void feed()
    {
        // Keep 20 ms ahead of real time: the player never starves and never queues more.
        const qint64 target = (m_clock.nsecsElapsed() / 1000 + 20000) * rate / 1000000;
        std::vector<qint16> samples;
        for (; m_written < target; ++m_written) {
            double v = 0;
            if (m_tone)
                v = 0.3 * std::sin(2 * std::numbers::pi * 1000 * double(m_written) / rate);
            if (m_clickFrames > 0) {
                if (!m_clickWritten)
                    m_clickWritten = m_clock.nsecsElapsed();
                v = 0.5 * std::sin(2 * std::numbers::pi * 1000 * double(m_written) / rate);
                --m_clickFrames;
            }
            for (int c = 0; c < channels; ++c)
                samples.push_back(qint16(v * 32767));
        }
        if (!samples.empty())
            m_process.write(
                reinterpret_cast<const char *>(samples.data()), qint64(samples.size() * 2));
    }

    static constexpr int rate = 48000;
    static constexpr int channels = 2;

    QProcess m_process;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_written = 0;
    bool m_tone = true;
    int m_clickFrames = 0;
    std::optional<qint64> m_clickWritten;
};

// A steady 1 kHz tone from separate processes (sox into pacat), so that none of the player's work
// is counted in this process's CPU time.
class ExternalTone {
public:
    ExternalTone()
    {
        m_tone.setStandardOutputProcess(&m_player);
        m_player.start(QStringLiteral("pacat"),
            { QStringLiteral("--raw"), QStringLiteral("--format=float32le"),
                QStringLiteral("--rate=48000"), QStringLiteral("--channels=2"),
                QStringLiteral("--latency-msec=20") });
        m_tone.start(QStringLiteral("sox"),
            QStringLiteral("-q -n -t raw -r 48000 -e floating-point -b 32 -c 2 - "
                           "synth 3600 sine 1000 vol 0.5")
                .split(QLatin1Char(' ')));
        m_player.waitForStarted(3000);
        m_tone.waitForStarted(3000);
    }
    ~ExternalTone()
    {
        for (QProcess *process : { &m_tone, &m_player }) {
            process->kill();
            process->waitForFinished(3000);
        }
    }

private:
    QProcess m_tone;
    QProcess m_player;
};

} // namespace Bench
