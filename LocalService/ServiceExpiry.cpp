#include "LiveSession.h"
#include "ServiceServer.h"

#include <QTimer>

#include <algorithm>

#include <chrono>

namespace LocalService {

// A client that went away without finishing (killed, crashed, its computer asleep) leaves its
// session billing and blocks the account's next one (3011). The service ends such a session once
// no socket of it has been open for the time-out, charging the audio it received, so a demo left
// behind can always be started again.

bool ServiceServer::hasOpenSocket(qint64 sessionId) const
{
    return std::any_of(
        m_live.cbegin(), m_live.cend(), [sessionId](const QPointer<LiveSession> &live) {
            return live && live->isOpen() && live->sessionId() == sessionId;
        });
}

void ServiceServer::watchAbandonment(Session &session)
{
    if (session.settled)
        return;
    session.socketlessSinceMs = monotonicMs();
    scheduleExpiry(session.id, m_state.abandonedSessionMs);
}

void ServiceServer::scheduleExpiry(qint64 sessionId, qint64 delayMs)
{
    if (m_state.abandonedSessionMs <= 0)
        return;
    QTimer::singleShot(std::chrono::milliseconds(qMax<qint64>(0, delayMs)), Qt::PreciseTimer, this,
        [this, sessionId] { expireIfAbandoned(sessionId); });
}

void ServiceServer::expireIfAbandoned(qint64 sessionId)
{
    const qint64 timeout = m_state.abandonedSessionMs;
    const auto found = m_state.sessions.find(sessionId);
    if (timeout <= 0 || found == m_state.sessions.end() || found->second.settled
        || hasOpenSocket(sessionId))
        return;
    // A socket may have come and gone since this check was scheduled; the wait starts anew then.
    const qint64 remaining = found->second.socketlessSinceMs + timeout - monotonicMs();
    if (remaining > 0) {
        scheduleExpiry(sessionId, remaining);
        return;
    }
    settle(found->second, QStringLiteral("EXPIRED"), false);
}

void ServiceServer::setAbandonedSessionMs(qint64 timeoutMs)
{
    m_state.abandonedSessionMs = timeoutMs;
    for (const auto &[id, session] : m_state.sessions) {
        if (!session.settled && !hasOpenSocket(id))
            scheduleExpiry(id, session.socketlessSinceMs + timeoutMs - monotonicMs());
    }
}

} // namespace LocalService
