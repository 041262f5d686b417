#include "TranslateMac/Capture/PulseAudio/PulseConnection.h"

#include "TranslateMac/Capture/CaptureAccess.h"
#include "TranslateMac/Capture/TapAudioFailure.h"

#include <optional>
#include <set>

namespace TranslateMac {

namespace {

struct Timer {
    std::function<void()> fire;
};

void timerFired(pa_mainloop_api *api, pa_time_event *event, const struct timeval *, void *data)
{
    std::function<void()> fire = std::move(static_cast<Timer *>(data)->fire);
    api->time_free(event);
    if (fire)
        fire();
}

void timerFreed(pa_mainloop_api *, pa_time_event *, void *data)
{
    delete static_cast<Timer *>(data);
}

std::optional<QString> property(const pa_proplist *properties, const char *key)
{
    const char *value = properties ? pa_proplist_gets(properties, key) : nullptr;
    if (!value || !*value)
        return std::nullopt;
    return QString::fromUtf8(value);
}

SoundServerClient applicationOf(quint32 index, const pa_proplist *properties)
{
    SoundServerClient client;
    client.index = index;
    if (const auto pid = property(properties, PA_PROP_APPLICATION_PROCESS_ID)) {
        bool valid = false;
        const int value = pid->toInt(&valid);
        if (valid && value > 0)
            client.pid = value;
    }
    client.name = property(properties, PA_PROP_APPLICATION_NAME).value_or(QString());
    client.applicationID = property(properties, PA_PROP_APPLICATION_ID);
    client.binary = property(properties, PA_PROP_APPLICATION_PROCESS_BINARY);
    return client;
}

// A refused, missing or forbidden server means we may not capture; anything else is a failure of
// the server.
std::exception_ptr connectionFailure(int error)
{
    switch (error) {
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_ACCESS:
    case PA_ERR_AUTHKEY:
    case PA_ERR_INVALIDSERVER:
    case PA_ERR_NOENTITY:
        return std::make_exception_ptr(
            SoundServerAccessError(error, QString::fromUtf8(pa_strerror(error))));
    default:
        return std::make_exception_ptr(TapAudioFailure(-error));
    }
}

} // namespace

// Walks server info, sinks, clients and sink inputs one after the other.
struct SnapshotQuery {
    PulseConnection *connection;
    std::set<SnapshotQuery *> *live;
    std::function<void(PulseSnapshot)> done;
    PulseConnection::Failure failed;
    PulseSnapshot snapshot;

    void fail()
    {
        const int error = pa_context_errno(connection->context());
        auto handler = std::move(failed);
        finish();
        handler(error ? error : PA_ERR_UNKNOWN);
    }
    void succeed()
    {
        auto handler = std::move(done);
        PulseSnapshot result = std::move(snapshot);
        finish();
        handler(std::move(result));
    }
    void finish()
    {
        live->erase(this);
        delete this;
    }
    void follow(pa_operation *operation)
    {
        if (!operation)
            return fail();
        pa_operation_unref(operation);
    }

    static void server(pa_context *context, const pa_server_info *info, void *data)
    {
        auto *self = static_cast<SnapshotQuery *>(data);
        if (!info)
            return self->fail();
        self->snapshot.defaultSinkName
            = QString::fromUtf8(info->default_sink_name ? info->default_sink_name : "");
        self->follow(pa_context_get_sink_info_list(context, sink, self));
    }
    static void sink(pa_context *context, const pa_sink_info *info, int last, void *data)
    {
        auto *self = static_cast<SnapshotQuery *>(data);
        if (last < 0)
            return self->fail();
        if (last > 0)
            return self->follow(pa_context_get_client_info_list(context, client, self));
        self->snapshot.sinks.append({ info->index, QString::fromUtf8(info->name),
            QString::fromUtf8(info->monitor_source_name ? info->monitor_source_name : ""),
            info->sample_spec, info->channel_map });
    }
    static void client(pa_context *context, const pa_client_info *info, int last, void *data)
    {
        auto *self = static_cast<SnapshotQuery *>(data);
        if (last < 0)
            return self->fail();
        if (last > 0)
            return self->follow(pa_context_get_sink_input_info_list(context, sinkInput, self));
        self->snapshot.clients.append(applicationOf(info->index, info->proplist));
    }
    static void sinkInput(pa_context *, const pa_sink_input_info *info, int last, void *data)
    {
        auto *self = static_cast<SnapshotQuery *>(data);
        if (last < 0)
            return self->fail();
        if (last > 0)
            return self->succeed();
        self->snapshot.sinkInputs.append(
            { info->index, info->client, info->sink, applicationOf(info->client, info->proplist) });
    }
};

// A short-lived second connection that asks for the default sink once.
struct DefaultSinkQuery {
    std::set<DefaultSinkQuery *> *live;
    std::function<void(QString)> done;
    pa_context *context = nullptr;

    void finish(QString name)
    {
        auto handler = std::move(done);
        live->erase(this);
        release();
        delete this;
        handler(std::move(name));
    }
    void release()
    {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    static void stateChanged(pa_context *context, void *data)
    {
        auto *self = static_cast<DefaultSinkQuery *>(data);
        const pa_context_state_t state = pa_context_get_state(context);
        if (state == PA_CONTEXT_READY) {
            pa_operation *operation = pa_context_get_server_info(context, answered, self);
            if (!operation)
                return self->finish({});
            pa_operation_unref(operation);
        } else if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
            self->finish({});
        }
    }
    static void answered(pa_context *, const pa_server_info *info, void *data)
    {
        auto *self = static_cast<DefaultSinkQuery *>(data);
        self->finish(
            QString::fromUtf8(info && info->default_sink_name ? info->default_sink_name : ""));
    }
};

const PulseSink *PulseSnapshot::sink(quint32 index) const
{
    for (const PulseSink &candidate : sinks) {
        if (candidate.index == index)
            return &candidate;
    }
    return nullptr;
}

const PulseSink *PulseSnapshot::defaultSink() const
{
    for (const PulseSink &candidate : sinks) {
        if (candidate.name == defaultSinkName)
            return &candidate;
    }
    return nullptr;
}

PulseConnection::Lock::Lock(PulseConnection &connection)
    : m_loop(connection.m_loop), m_locked(!pa_threaded_mainloop_in_thread(m_loop))
{
    if (m_locked)
        pa_threaded_mainloop_lock(m_loop);
}

PulseConnection::Lock::~Lock()
{
    if (m_locked)
        pa_threaded_mainloop_unlock(m_loop);
}

QCoro::Task<std::shared_ptr<PulseConnection>> PulseConnection::open(
    std::chrono::milliseconds timeout)
{
    std::shared_ptr<PulseConnection> connection(new PulseConnection);
    connection->m_anchor = std::make_unique<QObject>();
    connection->m_timeout = timeout;
    connection->m_loop = pa_threaded_mainloop_new();
    if (!connection->m_loop)
        throw TapAudioFailure(-PA_ERR_INTERNAL);
    pa_threaded_mainloop_set_name(connection->m_loop, "quorvel-audio");

    pa_proplist *properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Quorvel Translate");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "tech.quorvel.translate");
    connection->m_context
        = pa_context_new_with_proplist(connection->api(), "Quorvel Translate", properties);
    pa_proplist_free(properties);
    if (!connection->m_context)
        throw TapAudioFailure(-PA_ERR_INTERNAL);
    pa_context_set_state_callback(connection->m_context, contextStateChanged, connection.get());
    if (pa_threaded_mainloop_start(connection->m_loop) < 0)
        throw TapAudioFailure(-PA_ERR_INTERNAL);

    TranslateCore::OneShot<> connected;
    {
        Lock lock(*connection);
        PulseConnection *self = connection.get();
        auto timer = std::make_shared<pa_time_event *>(nullptr);
        self->m_connecting = [self, connected, timer](bool ready) {
            self->freeTimer(*timer);
            if (ready) {
                self->deliver(connected);
            } else {
                const int error = pa_context_errno(self->m_context);
                self->deliverFailure(
                    connected, connectionFailure(error ? error : PA_ERR_CONNECTIONREFUSED));
            }
        };
        // A server that accepts the socket but never answers must not hold the caller forever.
        *timer = self->startTimer(timeout, [self, connected, timer] {
            *timer = nullptr;
            if (!std::exchange(self->m_connecting, nullptr))
                return;
            self->deliverFailure(
                connected, std::make_exception_ptr(TapAudioFailure(-PA_ERR_TIMEOUT)));
        });
        if (pa_context_connect(self->m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            if (auto connecting = std::exchange(self->m_connecting, nullptr))
                connecting(false);
        }
    }
    co_await connected.wait();
    co_return connection;
}

PulseConnection::~PulseConnection()
{
    if (m_loop) {
        {
            Lock lock(*this);
            for (SnapshotQuery *query : std::exchange(m_queries, {}))
                delete query;
            for (DefaultSinkQuery *query : std::exchange(m_defaultQueries, {})) {
                query->release();
                delete query;
            }
            if (m_context) {
                pa_context_set_state_callback(m_context, nullptr, nullptr);
                pa_context_disconnect(m_context);
                pa_context_unref(m_context);
                m_context = nullptr;
            }
        }
        pa_threaded_mainloop_stop(m_loop);
        pa_threaded_mainloop_free(m_loop);
    }
}

void PulseConnection::contextStateChanged(pa_context *context, void *data)
{
    auto *self = static_cast<PulseConnection *>(data);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        self->m_everReady = true;
        if (auto connecting = std::exchange(self->m_connecting, nullptr))
            connecting(true);
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        if (auto connecting = std::exchange(self->m_connecting, nullptr))
            connecting(false);
        else if (self->m_everReady && self->m_lost)
            self->m_lost();
        break;
    default:
        break;
    }
}

bool PulseConnection::isReady()
{
    Lock lock(*this);
    return pa_context_get_state(m_context) == PA_CONTEXT_READY;
}

void PulseConnection::deliver(TranslateCore::OneShot<> shot)
{
    QMetaObject::invokeMethod(
        m_anchor.get(), [shot]() mutable { shot.resolve(); }, Qt::QueuedConnection);
}

pa_time_event *PulseConnection::startTimer(
    std::chrono::milliseconds delay, std::function<void()> fire)
{
    auto *timer = new Timer { std::move(fire) };
    pa_time_event *event = pa_context_rttime_new(m_context,
        pa_rtclock_now() + pa_usec_t(std::chrono::microseconds(delay).count()), timerFired, timer);
    if (!event) {
        delete timer;
        return nullptr;
    }
    api()->time_set_destroy(event, timerFreed);
    return event;
}

void PulseConnection::freeTimer(pa_time_event *&timer)
{
    if (timer)
        api()->time_free(std::exchange(timer, nullptr));
}

void PulseConnection::collectSnapshot(std::function<void(PulseSnapshot)> done, Failure failed)
{
    auto *query = new SnapshotQuery { this, &m_queries, std::move(done), std::move(failed), {} };
    m_queries.insert(query);
    query->follow(pa_context_get_server_info(m_context, SnapshotQuery::server, query));
}

void PulseConnection::freshDefaultSink(std::function<void(QString)> done)
{
    pa_context *context = pa_context_new(api(), "Quorvel Translate");
    if (!context)
        return done({});
    auto *query = new DefaultSinkQuery { &m_defaultQueries, std::move(done), context };
    m_defaultQueries.insert(query);
    pa_context_set_state_callback(context, DefaultSinkQuery::stateChanged, query);
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        query->finish({});
}

QCoro::Task<PulseSnapshot> PulseConnection::snapshot()
{
    TranslateCore::OneShot<PulseSnapshot> shot;
    {
        Lock lock(*this);
        // Whichever comes first, the answer or the time limit, settles the call.
        auto timer = std::make_shared<pa_time_event *>(nullptr);
        *timer = startTimer(m_timeout, [this, shot, timer] {
            *timer = nullptr;
            deliverFailure(shot, std::make_exception_ptr(TapAudioFailure(-PA_ERR_TIMEOUT)));
        });
        collectSnapshot(
            [this, shot, timer](PulseSnapshot snapshot) {
                freeTimer(*timer);
                deliver(shot, std::move(snapshot));
            },
            [this, shot, timer](int error) {
                freeTimer(*timer);
                deliverFailure(shot, std::make_exception_ptr(TapAudioFailure(-error)));
            });
    }
    co_return co_await shot.wait();
}

QCoro::Task<> PulseConnection::roundTrip()
{
    using Answered = std::function<void()>;
    TranslateCore::OneShot<> shot;
    {
        Lock lock(*this);
        if (pa_context_get_state(m_context) != PA_CONTEXT_READY)
            co_return;
        // Whichever comes first, the answer or the time limit, settles the call.
        auto timer = std::make_shared<pa_time_event *>(nullptr);
        auto *answered = new Answered([this, shot, timer] {
            freeTimer(*timer);
            deliver(shot);
        });
        pa_operation *operation = pa_context_get_server_info(
            m_context,
            [](pa_context *, const pa_server_info *, void *data) {
                const std::unique_ptr<Answered> answered(static_cast<Answered *>(data));
                (*answered)();
            },
            answered);
        if (!operation) {
            delete answered;
            co_return;
        }
        pa_operation_unref(operation);
        // A server that stops answering must not hold stop() forever.
        *timer = startTimer(m_timeout, [this, shot, timer] {
            *timer = nullptr;
            deliver(shot);
        });
    }
    co_await shot.wait();
}

} // namespace TranslateMac
