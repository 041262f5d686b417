#pragma once

#include "TranslateMac/Capture/AudioCapturing.h"

#include "TranslateCore/Async/Cancellation.h"
#include "TranslateCore/Async/Clock.h"

#include <QCoroTask>

#include <chrono>

namespace TranslateMac {

// Checks that a source is actually playing before anyone pays for listening to it.
namespace PlaybackProbe {

// A packet with any sample other than exact zero.
bool isSound(const CapturedPacket &packet);

// Reads `packets` until one is sound. Fails with `noPlayingAudio` when `limit` passes first, with
// CancellationError when the stream ends before any sound (or `token` is cancelled), and with the
// stream's own error when it fails. The packets read are consumed; the capture is left running.
QCoro::Task<> confirm(PacketStream &packets, std::chrono::nanoseconds limit,
    TranslateCore::Clock &clock, TranslateCore::CancellationToken token = {});

} // namespace PlaybackProbe

} // namespace TranslateMac
