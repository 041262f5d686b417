#pragma once

#include "TranslateMac/Capture/AudioCapturing.h"

#include "TranslateCore/Async/Channel.h"
#include "TranslateCore/Async/OneShot.h"

#include <QByteArray>
#include <QList>

#include <exception>
#include <memory>
#include <optional>

namespace TestSupport {

// A capture backend the test drives by hand: it lists what it is told, prepares (or waits for a
// gate, or fails) as scripted, and delivers exactly the packets the test pushes.
class ScriptedCapture final : public TranslateMac::AudioCapturing {
public:
    bool permission = true;
    bool authorizes = false;
    QList<TranslateMac::AudioSource> listed { TranslateMac::AudioSource::wholeSystem() };
    std::exception_ptr sourcesFailure;
    // Each prepare() takes the next failure (nullptr: success) and otherwise succeeds.
    QList<std::exception_ptr> prepareFailures;
    // When set, prepare() waits for it before answering.
    std::optional<TranslateCore::OneShot<>> prepareGate;
    std::exception_ptr startFailure;
    std::exception_ptr stopFailure;
    // When set, stop() waits for it after ending the stream.
    std::optional<TranslateCore::OneShot<>> stopGate;
    // Delivered as the last packets when a stop flushes.
    QList<QByteArray> flushPackets;

    int prepareCount = 0;
    int startCount = 0;
    QList<bool> stops; // the flush argument of every stop()

    bool hasPermission() const override { return permission; }
    bool authorizesOnStart() const override { return authorizes; }
    QCoro::Task<QList<TranslateMac::AudioSource>> sources() override;
    QCoro::Task<> prepare(
        TranslateMac::AudioSource source, TranslateCore::CancellationToken token = {}) override;
    QCoro::Task<TranslateMac::PacketStream> start() override;
    QCoro::Task<> stop(bool flush) override;

    bool capturing() const { return m_sink.has_value(); }
    // Hands one packet to the running capture; `full` or `closed` when it could not.
    TranslateCore::PushResult push(const QByteArray &pcm);
    // Ends the running capture's stream with `error`, as a failing backend does.
    void fail(std::exception_ptr error);

private:
    std::optional<TranslateMac::PacketSink> m_sink;
};

// 100 ms of 16 kHz mono s16 audio: a sine of `frequency` at half scale, or silence for 0.
QByteArray pcmFrame(double frequency, int samples = 1600);

} // namespace TestSupport
