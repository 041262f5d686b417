#pragma once

#include "GuardedQuit.h"

#include "TranslateCore/Async/Clock.h"
#include "TranslateCore/Async/TaskHandle.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace TranslateMac {

class AppModel;

// What the system's power manager offers: a lock that delays sleep while it is held, and the
// news that the computer is about to sleep or has woken. `acquire` and `release` may be called
// any number of times; without a power manager they do nothing.
class SleepLock : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    virtual void acquire() = 0;
    virtual void release() = 0;
    virtual bool held() const = 0;

Q_SIGNALS:
    // true: the computer is about to sleep (it waits for held locks); false: it woke.
    void sleepAnnounced(bool sleeping);
};

// Keeps the computer from sleeping with a translation half-ended: the lock is held only while
// a session is owned; when sleep is announced the translation is stopped and settled and the
// lock is let go, within `settleBound` so the power manager's own limit is never reached. After
// waking the user is told why the translation stopped.
class SleepGuard : public QObject {
    Q_OBJECT

public:
    struct Target {
        std::function<bool()> ownsSession;
        std::function<QuitSnapshot()> snapshot;
        std::function<void()> stop;
        std::function<void(const QString &)> tell;

        static Target from(AppModel &model);
    };

    // logind waits 5 s for delay locks by default; the settlement gets less than that.
    static constexpr std::chrono::milliseconds settleBound { 4000 };
    static constexpr std::chrono::milliseconds checkInterval { 100 };
    static const QString sleptNotice;

    SleepGuard(SleepLock &lock, TranslateCore::Clock &clock, QObject *parent = nullptr);

    void setTarget(Target target);
    // The model's ownership may have changed: takes or lets go of the lock.
    void ownershipChanged();

private:
    void sleepAnnounced(bool sleeping);
    QCoro::Task<> settleBeforeSleep(TranslateCore::CancellationToken token);

    SleepLock &m_lock;
    TranslateCore::Clock &m_clock;
    std::optional<Target> m_target;
    bool m_sleeping = false;
    bool m_stoppedForSleep = false;
    TranslateCore::TaskHandle m_task;
};

} // namespace TranslateMac
