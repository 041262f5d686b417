#pragma once

#include "TranslateMac/Capture/AudioCapturing.h"
#include "TranslateMac/Capture/AudioSource.h"
#include "TranslateMac/Capture/SoundServerClient.h"

#include "TranslateCore/Async/Channel.h"

#include <QCoroTask>

#include <chrono>
#include <memory>

namespace TranslateMac {

struct TapEvent;
struct TapGraph;

// One recording's objects on the sound server: a connection of its own, the capture stream (the
// "tap") and, for an application, the links from each of its output streams into the capture.
// Every sound-server call of every instance runs on one shared hardware loop ("tap-hardware"),
// so two recordings never change the graph at the same time; callers wait without blocking.
class TapHardware {
public:
    // Connects and sets up the capture for `source`, not yet running. Fails with
    // SoundServerAccessError when the sound server refuses the connection, `sourceUnavailable`
    // when the application is not a client of the sound server, `TapAudioFailure` when a call
    // fails.
    static QCoro::Task<std::unique_ptr<TapHardware>> create(AudioSource source);
    // Whether a sound server answers a connection now.
    static bool isReachable();
    // The sound server's client connections as the source list sees them.
    static QCoro::Task<QList<SoundServerClient>> clients();

    TapHardware(const TapHardware &) = delete;
    TapHardware &operator=(const TapHardware &) = delete;
    ~TapHardware();

    PacketStream &packets() { return m_packets; }
    // Lets audio flow (and links an application's streams). Twice, or after stop:
    // sourceUnavailable.
    QCoro::Task<> start();
    // Stops the flow, ends the packet stream (after the converter's remainder with `flush`) and
    // removes everything this recording created. Fails with the first failing call's status.
    QCoro::Task<> stop(bool flush);

private:
    TapHardware(PacketStream packets, TranslateCore::ChannelReceiver<TapEvent> events,
        std::unique_ptr<TapGraph> graph);
    void destroy();

    PacketStream m_packets;
    std::unique_ptr<TranslateCore::ChannelReceiver<TapEvent>> m_events;
    std::unique_ptr<TapGraph> m_graph;
};

} // namespace TranslateMac
