#pragma once

#include "TranslateCore/Contract/Integer.h"
#include "TranslateCore/Contract/TranslationFailure.h"

#include <QJsonValue>

namespace TranslateCore {

// The integer in `value` when it is at least `minimum`; anything else is an invalid answer.
inline qint64 integerAtLeast(const QJsonValue &value, qint64 minimum)
{
    const std::optional<qint64> number = integer(value);
    if (!number || *number < minimum)
        throw TranslationFailure::invalidResponse();
    return *number;
}

} // namespace TranslateCore
