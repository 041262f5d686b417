#pragma once

#include "Resumption.h"

#include <QNetworkReply>
#include <QPointer>

namespace TranslateCore {

// co_await awaitReply(reply, token) resumes with the reply once it has finished. Cancelling aborts
// the reply and throws CancellationError; a reply destroyed underneath the await (its manager died
// with its owner) also throws CancellationError instead of leaving the flow suspended forever.
class ReplyAwaiter : detail::AwaiterBase {
public:
    ReplyAwaiter(QNetworkReply *reply, CancellationToken token)
        : m_reply(reply), m_token(std::move(token))
    {
    }
    ReplyAwaiter(ReplyAwaiter &&) noexcept = default;

    bool await_ready() const noexcept
    {
        return !m_reply || m_reply->isFinished() || m_token.isCancelled();
    }
    void await_suspend(std::coroutine_handle<> handle);
    QNetworkReply *await_resume();

private:
    enum { finished, cancelled, destroyed };
    QPointer<QNetworkReply> m_reply;
    CancellationToken m_token;
};

inline ReplyAwaiter awaitReply(QNetworkReply *reply, CancellationToken token = {})
{
    return ReplyAwaiter(reply, std::move(token));
}

} // namespace TranslateCore
