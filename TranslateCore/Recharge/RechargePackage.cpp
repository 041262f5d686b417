#include "RechargePackage.h"

#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/Recharge/IntegerAtLeast.h"

namespace TranslateCore {

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
