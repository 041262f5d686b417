#pragma once

#include "Resumption.h"

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>
#include <vector>

namespace TranslateCore {

// A result that arrives once: the first resolve() or fail() wins and later ones are ignored.
// Any number of flows may await it; each resumes from a posted event. Copies share the result.
// Confined to one thread.
template <typename T = void> class OneShot {
    using Stored = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

    struct State {
        std::optional<Stored> value;
        std::exception_ptr error;
        std::vector<std::pair<std::shared_ptr<detail::Resumption>, QObject *>> waiters;
        bool resolved() const { return value.has_value() || error; }
    };

public:
    OneShot() : m_state(std::make_shared<State>()) { }

    template <typename U = T>
    requires(!std::is_void_v<U>) bool resolve(U value)
    {
        return settle([&](State &s) { s.value.emplace(std::move(value)); });
    }
    template <typename U = T>
    requires std::is_void_v<U>
    bool resolve()
    {
        return settle([](State &s) { s.value.emplace(); });
    }
    bool fail(std::exception_ptr error)
    {
        return settle([&](State &s) { s.error = std::move(error); });
    }
    bool isResolved() const { return m_state->resolved(); }

    class Awaiter : detail::AwaiterBase {
    public:
        Awaiter(std::shared_ptr<State> state, CancellationToken token)
            : m_shot(std::move(state)), m_token(std::move(token))
        {
        }
        Awaiter(Awaiter &&) noexcept = default;
        ~Awaiter()
        {
            if (m_shot)
                std::erase_if(m_shot->waiters, [&](const auto &w) { return w.first == m_state; });
        }

        bool await_ready() const noexcept { return m_shot->resolved() || m_token.isCancelled(); }
        void await_suspend(std::coroutine_handle<> handle)
        {
            arm(handle);
            m_shot->waiters.emplace_back(m_state, m_anchor);
            fireOnCancel(m_token, cancelled);
        }
        T await_resume()
        {
            if (outcome() == cancelled || (!m_shot->resolved() && m_token.isCancelled()))
                throw CancellationError();
            if (m_shot->error)
                std::rethrow_exception(m_shot->error);
            if constexpr (!std::is_void_v<T>)
                return *m_shot->value;
        }

    private:
        friend class OneShot;
        std::shared_ptr<State> m_shot;
        CancellationToken m_token;
    };

    // Resumes with the value (or rethrows the failure); throws CancellationError if `token` is
    // cancelled first.
    Awaiter wait(CancellationToken token = {}) const { return Awaiter(m_state, std::move(token)); }

private:
    enum { settled, cancelled };

    template <typename Apply> bool settle(Apply apply)
    {
        if (m_state->resolved())
            return false;
        apply(*m_state);
        for (auto &[resumption, anchor] : std::exchange(m_state->waiters, {}))
            detail::resumeLater(resumption, anchor, settled);
        return true;
    }

    std::shared_ptr<State> m_state;
};

} // namespace TranslateCore
