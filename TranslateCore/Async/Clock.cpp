#include "Clock.h"

#include "Resumption.h"

#include <QTimer>

#include <optional>

namespace TranslateCore {

namespace {

enum { elapsed, cancelled };

class TimerAwaiter : detail::AwaiterBase {
public:
    TimerAwaiter(std::chrono::milliseconds duration, CancellationToken token)
        : m_duration(duration), m_token(std::move(token))
    {
    }

    bool await_ready() const noexcept { return m_token.isCancelled() || m_duration.count() <= 0; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        arm(handle);
        auto *timer = new QTimer(m_anchor);
        timer->setSingleShot(true);
        // The default coarse timer may fire up to 5% early; deadlines must not.
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, m_anchor, firer(elapsed));
        fireOnCancel(m_token, cancelled);
        timer->start(m_duration);
    }
    void await_resume() const { m_token.throwIfCancelled(); }

private:
    std::chrono::milliseconds m_duration;
    CancellationToken m_token;
};

} // namespace

SystemClock &SystemClock::shared()
{
    static SystemClock clock;
    return clock;
}

Instant SystemClock::now() const
{
    return std::chrono::system_clock::now();
}

QCoro::Task<> SystemClock::sleep(std::chrono::milliseconds duration, CancellationToken token)
{
    co_await TimerAwaiter(duration, std::move(token));
}

class ManualClock::SleepAwaiter : detail::AwaiterBase {
public:
    SleepAwaiter(ManualClock &clock, std::chrono::milliseconds duration, CancellationToken token)
        : m_clock(clock), m_duration(duration), m_token(std::move(token))
    {
    }
    SleepAwaiter(SleepAwaiter &&) noexcept = default;
    ~SleepAwaiter()
    {
        if (m_key)
            m_clock.m_sleepers.erase(*m_key);
    }

    bool await_ready() const noexcept { return m_token.isCancelled() || m_duration.count() <= 0; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        arm(handle);
        m_key = Key { m_clock.m_now + m_duration, m_clock.m_nextSequence++ };
        m_clock.m_sleepers.emplace(*m_key, m_state);
        m_cancellation = m_token.onCancel([this] {
            m_clock.m_sleepers.erase(*m_key);
            m_key.reset();
            detail::resumeLater(m_state, m_anchor, cancelled);
        });
    }
    void await_resume()
    {
        m_key.reset();
        if (outcome() == cancelled
            || (outcome() == detail::Resumption::pending && m_token.isCancelled()))
            throw CancellationError();
    }

private:
    ManualClock &m_clock;
    std::chrono::milliseconds m_duration;
    CancellationToken m_token;
    std::optional<Key> m_key;
};

ManualClock::ManualClock(Instant start) : m_now(start) { }

ManualClock::~ManualClock()
{
    // Whoever still sleeps here outlived its clock: drop them rather than resume into a test
    // that has already ended.
    for (auto &[key, state] : m_sleepers)
        state->alive = false;
}

QCoro::Task<> ManualClock::sleep(std::chrono::milliseconds duration, CancellationToken token)
{
    co_await SleepAwaiter(*this, duration, std::move(token));
}

void ManualClock::advance(std::chrono::milliseconds duration)
{
    const Instant target = m_now + duration;
    while (!m_sleepers.empty() && m_sleepers.begin()->first.first <= target) {
        auto node = m_sleepers.extract(m_sleepers.begin());
        m_now = node.key().first;
        auto state = node.mapped();
        if (state->outcome != detail::Resumption::pending || !state->alive)
            continue;
        state->outcome = elapsed;
        state->handle.resume();
    }
    m_now = target;
}

} // namespace TranslateCore
