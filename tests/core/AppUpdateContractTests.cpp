#include "TranslateCore/AppUpdate/AppInstallation.h"
#include "TranslateCore/AppUpdate/AppRelease.h"
#include "TranslateCore/AppUpdate/AppUpdateResult.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "support/Outcome.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace TranslateCore;

namespace {

using TestSupport::failureOf;

const auto invalid = std::optional(TranslationFailure::invalidResponse());
const auto unsafe = std::optional(TranslationFailure::unsafeAddress());
const AppInstallation installed { "1.0.0", 5 };

// An enabled answer for `installed` (latest 1.1.0 build 9, no minimum) with `changes` applied.
QJsonObject answer(std::initializer_list<std::pair<const char *, QJsonValue>> changes = {})
{
    QJsonObject json { { "platform", "MACOS" }, { "currentVersion", "1.0.0" },
        { "currentBuildNumber", 5 }, { "policyRevision", 3 }, { "enabled", true },
        { "updateAvailable", true }, { "forceUpdate", false }, { "latestVersion", "1.1.0" },
        { "latestBuildNumber", 9 }, { "minimumVersion", "" }, { "minimumBuildNumber", 0 },
        { "updateUrl", "https://quorvel.example/download" }, { "releaseNotes", "修复问题" } };
    for (const auto &[key, value] : changes)
        value.isUndefined() ? json.remove(key) : void(json[key] = value);
    return json;
}

} // namespace

TEST(AppUpdateVersion, ValidatesAndOrdersReleases)
{
    for (const char *version : { "1.0.0", "0.0.0", "999999999.0.1" })
        EXPECT_NO_THROW(AppRelease::validated(version, 1)) << version;
    for (const char *version : { "1.0", "1.0.0.0", "01.0.0", "1.0.0-beta", "v1.0.0",
             "1234567890.0.0", "", "1.0.0\n", "１.0.0" })
        EXPECT_EQ(failureOf([&] { AppRelease::validated(version, 1); }), invalid) << version;
    EXPECT_EQ(AppRelease::validated("999999999.0.1", 3), (AppRelease { { 999999999, 0, 1 }, 3 }));
    EXPECT_EQ(AppRelease::validated("1.0.0", 2147483647).build, 2147483647);
    EXPECT_EQ(failureOf([] { AppRelease::validated("1.0.0", -1); }), invalid);
    EXPECT_EQ(failureOf([] { AppRelease::validated("1.0.0", 2147483648); }), invalid);
    EXPECT_EQ(failureOf([] { AppInstallation::validated("1.0.0", 2147483648); }), invalid);

    const auto release = &AppRelease::validated;
    EXPECT_GT(release("1.2.10", 1), release("1.2.9", 1));
    EXPECT_GT(release("1.2.3", 5), release("1.2.3", 4));
    EXPECT_LT(release("1.2.3", 99), release("1.3.0", 0));
    EXPECT_LT(release("1.9.9", 9), release("2.0.0", 0));
    EXPECT_EQ(release("1.2.3", 4), release("1.2.3", 4));
}

TEST(AppUpdateInstallation, ReadsTheBuildValues)
{
    EXPECT_EQ(AppInstallation::fromBundleInfo(QString("1.2.3"), QString("42")),
        (AppInstallation { "1.2.3", 42 }));
    const std::pair<QVariant, QVariant> refused[]
        = { { QVariant(), QString("1") }, { QString("1.0.0"), 7 },
              { QString("1.0.0"), QString("7a") }, { QString("1.0"), QString("7") } };
    for (const auto &[version, build] : refused)
        EXPECT_EQ(failureOf([&] { AppInstallation::fromBundleInfo(version, build); }), invalid);
    EXPECT_NO_THROW(AppInstallation::current());
    EXPECT_EQ((AppInstallation { "1.0.0", 7 }).displayVersion(), "1.0.0 (7)");
}

TEST(AppUpdateAnswer, ReadsEnabledAndDisabledAnswers)
{
    const AppUpdateResult result = AppUpdateResult::fromJson(answer(), installed);
    EXPECT_EQ(result,
        (AppUpdateResult { true, true, false, QString("1.1.0"), 9,
            QUrl("https://quorvel.example/download"), "修复问题" }));
    EXPECT_EQ(result.releaseKey(), "1.1.0/9");
    // Disabled, nothing beyond the three flags is read.
    const QJsonObject disabled = answer({ { "enabled", false }, { "updateAvailable", false },
        { "latestVersion", QJsonValue::Undefined }, { "updateUrl", "http://x/" } });
    EXPECT_EQ(AppUpdateResult::fromJson(disabled, installed), AppUpdateResult {});
    EXPECT_EQ(AppUpdateResult {}.releaseKey(), "/0");
    const QJsonObject disabledYetAvailable = answer({ { "enabled", false } });
    EXPECT_EQ(
        failureOf([&] { AppUpdateResult::fromJson(disabledYetAvailable, installed); }), invalid);
}

TEST(AppUpdateAnswer, RefusesContradictions)
{
    const std::optional<TranslationFailure> accepted;
    const auto minimum = [](const char *version, int build, bool forced) {
        return answer({ { "minimumVersion", version }, { "minimumBuildNumber", build },
            { "forceUpdate", forced } });
    };
    const auto latest = [](const char *version, int build, bool available, const char *url) {
        return answer({ { "latestVersion", version }, { "latestBuildNumber", build },
            { "updateAvailable", available }, { "updateUrl", url } });
    };
    const std::pair<QJsonObject, std::optional<TranslationFailure>> cases[] = {
        { answer({ { "platform", "macos" } }), invalid },
        { answer({ { "currentVersion", "1.0.1" } }), invalid },
        { answer({ { "currentBuildNumber", 6 } }), invalid },
        { answer({ { "currentBuildNumber", "5" } }), accepted },
        { answer({ { "policyRevision", -1 } }), invalid },
        { answer({ { "enabled", 1 } }), invalid },
        { answer({ { "releaseNotes", QJsonValue::Undefined } }), invalid },
        { answer({ { "latestBuildNumber", 2147483648.0 } }), invalid },
        { answer({ { "latestVersion", "1.1" } }), invalid },
        { answer({ { "updateAvailable", false } }), invalid }, // 1.1.0 is newer
        { answer({ { "forceUpdate", true } }), invalid }, // forced without a minimum
        { answer({ { "minimumBuildNumber", 1 } }), invalid }, // minimum build without a version
        { minimum("1.0.0", 6, true), accepted }, { minimum("1.0.0", 6, false), invalid },
        { minimum("1.0.0", 5, false), accepted },
        { minimum("1.2.0", 0, true), invalid }, // above the latest release
        { latest("1.0.0", 5, false, "https://quorvel.example/"), accepted },
        { latest("1.0.0", 5, false, "http://quorvel.example/"), unsafe }, // checked without update
        { latest("1.1.0", 9, false, "http://quorvel.example/"), invalid }, // contradiction first
    };
    for (const auto &[json, expected] : cases) {
        SCOPED_TRACE(QJsonDocument(json).toJson(QJsonDocument::Compact).constData());
        EXPECT_EQ(failureOf([&] { AppUpdateResult::fromJson(json, installed); }), expected);
    }
}

TEST(AppUpdateURL, AcceptsPlainHttpsAddresses)
{
    for (const char *address :
        { "https://downloads.example.org:443/mac?channel=stable", "https://quorvel.tech" })
        EXPECT_EQ(validatedUpdateURL(address), QUrl(address));
    for (const char *address : { "http://quorvel.tech/", "HTTPS://quorvel.tech/",
             " https://quorvel.tech/", "https://quorvel.tech/\n", "https://quorvel.tech:8443/",
             "https://user@quorvel.tech/", "https://:pw@quorvel.tech/", "https://quorvel.tech/#top",
             "https:///path", "https://quorvel.tech/a b" })
        EXPECT_EQ(failureOf([&] { validatedUpdateURL(address); }), unsafe) << address;
}
