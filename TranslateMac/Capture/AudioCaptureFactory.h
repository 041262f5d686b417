#pragma once

#include "TranslateMac/Capture/AudioCapturing.h"
#include "TranslateMac/Capture/SoundServerClient.h"

#include "TranslateCore/Async/Clock.h"

#include <QCoroTask>
#include <QList>

#include <memory>

namespace TranslateMac {

// Picks the capture backend for this machine and lists what can be captured.
class AudioCaptureFactory {
public:
    // A reachable PipeWire daemon gets the process-tap backend; anything else the PulseAudio
    // protocol backend.
    static std::unique_ptr<AudioCapturing> make(
        TranslateCore::Clock &clock = TranslateCore::SystemClock::shared());

    // The whole-system source followed by the applications connected to the sound server, by
    // name. Without a reachable server only the whole-system source is listed.
    static QCoro::Task<QList<AudioSource>> runningSources();

    // The source list for the given sound-server clients (see RunningApplications::sources).
    static QList<AudioSource> sourcesFromClients(
        const QList<SoundServerClient> &clients, qint64 ownPid);
};

} // namespace TranslateMac
