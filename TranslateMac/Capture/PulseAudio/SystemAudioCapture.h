#pragma once

#include "TranslateMac/Capture/AudioCapturing.h"

#include <chrono>
#include <memory>
#include <optional>

namespace TranslateMac {

class CaptureOutput;
class PulseConnection;

// Captures what the computer plays through the PulseAudio protocol (PulseAudio, or PipeWire's
// pipewire-pulse): the whole system is the default sink's monitor; one application is the monitor
// of each of its playback streams. The microphone is never recorded.
class SystemAudioCapture final : public AudioCapturing {
public:
    // `serverTimeout` bounds every wait for the sound server (connecting, queries, stopping).
    explicit SystemAudioCapture(std::chrono::milliseconds serverTimeout = std::chrono::seconds(5));
    ~SystemAudioCapture() override;

    bool hasPermission() const override;
    QCoro::Task<QList<AudioSource>> sources() override;
    // The source list from the server's clients; only the whole system without a server.
    static QCoro::Task<QList<AudioSource>> runningApplications(
        std::chrono::milliseconds serverTimeout);
    QCoro::Task<> prepare(AudioSource source, TranslateCore::CancellationToken token = {}) override;
    QCoro::Task<PacketStream> start() override;
    QCoro::Task<> stop(bool flush) override;

private:
    QCoro::Task<std::shared_ptr<PulseConnection>> connection();

    std::chrono::milliseconds m_serverTimeout;
    std::shared_ptr<PulseConnection> m_connection;
    // The source the last successful prepare checked; kept after stop so start may follow.
    std::optional<AudioSource> m_prepared;
    // Set while capturing.
    std::shared_ptr<CaptureOutput> m_output;
    bool m_starting = false;
};

} // namespace TranslateMac
