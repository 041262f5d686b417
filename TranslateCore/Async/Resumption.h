#pragma once

#include "Cancellation.h"

#include <QObject>

#include <coroutine>
#include <memory>
#include <utility>

namespace TranslateCore::detail {

// The shared heart of every awaiter here: whichever event comes first (timer, reply, value,
// cancellation) records its outcome and resumes the coroutine from a posted event on the awaiting
// thread, never from inside the signal or call that reported it, so the resumed code may delete the
// object that signalled. Later events are ignored.
struct Resumption {
    static constexpr int pending = -1;
    std::coroutine_handle<> handle;
    int outcome = pending;
    bool alive = true; // false once the awaiter (and so the suspended frame) is gone
};

// Records `outcome` unless an earlier event already did, then posts the resumption to `anchor`.
inline void resumeLater(const std::shared_ptr<Resumption> &state, QObject *anchor, int outcome)
{
    if (state->outcome != Resumption::pending)
        return;
    state->outcome = outcome;
    QMetaObject::invokeMethod(
        anchor,
        [state] {
            if (state->alive)
                state->handle.resume();
        },
        Qt::QueuedConnection);
}

class AwaiterBase {
public:
    AwaiterBase(const AwaiterBase &) = delete;
    AwaiterBase &operator=(const AwaiterBase &) = delete;
    // g++ 12 may move an awaiter before await_suspend; nothing points at it yet then.
    AwaiterBase(AwaiterBase &&other) noexcept
        : m_state(std::exchange(other.m_state, nullptr)),
          m_anchor(std::exchange(other.m_anchor, nullptr)),
          m_cancellation(std::move(other.m_cancellation))
    {
    }

protected:
    AwaiterBase() = default;
    ~AwaiterBase()
    {
        if (m_state)
            m_state->alive = false;
        if (m_anchor)
            m_anchor->deleteLater(); // we may be running inside one of its posted events
    }

    // Call from await_suspend: records the handle and creates the per-await context object that
    // scopes every connection made for this await.
    void arm(std::coroutine_handle<> handle)
    {
        m_state->handle = handle;
        m_anchor = new QObject;
    }

    auto firer(int outcome) const
    {
        return
            [state = m_state, anchor = m_anchor, outcome] { resumeLater(state, anchor, outcome); };
    }

    void fireOnCancel(const CancellationToken &token, int outcome)
    {
        m_cancellation = token.onCancel(firer(outcome));
    }

    int outcome() const { return m_state->outcome; }

    std::shared_ptr<Resumption> m_state = std::make_shared<Resumption>();
    QObject *m_anchor = nullptr;
    CancellationSubscription m_cancellation;
};

} // namespace TranslateCore::detail
