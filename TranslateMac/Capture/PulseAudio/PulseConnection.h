#pragma once

#include "TranslateMac/Capture/SoundServerClient.h"

#include "TranslateCore/Async/OneShot.h"

#include <QCoroTask>
#include <QList>
#include <QObject>

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>
#include <memory>
#include <set>

namespace TranslateMac {

struct SnapshotQuery;

struct PulseSink {
    quint32 index = 0;
    QString name;
    QString monitorSource;
    pa_sample_spec sampleSpec {};
    pa_channel_map channelMap {};
};

// A playback stream of some client, with the application properties it announced.
struct PulseSinkInput {
    quint32 index = 0;
    quint32 client = PA_INVALID_INDEX;
    quint32 sink = PA_INVALID_INDEX;
    SoundServerClient application;
};

// One consistent look at the server: its default sink, sinks, clients and playback streams.
struct PulseSnapshot {
    QString defaultSinkName;
    QList<PulseSink> sinks;
    QList<SoundServerClient> clients;
    QList<PulseSinkInput> sinkInputs;

    const PulseSink *sink(quint32 index) const;
    const PulseSink *defaultSink() const;
};

// One connection to a PulseAudio-protocol server (PulseAudio itself or pipewire-pulse) with its own
// event thread, the serial context of everything that touches the connection's streams. The
// owner creates and destroys it on the main thread; everything else either runs on the event
// thread or holds `Lock`.
class PulseConnection {
public:
    using Failure = std::function<void(int error)>;

    // Connects to the server named by the environment, giving up after `timeout`. Fails with
    // SoundServerAccessError when there is no server or it refuses us, TapAudioFailure(-code)
    // otherwise.
    static QCoro::Task<std::shared_ptr<PulseConnection>> open(std::chrono::milliseconds timeout);
    ~PulseConnection();
    PulseConnection(const PulseConnection &) = delete;
    PulseConnection &operator=(const PulseConnection &) = delete;

    class Lock {
    public:
        explicit Lock(PulseConnection &connection);
        ~Lock();
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;

    private:
        pa_threaded_mainloop *m_loop;
        bool m_locked;
    };

    pa_context *context() const { return m_context; }
    pa_mainloop_api *api() const { return pa_threaded_mainloop_get_api(m_loop); }
    bool isReady();

    // Called on the event thread when an established connection breaks. Set it with Lock held.
    void setLostHandler(std::function<void()> handler) { m_lost = std::move(handler); }

    // Event thread (or Lock held): collects a snapshot and calls exactly one of the handlers later,
    // on the event thread.
    void collectSnapshot(std::function<void(PulseSnapshot)> done, Failure failed);

    // Event thread (or Lock held): reads the server's default sink over a connection of its own
    // and calls `done` with it later, on the event thread (empty when that failed). pipewire-pulse
    // keeps telling an established connection the default it had when it connected.
    void freshDefaultSink(std::function<void(QString)> done);

    // Main thread: a snapshot, or TapAudioFailure(-code) on error or time-out.
    QCoro::Task<PulseSnapshot> snapshot();
    // Main thread: completes once the server has answered everything sent before it.
    QCoro::Task<> roundTrip();

    // Event thread: resolves `shot` on the thread that created this connection.
    template <typename T> void deliver(TranslateCore::OneShot<T> shot, T value)
    {
        QMetaObject::invokeMethod(
            m_anchor.get(),
            [shot, value = std::move(value)]() mutable { shot.resolve(std::move(value)); },
            Qt::QueuedConnection);
    }
    void deliver(TranslateCore::OneShot<> shot);
    template <typename T>
    void deliverFailure(TranslateCore::OneShot<T> shot, std::exception_ptr error)
    {
        QMetaObject::invokeMethod(
            m_anchor.get(), [shot, error]() mutable { shot.fail(error); }, Qt::QueuedConnection);
    }

    // Event thread: calls `fire` after `delay` unless the returned timer is freed first.
    pa_time_event *startTimer(std::chrono::milliseconds delay, std::function<void()> fire);
    void freeTimer(pa_time_event *&timer);

private:
    PulseConnection() = default;
    static void contextStateChanged(pa_context *context, void *self);

    std::unique_ptr<QObject> m_anchor;
    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
    std::chrono::milliseconds m_timeout {};
    bool m_everReady = false;
    std::function<void(bool ready)> m_connecting;
    std::function<void()> m_lost;
    // Queries the server still owes an answer; a broken connection never answers them.
    std::set<SnapshotQuery *> m_queries;
    std::set<struct DefaultSinkQuery *> m_defaultQueries;
};

} // namespace TranslateMac
