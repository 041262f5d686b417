#include "DeviceLoginChallenge.h"

#include "TranslateCore/Contract/Integer.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/DeviceLogin/DeviceLoginFailure.h"
#include "TranslateCore/DeviceLogin/QRModuleRows.h"

#include <QDebug>
#include <QRegularExpression>

#include <ostream>

namespace TranslateCore {

namespace {

const char redacted[] = "DeviceLoginChallenge[redacted]";

QString matchingString(const QJsonValue &value, const QRegularExpression &pattern)
{
    if (!value.isString())
        throw TranslationFailure::invalidResponse();
    QString text = value.toString();
    if (!pattern.match(text).hasMatch())
        throw TranslationFailure::invalidResponse();
    return text;
}

} // namespace

DeviceLoginChallenge DeviceLoginChallenge::fromJson(const QJsonObject &data, qint64 authGeneration)
{
    static const QRegularExpression idPattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9_-]{22}")));
    static const QRegularExpression secretPattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9_-]{43}")));
    static const QRegularExpression userCodePattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-HJ-NP-Z2-9]{8}")));

    // "MAC" is the wire name the service uses for desktop challenges; anything else means the
    // service predates desktop QR sign-in.
    const QJsonValue deviceType = data.value(QLatin1String("deviceType"));
    if (!deviceType.isString() || deviceType.toString() != u"MAC")
        throw DeviceLoginFailure::upgradeRequired();

    DeviceLoginChallenge challenge;
    challenge.authGeneration = authGeneration;
    challenge.id = matchingString(data.value(QLatin1String("challengeId")), idPattern);
    challenge.secret = matchingString(data.value(QLatin1String("deviceSecret")), secretPattern);
    challenge.userCode = matchingString(data.value(QLatin1String("userCode")), userCodePattern);

    const std::optional<qint64> expiresAt = integer(data.value(QLatin1String("expiresAt")));
    const std::optional<Instant> expiry
        = expiresAt && *expiresAt >= 1 ? instantFromEpochMilliseconds(*expiresAt) : std::nullopt;
    if (!expiry)
        throw TranslationFailure::invalidResponse();
    challenge.expiresAt = *expiry;

    const std::optional<qint64> interval
        = integer(data.value(QLatin1String("pollIntervalSeconds")));
    if (!interval || *interval < 2 || *interval > 15)
        throw TranslationFailure::invalidResponse();
    challenge.interval = static_cast<int>(*interval);

    const std::optional<QStringList> rows
        = readQRModuleRows(data.value(QLatin1String("qrRows")), 29, 65);
    if (!rows)
        throw TranslationFailure::invalidResponse();
    challenge.rows.reserve(rows->size());
    for (const QString &row : *rows) {
        QList<bool> modules;
        modules.reserve(row.size());
        for (const QChar module : row)
            modules.append(module == u'1');
        challenge.rows.append(std::move(modules));
    }
    return challenge;
}

QString DeviceLoginChallenge::toString() const
{
    return QString::fromLatin1(redacted);
}

QDebug operator<<(QDebug debug, const DeviceLoginChallenge &)
{
    QDebugStateSaver saver(debug);
    debug.noquote().nospace() << redacted;
    return debug;
}

std::ostream &operator<<(std::ostream &stream, const DeviceLoginChallenge &)
{
    return stream << redacted;
}

} // namespace TranslateCore
