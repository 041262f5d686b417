#include "Cancellation.h"

#include <algorithm>
#include <utility>

namespace TranslateCore {

namespace detail {

struct CancellationState {
    struct Callback {
        std::uint64_t id;
        std::function<void()> run;
    };
    bool cancelled = false;
    std::uint64_t nextID = 1;
    std::vector<Callback> callbacks;

    void cancel()
    {
        if (cancelled)
            return;
        cancelled = true;
        // A callback may end other subscriptions or add new ones: take the list first.
        auto pending = std::exchange(callbacks, {});
        for (auto &callback : pending)
            callback.run();
    }
};

} // namespace detail

CancellationSubscription::CancellationSubscription(CancellationSubscription &&other) noexcept
    : m_state(std::move(other.m_state)), m_id(std::exchange(other.m_id, 0))
{
}

CancellationSubscription &CancellationSubscription::operator=(
    CancellationSubscription &&other) noexcept
{
    if (this != &other) {
        reset();
        m_state = std::move(other.m_state);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

CancellationSubscription::~CancellationSubscription()
{
    reset();
}

void CancellationSubscription::reset()
{
    if (auto state = m_state.lock()) {
        std::erase_if(state->callbacks, [id = m_id](const auto &c) { return c.id == id; });
    }
    m_state.reset();
    m_id = 0;
}

bool CancellationToken::isCancelled() const noexcept
{
    return m_state && m_state->cancelled;
}

void CancellationToken::throwIfCancelled() const
{
    if (isCancelled())
        throw CancellationError();
}

CancellationSubscription CancellationToken::onCancel(std::function<void()> callback) const
{
    if (!m_state)
        return {};
    if (m_state->cancelled) {
        callback();
        return {};
    }
    const std::uint64_t id = m_state->nextID++;
    m_state->callbacks.push_back({ id, std::move(callback) });
    return CancellationSubscription(m_state, id);
}

CancellationSource::CancellationSource()
    : m_state(std::make_shared<detail::CancellationState>()) { }

CancellationSource::CancellationSource(const CancellationToken &parent) : CancellationSource()
{
    m_parentLink = parent.onCancel([weak = std::weak_ptr(m_state)] {
        if (auto state = weak.lock())
            state->cancel();
    });
}

CancellationSource &CancellationSource::operator=(CancellationSource &&other) noexcept
{
    if (this != &other) {
        cancel();
        m_parentLink = std::move(other.m_parentLink);
        m_state = std::move(other.m_state);
    }
    return *this;
}

CancellationSource::~CancellationSource()
{
    cancel();
}

void CancellationSource::cancel()
{
    if (m_state)
        m_state->cancel();
}

bool CancellationSource::isCancelled() const noexcept
{
    return m_state && m_state->cancelled;
}

} // namespace TranslateCore
