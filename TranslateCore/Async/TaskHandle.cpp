#include "TaskHandle.h"

namespace TranslateCore {

TaskHandle &TaskHandle::operator=(TaskHandle &&other) noexcept
{
    if (this != &other) {
        cancel();
        m_state = std::move(other.m_state);
    }
    return *this;
}

TaskHandle::~TaskHandle()
{
    cancel();
}

TaskHandle TaskHandle::start(Body body, const CancellationToken &parent)
{
    TaskHandle handle;
    handle.m_state = std::make_shared<State>(parent);
    run(std::move(body), handle.m_state); // detached: the frame frees itself when the flow ends
    return handle;
}

QCoro::Task<> TaskHandle::run(Body body, std::shared_ptr<State> state)
{
    try {
        co_await body(state->source.token());
    } catch (const CancellationError &) {
    } catch (...) {
        state->failure = std::current_exception();
    }
    state->done.resolve();
}

void TaskHandle::cancel()
{
    if (m_state)
        m_state->source.cancel();
}

bool TaskHandle::isRunning() const
{
    return m_state && !m_state->done.isResolved();
}

QCoro::Task<> TaskHandle::finished() const
{
    if (!m_state)
        co_return;
    auto state = m_state; // the handle may be replaced while we wait
    co_await state->done.wait();
}

std::exception_ptr TaskHandle::failure() const
{
    return m_state ? m_state->failure : nullptr;
}

} // namespace TranslateCore
