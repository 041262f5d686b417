#pragma once

#include "Resumption.h"

#include <QObject>

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <utility>

namespace TranslateCore {

// The producer went away without closing the stream.
class ChannelError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class PushResult { ok, full, closed };

// Lives on the consumer's thread; the producer posts to it by name, which hands no instrumented
// memory across threads (a posted functor would, and ThreadSanitizer flags Qt's own hand-over).
class ChannelWaker final : public QObject {
    Q_OBJECT
public:
    explicit ChannelWaker(std::function<void()> onWake) : m_onWake(std::move(onWake)) { }
    void post() { QMetaObject::invokeMethod(this, "wake", Qt::QueuedConnection); }
    Q_INVOKABLE void wake() { m_onWake(); }

private:
    std::function<void()> m_onWake;
};

namespace detail {

template <typename T> struct ChannelState {
    explicit ChannelState(std::size_t capacity) : capacity(capacity) { }

    std::mutex mutex;
    std::deque<T> items;
    const std::size_t capacity;
    bool closed = false;
    std::exception_ptr error;
    bool receiverGone = false;
    std::shared_ptr<Resumption> waiter; // the suspended consumer, if any
    ChannelWaker *waker = nullptr;
    bool wakePosted = false;
    std::uint64_t overflows = 0;

    // With `mutex` held.
    void notifyLocked()
    {
        if (!waiter || wakePosted || !waker)
            return;
        wakePosted = true;
        waker->post();
    }
    // Consumer thread, from the waker's event.
    void wake()
    {
        std::shared_ptr<Resumption> resumed;
        {
            std::lock_guard lock(mutex);
            wakePosted = false;
            resumed = std::exchange(waiter, nullptr);
        }
        if (resumed && resumed->outcome == Resumption::pending && resumed->alive) {
            resumed->outcome = 0;
            resumed->handle.resume();
        }
    }
};

} // namespace detail

template <typename T> class ChannelSender;
template <typename T> class ChannelReceiver;
template <typename T>
std::pair<ChannelSender<T>, ChannelReceiver<T>> makeChannel(std::size_t capacity);

// The producing end: any one thread; push() never blocks.
template <typename T> class ChannelSender {
public:
    ChannelSender(ChannelSender &&) noexcept = default;
    ChannelSender &operator=(ChannelSender &&) = delete;
    ~ChannelSender()
    {
        if (m_state)
            closeWith(std::make_exception_ptr(
                ChannelError("the producer went away without closing the stream")));
    }

    // `full` drops the item and counts the overflow; the producer decides what that means.
    PushResult push(T value)
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->closed || m_state->receiverGone)
            return PushResult::closed;
        if (m_state->items.size() >= m_state->capacity) {
            ++m_state->overflows;
            return PushResult::full;
        }
        m_state->items.push_back(std::move(value));
        m_state->notifyLocked();
        return PushResult::ok;
    }
    // The consumer receives what is buffered, then the end of the stream.
    void close() { closeWith(nullptr); }
    // The consumer receives what is buffered, then `error` is thrown from next().
    void closeWithError(std::exception_ptr error) { closeWith(std::move(error)); }

private:
    using State = detail::ChannelState<T>;
    friend std::pair<ChannelSender<T>, ChannelReceiver<T>> makeChannel<T>(std::size_t);
    explicit ChannelSender(std::shared_ptr<State> state) : m_state(std::move(state)) { }

    void closeWith(std::exception_ptr error)
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->closed)
            return;
        m_state->closed = true;
        m_state->error = std::move(error);
        m_state->notifyLocked();
    }

    std::shared_ptr<State> m_state;
};

// The consuming end: one coroutine at a time, on the thread that made the channel.
template <typename T> class ChannelReceiver {
    using State = detail::ChannelState<T>;

public:
    ChannelReceiver(ChannelReceiver &&) noexcept = default;
    ChannelReceiver &operator=(ChannelReceiver &&) = delete;
    ~ChannelReceiver()
    {
        if (!m_state)
            return;
        ChannelWaker *waker = nullptr;
        {
            std::lock_guard lock(m_state->mutex);
            m_state->receiverGone = true;
            waker = std::exchange(m_state->waker, nullptr);
        }
        if (waker)
            waker->deleteLater(); // we may be running inside its own event
    }

    class NextAwaiter : detail::AwaiterBase {
    public:
        NextAwaiter(std::shared_ptr<State> channel, CancellationToken token)
            : m_channel(std::move(channel)), m_token(std::move(token))
        {
        }
        NextAwaiter(NextAwaiter &&) noexcept = default;

        bool await_ready()
        {
            if (m_token.isCancelled())
                return true;
            std::lock_guard lock(m_channel->mutex);
            return !m_channel->items.empty() || m_channel->closed;
        }
        bool await_suspend(std::coroutine_handle<> handle)
        {
            arm(handle);
            {
                std::lock_guard lock(m_channel->mutex);
                if (!m_channel->items.empty() || m_channel->closed)
                    return false; // the producer got in first: do not sleep
                Q_ASSERT_X(!m_channel->waiter, "ChannelReceiver::next", "one consumer at a time");
                m_channel->waiter = m_state;
            }
            m_cancellation
                = m_token.onCancel([channel = m_channel, state = m_state, anchor = m_anchor] {
                      {
                          std::lock_guard lock(channel->mutex);
                          if (channel->waiter == state)
                              channel->waiter.reset();
                      }
                      detail::resumeLater(state, anchor, cancelled);
                  });
            return true;
        }
        std::optional<T> await_resume()
        {
            if (outcome() == cancelled || m_token.isCancelled())
                throw CancellationError(); // items stay buffered for a later next()
            std::lock_guard lock(m_channel->mutex);
            if (!m_channel->items.empty()) {
                std::optional<T> item(std::move(m_channel->items.front()));
                m_channel->items.pop_front();
                return item;
            }
            if (m_channel->error)
                std::rethrow_exception(m_channel->error);
            return std::nullopt;
        }

    private:
        enum { delivered, cancelled };
        std::shared_ptr<State> m_channel;
        CancellationToken m_token;
    };

    // The next item; std::nullopt once the stream is closed and drained. Throws the producer's
    // error after the buffered items, or CancellationError when `token` is cancelled first.
    NextAwaiter next(CancellationToken token = {})
    {
        return NextAwaiter(m_state, std::move(token));
    }

    std::uint64_t overflowCount() const
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->overflows;
    }

private:
    friend std::pair<ChannelSender<T>, ChannelReceiver<T>> makeChannel<T>(std::size_t);
    explicit ChannelReceiver(std::shared_ptr<State> state) : m_state(std::move(state)) { }
    std::shared_ptr<State> m_state;
};

// A bounded stream from a producer thread to a coroutine consumer. Call on the consumer's thread.
template <typename T>
std::pair<ChannelSender<T>, ChannelReceiver<T>> makeChannel(std::size_t capacity)
{
    auto state = std::make_shared<detail::ChannelState<T>>(capacity);
    state->waker = new ChannelWaker([weak = std::weak_ptr(state)] {
        if (auto s = weak.lock())
            s->wake();
    });
    return { ChannelSender<T>(state), ChannelReceiver<T>(state) };
}

} // namespace TranslateCore
