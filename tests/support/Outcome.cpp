#include "support/Outcome.h"

#include "TranslateCore/Async/Cancellation.h"
#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/TranslationFailure.h"

#include <map>

namespace TestSupport {

using namespace TranslateCore;

std::string describe(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const TranslationFailure &failure) {
        using Case = TranslationFailure::Case;
        static const std::map<Case, std::string> names { { Case::rejected, "rejected" },
            { Case::invalidCreatedSession, "invalidCreatedSession" },
            { Case::invalidResponse, "invalidResponse" }, { Case::unsafeAddress, "unsafeAddress" },
            { Case::signedOut, "signedOut" } };
        const std::string text = names.count(failure.kind()) ? names.at(failure.kind()) : "other";
        return failure.number() ? text + "(" + std::to_string(failure.number()) + ")" : text;
    } catch (const NetworkError &network) {
        return "NetworkError(" + std::to_string(int(network.code())) + ")";
    } catch (const JsonParseError &) {
        return "JsonParseError";
    } catch (const CancellationError &) {
        return "CancellationError";
    } catch (const std::exception &other) {
        return std::string("other: ") + other.what();
    }
}

std::string finished(const std::shared_ptr<std::string> &outcome)
{
    spinUntil([&] { return !outcome->empty(); }, std::chrono::seconds(15));
    return outcome->empty() ? "still running" : *outcome;
}

std::optional<TranslationFailure> failureIn(std::exception_ptr error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const TranslationFailure &failure) {
        return failure;
    } catch (...) {
    }
    return std::nullopt;
}

std::optional<TranslationFailure> failureOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (...) {
        return failureIn(std::current_exception());
    }
    return std::nullopt;
}

} // namespace TestSupport
