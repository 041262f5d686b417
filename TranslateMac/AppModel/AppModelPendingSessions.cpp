#include "AppModel.h"

#include "TranslateMac/Account/SessionCredentialStore.h"

#include <QPointer>

#include <algorithm>

using namespace TranslateCore;

namespace TranslateMac {

void AppModel::recordPendingSession(qint64 id, const QString &routeCode)
{
    if (m_sessionStore)
        m_sessionStore->recordPendingSession(PendingSession { id, routeCode, m_clock.now() });
}

void AppModel::forgetPendingSession(qint64 id)
{
    if (!m_sessionStore)
        return;
    try {
        m_sessionStore->removePendingSession(id);
    } catch (...) {
        // The next launch settles it again; the service answers a settled session as settled.
    }
}

void AppModel::takeLeftSession()
{
    if (!m_sessionStore || m_sessionID)
        return;
    std::vector<PendingSession> left;
    try {
        left = m_sessionStore->pendingSessions();
    } catch (...) {
        return; // an unreadable record settles nothing; the store's own failure shows elsewhere
    }
    if (left.empty())
        return;
    // Held exactly like a settlement this run could not confirm: owned until the service
    // confirms it, which keeps new starts, sign-out and an unguarded quit away meanwhile.
    setSessionID(left.front().sessionId);
    setState(ListeningState::pending);
    setNotice(m_loggedIn ? QStringLiteral("上次的翻译未正常结束，正在为它完成结算。")
                         : QStringLiteral("上次的翻译未正常结束，登录后将自动完成结算。"));
}

void AppModel::settlePendingWhileSignedIn()
{
    if (!m_loggedIn || !m_sessionID || m_state != ListeningState::pending
        || m_pendingRetryTask.isRunning())
        return;
    m_pendingRetryTask = TaskHandle::start(
        [this](CancellationToken token) { return settlePendingLoop(token); }, lifetime());
}

QCoro::Task<> AppModel::settlePendingLoop(CancellationToken token)
{
    QPointer<AppModel> self(this);
    std::chrono::milliseconds delay = pendingRetryFirst;
    bool settledAny = false;
    while (m_loggedIn && m_sessionID && m_state == ListeningState::pending) {
        const qint64 id = *m_sessionID;
        co_await reconcileFinish();
        if (!self || token.isCancelled())
            co_return;
        if (m_sessionID == id) {
            // Not confirmed (the network, most likely): try again later, never while signed out.
            co_await m_clock.sleep(delay, token);
            if (!self || token.isCancelled())
                co_return;
            delay = std::min<std::chrono::milliseconds>(delay * 2, pendingRetryLimit);
            continue;
        }
        settledAny = true;
        delay = pendingRetryFirst;
        takeLeftSession(); // an older run may have left more than one
    }
    // The account was not refreshed while the session was held.
    if (settledAny && !ownsSession() && m_loggedIn)
        co_await refreshAccount();
}

} // namespace TranslateMac
