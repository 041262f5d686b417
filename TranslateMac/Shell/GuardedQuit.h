#pragma once

#include "TranslateMac/AppModel/ListeningState.h"

#include "TranslateCore/Async/Clock.h"
#include "TranslateCore/Async/TaskHandle.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace TranslateMac {

class AppModel;

// What a deferred quit reads from the model between its pauses.
struct QuitSnapshot {
    ListeningState state = ListeningState::idle;
    bool hasSessionID = false;
    bool settling = false;
};

enum class QuitCheck { quit, wait, giveUp };

// One check of a deferred quit after `pauses` pauses: quit once the session is over and nothing
// is still ending; give up (after a pause) when the settlement awaits the user's confirmation or
// the pause limit is reached.
QuitCheck checkDeferredQuit(const QuitSnapshot &snapshot, int pauses);

enum class QuitReply { now, cancel, later };

// The quit that never discards a running translation: with a session owned it stops, waits for
// the settlement and answers later through `answered`.
class GuardedQuit : public QObject {
    Q_OBJECT

public:
    // The parts of the model the quit needs; a seam so the rule runs against a fake in tests.
    struct Target {
        std::function<bool()> ownsSession;
        std::function<QuitSnapshot()> snapshot;
        std::function<void()> stop;
        std::function<void(const QString &)> refuse;

        static Target from(AppModel &model);
    };

    static constexpr std::chrono::milliseconds pause { 500 };
    static constexpr int pauseLimit = 60;
    static const QString pendingMessage;

    explicit GuardedQuit(TranslateCore::Clock &clock, QObject *parent = nullptr);

    // Without a target every request quits at once.
    void setTarget(Target target) { m_target = std::move(target); }
    // The application asks to terminate; `later` is answered by `answered`.
    QuitReply request();
    // The desktop ends the program (a signal, the session manager's logout): the same stop and
    // settlement, but the desktop waits only so long. The answer is always to quit: once the
    // session is settled, once the settlement awaits confirmation (the session stays on record
    // for the next launch), or when `bound` has passed. Turns a deferred `request()` into a
    // bounded one; `later` is answered by `answered`.
    QuitReply requestBounded();
    bool terminating() const { return m_terminating; }
    bool bounded() const { return m_deadline.has_value(); }

    static constexpr std::chrono::seconds bound { 10 };

Q_SIGNALS:
    // The deferred request's answer: true to quit now, false to stay open.
    void answered(bool quit);

private:
    QCoro::Task<> waitForSettlement(TranslateCore::CancellationToken token);
    void answer(bool quit);

    // The next pause: the usual one, cut short by the bound's deadline.
    std::chrono::milliseconds nextPause() const;

    TranslateCore::Clock &m_clock;
    std::optional<Target> m_target;
    bool m_terminating = false;
    std::optional<TranslateCore::Instant> m_deadline;
    TranslateCore::TaskHandle m_task;
};

} // namespace TranslateMac
