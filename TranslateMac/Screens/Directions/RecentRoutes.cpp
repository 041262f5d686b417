#include "TranslateMac/Screens/Directions/RecentRoutes.h"

#include <QStringList>

namespace TranslateMac::RecentRoutes {

QString remember(const QString &stored, const QString &code)
{
    if (code.isEmpty())
        return stored;
    QStringList codes { code };
    for (const QString &piece : stored.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (piece != code)
            codes.append(piece);
    }
    return codes.mid(0, limit).join(QLatin1Char(','));
}

QList<TranslateCore::TranslationRoute> routes(
    const QString &stored, const QList<TranslateCore::TranslationRoute> &offered)
{
    QList<TranslateCore::TranslationRoute> result;
    for (const QString &code : stored.split(QLatin1Char(','))) {
        const auto found = std::find_if(offered.begin(), offered.end(),
            [&](const TranslateCore::TranslationRoute &route) { return route.code == code; });
        if (found != offered.end())
            result.append(*found);
    }
    return result;
}

QString chipText(const TranslateCore::TranslationRoute &route)
{
    return route.sourceName() + QStringLiteral(" → ") + route.targetName();
}

} // namespace TranslateMac::RecentRoutes
