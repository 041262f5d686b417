#include "TranslateMac/Capture/PipeWire/TapGraph.h"

#include "TranslateMac/Capture/ApplicationMatch.h"
#include "TranslateMac/Capture/PipeWire/PipeWireLoop.h"
#include "TranslateMac/Capture/TapAudioFailure.h"

#include "TranslateCore/Contract/TranslationFailure.h"

#include "TranslateMac/Capture/PipeWire/TapGraphEvents.h"

#include <pipewire/extensions/metadata.h>
#include <spa/param/audio/format-utils.h>

#include <cerrno>
#include <cstring>

namespace TranslateMac {

using ApplicationMatch::ProcessState;
using TranslateCore::TranslationFailure;

namespace {

// How often the tap is topped up with silence while nothing plays; every fourth tick the
// application's processes are looked at (frozen, or gone between two songs).
constexpr long watchPeriodNanoseconds = 50'000'000;
constexpr unsigned ticksPerProcessCheck = 4;
// The session manager's changes of the default output reach a client only when it binds the
// metadata anew (WirePlumber 0.4 with PipeWire 0.3.65 announces them to no listener), so a
// whole-system tap reads them again this often.
constexpr unsigned ticksPerDefaultCheck = 10;

} // namespace

TapGraph::TapGraph(
    AudioSource source, TranslateCore::ChannelSender<TapEvent> events, PacketSink packets)
    : source(std::move(source)), events(std::move(events)), writer(std::move(packets))
{
}

TapGraph::~TapGraph() = default;

void TapGraph::connect()
{
    core = connectToDaemon();
    if (!core)
        std::rethrow_exception(pipeWireConnectionFailure(errno));
    pw_core_add_listener(core, &coreListener, &TapGraphEvents::coreEvents, this);
    registry = pw_core_get_registry(core, PW_VERSION_REGISTRY, 0);
    pw_registry_add_listener(registry, &registryListener, &TapGraphEvents::registryEvents, this);
    sync(true);
}

int TapGraph::createStream()
{
    followedSink = defaultSink;
    const PropertyMap description = TapProperties::description(source, defaultSink);
    stream = pw_stream_new(core, TapProperties::nodeDescription, toProperties(description));
    if (!stream)
        return -errno;
    pw_stream_add_listener(stream, &streamListener, &TapGraphEvents::streamEvents, this);
    processing.store(stream, std::memory_order_release);

    // Stereo 32-bit float at the graph's own rate: the server neither resamples nor downmixes to
    // mono (its mono mix gains 3 dB and clips); the converter does that.
    std::uint8_t storage[512];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    spa_audio_info_raw raw {};
    raw.format = SPA_AUDIO_FORMAT_F32;
    raw.rate = graphRate;
    raw.channels = 2;
    raw.position[0] = SPA_AUDIO_CHANNEL_FL;
    raw.position[1] = SPA_AUDIO_CHANNEL_FR;
    const spa_pod *params[] = { spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &raw) };
    auto flags = pw_stream_flags(
        PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS | PW_STREAM_FLAG_INACTIVE);
    if (!source.pid)
        flags = pw_stream_flags(flags | PW_STREAM_FLAG_AUTOCONNECT);
    const int connected
        = pw_stream_connect(stream, PW_DIRECTION_INPUT, PW_ID_ANY, flags, params, 1);
    if (connected < 0)
        return connected;
    io = true;
    return 0;
}

int TapGraph::activate()
{
    const int activated = pw_stream_set_active(stream, true);
    if (activated < 0)
        return activated;
    started = true;
    writer.begin();
    startWatch();
    linkAll();
    followDefaultSink();
    return 0;
}

int TapGraph::deactivate()
{
    stopping = true;
    stopWatch();
    int firstError = 0;
    if (started) {
        const int paused = pw_stream_set_active(stream, false);
        if (paused < 0)
            firstError = paused;
        started = false;
    }
    if (io) {
        const int disconnected = pw_stream_disconnect(stream);
        if (disconnected < 0 && firstError == 0)
            firstError = disconnected;
        io = false;
    }
    return firstError;
}

void TapGraph::sync(bool twice)
{
    syncAgain = twice;
    pendingSync = pw_core_sync(core, PW_ID_CORE, 0);
}

void TapGraph::lost()
{
    if (ready && !stopping)
        writer.fail(std::make_exception_ptr(TranslationFailure::sourceUnavailable()));
}

bool TapGraph::sourcePresent() const
{
    for (const auto &[id, object] : processObjects) {
        if (belongsToSource(object))
            return true;
    }
    return false;
}

SoundServerClient TapGraph::applicationOf(const TapProcessObject &object) const
{
    SoundServerClient application = object.application;
    const auto client = object.client ? processObjects.find(*object.client) : processObjects.end();
    if (client == processObjects.end())
        return application;
    const SoundServerClient &owner = client->second.application;
    if (!application.pid)
        application.pid = owner.pid;
    if (!application.identity()) {
        application.applicationID = owner.applicationID;
        application.binary = owner.binary;
    }
    return application;
}

bool TapGraph::belongsToSource(const TapProcessObject &object) const
{
    // A stream belongs to the application of its client too: the source list is made of clients.
    if (applicationOf(object).belongsTo(source))
        return true;
    const auto client = object.client ? processObjects.find(*object.client) : processObjects.end();
    return client != processObjects.end() && client->second.application.belongsTo(source);
}

void TapGraph::linkAll()
{
    if (!started || !source.pid || !stream)
        return;
    const std::uint32_t ours = pw_stream_get_node_id(stream);
    QList<TapPort> inputs;
    for (const auto &[id, port] : ports) {
        if (port.node == ours && !port.isOutput)
            inputs.append(port);
    }
    for (const auto &[id, port] : ports) {
        const auto node = processObjects.find(port.node);
        if (!port.isOutput || port.isMonitor || node == processObjects.end()
            || !node->second.isOutputStream || !belongsToSource(node->second))
            continue;
        // A stream is looked at before its first link: a frozen one would hold up the tap.
        if (checkedNodes.insert(port.node).second) {
            const std::optional<qint32> pid = applicationOf(node->second).pid;
            if (pid && ApplicationMatch::processState(*pid) == ProcessState::stopped)
                frozenNodes.insert(port.node);
        }
        if (frozenNodes.contains(port.node))
            continue;
        for (std::uint32_t input : TapProperties::inputsFor(port.channel, inputs))
            link(port, input, ours);
    }
}

void TapGraph::link(const TapPort &from, std::uint32_t input, std::uint32_t ours)
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

void TapGraph::unlinkPort(std::uint32_t port)
{
    std::erase_if(links, [port](const auto &entry) {
        if (entry.first.first != port && entry.first.second != port)
            return false;
        pw_proxy_destroy(entry.second);
        return true;
    });
}

void TapGraph::unlinkNode(std::uint32_t node)
{
    for (const auto &[id, port] : ports) {
        if (port.node == node && port.isOutput)
            unlinkPort(id);
    }
}

void TapGraph::followDefaultSink()
{
    // The whole system is what the user hears: when the default output changes, the tap is made
    // again on the new one (a tap never moves by itself, so it never records something else).
    if (source.pid || !started || !stream || !defaultSink || defaultSink == followedSink)
        return;
    spa_hook_remove(&streamListener);
    processing.store(nullptr, std::memory_order_release);
    pw_stream_destroy(stream);
    stream = nullptr;
    io = false;
    started = false;
    int status = createStream();
    if (status == 0)
        status = pw_stream_set_active(stream, true);
    if (status < 0)
        return writer.fail(std::make_exception_ptr(TranslationFailure::sourceUnavailable()));
    started = true;
}

void TapGraph::startWatch()
{
    if (watchTimer)
        return;
    pw_loop *loop = PipeWireLoop::shared().loop();
    watchTimer = pw_loop_add_timer(loop, TapGraphEvents::watchTick, this);
    timespec period { 0, watchPeriodNanoseconds };
    if (watchTimer)
        pw_loop_update_timer(loop, watchTimer, &period, &period, false);
}

void TapGraph::stopWatch()
{
    if (watchTimer)
        pw_loop_destroy_source(PipeWireLoop::shared().loop(), watchTimer);
    watchTimer = nullptr;
}

void TapGraph::watch()
{
    if (stopping)
        return;
    // Only an application's tap can fall quiet: a whole-system tap is driven by its output, which
    // runs while anything listens to it. Audio that is merely late (a busy machine) comes from
    // a running stream and is never replaced by silence.
    if (source.pid && !playing())
        writer.keepAlive();
    ++watchTicks;
    if (source.pid && watchTicks % ticksPerProcessCheck == 0)
        checkProcesses();
    if (!source.pid && watchTicks % ticksPerDefaultCheck == 0)
        bindMetadata();
}

void TapGraph::bindMetadata()
{
    if (!metadataId)
        return;
    if (metadata) {
        spa_hook_remove(&metadataListener);
        pw_proxy_destroy(metadata);
    }
    metadata = static_cast<pw_proxy *>(pw_registry_bind(
        registry, *metadataId, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0));
    if (metadata)
        pw_metadata_add_listener(reinterpret_cast<pw_metadata *>(metadata), &metadataListener,
            &TapGraphEvents::metadataEvents, this);
}

bool TapGraph::playing() const
{
    for (const auto &[key, proxy] : links) {
        const auto port = ports.find(key.first);
        const auto node
            = port == ports.end() ? processObjects.end() : processObjects.find(port->second.node);
        if (node != processObjects.end() && node->second.running)
            return true;
    }
    return false;
}

void TapGraph::checkProcesses()
{
    bool relink = false;
    for (const auto &[id, object] : processObjects) {
        const SoundServerClient application = applicationOf(object);
        if (!object.isOutputStream || !application.pid || !application.belongsTo(source))
            continue;
        const bool frozen
            = ApplicationMatch::processState(*application.pid) == ProcessState::stopped;
        if (frozen && frozenNodes.insert(id).second) {
            unlinkNode(id);
        } else if (!frozen && frozenNodes.erase(id)) {
            relink = true;
        }
    }
    if (relink)
        linkAll();
    // The application's last stream went while its process still ran: between two songs, or
    // exiting. Once the process is gone (or nothing of it is left), the capture ends.
    if (!sourcePresent() && ApplicationMatch::processState(*source.pid) == ProcessState::gone)
        lost();
}

void TapGraph::releaseStream()
{
    dropStream();
    if (core)
        sync(false);
}

void TapGraph::dropStream()
{
    for (auto &[key, proxy] : links)
        pw_proxy_destroy(proxy);
    links.clear();
    if (stream) {
        spa_hook_remove(&streamListener);
        processing.store(nullptr, std::memory_order_release);
        pw_stream_destroy(stream);
        stream = nullptr;
        io = false;
    }
}

void TapGraph::bind(std::uint32_t id, const char *type, std::uint32_t version, const void *events)
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

void TapGraph::unbind(std::uint32_t id)
{
    const auto entry = bound.find(id);
    if (entry == bound.end())
        return;
    spa_hook_remove(&entry->second->listener);
    pw_proxy_destroy(entry->second->proxy);
    bound.erase(entry);
}

void TapGraph::destroy()
{
    stopping = true;
    stopWatch();
    while (!bound.empty())
        unbind(bound.begin()->first);
    dropStream();
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

} // namespace TranslateMac
