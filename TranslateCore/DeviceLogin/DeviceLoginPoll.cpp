#include "DeviceLoginPoll.h"

#include "TranslateCore/Contract/Integer.h"
#include "TranslateCore/Contract/TranslationFailure.h"

#include <ostream>

namespace TranslateCore {

namespace {

QString nonEmptyString(const QJsonValue &value)
{
    if (!value.isString() || value.toString().isEmpty())
        throw TranslationFailure::invalidResponse();
    return value.toString();
}

} // namespace

DeviceLoginPoll DeviceLoginPoll::pending(std::optional<int> interval)
{
    return DeviceLoginPoll { Kind::pending, interval, std::nullopt };
}

DeviceLoginPoll DeviceLoginPoll::authorized(Credentials credentials)
{
    return DeviceLoginPoll { Kind::authorized, std::nullopt, std::move(credentials) };
}

DeviceLoginPoll DeviceLoginPoll::expired()
{
    return DeviceLoginPoll { Kind::expired, std::nullopt, std::nullopt };
}

DeviceLoginPoll DeviceLoginPoll::rejected()
{
    return DeviceLoginPoll { Kind::rejected, std::nullopt, std::nullopt };
}

DeviceLoginPoll DeviceLoginPoll::fromJson(const QJsonObject &data)
{
    const QJsonValue statusValue = data.value(QLatin1String("status"));
    if (!statusValue.isString())
        throw TranslationFailure::invalidResponse();
    const QString status = statusValue.toString();

    if (status == u"PENDING" || status == u"SLOW_DOWN") {
        const QJsonValue intervalValue = data.value(QLatin1String("pollIntervalSeconds"));
        if (intervalValue.isUndefined())
            return pending();
        const std::optional<qint64> interval = integer(intervalValue);
        if (!interval || *interval < 2 || *interval > 15)
            throw TranslationFailure::invalidResponse();
        return pending(static_cast<int>(*interval));
    }
    if (status == u"AUTHORIZED") {
        QString accessToken = nonEmptyString(data.value(QLatin1String("accessToken")));
        QString refreshToken = nonEmptyString(data.value(QLatin1String("refreshToken")));
        return authorized(Credentials { std::move(accessToken), std::move(refreshToken) });
    }
    if (status == u"EXPIRED" || status == u"CANCELLED" || status == u"CONSUMED")
        return expired();
    if (status == u"REJECTED")
        return rejected();
    throw TranslationFailure::invalidResponse();
}

std::ostream &operator<<(std::ostream &stream, const DeviceLoginPoll &poll)
{
    switch (poll.kind) {
    case DeviceLoginPoll::Kind::pending:
        stream << "pending";
        if (poll.interval)
            stream << '(' << *poll.interval << ')';
        return stream;
    case DeviceLoginPoll::Kind::authorized:
        return stream << "authorized[redacted]";
    case DeviceLoginPoll::Kind::expired:
        return stream << "expired";
    case DeviceLoginPoll::Kind::rejected:
        return stream << "rejected";
    }
    return stream;
}

} // namespace TranslateCore
