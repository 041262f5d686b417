#include "PlaybackProbe.h"

#include "TranslateCore/Async/Race.h"
#include "TranslateCore/Contract/TranslationFailure.h"

#include <algorithm>

namespace TranslateMac::PlaybackProbe {

using TranslateCore::CancellationError;
using TranslateCore::CancellationToken;

bool isSound(const CapturedPacket &packet)
{
    // Zero bytes make zero samples; a trailing odd byte is no sample.
    const qsizetype bytes = packet.pcm.size() & ~qsizetype(1);
    return std::any_of(
        packet.pcm.cbegin(), packet.pcm.cbegin() + bytes, [](char b) { return b != 0; });
}

QCoro::Task<> confirm(PacketStream &packets, std::chrono::nanoseconds limit,
    TranslateCore::Clock &clock, CancellationToken token)
{
    std::function<QCoro::Task<>(CancellationToken)> reader
        = [&packets](CancellationToken cancel) -> QCoro::Task<> {
        for (;;) {
            std::optional<CapturedPacket> packet = co_await packets.next(cancel);
            if (!packet)
                throw CancellationError(); // ended before anything was heard
            if (isSound(*packet))
                co_return;
        }
    };
    std::function<QCoro::Task<>(CancellationToken)> timer
        = [&clock, limit](CancellationToken cancel) -> QCoro::Task<> {
        co_await clock.sleep(std::chrono::ceil<std::chrono::milliseconds>(limit), cancel);
        throw TranslateCore::TranslationFailure::noPlayingAudio();
    };
    co_await TranslateCore::race<void>(std::move(reader), std::move(timer), token);
}

} // namespace TranslateMac::PlaybackProbe
