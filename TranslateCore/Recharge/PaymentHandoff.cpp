#include "PaymentHandoff.h"

#include "TranslateCore/Contract/Integer.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/DeviceLogin/QRModuleRows.h"

#include <QRegularExpression>

namespace TranslateCore {

PaymentHandoff PaymentHandoff::fromJson(const QJsonObject &json, Instant now)
{
    // Only payment links of the acceptance environment are accepted.
    static const QRegularExpression linkPattern(QRegularExpression::anchoredPattern(
        QStringLiteral("quorvel-uat:///recharge/pay/[A-Za-z0-9_-]{43}")));

    const QJsonValue link = json.value(QLatin1String("link"));
    if (!link.isString() || !linkPattern.match(link.toString()).hasMatch())
        throw TranslationFailure::invalidResponse();

    using std::chrono::milliseconds;
    const qint64 nowMilliseconds
        = std::chrono::duration_cast<milliseconds>(now.time_since_epoch()).count();
    const std::optional<qint64> expiresAt = integer(json.value(QLatin1String("expiresAt")));
    const std::optional<Instant> expiry
        = expiresAt ? instantFromEpochMilliseconds(*expiresAt) : std::nullopt;
    if (!expiry || *expiresAt <= nowMilliseconds)
        throw TranslationFailure::invalidResponse();

    std::optional<QStringList> rows
        = readQRModuleRows(json.value(QLatin1String("qrRows")), 21, 177);
    if (!rows)
        throw TranslationFailure::invalidResponse();
    return PaymentHandoff { *expiry, std::move(*rows) };
}

} // namespace TranslateCore
