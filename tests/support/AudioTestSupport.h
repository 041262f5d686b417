#pragma once

#include "TranslateMac/Capture/AudioCapturing.h"
#include "TranslateMac/Capture/AudioSource.h"
#include "TranslateMac/Capture/CapturedPacket.h"

#include "TranslateCore/Contract/TranslationFailure.h"

#include "support/Outcome.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace TestSupport {

// True when the environment variable CI is "true": a missing prerequisite is then a failure.
bool inCI();

// The private sound server of scripts/start-audio: PULSE_SERVER is set and the server answers.
bool soundServerAvailable();
// "pipewire" or "pulseaudio" (AUDIO_TEST_BACKEND), empty when unknown.
QString soundServerFlavour();

// Runs pactl against the private server; returns its standard output split into lines (empty on
// failure). `pactlList("source-outputs")` is `pactl list short source-outputs`.
QStringList pactl(const QStringList &arguments);
QStringList pactlList(const QString &kind);

// Skips the test without the private sound server, and fails it in CI.
#define QUORVEL_REQUIRE_SOUND_SERVER()                                                             \
    do {                                                                                           \
        if (!::TestSupport::soundServerAvailable()) {                                              \
            if (::TestSupport::inCI())                                                             \
                FAIL() << "no sound server: run eval \"$(scripts/start-audio)\" first";            \
            else                                                                                   \
                GTEST_SKIP() << "no sound server: run eval \"$(scripts/start-audio)\" first";      \
        }                                                                                          \
    } while (false)

// A process that plays a sine tone to the default sink until stopped, announcing itself to the
// sound server with the given application name and identity (application.id). The player's
// sound-server client is the player process itself, so pid() is what the server reports for it:
// `pacat` (PulseAudio protocol, fed by sox) or `pw-play` (PipeWire's native protocol, whose
// stream is processed inside the player's own process, like most PipeWire applications).
class TonePlayer {
public:
    enum class Kind { pulse, pipewire };
    struct Options {
        double frequency = 1000;
        QString applicationName = QStringLiteral("Tone Player");
        QString applicationID; // empty: none announced
        int sampleRate = 48000;
        int channels = 2;
        double volume = 0.5;
        // When set, the right channel plays this frequency and the left one `frequency`.
        std::optional<double> rightFrequency;
        Kind kind = Kind::pulse;
    };

    explicit TonePlayer(Options options);
    ~TonePlayer(); // kills the player
    TonePlayer(const TonePlayer &) = delete;
    TonePlayer &operator=(const TonePlayer &) = delete;

    // Starts the player and waits until its stream exists on the server (false on time-out).
    bool start(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Kills the player and waits until the server no longer lists its client.
    bool stop(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // Freezes the player process (SIGSTOP) or lets it run again (SIGCONT).
    void freeze();
    void resume();

    bool isRunning() const;
    qint32 pid() const;
    // How often the player's stream ran dry so far (the server played silence for it): known for
    // PulseAudio players only, 0 for the others.
    int underruns();
    // The player's sink-input index, or nullopt when the server lists none for it.
    std::optional<quint32> sinkInputIndex() const;
    // The source a user would pick for this player.
    TranslateMac::AudioSource source() const;

private:
    void kill();
    QStringList toneArguments() const;
    bool startPipeWirePlayer();

    Options m_options;
    QString m_file; // the pipewire player's tone
    QString m_token; // tells this player's stream from the others
    std::unique_ptr<QProcess> m_generator;
    std::unique_ptr<QProcess> m_player;
    int m_underruns = 0;
};

// A recorder of the test output's monitor of its own (`parec`), independent of the capture under
// test: what every recorder hears. On a busy machine the sound server itself now and then lets a
// cycle of its output go silent; a level measured across such a gap measures the server, not the
// capture, and is read again.
class OutputWitness {
public:
    using Clock = std::chrono::steady_clock;

    ~OutputWitness();
    bool start();
    // Whether the output dropped out (a 10 ms stretch far below the level around it while sound
    // plays) in what was played between `from` and `to`; waits until the recorder heard `to`.
    bool droppedOutBetween(Clock::time_point from, Clock::time_point to);

private:
    Clock::time_point playedAt(std::size_t stretch) const;

    std::unique_ptr<QProcess> m_recorder;
    QByteArray m_pending;
    Clock::time_point m_heardFrom; // when the first stretch played
    std::vector<double> m_levels; // of the 10 ms stretches heard so far
    std::vector<std::size_t> m_drops; // the stretches that dropped out
};

// A player announcing `identity` as its application id (and "Tone <identity>" as its name).
TonePlayer::Options tone(double frequency, const QString &identity, double volume = 0.5);
// Whether the private sound server is PipeWire (else a plain PulseAudio daemon).
bool soundServerIsPipeWire();

// Amplitude (0…1 of full scale) of the `frequency` component of 16-bit mono PCM (Goertzel).
double toneAmplitude(QByteArrayView pcm, double frequency, int sampleRate = 16000);
// The PCM of `packets[from…]`, concatenated.
QByteArray joinedPCM(const QList<TranslateMac::CapturedPacket> &packets, qsizetype from = 0);
// True when the last `count` packets (at least that many exist) carry `frequency` at `amplitude`
// or more.
bool endsWithTone(const QList<TranslateMac::CapturedPacket> &packets, double frequency,
    qsizetype count = 5, double amplitude = 0.05);

// A predicate for readPacketsUntil: the last `count` packets carry `frequency`.
std::function<bool(const QList<TranslateMac::CapturedPacket> &)> hears(
    double frequency, qsizetype count = 5);

struct PacketRead {
    QList<TranslateMac::CapturedPacket> packets; // every packet read by this call, in order
    bool satisfied = false; // the predicate held
    bool ended = false; // the stream ended (normally or with `error`)
    std::exception_ptr error; // the stream's failure, when it ended with one
};

// Reads packets (running the event loop) until `predicate(packets read so far)` holds, the stream
// ends, or `timeout` passes; whichever comes first.
PacketRead readPacketsUntil(TranslateMac::PacketStream &stream,
    const std::function<bool(const QList<TranslateMac::CapturedPacket> &)> &predicate,
    std::chrono::milliseconds timeout);

// Reads until the stream ends or `timeout` passes.
PacketRead readUntilEnd(TranslateMac::PacketStream &stream, std::chrono::milliseconds timeout);

} // namespace TestSupport
