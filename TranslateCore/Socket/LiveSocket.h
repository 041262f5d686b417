#pragma once

#include "TranslateCore/Socket/SocketConnection.h"

#include <QUrl>

#include <memory>

namespace TranslateCore {

// The live translation socket on QWebSocket. It opens at once; a failed opening handshake
// surfaces as the error of the first send() or receive(). Incoming frames wait in a bounded inbox
// until receive() asks for them, so nothing is lost while the reader is busy elsewhere.
// Transport failures are thrown as NetworkError; they reach receive() only after every frame that
// arrived before them has been delivered. Main thread only.
class LiveSocket final : public SocketConnection {
public:
    // Messages above this size are refused by the socket (it closes the connection).
    static constexpr qint64 maxIncomingMessageSize = 1'048'576;
    // Frames received but not yet asked for; one more closes the connection with code 1008.
    static constexpr qsizetype inboxCapacity = 256;
    // The kernel send buffer asked for, so a stalled network backs up into the writer's count
    // within seconds instead of disappearing into a large kernel buffer.
    static constexpr int sendBufferSize = 64 * 1024;

    // `url` has already been checked against the service's address.
    explicit LiveSocket(const QUrl &url);
    ~LiveSocket() override;
    LiveSocket(const LiveSocket &) = delete;
    LiveSocket &operator=(const LiveSocket &) = delete;

    // Completes when the frame's bytes have left the process's write buffers for the kernel.
    QCoro::Task<> send(SocketMessage message) override;
    QCoro::Task<SocketMessage> receive() override;
    // Closes with code 1000 and releases the connection; a pending send() or receive() fails.
    QCoro::Task<> close() override;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace TranslateCore
