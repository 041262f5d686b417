#include "TranslateCore/AppUpdate/AppInstallation.h"
#include "TranslateCore/AppUpdate/AppRelease.h"
#include "TranslateCore/AppUpdate/AppUpdateResult.h"
#include "TranslateCore/Contract/TranslationFailure.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

using namespace TranslateCore;

namespace {

std::optional<TranslationFailure> failureOf(const std::function<void()> &body)
{
    try {
        body();
    } catch (const TranslationFailure &failure) {
        return failure;
    }
    return std::nullopt;
}

const AppInstallation installed { "1.0.0", 5 };

// An enabled answer for `installed`: latest 1.1.0 (9), no minimum.
QJsonObject enabledAnswer()
{
    return QJsonObject { { "platform", "MACOS" }, { "currentVersion", "1.0.0" },
        { "currentBuildNumber", 5 }, { "policyRevision", 3 }, { "enabled", true },
        { "updateAvailable", true }, { "forceUpdate", false }, { "latestVersion", "1.1.0" },
        { "latestBuildNumber", 9 }, { "minimumVersion", "" }, { "minimumBuildNumber", 0 },
        { "updateUrl", "https://quorvel.example/download" }, { "releaseNotes", "修复问题" } };
}

QJsonObject disabledAnswer()
{
    return QJsonObject { { "platform", "MACOS" }, { "currentVersion", "1.0.0" },
        { "currentBuildNumber", "5" }, { "policyRevision", 0 }, { "enabled", false },
        { "updateAvailable", false }, { "forceUpdate", false } };
}

} // namespace

TEST(AppUpdateVersion, AcceptsExactlyThreePlainNumbers)
{
    for (const char *version : { "1.0.0", "0.0.0", "999999999.0.1" }) {
        SCOPED_TRACE(version);
        EXPECT_NO_THROW(AppRelease::validated(version, 1));
    }
    for (const char *version : { "1.0", "1.0.0.0", "01.0.0", "1.0.0-beta", "v1.0.0",
             "1234567890.0.0", "", "1.0.0\n", " 1.0.0", "1..0", "1.0.-1", "１.0.0" }) {
        SCOPED_TRACE(version);
        EXPECT_EQ(failureOf([&] { AppRelease::validated(version, 1); }),
            TranslationFailure::invalidResponse());
    }
    EXPECT_EQ(AppRelease::validated("999999999.0.1", 3), (AppRelease { { 999999999, 0, 1 }, 3 }));
}

TEST(AppUpdateVersion, BuildsOutsideThe32BitRangeAreRefused)
{
    EXPECT_THROW(AppRelease::validated("1.0.0", -1), TranslationFailure);
    EXPECT_THROW(AppRelease::validated("1.0.0", 2147483648), TranslationFailure);
    EXPECT_EQ(AppRelease::validated("1.0.0", 2147483647).build, 2147483647);
    EXPECT_THROW(AppInstallation::validated("1.0.0", 2147483648), TranslationFailure);
    EXPECT_THROW(AppInstallation::validated("1.0", 1), TranslationFailure);
}

TEST(AppUpdateVersion, OrdersByPartsThenBuild)
{
    const auto release
        = [](const char *version, qint64 build) { return AppRelease::validated(version, build); };
    EXPECT_GT(release("1.2.10", 1), release("1.2.9", 1));
    EXPECT_GT(release("1.2.3", 5), release("1.2.3", 4));
    EXPECT_LT(release("1.2.3", 99), release("1.3.0", 0));
    EXPECT_LT(release("1.9.9", 9), release("2.0.0", 0));
    EXPECT_EQ(release("1.2.3", 4), release("1.2.3", 4));
    EXPECT_LE(release("1.2.3", 4), release("1.2.3", 4));
}

TEST(AppUpdateInstallation, ReadsTheBuildValues)
{
    EXPECT_EQ(AppInstallation::fromBundleInfo(QString("1.2.3"), QString("42")),
        (AppInstallation { "1.2.3", 42 }));
    const struct {
        const char *description;
        QVariant version;
        QVariant build;
    } refused[] = {
        { "missing version", QVariant(), QString("1") },
        { "missing build", QString("1.0.0"), QVariant() },
        { "build as a number", QString("1.0.0"), 7 },
        { "version as bytes", QByteArray("1.0.0"), QString("7") },
        { "build not decimal", QString("1.0.0"), QString("7a") },
        { "build with a fraction", QString("1.0.0"), QString("7.0") },
        { "build negative", QString("1.0.0"), QString("-1") },
        { "bad version", QString("1.0"), QString("7") },
    };
    for (const auto &c : refused) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(failureOf([&] { AppInstallation::fromBundleInfo(c.version, c.build); }),
            TranslationFailure::invalidResponse());
    }
    const AppInstallation current = AppInstallation::current();
    EXPECT_FALSE(current.version.isEmpty());
    EXPECT_EQ((AppInstallation { "1.0.0", 7 }).displayVersion(), "1.0.0 (7)");
}

TEST(AppUpdateAnswer, DisabledAnswerIsEmpty)
{
    const AppUpdateResult result = AppUpdateResult::fromJson(disabledAnswer(), installed);
    EXPECT_EQ(result, AppUpdateResult {});
    EXPECT_EQ(result.releaseKey(), "/0");

    QJsonObject contradicting = disabledAnswer();
    contradicting["updateAvailable"] = true;
    EXPECT_THROW(AppUpdateResult::fromJson(contradicting, installed), TranslationFailure);
}

TEST(AppUpdateAnswer, EnabledAnswerCarriesTheRelease)
{
    const AppUpdateResult result = AppUpdateResult::fromJson(enabledAnswer(), installed);
    EXPECT_EQ(result,
        (AppUpdateResult { true, true, false, QString("1.1.0"), 9,
            QUrl("https://quorvel.example/download"), "修复问题" }));
    EXPECT_EQ(result.releaseKey(), "1.1.0/9");
}

TEST(AppUpdateAnswer, RefusesContradictions)
{
    using Change = std::function<void(QJsonObject &)>;
    const auto set = [](const char *key, QJsonValue value) -> Change {
        return [key, value](QJsonObject &o) { o[key] = value; };
    };
    const auto all = [](std::initializer_list<Change> changes) -> Change {
        return [list = std::vector<Change>(changes)](QJsonObject &o) {
            for (const Change &change : list)
                change(o);
        };
    };
    const auto accepted = std::optional<TranslationFailure>();
    const auto invalid = std::optional(TranslationFailure::invalidResponse());
    const auto unsafe = std::optional(TranslationFailure::unsafeAddress());
    const struct {
        const char *description;
        Change change;
        std::optional<TranslationFailure> expected;
    } cases[] = {
        { "as sent", [](QJsonObject &) {}, accepted },
        { "another platform", set("platform", "LINUX"), invalid },
        { "platform in lower case", set("platform", "macos"), invalid },
        { "another current version", set("currentVersion", "1.0.1"), invalid },
        { "another current build", set("currentBuildNumber", 6), invalid },
        { "current build as digits", set("currentBuildNumber", "5"), accepted },
        { "negative policy revision", set("policyRevision", -1), invalid },
        { "policy revision missing", [](QJsonObject &o) { o.remove("policyRevision"); }, invalid },
        { "enabled as a number", set("enabled", 1), invalid },
        { "release notes missing", [](QJsonObject &o) { o.remove("releaseNotes"); }, invalid },
        { "latest build too large", set("latestBuildNumber", 2147483648.0), invalid },
        { "latest version invalid", set("latestVersion", "1.1"), invalid },
        { "update denied although newer", set("updateAvailable", false), invalid },
        { "forced without a minimum", set("forceUpdate", true), invalid },
        { "minimum build without a minimum version", set("minimumBuildNumber", 1), invalid },
        { "minimum above installed forces",
            all({ set("minimumVersion", "1.0.0"), set("minimumBuildNumber", 6),
                set("forceUpdate", true) }),
            accepted },
        { "minimum above installed but not forced",
            all({ set("minimumVersion", "1.0.0"), set("minimumBuildNumber", 6) }), invalid },
        { "minimum equal to installed is not forced",
            all({ set("minimumVersion", "1.0.0"), set("minimumBuildNumber", 5) }), accepted },
        { "minimum above latest",
            all({ set("minimumVersion", "1.2.0"), set("minimumBuildNumber", 0),
                set("forceUpdate", true) }),
            invalid },
        { "latest equals installed",
            all({ set("latestVersion", "1.0.0"), set("latestBuildNumber", 5),
                set("updateAvailable", false) }),
            accepted },
        { "bad address though no update",
            all({ set("latestVersion", "1.0.0"), set("latestBuildNumber", 5),
                set("updateAvailable", false), set("updateUrl", "http://quorvel.example/") }),
            unsafe },
        { "contradiction before bad address",
            all({ set("updateAvailable", false), set("updateUrl", "http://quorvel.example/") }),
            invalid },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description);
        QJsonObject json = enabledAnswer();
        c.change(json);
        EXPECT_EQ(failureOf([&] { AppUpdateResult::fromJson(json, installed); }), c.expected);
    }
}

TEST(AppUpdateURL, AcceptsPlainHttpsAddresses)
{
    for (const char *address : { "https://downloads.example.org/mac?channel=stable",
             "https://quorvel.tech:443/", "https://quorvel.tech" }) {
        SCOPED_TRACE(address);
        EXPECT_EQ(validatedUpdateURL(address), QUrl(address));
    }
    for (const char *address : { "http://quorvel.tech/", "HTTPS://quorvel.tech/",
             " https://quorvel.tech/", "https://quorvel.tech/\n", "https://quorvel.tech:8443/",
             "https://user@quorvel.tech/", "https://:pw@quorvel.tech/", "https://quorvel.tech/#top",
             "https:///path", "https://quorvel.tech/a b", "" }) {
        SCOPED_TRACE(address);
        EXPECT_EQ(
            failureOf([&] { validatedUpdateURL(address); }), TranslationFailure::unsafeAddress());
    }
}
