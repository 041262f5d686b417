#include "TranslationRoute.h"

#include "TranslationFailure.h"

#include <QHashFunctions>
#include <QJsonValue>
#include <QStringList>

namespace TranslateCore {

namespace {

QStringList nameParts(const QString &name)
{
    return name.split(QStringLiteral(" → "));
}

} // namespace

TranslationRoute TranslationRoute::fromJson(const QJsonObject &json)
{
    const QJsonValue code = json.value(QLatin1String("routeCode"));
    const QJsonValue name = json.value(QLatin1String("displayName"));
    if (!code.isString() || !name.isString())
        throw TranslationFailure::invalidResponse();
    return TranslationRoute {
        code.toString(),
        name.toString(),
        json.value(QLatin1String("sourceLanguage")).toString(),
        json.value(QLatin1String("targetLanguage")).toString(),
    };
}

QString TranslationRoute::sourceName() const
{
    return nameParts(name).constFirst();
}

QString TranslationRoute::targetName() const
{
    const QStringList parts = nameParts(name);
    return parts.size() >= 2 ? parts.at(1) : QStringLiteral("译文");
}

bool TranslationRoute::isTargetRTL() const
{
    const QStringView language = QStringView(targetLanguage).split(u'-').constFirst();
    return language == u"ar" || language == u"he" || language == u"fa" || language == u"ur";
}

size_t qHash(const TranslationRoute &route, size_t seed) noexcept
{
    return qHashMulti(seed, route.code, route.name, route.sourceLanguage, route.targetLanguage);
}

} // namespace TranslateCore
