#pragma once

#include "TranslateMac/Capture/AudioCapturing.h"
#include "TranslateMac/Capture/PacketWriter.h"
#include "TranslateMac/Capture/PulseAudio/PulseConnection.h"

#include <map>
#include <memory>
#include <vector>

namespace TranslateMac {

// The recording side of one capture run: owns the sound server's record streams, converts what
// they deliver and yields it as packets. Everything in here runs on the connection's event thread
// (its serial context), or on the main thread with PulseConnection::Lock held.
//
// The whole system is one record stream on the default sink's monitor, re-opened on the new
// default sink's monitor when the user switches outputs. One application is one
// record stream per playback stream of that application (pa_stream_set_monitor_stream), each on
// the monitor of the sink it plays to; their samples are summed here before conversion, so the
// application's later streams (next track, a helper process) are captured as they appear.
class CaptureOutput {
public:
    CaptureOutput(std::shared_ptr<PulseConnection> connection, PacketSink sink, AudioSource source);
    ~CaptureOutput();

    // Starts recording; `started` is resolved (on the main thread) once the first record stream
    // runs, or fails with the server's error.
    void begin(const PulseSnapshot &snapshot, TranslateCore::OneShot<> started);
    // Disconnects every record stream and stops following the application.
    void shutdown();
    // Flushes what was recorded but not converted yet into the last packets and ends the stream
    // normally; returns the failure that ended the stream instead, if flushing caused one.
    std::exception_ptr finish();
    // Ends the stream normally, dropping unconverted audio.
    void abort();

    const std::shared_ptr<PulseConnection> &connection() const { return m_connection; }

private:
    struct Tap {
        CaptureOutput *owner;
        quint32 sinkInput;
        QString device;
        pa_stream *stream = nullptr;
        bool recording = false;
        std::vector<float> pending; // samples not yet mixed (application capture)
    };

    bool wholeSystem() const { return !m_source.pid; }
    // Opens `tap`'s record stream, of `monitoredInput` alone when that names a playback stream;
    // false when the server refused it.
    bool record(Tap &tap, quint32 monitoredInput);
    void removeTap(quint32 sinkInput);
    // Looks at the server again: the application's streams, or the default output.
    void follow();
    void collectSnapshot();
    void applySnapshot(const PulseSnapshot &snapshot);
    void followDefaultSink(const PulseSnapshot &snapshot);
    // Records the monitor of `sink` (whole system); false when the server refused it.
    bool recordSink(const PulseSink &sink);
    void mix(std::size_t atLeast, bool everything);
    void end(std::exception_ptr error);
    void started(std::exception_ptr error);
    void keepAlive();

    static void streamStateChanged(pa_stream *stream, void *data);
    static void streamReadable(pa_stream *stream, std::size_t, void *data);
    static void streamMoved(pa_stream *stream, void *data);
    static void serverEvent(pa_context *, pa_subscription_event_type_t type, quint32, void *data);

    std::shared_ptr<PulseConnection> m_connection;
    AudioSource m_source;
    PacketWriter m_writer;
    pa_sample_spec m_spec {};
    pa_channel_map m_channelMap {};
    pa_time_event *m_keepAlive = nullptr;
    unsigned m_ticks = 0;
    // The default sink as a fresh connection last reported it (whole system).
    QString m_defaultSinkName;
    // The monitor whose recording the server stopped (whole system), if it did.
    QString m_stoppedDevice;
    // Event-thread work still outstanding (server queries) finds the output gone through this.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    std::optional<TranslateCore::OneShot<>> m_started;

    std::map<quint32, std::unique_ptr<Tap>> m_taps;
    std::map<quint32, int> m_attempts; // record streams opened per playback stream
    bool m_refreshing = false;
    bool m_refreshAgain = false;
    std::vector<float> m_mixed;
};

} // namespace TranslateMac
