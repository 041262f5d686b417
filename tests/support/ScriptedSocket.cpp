#include "support/ScriptedSocket.h"

#include "support/TestSupport.h"

#include "TranslateCore/Contract/PlatformErrors.h"

#include <QTimer>

#include <gtest/gtest.h>

using namespace TranslateCore;

namespace TestSupport {

QCoro::Task<> ScriptedSocket::send(SocketMessage message)
{
    sent.push_back(message);
    OneShot<> done;
    if (completion == Completion::immediate)
        done.resolve();
    else if (completion == Completion::posted)
        QTimer::singleShot(0, [done]() mutable { done.resolve(); });
    else
        inFlight.push_back(done);
    co_await done.wait();
}

QCoro::Task<SocketMessage> ScriptedSocket::receive()
{
    co_await OneShot<>().wait(); // the writer never reads
    co_return SocketMessage::text({});
}

QCoro::Task<> ScriptedSocket::close()
{
    ++closeCalls; // the close code of this interface is always 1000
    co_return;
}

void ScriptedSocket::releaseAll()
{
    while (!inFlight.empty())
        failNext();
}

void ScriptedSocket::completeNext()
{
    take().resolve();
    drainEvents();
}

void ScriptedSocket::failNext()
{
    take().fail(std::make_exception_ptr(NetworkError(QNetworkReply::RemoteHostClosedError, "")));
    drainEvents();
}

OneShot<> ScriptedSocket::take()
{
    EXPECT_FALSE(inFlight.empty());
    OneShot<> next = inFlight.front();
    inFlight.pop_front();
    return next;
}

} // namespace TestSupport
