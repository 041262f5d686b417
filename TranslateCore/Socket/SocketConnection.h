#pragma once

#include "TranslateCore/Socket/SocketMessage.h"

#include <QCoroTask>

namespace TranslateCore {

// The live socket as the model and the writer see it, so both can run against a scripted fake.
// Shared by reference between the model (receive, close) and the writer (send, close).
class SocketConnection {
public:
    virtual ~SocketConnection() = default;
    // Completes when the frame has left the socket's write buffer.
    virtual QCoro::Task<> send(SocketMessage message) = 0;
    // The next incoming frame, in arrival order.
    virtual QCoro::Task<SocketMessage> receive() = 0;
    // Closes with code 1000; never fails.
    virtual QCoro::Task<> close() = 0;
};

} // namespace TranslateCore
