#include "ReplyAwaiter.h"

namespace TranslateCore {

void ReplyAwaiter::await_suspend(std::coroutine_handle<> handle)
{
    arm(handle);
    QObject::connect(m_reply, &QNetworkReply::finished, m_anchor, firer(finished));
    QObject::connect(m_reply, &QObject::destroyed, m_anchor, firer(destroyed));
    m_cancellation = m_token.onCancel([cancel = firer(cancelled), reply = m_reply] {
        cancel(); // recorded first, so the finished() that abort() emits is ignored
        if (reply)
            reply->abort();
    });
}

QNetworkReply *ReplyAwaiter::await_resume()
{
    if (outcome() == cancelled || m_token.isCancelled()) {
        if (m_reply && !m_reply->isFinished())
            m_reply->abort();
        throw CancellationError();
    }
    if (!m_reply)
        throw CancellationError();
    return m_reply;
}

} // namespace TranslateCore
