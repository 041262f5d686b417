#pragma once

#include "TranslateMac/Capture/AudioCapturing.h"

#include "TranslateCore/AudioConverter/AudioPCMConverter.h"

#include <chrono>
#include <exception>
#include <mutex>
#include <optional>

namespace TranslateMac {

// The one packet path of every backend: converts what a recording captures, yields it as packets,
// ends the packet stream once (with `queueFull` when 30 packets wait unread) and keeps the stream
// continuous in real time: while nothing arrives (a paused or silent application, a stream not
// playing yet) it delivers silence. The sound server's threads call it; one mutex makes all calls
// a single serial context, so ending the stream never races a yield.
class PacketWriter {
public:
    using Clock = std::chrono::steady_clock;
    // Silence is added once nothing arrived for this long: longer than a busy machine delays the
    // server's audio, so late audio is never taken for a pause and followed by silence it would
    // then overlap.
    static constexpr std::chrono::milliseconds quietAfter { 300 };

    explicit PacketWriter(PacketSink sink);
    PacketWriter(const PacketWriter &) = delete;
    PacketWriter &operator=(const PacketWriter &) = delete;

    // The format of the audio that follows; one without rate or channels ends the stream with
    // `audioFormat`.
    void setFormat(const TranslateCore::AudioFormat &format);
    // From now on, time without audio is filled with silence.
    void begin(Clock::time_point now = Clock::now());
    // Interleaved frames of the current format, converted without copying the input.
    void write(const void *data, std::size_t frames);
    // The same, given as bytes; a partial frame is a format failure.
    void writeBytes(const void *data, std::size_t bytes);
    // Called regularly while capturing: delivers silence for the time nothing arrived.
    void keepAlive(Clock::time_point now = Clock::now());
    // With `flush`, the audio inside the converter becomes the last packets; then the stream ends
    // normally (unless it already ended). Returns the failure that flushing caused, if any.
    std::exception_ptr finish(bool flush);
    // Ends the stream with `error` unless it already ended.
    void fail(std::exception_ptr error);
    bool isClosed();

private:
    // Audio that arrived (not silence made up for a quiet source).
    void writeAudioLocked(const void *data, std::size_t frames);
    void writeLocked(const void *data, std::size_t frames);
    std::exception_ptr yieldLocked(QList<QByteArray> frames);
    void endLocked(std::exception_ptr error);

    std::mutex m_mutex;
    TranslateCore::AudioPCMConverter m_converter;
    std::optional<TranslateCore::AudioFormat> m_format; // none until the server named one
    PacketSink m_sink;
    bool m_closed = false;
    std::optional<Clock::time_point> m_lastAudio; // set by begin()
    Clock::time_point m_silentUntil;
};

} // namespace TranslateMac
