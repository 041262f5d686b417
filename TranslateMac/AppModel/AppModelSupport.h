#pragma once

#include "TranslateCore/Async/Cancellation.h"
#include "TranslateCore/Contract/TranslationFailure.h"

#include <exception>
#include <optional>

// Small readers of caught errors shared by the model's flows.
namespace TranslateMac::AppModelSupport {

// The TranslationFailure `error` holds, if it holds one.
inline std::optional<TranslateCore::TranslationFailure> translationFailure(std::exception_ptr error)
{
    if (!error)
        return std::nullopt;
    try {
        std::rethrow_exception(error);
    } catch (const TranslateCore::TranslationFailure &failure) {
        return failure;
    } catch (...) {
        return std::nullopt;
    }
}

inline bool isCancellation(std::exception_ptr error)
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const TranslateCore::CancellationError &) {
        return true;
    } catch (...) {
        return false;
    }
}

inline bool isFailure(std::exception_ptr error, TranslateCore::TranslationFailure::Case kind)
{
    const auto failure = translationFailure(error);
    return failure && failure->kind() == kind;
}

} // namespace TranslateMac::AppModelSupport
