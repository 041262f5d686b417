#pragma once

#include "TranslateMac/Capture/AudioSource.h"
#include "TranslateMac/Capture/CapturedPacket.h"

#include "TranslateCore/Async/Cancellation.h"
#include "TranslateCore/Async/Channel.h"

#include <QCoroTask>
#include <QList>

namespace TranslateMac {

// The packets of one capture run, in capture order. At most `packetStreamCapacity` wait for the
// consumer; the capture ends the stream with `queueFull` rather than queue more.
using PacketStream = TranslateCore::ChannelReceiver<CapturedPacket>;
using PacketSink = TranslateCore::ChannelSender<CapturedPacket>;
inline constexpr std::size_t packetStreamCapacity = 30;

// A capture backend. The application model holds one for its lifetime and calls it from the main
// thread, one operation at a time.
class AudioCapturing {
public:
    virtual ~AudioCapturing() = default;

    virtual bool hasPermission() const = 0;
    virtual bool authorizesOnStart() const { return true; }
    virtual QCoro::Task<QList<AudioSource>> sources() = 0;
    // Checks that `source` can be captured now and remembers it for start().
    virtual QCoro::Task<> prepare(AudioSource source, TranslateCore::CancellationToken token = {})
        = 0;
    virtual QCoro::Task<PacketStream> start() = 0;
    // With `flush`, the converter's remaining audio arrives as the last packets before the stream
    // ends normally; without, the stream ends at once. Does nothing when not capturing.
    virtual QCoro::Task<> stop(bool flush) = 0;
};

} // namespace TranslateMac
