#pragma once

#include "TranslateMac/Capture/AudioSource.h"
#include "TranslateMac/Capture/PacketWriter.h"
#include "TranslateMac/Capture/PipeWire/TapProperties.h"

#include "TranslateCore/Async/Channel.h"

#include <pipewire/pipewire.h>

#include <atomic>
#include <map>
#include <memory>
#include <set>

namespace TranslateMac {

// What the graph tells the coroutine that set it up.
struct TapEvent {
    enum Kind { synced, ready, failed } kind;
    int status = 0;
};

// One recording's connection to the PipeWire daemon and its mirror of the daemon's registry
// (clients, nodes, ports, the default output), the capture stream (the "tap") and, for one
// application, the links from the application's output ports into the tap.
//
// Touched only with the shared loop's lock held (its callbacks hold it too), except by the data
// thread's cycles: they use `writer`, which has its own lock, and read `stream`, which changes only
// once the stream is disconnected and no cycle runs any more.
struct TapGraph {
    TapGraph(AudioSource source, TranslateCore::ChannelSender<TapEvent> events, PacketSink packets);
    ~TapGraph();
    TapGraph(const TapGraph &) = delete;
    TapGraph &operator=(const TapGraph &) = delete;

    // Connects and mirrors the registry; `synced` follows once the daemon announced everything.
    // Fails with what pipeWireConnectionFailure makes of the daemon's refusal.
    void connect();
    // Creates the tap for `source` (not running yet); false with errno set when refused.
    int createStream();
    // Lets audio flow and links the application's streams.
    int activate();
    // Stops the flow; after this no cycle reaches the writer.
    int deactivate();
    // Removes the tap and its links, then asks the daemon to confirm (`synced`).
    void releaseStream();
    // Our links and our capture stream, gone; the server hears of it at its own pace.
    void dropStream();
    // Removes whatever was created, each object once.
    void destroy();

    void sync(bool twice);
    void notify(TapEvent::Kind kind, int status = 0) { events.push(TapEvent { kind, status }); }
    // Running: the capture ends when the platform takes its target away.
    void lost();
    bool sourcePresent() const;
    // The application `object` is part of: its own properties, completed by its client's.
    SoundServerClient applicationOf(const TapProcessObject &object) const;
    bool belongsToSource(const TapProcessObject &object) const;
    void linkAll();
    void unlinkNode(std::uint32_t node);
    void unlinkPort(std::uint32_t port);
    void followDefaultSink();
    void startWatch();
    void stopWatch();
    void watch();
    // One of the application's linked streams is running (not paused, not frozen).
    bool playing() const;
    void bindMetadata();

    AudioSource source;
    TranslateCore::ChannelSender<TapEvent> events;
    PacketWriter writer;

    pw_core *core = nullptr; // our connection: everything below belongs to it
    spa_hook coreListener {};
    pw_registry *registry = nullptr;
    spa_hook registryListener {};
    std::optional<std::uint32_t> metadataId; // the "default" metadata: the default output
    pw_proxy *metadata = nullptr;
    spa_hook metadataListener {};
    pw_stream *stream = nullptr; // the tap
    // The tap as the data thread reads it: set once the tap exists, cleared before it goes.
    std::atomic<pw_stream *> processing { nullptr };
    spa_hook streamListener {};
    bool io = false;
    bool started = false;
    bool ready = false;
    bool stopping = false;
    int pendingSync = -1;
    bool syncAgain = false;
    spa_source *watchTimer = nullptr;
    unsigned watchTicks = 0;

    std::uint32_t graphRate = 48000;
    std::optional<QString> defaultSink;
    std::optional<QString> followedSink; // the sink the tap was last sent to
    std::map<std::uint32_t, TapProcessObject> processObjects;
    // Announcements carry only a few properties; the process id arrives with each object's info.
    struct Bound {
        TapGraph *graph = nullptr;
        std::uint32_t id = 0;
        pw_proxy *proxy = nullptr;
        spa_hook listener {};
    };
    std::map<std::uint32_t, std::unique_ptr<Bound>> bound;
    std::map<std::uint32_t, TapPort> ports;
    std::map<std::pair<std::uint32_t, std::uint32_t>, pw_proxy *> links;
    // Application nodes whose process is frozen: they deliver nothing, and a link from them would
    // hold up the whole tap, so they stay unlinked until the process runs again.
    std::set<std::uint32_t> frozenNodes;
    std::set<std::uint32_t> checkedNodes; // application nodes looked at before their first link

    void bind(std::uint32_t id, const char *type, std::uint32_t version, const void *events);
    void unbind(std::uint32_t id);
    void link(const TapPort &from, std::uint32_t input, std::uint32_t ours);
    void checkProcesses();
};

} // namespace TranslateMac
