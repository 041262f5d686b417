#pragma once

#include <QString>
#include <QtGlobal>

#include <array>
#include <compare>

namespace TranslateCore {

// A release as the update check compares them: major, minor and patch, then the build number.
struct AppRelease {
    std::array<qint64, 3> parts {};
    qint64 build = 0;

    static constexpr qint64 maximumBuild = 2147483647;

    // Throws TranslationFailure::invalidResponse unless `version` is exactly three dot-separated
    // numbers (each 0 or up to nine digits without a leading zero) and `build` is in 0…2147483647.
    static AppRelease validated(const QString &version, qint64 build);

    friend bool operator==(const AppRelease &, const AppRelease &) = default;
    friend std::strong_ordering operator<=>(const AppRelease &, const AppRelease &) = default;
};

} // namespace TranslateCore
