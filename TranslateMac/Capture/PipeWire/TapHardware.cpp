#include "TranslateMac/Capture/PipeWire/TapHardware.h"

#include "TranslateMac/Capture/PipeWire/PipeWireLoop.h"
#include "TranslateMac/Capture/PipeWire/TapGraph.h"
#include "TranslateMac/Capture/TapAudioFailure.h"

#include "TranslateCore/Contract/TranslationFailure.h"

#include <QTimer>

#include <cerrno>

namespace TranslateMac {

using TranslateCore::CancellationError;
using TranslateCore::CancellationSource;
using TranslateCore::TranslationFailure;

namespace {

constexpr auto setupBound = std::chrono::seconds(5);
constexpr auto teardownBound = std::chrono::seconds(2);

using Events = TranslateCore::ChannelReceiver<TapEvent>;

// Waits for the graph to report `kind`: a failure it reports, a lost connection or the time limit
// fail as TapAudioFailure.
QCoro::Task<> waitFor(Events &events, TapEvent::Kind kind, std::chrono::milliseconds bound)
{
    CancellationSource expiry;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&expiry] { expiry.cancel(); });
    timer.start(bound);
    for (;;) {
        std::optional<TapEvent> event;
        try {
            event = co_await events.next(expiry.token());
        } catch (const CancellationError &) {
            throw TapAudioFailure(-ETIMEDOUT);
        }
        if (!event)
            throw TapAudioFailure(-EPIPE);
        if (event->kind == TapEvent::failed)
            throw TapAudioFailure(event->status);
        if (event->kind == kind)
            co_return;
    }
}

} // namespace

TapHardware::TapHardware(PacketStream packets, Events events, std::unique_ptr<TapGraph> graph)
    : m_packets(std::move(packets)), m_events(std::make_unique<Events>(std::move(events))),
      m_graph(std::move(graph))
{
}

TapHardware::~TapHardware()
{
    destroy();
}

bool TapHardware::isReachable()
{
    PipeWireLocked locked;
    pw_core *core = connectToDaemon();
    if (!core)
        return false;
    pw_core_disconnect(core);
    return true;
}

QCoro::Task<QList<SoundServerClient>> TapHardware::clients()
{
    auto [packetSink, packets] = TranslateCore::makeChannel<CapturedPacket>(1);
    auto [eventSink, events] = TranslateCore::makeChannel<TapEvent>(16);
    auto graph = std::make_unique<TapGraph>(
        AudioSource::wholeSystem(), std::move(eventSink), std::move(packetSink));
    std::unique_ptr<TapHardware> hardware(
        new TapHardware(std::move(packets), std::move(events), std::move(graph)));
    {
        PipeWireLocked locked;
        hardware->m_graph->connect();
    }
    co_await waitFor(*hardware->m_events, TapEvent::synced, setupBound);
    QList<SoundServerClient> clients;
    {
        PipeWireLocked locked;
        for (const auto &[id, object] : hardware->m_graph->processObjects) {
            if (object.isClient)
                clients.append(object.application);
        }
    }
    co_return clients;
}

QCoro::Task<std::unique_ptr<TapHardware>> TapHardware::create(AudioSource source)
{
    auto [packetSink, packets] = TranslateCore::makeChannel<CapturedPacket>(packetStreamCapacity);
    auto [eventSink, events] = TranslateCore::makeChannel<TapEvent>(16);
    auto graph = std::make_unique<TapGraph>(source, std::move(eventSink), std::move(packetSink));
    TapGraph &g = *graph;
    std::unique_ptr<TapHardware> hardware(
        new TapHardware(std::move(packets), std::move(events), std::move(graph)));

    std::exception_ptr failure;
    try {
        {
            PipeWireLocked locked;
            g.connect();
        }
        co_await waitFor(*hardware->m_events, TapEvent::synced, setupBound);
        {
            PipeWireLocked locked;
            if (source.pid && !g.sourcePresent())
                throw TranslationFailure::sourceUnavailable();
            if (const int status = g.createStream(); status < 0)
                throw TapAudioFailure(status);
        }
        co_await waitFor(*hardware->m_events, TapEvent::ready, setupBound);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        g.writer.fail(failure);
        hardware->destroy();
        std::rethrow_exception(failure);
    }
    co_return hardware;
}

QCoro::Task<> TapHardware::start()
{
    PipeWireLocked locked;
    TapGraph &g = *m_graph;
    if (!g.io || g.started)
        throw TranslationFailure::sourceUnavailable();
    if (const int status = g.activate(); status < 0)
        throw TapAudioFailure(status);
    co_return;
}

QCoro::Task<> TapHardware::stop(bool flush)
{
    TapGraph &g = *m_graph;
    int firstError = 0;
    {
        // After this no cycle reaches the writer any more.
        PipeWireLocked locked;
        firstError = g.deactivate();
    }
    g.writer.finish(flush);
    bool connected = false;
    {
        PipeWireLocked locked;
        g.releaseStream();
        connected = g.core != nullptr;
    }
    // The server has removed our node and links once it answers; then the connection goes.
    try {
        if (connected)
            co_await waitFor(*m_events, TapEvent::synced, teardownBound);
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
        PipeWireLocked locked;
        m_graph->destroy();
    }
    m_graph->writer.finish(false);
}

} // namespace TranslateMac
