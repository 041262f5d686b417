#pragma once

#include "TranslateMac/Capture/AudioCapturing.h"
#include "TranslateMac/Capture/PipeWire/TapSession.h"

#include "TranslateCore/Async/Clock.h"

#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace TranslateMac {

// Captures what the whole system or one application plays, straight from the sound server's
// graph (see TapHardware). Preparing a source records it briefly and runs the playback probe, so
// a silent, vanished or refused source is reported before anything is paid for. Every operation
// replaces the generation; one that finds it replaced after a suspension was superseded, stops
// what it started and fails with CancellationError.
class TapAudioCapture final : public AudioCapturing {
public:
    using MakeRecording = std::function<QCoro::Task<std::shared_ptr<TapSession>>(AudioSource)>;

    explicit TapAudioCapture(TranslateCore::Clock &clock,
        std::chrono::nanoseconds probeTimeout = std::chrono::seconds(30),
        MakeRecording makeRecording = {});

    // A sound server answers a connection now.
    static bool isAvailable();
    // The source list from the daemon's clients; only the whole system without a daemon.
    static QCoro::Task<QList<AudioSource>> runningApplications();

    bool hasPermission() const override { return m_hasPermission; }
    QCoro::Task<QList<AudioSource>> sources() override;
    QCoro::Task<> prepare(AudioSource source, TranslateCore::CancellationToken token = {}) override;
    QCoro::Task<PacketStream> start() override;
    QCoro::Task<> stop(bool flush) override;

private:
    // A new recording of `source`; when `generation` was replaced while it was being made, the
    // recording is stopped unheard and the operation fails with CancellationError.
    QCoro::Task<std::shared_ptr<TapSession>> makeRecording(AudioSource source, QUuid generation);
    // Stops `expected` (or whichever recording is active when none is named) if it is still the
    // active one.
    QCoro::Task<> endRecording(bool flush, const TapSession *expected = nullptr);
    // The same on an error path: the error being reported wins over a failing stop.
    QCoro::Task<> endRecordingQuietly(const TapSession *expected);

    std::shared_ptr<TapSession> m_recording;
    std::optional<AudioSource> m_preparedSource;
    QUuid m_generation;
    MakeRecording m_makeRecording;
    std::chrono::nanoseconds m_probeTimeout;
    bool m_hasPermission = false;
    TranslateCore::Clock &m_clock;
};

} // namespace TranslateMac
