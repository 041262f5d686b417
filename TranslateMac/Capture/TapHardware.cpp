#include "TapHardware.h"

#include "TapAudioFailure.h"
#include "TapOutput.h"
#include "TapProperties.h"

#include "TranslateCore/Contract/TranslationFailure.h"

#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/utils/dict.h>

#include <QFile>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <map>

namespace TranslateMac {

using TranslateCore::CancellationError;
using TranslateCore::CancellationSource;
using TranslateCore::TranslationFailure;

namespace {

constexpr auto setupBound = std::chrono::seconds(5);
constexpr auto teardownBound = std::chrono::seconds(2);
constexpr std::uint32_t fallbackRate = 48000;

// The one loop on which all recordings talk to the sound server, for the life of the process.
struct HardwareLoop {
    pw_thread_loop *loop = nullptr;
    pw_context *context = nullptr;

    static HardwareLoop &shared()
    {
        static HardwareLoop *instance = new HardwareLoop;
        return *instance;
    }

private:
    HardwareLoop()
    {
        pw_init(nullptr, nullptr);
        loop = pw_thread_loop_new("tap-hardware", nullptr);
        context = pw_context_new(pw_thread_loop_get_loop(loop), nullptr, 0);
        pw_thread_loop_start(loop);
    }
};

class Locked {
public:
    Locked() : m_loop(HardwareLoop::shared().loop) { pw_thread_loop_lock(m_loop); }
    ~Locked() { pw_thread_loop_unlock(m_loop); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

private:
    pw_thread_loop *m_loop;
};

PropertyMap propertyMap(const spa_dict *dict)
{
    PropertyMap map;
    if (!dict)
        return map;
    const spa_dict_item *item;
    spa_dict_for_each(item, dict)
    {
        if (item->key && item->value)
            map.insert(QString::fromUtf8(item->key), QString::fromUtf8(item->value));
    }
    return map;
}

pw_properties *toProperties(const PropertyMap &map)
{
    pw_properties *properties = pw_properties_new(nullptr, nullptr);
    for (auto it = map.begin(); it != map.end(); ++it)
        pw_properties_set(
            properties, it.key().toUtf8().constData(), it.value().toUtf8().constData());
    return properties;
}

// Exited processes that nobody reaped yet count as gone.
bool processAlive(qint32 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray line = stat.readAll();
        const qsizetype end = line.lastIndexOf(')');
        return end < 0 || end + 2 >= line.size() || (line[end + 2] != 'Z' && line[end + 2] != 'X');
    }
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::exception_ptr connectionFailure(int error)
{
    // The native protocol reports a socket it could not reach (absent, refused) as EHOSTDOWN.
    switch (error) {
    case EHOSTDOWN:
    case ECONNREFUSED:
    case ENOENT:
    case EACCES:
    case EPERM:
        return std::make_exception_ptr(TranslationFailure::permission());
    default:
        return std::make_exception_ptr(TapAudioFailure(-error));
    }
}

} // namespace

// Touched only with the hardware loop's lock held (its callbacks hold it too), except by the data
// thread's cycles: they use `output` through its own mutex and read `stream`, which changes only
// once the stream is disconnected and no cycle runs any more.
struct TapHardware::Graph {
    using Sender = TranslateCore::ChannelSender<Event>;

    Graph(AudioSource source, Sender events) : source(std::move(source)), events(std::move(events))
    {
    }

    AudioSource source;
    Sender events;
    std::unique_ptr<TapOutput> output;

    pw_core *core = nullptr; // our connection: everything below belongs to it
    spa_hook coreListener {};
    pw_registry *registry = nullptr;
    spa_hook registryListener {};
    pw_proxy *metadata = nullptr;
    spa_hook metadataListener {};
    pw_stream *stream = nullptr; // the tap
    spa_hook streamListener {};
    bool io = false;
    bool started = false;
    bool ready = false;
    bool stopping = false;
    int pendingSync = -1;
    bool syncAgain = false;

    std::uint32_t graphRate = fallbackRate;
    std::optional<QString> defaultSink;
    std::map<std::uint32_t, TapProcessObject> processObjects;
    // Announcements carry only a few properties; the process id arrives with each object's info.
    struct Bound {
        Graph *graph = nullptr;
        std::uint32_t id = 0;
        pw_proxy *proxy = nullptr;
        spa_hook listener {};
    };
    std::map<std::uint32_t, std::unique_ptr<Bound>> bound;
    std::map<std::uint32_t, TapPort> ports;
    std::map<std::pair<std::uint32_t, std::uint32_t>, pw_proxy *> links;

    void notify(Event::Kind kind, int status = 0) { events.push(Event { kind, status }); }
    void sync(bool twice)
    {
        syncAgain = twice;
        pendingSync = pw_core_sync(core, PW_ID_CORE, 0);
    }

    // Running: the capture ends when the platform takes its target away.
    void lost()
    {
        if (ready && !stopping && output)
            output->fail(std::make_exception_ptr(TranslationFailure::sourceUnavailable()));
    }

    // An application whose last stream went while its process still runs may be between songs,
    // or exiting: nothing else would tell us which, so look again until it is one or the other.
    spa_source *departureWatch = nullptr;

    void watchDeparture()
    {
        if (departureWatch)
            return;
        pw_loop *loop = pw_thread_loop_get_loop(HardwareLoop::shared().loop);
        departureWatch = pw_loop_add_timer(loop, onDepartureCheck, this);
        timespec period { 0, 200'000'000 };
        if (departureWatch)
            pw_loop_update_timer(loop, departureWatch, &period, &period, false);
    }

    void stopWatchingDeparture()
    {
        if (departureWatch)
            pw_loop_destroy_source(
                pw_thread_loop_get_loop(HardwareLoop::shared().loop), departureWatch);
        departureWatch = nullptr;
    }

    static void onDepartureCheck(void *data, std::uint64_t)
    {
        auto *graph = static_cast<Graph *>(data);
        if (graph->stopping || graph->sourcePresent()) {
            graph->stopWatchingDeparture();
        } else if (!processAlive(*graph->source.pid)) {
            graph->stopWatchingDeparture();
            graph->lost();
        }
    }

    bool sourcePresent() const
    {
        for (const auto &[id, object] : processObjects) {
            if (TapProperties::belongsTo(object, source))
                return true;
        }
        return false;
    }

    void linkAll()
    {
        if (!started || !source.pid || !stream)
            return;
        const std::uint32_t ours = pw_stream_get_node_id(stream);
        QList<TapPort> inputs;
        for (const auto &[id, port] : ports) {
            if (port.node == ours && !port.isOutput)
                inputs.append(port);
        }
        if (inputs.isEmpty())
            return;
        for (const auto &[id, port] : ports) {
            const auto node = processObjects.find(port.node);
            if (!port.isOutput || port.isMonitor || node == processObjects.end()
                || !node->second.isOutputStream || !TapProperties::belongsTo(node->second, source))
                continue;
            for (std::uint32_t input : TapProperties::inputsFor(port.channel, inputs))
                link(port, input, ours);
        }
    }

    void link(const TapPort &from, std::uint32_t input, std::uint32_t ours)
    {
        const auto key = std::make_pair(from.id, input);
        if (links.contains(key))
            return;
        pw_properties *properties = pw_properties_new(PW_KEY_OBJECT_LINGER, "false", nullptr);
        pw_properties_setf(properties, PW_KEY_LINK_OUTPUT_NODE, "%u", from.node);
        pw_properties_setf(properties, PW_KEY_LINK_OUTPUT_PORT, "%u", from.id);
        pw_properties_setf(properties, PW_KEY_LINK_INPUT_NODE, "%u", ours);
        pw_properties_setf(properties, PW_KEY_LINK_INPUT_PORT, "%u", input);
        auto *proxy = static_cast<pw_proxy *>(pw_core_create_object(
            core, "link-factory", PW_TYPE_INTERFACE_Link, PW_VERSION_LINK, &properties->dict, 0));
        pw_properties_free(properties);
        if (proxy)
            links.emplace(key, proxy);
    }

    void unlinkPort(std::uint32_t port)
    {
        std::erase_if(links, [port](const auto &entry) {
            if (entry.first.first != port && entry.first.second != port)
                return false;
            pw_proxy_destroy(entry.second);
            return true;
        });
    }

    void bind(std::uint32_t id, const char *type, std::uint32_t version, const void *events)
    {
        auto entry = std::make_unique<Bound>();
        entry->graph = this;
        entry->id = id;
        entry->proxy = static_cast<pw_proxy *>(pw_registry_bind(registry, id, type, version, 0));
        if (!entry->proxy)
            return;
        pw_proxy_add_object_listener(entry->proxy, &entry->listener, events, entry.get());
        bound[id] = std::move(entry);
    }

    void unbind(std::uint32_t id)
    {
        const auto entry = bound.find(id);
        if (entry == bound.end())
            return;
        spa_hook_remove(&entry->second->listener);
        pw_proxy_destroy(entry->second->proxy);
        bound.erase(entry);
    }

    // Removes the capture node and its links from the server.
    void releaseStream()
    {
        for (auto &[key, proxy] : links)
            pw_proxy_destroy(proxy);
        links.clear();
        if (stream) {
            spa_hook_remove(&streamListener);
            pw_stream_destroy(stream);
            stream = nullptr;
            io = false;
        }
    }

    // Removes whatever was created, each object once.
    void destroy()
    {
        stopWatchingDeparture();
        while (!bound.empty())
            unbind(bound.begin()->first);
        releaseStream();
        if (metadata) {
            spa_hook_remove(&metadataListener);
            pw_proxy_destroy(metadata);
            metadata = nullptr;
        }
        if (registry) {
            spa_hook_remove(&registryListener);
            pw_proxy_destroy(reinterpret_cast<pw_proxy *>(registry));
            registry = nullptr;
        }
        if (core) {
            spa_hook_remove(&coreListener);
            pw_core_disconnect(core);
            core = nullptr;
        }
    }

    static const pw_core_events coreEvents;
    static const pw_client_events clientEvents;
    static const pw_node_events nodeEvents;
    static const pw_registry_events registryEvents;
    static const pw_metadata_events metadataEvents;
    static const pw_stream_events streamEvents;
};

namespace {

using Graph = TapHardware::Graph;

void onCoreInfo(void *data, const pw_core_info *info)
{
    auto *graph = static_cast<Graph *>(data);
    if (!info || !info->props)
        return;
    if (const char *rate = spa_dict_lookup(info->props, "default.clock.rate")) {
        const unsigned long value = std::strtoul(rate, nullptr, 10);
        if (value > 0 && value <= 768000)
            graph->graphRate = std::uint32_t(value);
    }
}

void onCoreDone(void *data, std::uint32_t id, int seq)
{
    auto *graph = static_cast<Graph *>(data);
    if (id != PW_ID_CORE || seq != graph->pendingSync)
        return;
    if (graph->syncAgain) {
        // The first round announced the objects; the second delivers what binding them sent.
        graph->sync(false);
        return;
    }
    graph->pendingSync = -1;
    graph->notify(TapHardware::Event::synced);
}

void onCoreError(void *data, std::uint32_t id, int, int res, const char *)
{
    auto *graph = static_cast<Graph *>(data);
    // Only a broken connection is fatal. Other errors concern one object that vanished while we
    // bound, linked or released it (an application ending a stream meanwhile); its removal from
    // the registry tidies up.
    if (id != PW_ID_CORE || (res != -EPIPE && res != -ECONNRESET))
        return;
    graph->notify(TapHardware::Event::failed, res);
    graph->lost();
}

int onMetadataProperty(
    void *data, std::uint32_t subject, const char *key, const char *, const char *value)
{
    auto *graph = static_cast<Graph *>(data);
    if (subject == PW_ID_CORE && key && std::strcmp(key, "default.audio.sink") == 0)
        graph->defaultSink
            = value ? TapProperties::defaultSinkName(QString::fromUtf8(value)) : std::nullopt;
    return 0;
}

void objectInfo(void *data, const spa_dict *props)
{
    auto *entry = static_cast<Graph::Bound *>(data);
    if (!props)
        return;
    entry->graph->processObjects[entry->id]
        = TapProperties::processObject(entry->id, propertyMap(props));
    entry->graph->linkAll();
}

void onClientInfo(void *data, const pw_client_info *info)
{
    objectInfo(data, info ? info->props : nullptr);
}

void onNodeInfo(void *data, const pw_node_info *info)
{
    objectInfo(
        data, info && (info->change_mask & PW_NODE_CHANGE_MASK_PROPS) ? info->props : nullptr);
}

void onGlobal(void *data, std::uint32_t id, std::uint32_t, const char *type, std::uint32_t,
    const spa_dict *props)
{
    auto *graph = static_cast<Graph *>(data);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Client) == 0) {
        graph->processObjects[id] = TapProperties::processObject(id, propertyMap(props));
        graph->bind(id, PW_TYPE_INTERFACE_Client, PW_VERSION_CLIENT, &Graph::clientEvents);
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
        graph->processObjects[id] = TapProperties::processObject(id, propertyMap(props));
        graph->bind(id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, &Graph::nodeEvents);
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Port) == 0) {
        if (auto port = TapProperties::port(id, propertyMap(props))) {
            graph->ports[id] = *port;
            graph->linkAll();
        }
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0 && !graph->metadata && props) {
        const char *name = spa_dict_lookup(props, PW_KEY_METADATA_NAME);
        if (!name || std::strcmp(name, "default") != 0)
            return;
        graph->metadata = static_cast<pw_proxy *>(pw_registry_bind(
            graph->registry, id, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0));
        if (graph->metadata)
            pw_metadata_add_listener(reinterpret_cast<pw_metadata *>(graph->metadata),
                &graph->metadataListener, &Graph::metadataEvents, graph);
    }
}

void onGlobalRemove(void *data, std::uint32_t id)
{
    auto *graph = static_cast<Graph *>(data);
    graph->unbind(id);
    if (graph->ports.erase(id)) {
        graph->unlinkPort(id);
        return;
    }
    const auto object = graph->processObjects.find(id);
    if (object == graph->processObjects.end())
        return;
    const bool ours = TapProperties::belongsTo(object->second, graph->source);
    graph->processObjects.erase(object);
    // An application ends its streams between songs; only its disappearance ends the capture.
    if (!ours || !graph->source.pid || graph->sourcePresent())
        return;
    if (processAlive(*graph->source.pid))
        graph->watchDeparture();
    else
        graph->lost();
}

void onStreamState(void *data, pw_stream_state, pw_stream_state state, const char *)
{
    auto *graph = static_cast<Graph *>(data);
    if (graph->stopping)
        return;
    if (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING) {
        if (!graph->ready) {
            graph->ready = true;
            graph->notify(TapHardware::Event::ready);
        }
    } else if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
        if (!graph->ready)
            graph->notify(TapHardware::Event::failed, -EPIPE);
        graph->lost();
    }
}

void onStreamParam(void *data, std::uint32_t id, const spa_pod *param)
{
    auto *graph = static_cast<Graph *>(data);
    if (id != SPA_PARAM_Format || !param || !graph->output)
        return;
    spa_audio_info_raw raw {};
    std::uint32_t mediaType = 0, mediaSubtype = 0;
    TranslateCore::AudioFormat format;
    if (spa_format_parse(param, &mediaType, &mediaSubtype) >= 0 && mediaType == SPA_MEDIA_TYPE_audio
        && mediaSubtype == SPA_MEDIA_SUBTYPE_raw && spa_format_audio_raw_parse(param, &raw) >= 0
        && raw.format == SPA_AUDIO_FORMAT_F32) {
        format = { double(raw.rate), int(raw.channels), TranslateCore::SampleType::float32, true };
    }
    graph->output->setFormat(format);
}

// The IO callback, on the sound server's data thread.
void onStreamProcess(void *data)
{
    auto *graph = static_cast<Graph *>(data);
    pw_buffer *buffer = pw_stream_dequeue_buffer(graph->stream);
    if (!buffer)
        return;
    const spa_buffer *spa = buffer->buffer;
    if (spa->n_datas > 0 && spa->datas[0].data && spa->datas[0].chunk) {
        const spa_chunk *chunk = spa->datas[0].chunk;
        const std::uint32_t offset = std::min(chunk->offset, spa->datas[0].maxsize);
        const std::uint32_t size = std::min(chunk->size, spa->datas[0].maxsize - offset);
        graph->output->consume(static_cast<const char *>(spa->datas[0].data) + offset, size);
    }
    pw_stream_queue_buffer(graph->stream, buffer);
}

} // namespace

const pw_core_events Graph::coreEvents = [] {
    pw_core_events events {};
    events.version = PW_VERSION_CORE_EVENTS;
    events.info = onCoreInfo;
    events.done = onCoreDone;
    events.error = onCoreError;
    return events;
}();

const pw_client_events Graph::clientEvents = [] {
    pw_client_events events {};
    events.version = PW_VERSION_CLIENT_EVENTS;
    events.info = onClientInfo;
    return events;
}();

const pw_node_events Graph::nodeEvents = [] {
    pw_node_events events {};
    events.version = PW_VERSION_NODE_EVENTS;
    events.info = onNodeInfo;
    return events;
}();

const pw_registry_events Graph::registryEvents = [] {
    pw_registry_events events {};
    events.version = PW_VERSION_REGISTRY_EVENTS;
    events.global = onGlobal;
    events.global_remove = onGlobalRemove;
    return events;
}();

const pw_metadata_events Graph::metadataEvents = [] {
    pw_metadata_events events {};
    events.version = PW_VERSION_METADATA_EVENTS;
    events.property = onMetadataProperty;
    return events;
}();

const pw_stream_events Graph::streamEvents = [] {
    pw_stream_events events {};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = onStreamState;
    events.param_changed = onStreamParam;
    events.process = onStreamProcess;
    return events;
}();

TapHardware::TapHardware(PacketStream packets, TranslateCore::ChannelReceiver<Event> events,
    std::unique_ptr<Graph> graph)
    : m_packets(std::move(packets)), m_events(std::move(events)), m_graph(std::move(graph))
{
}

TapHardware::~TapHardware()
{
    destroy();
}

bool TapHardware::isReachable()
{
    Locked locked;
    pw_core *core = pw_context_connect(HardwareLoop::shared().context, nullptr, 0);
    if (!core)
        return false;
    pw_core_disconnect(core);
    return true;
}

QCoro::Task<std::unique_ptr<TapHardware>> TapHardware::create(AudioSource source)
{
    auto [packetSink, packets] = TranslateCore::makeChannel<CapturedPacket>(packetStreamCapacity);
    auto [eventSink, events] = TranslateCore::makeChannel<Event>(16);
    auto graph = std::make_unique<Graph>(source, std::move(eventSink));
    graph->output = std::make_unique<TapOutput>(std::move(packetSink));
    Graph &g = *graph;
    std::unique_ptr<TapHardware> hardware(
        new TapHardware(std::move(packets), std::move(events), std::move(graph)));

    std::exception_ptr failure;
    try {
        {
            Locked locked;
            g.core = pw_context_connect(HardwareLoop::shared().context, nullptr, 0);
            if (!g.core)
                std::rethrow_exception(connectionFailure(errno));
            pw_core_add_listener(g.core, &g.coreListener, &Graph::coreEvents, &g);
            g.registry = pw_core_get_registry(g.core, PW_VERSION_REGISTRY, 0);
            pw_registry_add_listener(g.registry, &g.registryListener, &Graph::registryEvents, &g);
            g.sync(true);
        }
        co_await hardware->waitFor(Event::synced, setupBound);

        {
            Locked locked;
            if (source.pid && !g.sourcePresent())
                throw TranslationFailure::sourceUnavailable();
            const PropertyMap description = TapProperties::description(source, g.defaultSink);
            g.stream
                = pw_stream_new(g.core, TapProperties::nodeDescription, toProperties(description));
            if (!g.stream)
                throw TapAudioFailure(-errno);
            pw_stream_add_listener(g.stream, &g.streamListener, &Graph::streamEvents, &g);

            // Stereo 32-bit float at the graph's own rate: the server neither resamples nor
            // downmixes to mono (its mono mix gains 3 dB and clips); the converter does that.
            std::uint8_t storage[512];
            spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
            spa_audio_info_raw raw {};
            raw.format = SPA_AUDIO_FORMAT_F32;
            raw.rate = g.graphRate;
            raw.channels = 2;
            raw.position[0] = SPA_AUDIO_CHANNEL_FL;
            raw.position[1] = SPA_AUDIO_CHANNEL_FR;
            const spa_pod *params[]
                = { spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &raw) };
            auto flags = pw_stream_flags(
                PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS | PW_STREAM_FLAG_INACTIVE);
            if (!source.pid)
                flags = pw_stream_flags(flags | PW_STREAM_FLAG_AUTOCONNECT);
            const int connected
                = pw_stream_connect(g.stream, PW_DIRECTION_INPUT, PW_ID_ANY, flags, params, 1);
            if (connected < 0)
                throw TapAudioFailure(connected);
            g.io = true;
        }
        co_await hardware->waitFor(Event::ready, setupBound);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        g.output->fail(failure);
        hardware->destroy();
        std::rethrow_exception(failure);
    }
    co_return hardware;
}

QCoro::Task<> TapHardware::waitFor(Event::Kind kind, std::chrono::milliseconds bound)
{
    CancellationSource expiry;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&expiry] { expiry.cancel(); });
    timer.start(bound);
    for (;;) {
        std::optional<Event> event;
        try {
            event = co_await m_events.next(expiry.token());
        } catch (const CancellationError &) {
            throw TapAudioFailure(-ETIMEDOUT);
        }
        if (!event)
            throw TapAudioFailure(-EPIPE);
        if (event->kind == Event::failed)
            throw TapAudioFailure(event->status);
        if (event->kind == kind)
            co_return;
    }
}

QCoro::Task<> TapHardware::start()
{
    Locked locked;
    Graph &g = *m_graph;
    if (!g.io || g.started)
        throw TranslationFailure::sourceUnavailable();
    const int activated = pw_stream_set_active(g.stream, true);
    if (activated < 0)
        throw TapAudioFailure(activated);
    g.started = true;
    g.linkAll();
    co_return;
}

QCoro::Task<> TapHardware::stop(bool flush)
{
    Graph &g = *m_graph;
    int firstError = 0;
    {
        // After this no cycle reaches the output any more.
        Locked locked;
        g.stopping = true;
        if (g.started) {
            const int paused = pw_stream_set_active(g.stream, false);
            if (paused < 0)
                firstError = paused;
            g.started = false;
        }
        if (g.io) {
            const int disconnected = pw_stream_disconnect(g.stream);
            if (disconnected < 0 && firstError == 0)
                firstError = disconnected;
            g.io = false;
        }
    }
    g.output->finish(flush);
    {
        Locked locked;
        g.releaseStream();
        if (g.core)
            g.sync(false);
    }
    // The server has removed our node and links once it answers; then the connection goes.
    try {
        if (g.core)
            co_await waitFor(Event::synced, teardownBound);
    } catch (...) {
    }
    destroy();
    if (firstError != 0)
        throw TapAudioFailure(firstError);
}

void TapHardware::destroy()
{
    if (!m_graph)
        return;
    {
        Locked locked;
        m_graph->stopping = true;
        m_graph->destroy();
    }
    m_graph->output->finish(false);
}

} // namespace TranslateMac
