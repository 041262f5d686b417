#pragma once

#include "OneShot.h"
#include "TaskHandle.h"

#include <QCoroTask>

#include <functional>

namespace TranslateCore {

// Runs two flows side by side and ends with the outcome (value or failure) of the first to finish.
// The other is cancelled and awaited before race() returns, so nothing of it outlives the race.
// Cancelling `token` cancels both; the race then ends with their (cancellation) outcome.
template <typename T>
QCoro::Task<T> race(std::function<QCoro::Task<T>(CancellationToken)> first,
    std::function<QCoro::Task<T>(CancellationToken)> second, CancellationToken token = {})
{
    OneShot<T> winner;
    auto contestant = [winner](std::function<QCoro::Task<T>(CancellationToken)> flow) {
        return [winner, flow = std::move(flow)](CancellationToken t) mutable -> QCoro::Task<> {
            try {
                if constexpr (std::is_void_v<T>) {
                    co_await flow(t);
                    winner.resolve();
                } else {
                    winner.resolve(co_await flow(t));
                }
            } catch (...) {
                winner.fail(std::current_exception());
            }
        };
    };
    TaskHandle a = TaskHandle::start(contestant(std::move(first)), token);
    TaskHandle b = TaskHandle::start(contestant(std::move(second)), token);

    std::exception_ptr error;
    std::optional<std::conditional_t<std::is_void_v<T>, std::monostate, T>> value;
    try {
        if constexpr (std::is_void_v<T>) {
            co_await winner.wait();
            value.emplace();
        } else {
            value.emplace(co_await winner.wait());
        }
    } catch (...) {
        error = std::current_exception();
    }
    a.cancel();
    b.cancel();
    co_await a.finished();
    co_await b.finished();
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>)
        co_return std::move(*value);
}

} // namespace TranslateCore
