#include "Quote.h"

#include "Integer.h"
#include "TranslationFailure.h"

#include <QJsonValue>

#include <optional>

namespace TranslateCore {

namespace {

// A JSON Boolean, or the number 1 or 0 standing for one.
std::optional<bool> boolean(const QJsonValue &value)
{
    if (value.isBool())
        return value.toBool();
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (number == 1)
            return true;
        if (number == 0)
            return false;
    }
    return std::nullopt;
}

} // namespace

Quote Quote::fromJson(const QJsonObject &json)
{
    const std::optional<bool> canStart = boolean(json.value(QLatin1String("canStart")));
    if (!canStart)
        throw TranslationFailure::invalidResponse();
    const std::optional<qint64> perMinute
        = integer(json.value(QLatin1String("estimatedPointsPerMinute")));
    if (!perMinute)
        throw TranslationFailure::invalidResponse();
    const std::optional<qint64> available = integer(json.value(QLatin1String("availablePoints")));
    if (!available)
        throw TranslationFailure::invalidResponse();
    const qint64 minimum = integer(json.value(QLatin1String("minimumStartPoints"))).value_or(0);
    return Quote { *canStart, *perMinute, *available, minimum };
}

} // namespace TranslateCore
