#pragma once

#include <QString>
#include <QVariant>
#include <QtGlobal>

namespace TranslateCore {

// The running application as the update check describes it to the service.
struct AppInstallation {
    QString version;
    qint64 buildNumber = 0;

    // Throws TranslationFailure::invalidResponse unless the pair is a valid AppRelease.
    static AppInstallation validated(const QString &version, qint64 buildNumber);

    // The version and build number this binary was built as.
    static AppInstallation current();

    // Reads the installation from the two raw build values: both must be strings, the build a
    // base-10 integer; anything missing or malformed throws TranslationFailure::invalidResponse.
    static AppInstallation fromBundleInfo(const QVariant &version, const QVariant &build);

    // "1.0.0 (7)".
    QString displayVersion() const;

    friend bool operator==(const AppInstallation &, const AppInstallation &) = default;
};

} // namespace TranslateCore
