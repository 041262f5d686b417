#include "RechargePackage.h"

#include "TranslateCore/Contract/Integer.h"
#include "TranslateCore/Contract/TranslationFailure.h"

namespace TranslateCore {

namespace {

qint64 integerAtLeast(const QJsonValue &value, qint64 minimum)
{
    const std::optional<qint64> number = integer(value);
    if (!number || *number < minimum)
        throw TranslationFailure::invalidResponse();
    return *number;
}

} // namespace

RechargePackage RechargePackage::fromJson(const QJsonObject &json)
{
    RechargePackage package;
    package.id = integerAtLeast(json.value(QLatin1String("id")), 1);
    const QJsonValue name = json.value(QLatin1String("name"));
    if (!name.isString())
        throw TranslationFailure::invalidResponse();
    package.name = name.toString();
    package.price = integerAtLeast(json.value(QLatin1String("priceFen")), 0);
    const QJsonValue currency = json.value(QLatin1String("currency"));
    if (!currency.isString() || currency.toString() != u"MOP")
        throw TranslationFailure::invalidResponse();
    package.currency = currency.toString();
    package.points = integerAtLeast(json.value(QLatin1String("totalPoints")), 0);
    return package;
}

} // namespace TranslateCore
