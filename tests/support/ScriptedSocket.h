#pragma once

#include "TranslateCore/Async/OneShot.h"
#include "TranslateCore/Socket/SocketConnection.h"

#include <deque>
#include <vector>

namespace TestSupport {

// A socket whose sends complete when the test says so, right away, or from a posted event. It
// records what was sent and how often it was closed; it never receives anything.
class ScriptedSocket final : public TranslateCore::SocketConnection {
public:
    enum class Completion { manual, immediate, posted };
    Completion completion = Completion::manual;
    std::vector<TranslateCore::SocketMessage> sent;
    int closeCalls = 0;
    std::deque<TranslateCore::OneShot<>> inFlight; // sends waiting for completeNext / failNext

    QCoro::Task<> send(TranslateCore::SocketMessage message) override;
    QCoro::Task<TranslateCore::SocketMessage> receive() override;
    QCoro::Task<> close() override;

    // Ends the oldest send in flight, then runs the events that follow from it.
    void completeNext();
    void failNext(); // with NetworkError(RemoteHostClosedError)
    void releaseAll(); // fails every send in flight

private:
    TranslateCore::OneShot<> take();
};

} // namespace TestSupport
