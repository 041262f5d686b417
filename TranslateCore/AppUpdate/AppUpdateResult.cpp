#include "AppUpdateResult.h"

#include "AppRelease.h"
#include "TranslateCore/Contract/Integer.h"
#include "TranslateCore/Contract/TranslationFailure.h"

#include <QJsonValue>

namespace TranslateCore {

namespace {

[[noreturn]] void invalid()
{
    throw TranslationFailure::invalidResponse();
}

QString requiredString(const QJsonObject &json, QLatin1String key)
{
    const QJsonValue value = json.value(key);
    if (!value.isString())
        invalid();
    return value.toString();
}

qint64 requiredBuild(const QJsonObject &json, QLatin1String key)
{
    const std::optional<qint64> value = integer(json.value(key));
    if (!value || *value < 0 || *value > AppRelease::maximumBuild)
        invalid();
    return *value;
}

bool requiredBoolean(const QJsonObject &json, QLatin1String key)
{
    const QJsonValue value = json.value(key);
    if (!value.isBool())
        invalid();
    return value.toBool();
}

} // namespace

AppUpdateResult AppUpdateResult::fromJson(
    const QJsonObject &json, const AppInstallation &installation)
{
    // The service names the platform "MACOS" for this client's releases.
    if (requiredString(json, QLatin1String("platform")) != u"MACOS")
        invalid();
    if (requiredString(json, QLatin1String("currentVersion")) != installation.version)
        invalid();
    if (requiredBuild(json, QLatin1String("currentBuildNumber")) != installation.buildNumber)
        invalid();
    const std::optional<qint64> policyRevision
        = integer(json.value(QLatin1String("policyRevision")));
    if (!policyRevision || *policyRevision < 0)
        invalid();
    const bool enabled = requiredBoolean(json, QLatin1String("enabled"));
    const bool updateAvailable = requiredBoolean(json, QLatin1String("updateAvailable"));
    const bool forceUpdate = requiredBoolean(json, QLatin1String("forceUpdate"));

    if (!enabled) {
        if (updateAvailable || forceUpdate)
            invalid();
        return AppUpdateResult {};
    }

    const QString latestVersion = requiredString(json, QLatin1String("latestVersion"));
    const QString minimumVersion = requiredString(json, QLatin1String("minimumVersion"));
    const QString updateUrl = requiredString(json, QLatin1String("updateUrl"));
    const QString releaseNotes = requiredString(json, QLatin1String("releaseNotes"));
    const qint64 latestBuild = requiredBuild(json, QLatin1String("latestBuildNumber"));
    const qint64 minimumBuild = requiredBuild(json, QLatin1String("minimumBuildNumber"));

    const AppRelease installed
        = AppRelease::validated(installation.version, installation.buildNumber);
    const AppRelease latest = AppRelease::validated(latestVersion, latestBuild);
    std::optional<AppRelease> minimum;
    if (!minimumVersion.isEmpty()) {
        minimum = AppRelease::validated(minimumVersion, minimumBuild);
        if (latest < *minimum)
            invalid();
    } else if (minimumBuild != 0) {
        invalid();
    }

    if (updateAvailable != (installed < latest))
        invalid();
    if (forceUpdate != (minimum && installed < *minimum))
        invalid();

    const QUrl url = validatedUpdateURL(updateUrl);
    return AppUpdateResult { true, updateAvailable, forceUpdate, latestVersion, latestBuild, url,
        releaseNotes };
}

QString AppUpdateResult::releaseKey() const
{
    return latestVersion.value_or(QString()) + u'/' + QString::number(latestBuildNumber);
}

QUrl validatedUpdateURL(const QString &text)
{
    const auto unsafe = [] { return TranslationFailure::unsafeAddress(); };
    if (text != text.trimmed())
        throw unsafe();
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        throw unsafe();
    // QUrl lower-cases the scheme; the address must already be written in lower case.
    if (!text.startsWith(QLatin1String("https:")))
        throw unsafe();
    if (url.host().isEmpty())
        throw unsafe();
    if (!url.userInfo().isEmpty() || url.authority(QUrl::FullyEncoded).contains(u'@')
        || url.hasFragment())
        throw unsafe();
    if (url.port() != -1 && url.port() != 443)
        throw unsafe();
    return url;
}

} // namespace TranslateCore
