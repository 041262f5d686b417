#include "SleepGuard.h"

#include "TranslateMac/AppModel/AppModel.h"

#include "TranslateCore/Async/Cancellation.h"

#include <QPointer>

#include <algorithm>

namespace TranslateMac {

using TranslateCore::CancellationToken;

const QString SleepGuard::sleptNotice = QStringLiteral("电脑已进入睡眠，本次翻译已停止。");

SleepGuard::Target SleepGuard::Target::from(AppModel &model)
{
    const GuardedQuit::Target quit = GuardedQuit::Target::from(model);
    QPointer<AppModel> weak(&model);
    return Target { quit.ownsSession, quit.snapshot, quit.stop, [weak](const QString &text) {
                       if (weak)
                           weak->reportNotice(text);
                   } };
}

SleepGuard::SleepGuard(SleepLock &lock, TranslateCore::Clock &clock, QObject *parent)
    : QObject(parent), m_lock(lock), m_clock(clock)
{
    connect(&m_lock, &SleepLock::sleepAnnounced, this, &SleepGuard::sleepAnnounced);
}

void SleepGuard::setTarget(Target target)
{
    m_target = std::move(target);
    ownershipChanged();
}

void SleepGuard::ownershipChanged()
{
    // On the way to sleep the lock is let go once the session is settled (or could not be),
    // whatever the model still holds.
    if (m_sleeping)
        return;
    if (m_target && m_target->ownsSession())
        m_lock.acquire();
    else
        m_lock.release();
}

void SleepGuard::sleepAnnounced(bool sleeping)
{
    if (!sleeping) {
        m_sleeping = false;
        m_task.cancel();
        if (m_stoppedForSleep && m_target)
            m_target->tell(sleptNotice);
        m_stoppedForSleep = false;
        // A settlement still awaiting confirmation keeps the session owned: lock again.
        ownershipChanged();
        return;
    }
    if (m_sleeping)
        return;
    m_sleeping = true;
    if (!m_target || !m_target->ownsSession()) {
        m_lock.release();
        return;
    }
    m_stoppedForSleep = true;
    m_target->stop();
    m_task = TranslateCore::TaskHandle::start(
        [this](CancellationToken token) { return settleBeforeSleep(token); });
}

QCoro::Task<> SleepGuard::settleBeforeSleep(CancellationToken token)
{
    QPointer<SleepGuard> self(this);
    const TranslateCore::Instant deadline = m_clock.now() + settleBound;
    for (int checks = 0;; ++checks) {
        // Settled, or waiting for a confirmation that needs the network: either way nothing
        // more happens before the computer sleeps.
        if (checkDeferredQuit(m_target->snapshot(), checks) != QuitCheck::wait
            || m_clock.now() >= deadline)
            break;
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - m_clock.now());
        try {
            co_await m_clock.sleep(std::min(left, checkInterval), token);
        } catch (const TranslateCore::CancellationError &) {
            co_return;
        }
        if (!self)
            co_return;
    }
    m_lock.release();
}

} // namespace TranslateMac
