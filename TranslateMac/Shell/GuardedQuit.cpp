#include "GuardedQuit.h"

#include "TranslateMac/AppModel/AppModel.h"

#include "TranslateCore/Async/Cancellation.h"

#include <QPointer>

#include <algorithm>

namespace TranslateMac {

using TranslateCore::CancellationToken;

const QString GuardedQuit::pendingMessage
    = QStringLiteral("监听已停止，但结算尚未确认。请点击“确认结算”后再退出。");

QuitCheck checkDeferredQuit(const QuitSnapshot &snapshot, int pauses)
{
    if (pauses > 0
        && (snapshot.state == ListeningState::pending || pauses >= GuardedQuit::pauseLimit))
        return QuitCheck::giveUp;
    switch (snapshot.state) {
    case ListeningState::preparing:
    case ListeningState::connecting:
    case ListeningState::reconnecting:
    case ListeningState::stopping:
        return QuitCheck::wait;
    default:
        break;
    }
    // A settlement still confirming (or the wallet refresh after it) counts as running too.
    return snapshot.hasSessionID || snapshot.settling ? QuitCheck::wait : QuitCheck::quit;
}

GuardedQuit::Target GuardedQuit::Target::from(AppModel &model)
{
    QPointer<AppModel> weak(&model);
    return Target {
        [weak] { return weak && weak->ownsSession(); },
        [weak] {
            return weak
                ? QuitSnapshot { weak->state(), weak->sessionID().has_value(), weak->settling() }
                : QuitSnapshot {};
        },
        [weak] {
            if (weak)
                weak->stop();
        },
        [weak](const QString &text) {
            if (weak)
                weak->reportError(text);
        },
    };
}

GuardedQuit::GuardedQuit(TranslateCore::Clock &clock, QObject *parent)
    : QObject(parent), m_clock(clock)
{
}

QuitReply GuardedQuit::request()
{
    if (!m_target || !m_target->ownsSession())
        return QuitReply::now;
    if (m_terminating)
        return QuitReply::cancel;
    m_terminating = true;
    m_target->stop();
    m_task = TranslateCore::TaskHandle::start(
        [this](CancellationToken token) { return waitForSettlement(token); });
    return QuitReply::later;
}

QuitReply GuardedQuit::requestBounded()
{
    if (!m_target || !m_target->ownsSession())
        return QuitReply::now;
    if (!m_deadline)
        m_deadline = m_clock.now() + bound;
    if (m_terminating)
        return QuitReply::later;
    m_terminating = true;
    m_target->stop();
    m_task = TranslateCore::TaskHandle::start(
        [this](CancellationToken token) { return waitForSettlement(token); });
    return QuitReply::later;
}

std::chrono::milliseconds GuardedQuit::nextPause() const
{
    if (!m_deadline)
        return pause;
    const auto left
        = std::chrono::duration_cast<std::chrono::milliseconds>(*m_deadline - m_clock.now());
    return std::clamp(left, std::chrono::milliseconds(0), std::chrono::milliseconds(pause));
}

QCoro::Task<> GuardedQuit::waitForSettlement(CancellationToken token)
{
    QPointer<GuardedQuit> self(this);
    for (int pauses = 0;; ++pauses) {
        const QuitCheck check = checkDeferredQuit(m_target->snapshot(), pauses);
        // A bounded end gives up by ending the program: what is not settled stays on record.
        if (check == QuitCheck::quit
            || (m_deadline && (check == QuitCheck::giveUp || m_clock.now() >= *m_deadline))) {
            answer(true);
            co_return;
        }
        if (check == QuitCheck::giveUp) {
            answer(false);
            co_return;
        }
        try {
            co_await m_clock.sleep(nextPause(), token);
        } catch (const TranslateCore::CancellationError &) {
            if (self)
                answer(false);
            co_return;
        }
        if (!self)
            co_return;
    }
}

void GuardedQuit::answer(bool quit)
{
    m_terminating = false;
    m_deadline.reset();
    if (!quit)
        m_target->refuse(pendingMessage);
    Q_EMIT answered(quit);
}

} // namespace TranslateMac
