#pragma once

#include <QJsonObject>
#include <QString>

namespace TranslateCore {

// A purchasable points package; `id` is its identity.
struct RechargePackage {
    qint64 id = 0;
    QString name;
    // Hundredths of a pataca.
    qint64 price = 0;
    QString currency;
    qint64 points = 0;

    // Throws TranslationFailure::invalidResponse on any rule violation.
    static RechargePackage fromJson(const QJsonObject &json);

    friend bool operator==(const RechargePackage &, const RechargePackage &) = default;
};

} // namespace TranslateCore
