#pragma once

#include "AppInstallation.h"

#include <QJsonObject>
#include <QString>
#include <QUrl>
#include <QtGlobal>

#include <optional>

namespace TranslateCore {

// The service's validated answer to "is there a newer release?".
struct AppUpdateResult {
    bool enabled = false;
    bool updateAvailable = false;
    // The installed release is below the minimum supported one.
    bool forceUpdate = false;
    std::optional<QString> latestVersion;
    qint64 latestBuildNumber = 0;
    std::optional<QUrl> updateURL;
    QString releaseNotes;

    // Reads the "data" object of an update check made for `installation`. An answer that
    // contradicts itself or the installation throws TranslationFailure::invalidResponse; an
    // unacceptable download address throws unsafeAddress.
    static AppUpdateResult fromJson(const QJsonObject &json, const AppInstallation &installation);

    // "<latestVersion>/<latestBuildNumber>": identifies the offered release.
    QString releaseKey() const;

    friend bool operator==(const AppUpdateResult &, const AppUpdateResult &) = default;
};

// The download page address, if it is a plain https address (any host, port absent or 443, no
// user, password or fragment, no surrounding white space); throws
// TranslationFailure::unsafeAddress otherwise.
QUrl validatedUpdateURL(const QString &text);

} // namespace TranslateCore
