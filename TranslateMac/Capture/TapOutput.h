#pragma once

#include "TranslateMac/Capture/AudioCapturing.h"

#include "TranslateCore/AudioConverter/AudioPCMConverter.h"

#include <exception>
#include <mutex>
#include <optional>

namespace TranslateMac {

// Converts the captured audio of one recording and yields it as packets. consume() runs on the
// sound server's data thread for every cycle; the rest come from the hardware loop or the main
// thread. One mutex makes them a single serial context, so ending the stream never races a yield.
class TapOutput {
public:
    explicit TapOutput(PacketSink continuation);
    TapOutput(const TapOutput &) = delete;
    TapOutput &operator=(const TapOutput &) = delete;

    // The format the stream negotiated; a format without rate or channels ends the stream with
    // `audioFormat`.
    void setFormat(const TranslateCore::AudioFormat &format);
    // One cycle's interleaved samples, converted without copying the input.
    void consume(const void *data, std::size_t bytes);
    // With `flush`, the audio inside the converter becomes the last packets; then the stream ends
    // normally (unless it already ended).
    void finish(bool flush);
    // Ends the stream with `error` unless it already ended.
    void fail(std::exception_ptr error);

private:
    void yieldLocked(QList<QByteArray> frames);
    void failLocked(std::exception_ptr error);

    std::mutex m_mutex;
    TranslateCore::AudioPCMConverter m_converter;
    std::optional<TranslateCore::AudioFormat> m_format; // none until the stream negotiated one
    PacketSink m_continuation;
    bool m_closed = false;
};

} // namespace TranslateMac
