#include "TranslateMac/Screens/Directions/DirectionPresenter.h"

namespace TranslateMac::DirectionPresenter {

bool canSwap(
    const DirectionCatalog &catalog, const std::optional<TranslateCore::TranslationRoute> &route)
{
    return route && catalog.route(route->targetName(), route->sourceName()).has_value();
}

QString swapHelp(bool canSwap)
{
    return canSwap ? QStringLiteral("交换翻译方向") : QStringLiteral("没有反向方向");
}

std::optional<QString> quoteLine(bool quoteBusy, const std::optional<TranslateCore::Quote> &quote)
{
    if (quoteBusy)
        return QStringLiteral("报价中…");
    if (!quote)
        return std::nullopt;
    QString line = QStringLiteral("%1 积分/分钟").arg(quote->pointsPerMinute);
    if (!quote->canStart)
        line += QStringLiteral(" · 余额不足");
    return line;
}

std::optional<QString> minimumLine(const std::optional<TranslateCore::Quote> &quote)
{
    if (!quote || quote->canStart)
        return std::nullopt;
    return QStringLiteral("启动至少需要 ") + QString::number(quote->minimum)
        + QStringLiteral(" 积分，请在手机 App 中充值");
}

} // namespace TranslateMac::DirectionPresenter
