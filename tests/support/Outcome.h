#pragma once

#include "support/TestSupport.h"

#include "TranslateCore/Contract/TranslationFailure.h"

#include <QCoroTask>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

namespace TestSupport {

// The TranslationFailure `error` holds; nullopt when it holds nothing or another exception.
std::optional<TranslateCore::TranslationFailure> failureIn(std::exception_ptr error);
// The TranslationFailure `call` throws; nullopt when it throws nothing or another exception.
std::optional<TranslateCore::TranslationFailure> failureOf(const std::function<void()> &call);

// A failure as tests compare it: "rejected(3011)", "invalidResponse", "NetworkError(2)",
// "JsonParseError", "CancellationError", "other: <what>".
std::string describe(std::exception_ptr error);

// An operation started but not yet awaited; it ends as "ok", the integer it yielded or its failure.
template <typename T> std::shared_ptr<std::string> startOutcome(QCoro::Task<T> task)
{
    auto outcome = std::make_shared<std::string>();
    [](QCoro::Task<T> inner, std::shared_ptr<std::string> out) -> QCoro::Task<> {
        try {
            if constexpr (std::is_integral_v<T>) {
                *out = std::to_string(co_await inner);
            } else {
                co_await inner;
                *out = "ok";
            }
        } catch (...) {
            *out = describe(std::current_exception());
        }
    }(std::move(task), outcome);
    return outcome;
}

// The outcome once it is known (15 s at most), else "still running".
std::string finished(const std::shared_ptr<std::string> &outcome);

template <typename T> std::string outcome(QCoro::Task<T> task)
{
    return finished(startOutcome(std::move(task)));
}

} // namespace TestSupport
