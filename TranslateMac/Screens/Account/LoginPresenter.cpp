#include "TranslateMac/Screens/Account/LoginPresenter.h"

#include <algorithm>

namespace TranslateMac::LoginPresenter {

using Phase = QRLoginModel::Phase;

bool canSubmit(bool accountBusy, const QString &phone, const QString &code)
{
    return !accountBusy && !phone.trimmed().isEmpty() && code.size() == 6;
}

qint64 cooldownSeconds(
    const std::optional<TranslateCore::Instant> &until, TranslateCore::Instant now)
{
    if (!until || *until <= now)
        return 0;
    const auto left = std::chrono::ceil<std::chrono::seconds>(*until - now);
    return left.count();
}

QString sendCodeLabel(qint64 secondsLeft)
{
    if (secondsLeft <= 0)
        return QStringLiteral("获取验证码");
    return QStringLiteral("%1 秒后重发").arg(secondsLeft);
}

QString qrHeadline(Phase phase)
{
    switch (phase) {
    case Phase::idle:
    case Phase::loading:
        return QStringLiteral("正在生成二维码…");
    case Phase::completed:
        return QStringLiteral("登录成功");
    case Phase::expired:
        return QStringLiteral("二维码已过期");
    case Phase::rejected:
        return QStringLiteral("已在手机上拒绝登录");
    case Phase::failed:
        return QStringLiteral("二维码暂时不可用");
    case Phase::waiting:
    case Phase::recovering:
        break;
    }
    return {};
}

QString qrWaitingLine(const std::optional<QString> &message)
{
    return message.value_or(QStringLiteral("等待手机扫码并确认"));
}

bool qrShowsCode(Phase phase)
{
    return phase == Phase::waiting || phase == Phase::recovering;
}

bool qrOffersRefresh(Phase phase)
{
    return phase == Phase::expired || phase == Phase::rejected || phase == Phase::failed;
}

QString qrCountdown(TranslateCore::Instant expiresAt, TranslateCore::Instant now)
{
    const qint64 seconds
        = std::max<qint64>(0, std::chrono::ceil<std::chrono::seconds>(expiresAt - now).count());
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace TranslateMac::LoginPresenter
