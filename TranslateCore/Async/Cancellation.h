#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

namespace TranslateCore {

// Thrown from an await whose cancellation was requested (or whose awaited object went away).
class CancellationError : public std::exception {
public:
    const char *what() const noexcept override { return "operation cancelled"; }
};

namespace detail {
struct CancellationState;
}

// Ends a cancellation callback's registration when destroyed.
class CancellationSubscription {
public:
    CancellationSubscription() = default;
    CancellationSubscription(CancellationSubscription &&other) noexcept;
    CancellationSubscription &operator=(CancellationSubscription &&other) noexcept;
    CancellationSubscription(const CancellationSubscription &) = delete;
    CancellationSubscription &operator=(const CancellationSubscription &) = delete;
    ~CancellationSubscription();

private:
    friend class CancellationToken;
    CancellationSubscription(std::weak_ptr<detail::CancellationState> state, std::uint64_t id)
        : m_state(std::move(state)), m_id(id)
    {
    }
    void reset();

    std::weak_ptr<detail::CancellationState> m_state;
    std::uint64_t m_id = 0;
};

// The observing side of a cancellation: cheap to copy; a default token is never cancelled.
// Tokens and sources belong to one thread (the main thread for every model flow).
class CancellationToken {
public:
    CancellationToken() = default;

    bool isCancelled() const noexcept;
    void throwIfCancelled() const;
    // Calls `callback` once when cancellation is requested, or at once if it already was. The
    // callback runs inside cancel(): it must only record or post, never resume a coroutine.
    [[nodiscard]] CancellationSubscription onCancel(std::function<void()> callback) const;

private:
    friend class CancellationSource;
    explicit CancellationToken(std::shared_ptr<detail::CancellationState> state)
        : m_state(std::move(state))
    {
    }
    std::shared_ptr<detail::CancellationState> m_state;
};

// The owning side. Destroying a source cancels it, so work started by an owner ends with it.
class CancellationSource {
public:
    CancellationSource();
    // A source that is also cancelled when `parent` is.
    explicit CancellationSource(const CancellationToken &parent);
    CancellationSource(CancellationSource &&) noexcept = default;
    CancellationSource &operator=(CancellationSource &&other) noexcept;
    CancellationSource(const CancellationSource &) = delete;
    CancellationSource &operator=(const CancellationSource &) = delete;
    ~CancellationSource();

    CancellationToken token() const { return CancellationToken(m_state); }
    void cancel();
    bool isCancelled() const noexcept;

private:
    std::shared_ptr<detail::CancellationState> m_state;
    CancellationSubscription m_parentLink;
};

} // namespace TranslateCore
