#pragma once

#include "Cancellation.h"
#include "TranslateCore/Contract/Instant.h"

#include <QCoroTask>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>

namespace TranslateCore {

namespace detail {
struct Resumption;
}

// Every timed flow (deadlines, heartbeats, back-off, cool-downs) takes its time from a Clock, so
// tests can run minutes of virtual time in milliseconds.
class Clock {
public:
    virtual ~Clock() = default;
    virtual Instant now() const = 0;
    // Completes after `duration`, or throws CancellationError as soon as `token` is cancelled.
    virtual QCoro::Task<> sleep(std::chrono::milliseconds duration, CancellationToken token = {})
        = 0;
};

class SystemClock final : public Clock {
public:
    // The process-wide wall clock with timers of the calling thread's event loop.
    static SystemClock &shared();

    Instant now() const override;
    QCoro::Task<> sleep(std::chrono::milliseconds duration, CancellationToken token = {}) override;
};

// Virtual time for tests: nothing moves until advance() is called.
class ManualClock final : public Clock {
public:
    explicit ManualClock(Instant start = Instant(std::chrono::seconds(1'767'225'600)));
    ~ManualClock() override;

    Instant now() const override { return m_now; }
    QCoro::Task<> sleep(std::chrono::milliseconds duration, CancellationToken token = {}) override;

    // Moves time forward by `duration`, waking due sleepers one at a time in the order of their
    // due times (ties in the order they began sleeping). Each woken flow runs on until its next
    // suspension before the next sleeper wakes, so sleeps begun meanwhile are honoured too.
    void advance(std::chrono::milliseconds duration);
    std::size_t sleeperCount() const { return m_sleepers.size(); }

private:
    class SleepAwaiter;
    using Key = std::pair<Instant, std::uint64_t>;

    Instant m_now;
    std::uint64_t m_nextSequence = 0;
    std::map<Key, std::shared_ptr<detail::Resumption>> m_sleepers;
};

} // namespace TranslateCore
