#include "OrderedSocketWriter.h"

#include "TranslateCore/Async/TaskHandle.h"
#include "TranslateCore/Contract/TranslationFailure.h"

#include <algorithm>
#include <chrono>
#include <deque>

namespace TranslateCore {

namespace {

const QString inputFlushText = QStringLiteral(R"({"type":"input.flush"})");
const QString sessionFinishText = QStringLiteral(R"({"type":"session.finish"})");

} // namespace

struct OrderedSocketWriter::State {
    std::shared_ptr<SocketConnection> socket;
    std::deque<SocketMessage> pending;
    qint64 pendingBytes = 0; // queued audio whose send has not completed, the one in flight too
    TaskHandle drainTask;
    std::exception_ptr failure;
    bool accepting = true;
    std::function<void()> onFailure;

    // Refuses further frames and drops everything not yet handed to the socket.
    void stopAccepting()
    {
        accepting = false;
        pending.clear();
        pendingBytes = 0;
    }
    void startDraining(const std::shared_ptr<State> &self);
    void takeFailurePath(std::exception_ptr error);
    static QCoro::Task<> drain(std::shared_ptr<State> state, CancellationToken token);
};

void OrderedSocketWriter::State::startDraining(const std::shared_ptr<State> &self)
{
    if (drainTask.isRunning())
        return; // the running loop picks the new message up itself
    drainTask = TaskHandle::start([self](CancellationToken token) { return drain(self, token); });
}

QCoro::Task<> OrderedSocketWriter::State::drain(
    std::shared_ptr<State> state, CancellationToken token)
{
    try {
        while (!state->pending.empty()) {
            token.throwIfCancelled();
            SocketMessage message = std::move(state->pending.front());
            state->pending.pop_front();
            const qint64 audioBytes
                = message.kind == SocketMessage::Kind::audio ? message.audioPayload.size() : 0;
            co_await state->socket->send(std::move(message));
            // discard() may have reset the count while this frame was in flight.
            state->pendingBytes = std::max<qint64>(0, state->pendingBytes - audioBytes);
        }
    } catch (...) {
        state->takeFailurePath(std::current_exception());
        throw;
    }
}

void OrderedSocketWriter::State::takeFailurePath(std::exception_ptr error)
{
    if (failure)
        return;
    failure = std::move(error);
    stopAccepting();
    if (auto callback = std::exchange(onFailure, nullptr))
        callback();
}

OrderedSocketWriter::OrderedSocketWriter(
    std::shared_ptr<SocketConnection> socket, std::function<void()> onFailure)
    : m_state(std::make_shared<State>())
{
    m_state->socket = std::move(socket);
    m_state->onFailure = std::move(onFailure);
}

OrderedSocketWriter::~OrderedSocketWriter()
{
    // A send still in flight keeps the state alive until it ends; it must not call back into an
    // owner that is gone.
    m_state->onFailure = nullptr;
    m_state->stopAccepting();
    m_state->drainTask.cancel();
}

void OrderedSocketWriter::audio(const QByteArray &data)
{
    State &s = *m_state;
    if (!s.accepting)
        throw TranslationFailure::connectionLost();
    if (data.isEmpty() || data.size() % 2 != 0 || data.size() > largestAudioMessage)
        throw TranslationFailure::audioFormat();
    if (s.pendingBytes + data.size() > audioBacklogCeiling)
        throw TranslationFailure::queueFull();
    s.pending.push_back(SocketMessage::audio(data));
    s.pendingBytes += data.size();
    s.startDraining(m_state);
}

void OrderedSocketWriter::control(const QString &text)
{
    State &s = *m_state;
    if (!s.accepting)
        throw TranslationFailure::connectionLost();
    if (qsizetype(s.pending.size()) >= controlAdmission)
        throw TranslationFailure::queueFull();
    s.pending.push_back(SocketMessage::text(text));
    s.startDraining(m_state);
}

QCoro::Task<> OrderedSocketWriter::finish()
{
    auto state = m_state; // the writer may be destroyed while this waits
    if (!state->accepting) {
        if (state->failure)
            std::rethrow_exception(state->failure);
        co_return;
    }
    state->accepting = false;
    state->pending.push_back(SocketMessage::text(inputFlushText));
    state->pending.push_back(SocketMessage::text(sessionFinishText));
    state->startDraining(state);
    if (state->drainTask.isRunning())
        co_await state->drainTask.finished();
    if (state->failure)
        std::rethrow_exception(state->failure);
}

QCoro::Task<> OrderedSocketWriter::discard()
{
    auto state = m_state;
    state->stopAccepting();
    if (state->drainTask.isRunning())
        state->drainTask.cancel();
    co_await state->socket->close();
    if (state->drainTask.isRunning())
        co_await state->drainTask.finished(); // its error, if any, is not ours to report
    state->drainTask = TaskHandle();
}

qint64 OrderedSocketWriter::pendingBytes() const
{
    return m_state->pendingBytes;
}

qsizetype OrderedSocketWriter::pendingCount() const
{
    return qsizetype(m_state->pending.size());
}

bool OrderedSocketWriter::isAccepting() const
{
    return m_state->accepting;
}

QString clientPingText(Instant now)
{
    const qint64 ms
        = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    return QStringLiteral(R"({"type":"client.ping","ts":%1})").arg(ms);
}

} // namespace TranslateCore
