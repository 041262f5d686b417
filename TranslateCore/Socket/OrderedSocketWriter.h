#pragma once

#include "TranslateCore/Contract/Instant.h"
#include "TranslateCore/Socket/SocketConnection.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

namespace TranslateCore {

// Every outgoing frame of a live session passes through one writer: one FIFO queue, one send at a
// time in queue order, a bound on the audio that waits for the network, and the first send
// failure turned into a single notification. Producers never wait for the network: audio() and
// control() only queue. Main thread only; one writer per socket, never reused.
class OrderedSocketWriter {
public:
    // 100 ms of upload audio.
    static constexpr qsizetype largestAudioMessage = 3'200;
    // 3 s of upload audio; a frame stays counted until its send has completed.
    static constexpr qint64 audioBacklogCeiling = 96'000;
    // control() is refused once this many messages are queued.
    static constexpr qsizetype controlAdmission = 64;

    // `onFailure` is called once, on the main thread, when a send fails; never after the writer
    // has been destroyed.
    OrderedSocketWriter(std::shared_ptr<SocketConnection> socket, std::function<void()> onFailure);
    ~OrderedSocketWriter();
    OrderedSocketWriter(const OrderedSocketWriter &) = delete;
    OrderedSocketWriter &operator=(const OrderedSocketWriter &) = delete;

    // Queues one binary frame. Throws TranslationFailure: connectionLost once the writer stopped
    // accepting, audioFormat for an empty, odd-sized or oversized frame, queueFull when the
    // backlog would pass the ceiling (nothing is queued and the writer stays open).
    void audio(const QByteArray &data);
    // Queues one text frame, unread. Throws connectionLost, or queueFull when 64 messages wait.
    void control(const QString &text);
    // Ends the input: queues the input flush and the session finish, and completes once every
    // queued frame has been sent; fails with the first send error. A second call returns at once
    // (or fails with that error again).
    QCoro::Task<> finish();
    // Drops everything unsent, closes the socket and waits for the drain to end. Never fails.
    QCoro::Task<> discard();

    qint64 pendingBytes() const;
    qsizetype pendingCount() const;
    bool isAccepting() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

// The heartbeat's text frame: {"type":"client.ping","ts":<milliseconds since 1970 UTC>}.
QString clientPingText(Instant now);

} // namespace TranslateCore
