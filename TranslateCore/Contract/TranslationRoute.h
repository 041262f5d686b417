#pragma once

#include <QJsonObject>
#include <QString>

namespace TranslateCore {

// One translation direction offered by the service.
struct TranslationRoute {
    QString code;
    QString name;
    QString sourceLanguage;
    QString targetLanguage;

    // Throws TranslationFailure::invalidResponse when "routeCode" or "displayName" is missing or
    // not a string; the two language members default to "".
    static TranslationRoute fromJson(const QJsonObject &json);

    // The route's identity in lists and pickers.
    QString id() const { return code; }
    // The parts of `name` around " → ": the first, and the second or "译文" when there is none.
    QString sourceName() const;
    QString targetName() const;
    // Whether the target language (its part before the first "-") is written right to left.
    bool isTargetRTL() const;

    friend bool operator==(const TranslationRoute &, const TranslationRoute &) = default;
};

size_t qHash(const TranslationRoute &route, size_t seed = 0) noexcept;

} // namespace TranslateCore
