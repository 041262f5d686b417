#pragma once

#include "TranslateMac/Account/QRLoginModel.h"

#include "TranslateCore/Contract/Instant.h"

#include <QString>

#include <optional>

namespace TranslateMac::LoginPresenter {

// The SMS form can be submitted: nothing else runs, a phone number is entered and the code has
// six characters.
bool canSubmit(bool accountBusy, const QString &phone, const QString &code);
// Whole seconds until the SMS code may be requested again (0 when it may now).
qint64 cooldownSeconds(
    const std::optional<TranslateCore::Instant> &until, TranslateCore::Instant now);
// "获取验证码", or "N 秒后重发" while the cooldown runs.
QString sendCodeLabel(qint64 secondsLeft);

// The QR pane's headline for a phase ("正在生成二维码…", "登录成功", "二维码已过期", …); empty
// while the code is shown.
QString qrHeadline(QRLoginModel::Phase phase);
// The line under a shown QR code: the model's message, or the default prompt.
QString qrWaitingLine(const std::optional<QString> &message);
bool qrShowsCode(QRLoginModel::Phase phase);
// Expired, refused and failed codes offer "刷新二维码".
bool qrOffersRefresh(QRLoginModel::Phase phase);
// "m:ss" until the code expires.
QString qrCountdown(TranslateCore::Instant expiresAt, TranslateCore::Instant now);

} // namespace TranslateMac::LoginPresenter
