#include "AppInstallation.h"

#include "AppRelease.h"
#include "BuildInfo.h"
#include "TranslateCore/Contract/Integer.h"
#include "TranslateCore/Contract/TranslationFailure.h"

#include <QJsonValue>

#include <optional>

namespace TranslateCore {

AppInstallation AppInstallation::validated(const QString &version, qint64 buildNumber)
{
    AppRelease::validated(version, buildNumber);
    return AppInstallation { version, buildNumber };
}

AppInstallation AppInstallation::current()
{
    return fromBundleInfo(QVariant(QStringLiteral(QUORVEL_VERSION_STRING)),
        QVariant(QStringLiteral(QUORVEL_BUILD_NUMBER_STRING)));
}

AppInstallation AppInstallation::fromBundleInfo(const QVariant &version, const QVariant &build)
{
    if (version.typeId() != QMetaType::QString || build.typeId() != QMetaType::QString)
        throw TranslationFailure::invalidResponse();
    // A build text follows the same decimal rule as integers read from the service.
    const std::optional<qint64> buildNumber = integer(QJsonValue(build.toString()));
    if (!buildNumber)
        throw TranslationFailure::invalidResponse();
    return validated(version.toString(), *buildNumber);
}

QString AppInstallation::displayVersion() const
{
    return version + QStringLiteral(" (") + QString::number(buildNumber) + u')';
}

} // namespace TranslateCore
