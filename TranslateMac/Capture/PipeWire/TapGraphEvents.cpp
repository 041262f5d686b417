#include "TranslateMac/Capture/PipeWire/TapGraphEvents.h"

#include "TranslateMac/Capture/ApplicationMatch.h"
#include "TranslateMac/Capture/PipeWire/PipeWireLoop.h"
#include "TranslateMac/Capture/PipeWire/TapGraph.h"

#include <pipewire/extensions/metadata.h>
#include <spa/param/audio/format-utils.h>

#include <cerrno>
#include <cstring>

namespace TranslateMac {

using ApplicationMatch::ProcessState;

namespace {

template <typename Events> Events make(std::uint32_t version)
{
    Events events {};
    events.version = version;
    return events;
}

// The daemon's callbacks, on the shared loop's thread with its lock held.
void coreInfo(void *data, const pw_core_info *info)
{
    auto *graph = static_cast<TapGraph *>(data);
    if (!info || !info->props)
        return;
    if (const char *rate = spa_dict_lookup(info->props, "default.clock.rate")) {
        const unsigned long value = std::strtoul(rate, nullptr, 10);
        if (value > 0 && value <= 768000)
            graph->graphRate = std::uint32_t(value);
    }
}

void coreDone(void *data, std::uint32_t id, int seq)
{
    auto *graph = static_cast<TapGraph *>(data);
    if (id != PW_ID_CORE || seq != graph->pendingSync)
        return;
    if (graph->syncAgain) {
        // The first round announced the objects; the second delivers what binding them sent.
        graph->sync(false);
        return;
    }
    graph->pendingSync = -1;
    graph->notify(TapEvent::synced);
}

void coreError(void *data, std::uint32_t id, int, int res, const char *)
{
    auto *graph = static_cast<TapGraph *>(data);
    // Only a broken connection is fatal. Other errors concern one object that vanished while
    // we bound, linked or released it (an application ending a stream meanwhile); its removal
    // from the registry tidies up.
    if (id != PW_ID_CORE || (res != -EPIPE && res != -ECONNRESET))
        return;
    graph->notify(TapEvent::failed, res);
    graph->lost();
}

int metadataProperty(
    void *data, std::uint32_t subject, const char *key, const char *, const char *value)
{
    auto *graph = static_cast<TapGraph *>(data);
    if (subject != PW_ID_CORE || !key || std::strcmp(key, "default.audio.sink") != 0)
        return 0;
    graph->defaultSink
        = value ? TapProperties::defaultSinkName(QString::fromUtf8(value)) : std::nullopt;
    graph->followDefaultSink();
    return 0;
}

void objectInfo(void *data, const spa_dict *props)
{
    auto *entry = static_cast<TapGraph::Bound *>(data);
    if (!props)
        return;
    TapProcessObject &object = entry->graph->processObjects[entry->id];
    const bool running = object.running;
    object = TapProperties::processObject(entry->id, propertyMap(props), object.isClient);
    object.running = running;
    entry->graph->linkAll();
}

void clientInfo(void *data, const pw_client_info *info)
{
    objectInfo(data, info ? info->props : nullptr);
}

void nodeInfo(void *data, const pw_node_info *info)
{
    if (!info)
        return;
    if (info->change_mask & PW_NODE_CHANGE_MASK_STATE) {
        auto *entry = static_cast<TapGraph::Bound *>(data);
        entry->graph->processObjects[entry->id].running = info->state == PW_NODE_STATE_RUNNING;
    }
    objectInfo(data, (info->change_mask & PW_NODE_CHANGE_MASK_PROPS) ? info->props : nullptr);
}

void global(void *data, std::uint32_t id, std::uint32_t, const char *type, std::uint32_t,
    const spa_dict *props)
{
    auto *graph = static_cast<TapGraph *>(data);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Client) == 0) {
        graph->processObjects[id] = TapProperties::processObject(id, propertyMap(props), true);
        graph->bind(id, PW_TYPE_INTERFACE_Client, PW_VERSION_CLIENT, &TapGraphEvents::clientEvents);
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
        graph->processObjects[id] = TapProperties::processObject(id, propertyMap(props), false);
        graph->bind(id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, &TapGraphEvents::nodeEvents);
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Port) == 0) {
        if (auto port = TapProperties::port(id, propertyMap(props))) {
            graph->ports[id] = *port;
            graph->linkAll();
        }
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0 && !graph->metadataId && props) {
        const char *name = spa_dict_lookup(props, PW_KEY_METADATA_NAME);
        if (!name || std::strcmp(name, "default") != 0)
            return;
        graph->metadataId = id;
        graph->bindMetadata();
    }
}

void globalRemove(void *data, std::uint32_t id)
{
    auto *graph = static_cast<TapGraph *>(data);
    graph->unbind(id);
    if (graph->ports.erase(id)) {
        graph->unlinkPort(id);
        return;
    }
    if (graph->metadataId == id)
        graph->metadataId.reset();
    graph->frozenNodes.erase(id);
    graph->checkedNodes.erase(id);
    const auto object = graph->processObjects.find(id);
    if (object == graph->processObjects.end())
        return;
    const bool ours = graph->belongsToSource(object->second);
    graph->processObjects.erase(object);
    // An application ends its streams between songs; only its disappearance ends the
    // capture, which the watch finds out when its process is still running meanwhile.
    if (!ours || !graph->source.pid || graph->sourcePresent())
        return;
    if (ApplicationMatch::processState(*graph->source.pid) == ProcessState::gone)
        graph->lost();
}

void streamState(void *data, pw_stream_state, pw_stream_state state, const char *)
{
    auto *graph = static_cast<TapGraph *>(data);
    if (graph->stopping)
        return;
    if (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING) {
        if (!graph->ready) {
            graph->ready = true;
            graph->notify(TapEvent::ready);
        }
    } else if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
        if (!graph->ready)
            graph->notify(TapEvent::failed, -EPIPE);
        graph->lost();
    }
}

void streamParam(void *data, std::uint32_t id, const spa_pod *param)
{
    auto *graph = static_cast<TapGraph *>(data);
    if (id != SPA_PARAM_Format || !param)
        return;
    spa_audio_info_raw raw {};
    std::uint32_t mediaType = 0, mediaSubtype = 0;
    TranslateCore::AudioFormat format;
    if (spa_format_parse(param, &mediaType, &mediaSubtype) >= 0 && mediaType == SPA_MEDIA_TYPE_audio
        && mediaSubtype == SPA_MEDIA_SUBTYPE_raw && spa_format_audio_raw_parse(param, &raw) >= 0
        && raw.format == SPA_AUDIO_FORMAT_F32)
        format = { double(raw.rate), int(raw.channels), TranslateCore::SampleType::float32, true };
    graph->writer.setFormat(format);
}

// The IO callback, on the daemon's data thread.
void streamProcess(void *data)
{
    auto *graph = static_cast<TapGraph *>(data);
    pw_stream *stream = graph->processing.load(std::memory_order_acquire);
    pw_buffer *buffer = stream ? pw_stream_dequeue_buffer(stream) : nullptr;
    if (!buffer)
        return;
    const spa_buffer *spa = buffer->buffer;
    if (spa->n_datas > 0 && spa->datas[0].data && spa->datas[0].chunk) {
        const spa_chunk *chunk = spa->datas[0].chunk;
        const std::uint32_t offset = std::min(chunk->offset, spa->datas[0].maxsize);
        const std::uint32_t size = std::min(chunk->size, spa->datas[0].maxsize - offset);
        graph->writer.writeBytes(static_cast<const char *>(spa->datas[0].data) + offset, size);
    }
    pw_stream_queue_buffer(stream, buffer);
}

} // namespace

const pw_core_events TapGraphEvents::coreEvents = [] {
    auto events = make<pw_core_events>(PW_VERSION_CORE_EVENTS);
    events.info = coreInfo;
    events.done = coreDone;
    events.error = coreError;
    return events;
}();
const pw_client_events TapGraphEvents::clientEvents = [] {
    auto events = make<pw_client_events>(PW_VERSION_CLIENT_EVENTS);
    events.info = clientInfo;
    return events;
}();
const pw_node_events TapGraphEvents::nodeEvents = [] {
    auto events = make<pw_node_events>(PW_VERSION_NODE_EVENTS);
    events.info = nodeInfo;
    return events;
}();
const pw_registry_events TapGraphEvents::registryEvents = [] {
    auto events = make<pw_registry_events>(PW_VERSION_REGISTRY_EVENTS);
    events.global = global;
    events.global_remove = globalRemove;
    return events;
}();
const pw_metadata_events TapGraphEvents::metadataEvents = [] {
    auto events = make<pw_metadata_events>(PW_VERSION_METADATA_EVENTS);
    events.property = metadataProperty;
    return events;
}();
const pw_stream_events TapGraphEvents::streamEvents = [] {
    auto events = make<pw_stream_events>(PW_VERSION_STREAM_EVENTS);
    events.state_changed = streamState;
    events.param_changed = streamParam;
    events.process = streamProcess;
    return events;
}();

void TapGraphEvents::watchTick(void *data, std::uint64_t)
{
    static_cast<TapGraph *>(data)->watch();
}

} // namespace TranslateMac
