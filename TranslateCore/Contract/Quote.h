#pragma once

#include <QJsonObject>
#include <QtGlobal>

namespace TranslateCore {

// The price of starting a translation on one route, in points.
struct Quote {
    bool canStart = false;
    qint64 pointsPerMinute = 0;
    qint64 available = 0;
    qint64 minimum = 0;

    // Throws TranslationFailure::invalidResponse when "canStart", "estimatedPointsPerMinute" or
    // "availablePoints" is missing or unreadable; an unreadable "minimumStartPoints" counts as 0.
    static Quote fromJson(const QJsonObject &json);

    friend bool operator==(const Quote &, const Quote &) = default;
};

} // namespace TranslateCore
