#include "LiveConnection.h"
#include "AppModelSupport.h"

#include "TranslateCore/Contract/Integer.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/Socket/OrderedSocketWriter.h"
#include "TranslateCore/Subtitles/ServerEvent.h"

#include <QPointer>

using namespace TranslateCore;
using namespace TranslateMac::AppModelSupport;

namespace TranslateMac {

LiveConnection::LiveConnection(std::shared_ptr<SocketConnection> socket, qint64 sessionID,
    Clock &clock, EventHandler handler, CancellationToken lifetime)
    : m_socket(std::move(socket)), m_sessionID(sessionID), m_clock(clock),
      m_handler(std::move(handler)), m_lifetime(std::move(lifetime)), m_lastPong(clock.now())
{
    QPointer<LiveConnection> self(this);
    m_writer = std::make_shared<OrderedSocketWriter>(m_socket, [self] {
        if (self)
            self->reportLost(
                std::make_exception_ptr(TranslationFailure::connectionLost()), self->m_lifetime);
    });
    m_deadlineTask = TaskHandle::start(
        [this](CancellationToken token) { return awaitReady(token); }, m_lifetime);
    m_receiveTask = TaskHandle::start(
        [this](CancellationToken token) { return receiveLoop(token); }, m_lifetime);
}

LiveConnection::~LiveConnection() = default;

QCoro::Task<> LiveConnection::ready()
{
    const OneShot<> ready = m_ready;
    co_await ready.wait();
}

void LiveConnection::completeReady(std::exception_ptr failure)
{
    m_deadlineTask = {};
    if (std::exchange(m_readyAnswered, true))
        return;
    if (failure)
        m_ready.fail(failure);
    else
        m_ready.resolve();
}

void LiveConnection::reportLost(std::exception_ptr reason, const CancellationToken &token)
{
    if (inert(token) || m_lifetime.isCancelled())
        return;
    Q_EMIT lost(reason);
}

QCoro::Task<> LiveConnection::awaitReady(CancellationToken token)
{
    QPointer<LiveConnection> self(this);
    const std::shared_ptr<SocketConnection> socket = m_socket;
    co_await m_clock.sleep(readyDeadline, token);
    if (!self || inert(token))
        co_return;
    completeReady(std::make_exception_ptr(TranslationFailure::timeout()));
    co_await socket->close();
}

QCoro::Task<> LiveConnection::receiveLoop(CancellationToken token)
{
    QPointer<LiveConnection> self(this);
    const std::shared_ptr<SocketConnection> socket = m_socket;
    std::exception_ptr failure;
    try {
        while (!token.isCancelled()) {
            const SocketMessage message = co_await socket->receive();
            if (!self || inert(token))
                co_return; // a late frame of a closed socket changes nothing
            if (message.kind == SocketMessage::Kind::audio)
                throw TranslationFailure::audioFormat();
            const ServerEvent event = ServerEvent::fromText(message.textPayload);
            if (handleOwn(event))
                continue;
            const bool more = co_await m_handler(event);
            if (!self || !more)
                co_return;
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || !failure || inert(token))
        co_return;
    if (!m_readyAnswered) {
        completeReady(failure); // the socket never became ready: ready() fails with it
        co_return;
    }
    reportLost(failure, token);
}

bool LiveConnection::handleOwn(const ServerEvent &event)
{
    if (event.type == u"server.pong") {
        m_lastPong = m_clock.now();
        return false; // the owner learns that the service answers, too
    }
    if (event.type != u"session.ready")
        return false;
    if (integer(event.json.value("sessionId")) != m_sessionID)
        throw TranslationFailure::invalidResponse();
    const std::optional<qint64> interval = integer(event.json.value("heartbeatIntervalMs"));
    if (!interval || *interval < 1 || *interval > 60000)
        throw TranslationFailure::invalidResponse();
    m_lastPong = m_clock.now();
    startHeartbeat(*interval);
    completeReady(nullptr);
    return true;
}

void LiveConnection::startHeartbeat(qint64 intervalMs)
{
    m_heartbeatTask = TaskHandle::start(
        [this, intervalMs](CancellationToken token) { return heartbeatLoop(intervalMs, token); },
        m_lifetime);
}

QCoro::Task<> LiveConnection::heartbeatLoop(qint64 intervalMs, CancellationToken token)
{
    QPointer<LiveConnection> self(this);
    const std::chrono::milliseconds interval(intervalMs);
    while (!token.isCancelled()) {
        co_await m_clock.sleep(interval, token);
        if (!self || inert(token))
            co_return;
        bool lost = m_clock.now() - m_lastPong > 3 * interval;
        if (!lost) {
            try {
                m_writer->control(clientPingText(m_clock.now()));
            } catch (...) {
                lost = true; // the writer refused: the connection is as good as gone
            }
        }
        if (lost) {
            reportLost(std::make_exception_ptr(TranslationFailure::connectionLost()), token);
            co_return;
        }
    }
}

void LiveConnection::upload(std::shared_ptr<PacketStream> stream, PacketFilter filter)
{
    m_uploadTask = TaskHandle::start(
        [this, stream, filter](
            CancellationToken token) { return uploadLoop(stream, filter, token); },
        m_lifetime);
}

QCoro::Task<> LiveConnection::uploadFinished() const
{
    co_await m_uploadTask.finished();
}

QCoro::Task<> LiveConnection::uploadLoop(
    std::shared_ptr<PacketStream> stream, PacketFilter filter, CancellationToken token)
{
    QPointer<LiveConnection> self(this);
    std::exception_ptr failure;
    try {
        while (true) {
            std::optional<CapturedPacket> packet = co_await stream->next(token);
            if (!packet || !self || inert(token))
                co_return;
            if (!filter(*packet))
                co_return;
            m_writer->audio(packet->pcm);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || !failure || isCancellation(failure) || inert(token))
        co_return;
    reportLost(failure, token);
}

QCoro::Task<> LiveConnection::finish()
{
    const std::shared_ptr<OrderedSocketWriter> writer = m_writer;
    if (!writer)
        throw TranslationFailure::connectionLost();
    co_await writer->finish();
}

QCoro::Task<> LiveConnection::close()
{
    m_closed = true;
    completeReady(std::make_exception_ptr(CancellationError()));
    m_receiveTask = {};
    m_heartbeatTask = {};
    m_deadlineTask = {};
    m_uploadTask = {};
    const std::shared_ptr<OrderedSocketWriter> writer = std::exchange(m_writer, nullptr);
    const std::shared_ptr<SocketConnection> socket = std::exchange(m_socket, nullptr);
    if (writer)
        co_await writer->discard();
    else if (socket)
        co_await socket->close();
}

} // namespace TranslateMac
