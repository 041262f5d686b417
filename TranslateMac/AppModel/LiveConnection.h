#pragma once

#include "TranslateMac/Capture/AudioCapturing.h"

#include "TranslateCore/Async/Clock.h"
#include "TranslateCore/Async/OneShot.h"
#include "TranslateCore/Async/TaskHandle.h"
#include "TranslateCore/Contract/Instant.h"
#include "TranslateCore/Socket/SocketConnection.h"

#include <QCoroTask>
#include <QObject>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace TranslateCore {
class OrderedSocketWriter;
struct ServerEvent;
} // namespace TranslateCore

namespace TranslateMac {

// One live socket of one translation session and everything that runs on it: the ordered
// writer, the wait for "session.ready" (15 s at most), the receive loop, the heartbeat and the
// upload of captured packets. A closed connection is inert: none of its loops reports anything
// after close(), so a late frame of an old socket can never reach the model.
class LiveConnection : public QObject {
    Q_OBJECT

public:
    // The owner's answer to each event other than "session.ready": it may throw to fail the
    // stream, and returns whether to keep receiving. Awaited before the next frame is read, so
    // an event that ends the session is handled before anything after it.
    using EventHandler = std::function<QCoro::Task<bool>(TranslateCore::ServerEvent)>;
    // Called for each captured packet; false ends the upload without sending it.
    using PacketFilter = std::function<bool(const CapturedPacket &)>;

    static constexpr std::chrono::seconds readyDeadline { 15 };

    // Opens the loops on `socket` for session `sessionID`; they end with `lifetime` too.
    LiveConnection(std::shared_ptr<TranslateCore::SocketConnection> socket, qint64 sessionID,
        TranslateCore::Clock &clock, EventHandler handler,
        TranslateCore::CancellationToken lifetime);
    ~LiveConnection() override;

    // Completes once the service announced the session ready; fails with what went wrong
    // before that (a time-out after the deadline, the socket's failure, a refused event).
    QCoro::Task<> ready();
    // The ready wait is still open.
    bool awaitingReady() const { return !m_readyAnswered; }

    // Uploads the packets of `stream` that `filter` accepts, in order, until it ends.
    void upload(std::shared_ptr<PacketStream> stream, PacketFilter filter);
    // Completes when the upload has ended (at once when none runs).
    QCoro::Task<> uploadFinished() const;
    void stopHeartbeat() { m_heartbeatTask.cancel(); }
    // Sends what is queued, then the stop message.
    QCoro::Task<> finish();
    // Ends every loop of this connection and drops what is queued.
    QCoro::Task<> close();

Q_SIGNALS:
    // The connection broke after it became ready: a transport failure, a missed heartbeat
    // (`connectionLost`), or the failure a received event or the upload ended with.
    void lost(std::exception_ptr reason);

private:
    void completeReady(std::exception_ptr failure);
    // Reports `reason` once, unless the connection was closed or its owner went away.
    void reportLost(std::exception_ptr reason, const TranslateCore::CancellationToken &token);
    bool inert(const TranslateCore::CancellationToken &token) const
    {
        return m_closed || token.isCancelled();
    }
    QCoro::Task<> awaitReady(TranslateCore::CancellationToken token);
    QCoro::Task<> receiveLoop(TranslateCore::CancellationToken token);
    // The connection's own events; false for those the owner handles.
    bool handleOwn(const TranslateCore::ServerEvent &event);
    void startHeartbeat(qint64 intervalMs);
    QCoro::Task<> heartbeatLoop(qint64 intervalMs, TranslateCore::CancellationToken token);
    QCoro::Task<> uploadLoop(std::shared_ptr<PacketStream> stream, PacketFilter filter,
        TranslateCore::CancellationToken token);

    std::shared_ptr<TranslateCore::SocketConnection> m_socket;
    std::shared_ptr<TranslateCore::OrderedSocketWriter> m_writer;
    const qint64 m_sessionID;
    TranslateCore::Clock &m_clock;
    EventHandler m_handler;
    TranslateCore::CancellationToken m_lifetime;
    TranslateCore::OneShot<> m_ready;
    bool m_readyAnswered = false;
    TranslateCore::TaskHandle m_deadlineTask;
    TranslateCore::TaskHandle m_receiveTask;
    TranslateCore::TaskHandle m_heartbeatTask;
    TranslateCore::TaskHandle m_uploadTask;
    TranslateCore::Instant m_lastPong;
    bool m_closed = false;
};

} // namespace TranslateMac
