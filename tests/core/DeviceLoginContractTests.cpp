#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/DeviceLogin/DeviceLoginChallenge.h"
#include "TranslateCore/DeviceLogin/DeviceLoginFailure.h"
#include "TranslateCore/DeviceLogin/DeviceLoginPoll.h"

#include <QDebug>
#include <QJsonArray>

#include <gtest/gtest.h>

#include <sstream>

using namespace TranslateCore;

namespace {

enum class Outcome { accepted, invalidResponse, upgradeRequired };

template <typename Read> Outcome outcomeOf(Read read)
{
    try {
        read();
        return Outcome::accepted;
    } catch (const TranslationFailure &failure) {
        EXPECT_EQ(failure, TranslationFailure::invalidResponse());
        return Outcome::invalidResponse;
    } catch (const DeviceLoginFailure &) {
        return Outcome::upgradeRequired;
    }
}

QJsonArray squareRows(int side, QString (*rowAt)(int side, int index) = nullptr)
{
    QJsonArray rows;
    for (int i = 0; i < side; ++i)
        rows.append(rowAt ? rowAt(side, i) : QString(side, i % 2 ? u'1' : u'0'));
    return rows;
}

QJsonObject validChallenge()
{
    return QJsonObject {
        { "deviceType", "MAC" },
        { "challengeId", QString(22, u'a') },
        { "deviceSecret", QString(42, u'Z') + u'_' },
        { "userCode", "ABCD2345" },
        { "expiresAt", 1500 },
        { "pollIntervalSeconds", 5 },
        { "qrRows", squareRows(29) },
    };
}

} // namespace

TEST(DeviceLoginChallengeTest, ReadsEveryMember)
{
    QJsonObject json = validChallenge();
    QJsonArray rows = squareRows(29);
    rows[0] = QString(28, u'0') + u'1';
    json.insert("qrRows", rows);
    const DeviceLoginChallenge challenge = DeviceLoginChallenge::fromJson(json, 7);
    EXPECT_EQ(challenge.id, QString(22, u'a'));
    EXPECT_EQ(challenge.secret, QString(42, u'Z') + u'_');
    EXPECT_EQ(challenge.userCode, "ABCD2345");
    EXPECT_EQ(challenge.expiresAt.time_since_epoch(), std::chrono::milliseconds(1500));
    EXPECT_EQ(challenge.interval, 5);
    EXPECT_EQ(challenge.authGeneration, 7);
    ASSERT_EQ(challenge.rows.size(), 29);
    EXPECT_FALSE(challenge.rows[0][27]);
    EXPECT_TRUE(challenge.rows[0][28]);
    EXPECT_EQ(challenge.rows[1], QList<bool>(29, true));
    for (const QList<bool> &row : challenge.rows)
        EXPECT_EQ(row.size(), 29);
}

TEST(DeviceLoginChallengeTest, AppliesEachMemberRule)
{
    const QJsonValue absent(QJsonValue::Undefined);
    const struct {
        const char *description;
        const char *member;
        QJsonValue value;
        Outcome expected;
    } cases[] = {
        { "id of 21", "challengeId", QString(21, u'a'), Outcome::invalidResponse },
        { "id of 23", "challengeId", QString(23, u'a'), Outcome::invalidResponse },
        { "id with =", "challengeId", QString(21, u'a') + u'=', Outcome::invalidResponse },
        { "id missing", "challengeId", absent, Outcome::invalidResponse },
        { "secret with +", "deviceSecret", QString(42, u'a') + u'+', Outcome::invalidResponse },
        { "secret with /", "deviceSecret", QString(42, u'a') + u'/', Outcome::invalidResponse },
        { "secret of 44", "deviceSecret", QString(44, u'a'), Outcome::invalidResponse },
        { "secret as number", "deviceSecret", 12, Outcome::invalidResponse },
        { "code with I", "userCode", "ABCDI234", Outcome::invalidResponse },
        { "code with 0", "userCode", "ABCD0234", Outcome::invalidResponse },
        { "code lower case", "userCode", "abcd2345", Outcome::invalidResponse },
        { "code of 9", "userCode", "ABCD23456", Outcome::invalidResponse },
        { "code with newline", "userCode", "ABCD2345\n", Outcome::invalidResponse },
        { "expiry 0", "expiresAt", 0, Outcome::invalidResponse },
        { "expiry negative", "expiresAt", -1500, Outcome::invalidResponse },
        { "expiry fractional", "expiresAt", 1500.5, Outcome::invalidResponse },
        { "expiry as digits", "expiresAt", "1500", Outcome::accepted },
        { "expiry beyond the clock", "expiresAt", "9223372036854775807", Outcome::invalidResponse },
        { "expiry missing", "expiresAt", absent, Outcome::invalidResponse },
        { "interval 1", "pollIntervalSeconds", 1, Outcome::invalidResponse },
        { "interval 2", "pollIntervalSeconds", 2, Outcome::accepted },
        { "interval 15", "pollIntervalSeconds", 15, Outcome::accepted },
        { "interval 16", "pollIntervalSeconds", 16, Outcome::invalidResponse },
        { "interval Boolean", "pollIntervalSeconds", true, Outcome::invalidResponse },
        { "28 rows", "qrRows", squareRows(28), Outcome::invalidResponse },
        { "65 rows", "qrRows", squareRows(65), Outcome::accepted },
        { "66 rows", "qrRows", squareRows(66), Outcome::invalidResponse },
        { "one row of 30", "qrRows",
            squareRows(29, [](int side, int i) { return QString(i == 3 ? side + 1 : side, u'1'); }),
            Outcome::invalidResponse },
        { "a 2 in a row", "qrRows",
            squareRows(
                29, [](int side, int i) { return QString(side - 1, u'0') + (i ? u'0' : u'2'); }),
            Outcome::invalidResponse },
        // 29 user-perceived characters but 30 UTF-16 units: the accented zero is no module.
        { "combining mark", "qrRows",
            squareRows(29,
                [](int side, int i) {
                    return QString(side, u'0') + (i == 5 ? QStringLiteral("\u0301") : QString());
                }),
            Outcome::invalidResponse },
        { "row not a string", "qrRows", QJsonArray { 1 }, Outcome::invalidResponse },
        { "rows as one string", "qrRows", QString(29, u'0'), Outcome::invalidResponse },
        { "rows missing", "qrRows", absent, Outcome::invalidResponse },
        { "type missing", "deviceType", absent, Outcome::upgradeRequired },
        { "type lower case", "deviceType", "mac", Outcome::upgradeRequired },
        { "type of another platform", "deviceType", "WINDOWS", Outcome::upgradeRequired },
        { "type as number", "deviceType", 1, Outcome::upgradeRequired },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description);
        QJsonObject json = validChallenge();
        json.insert(QLatin1String(c.member), c.value);
        EXPECT_EQ(outcomeOf([&] { DeviceLoginChallenge::fromJson(json, 1); }), c.expected);
    }
}

TEST(DeviceLoginChallengeTest, ChecksDeviceTypeBeforeAnyOtherMember)
{
    const QJsonObject broken { { "deviceType", "IOS" }, { "challengeId", "x" }, { "qrRows", 3 } };
    EXPECT_EQ(
        outcomeOf([&] { DeviceLoginChallenge::fromJson(broken, 1); }), Outcome::upgradeRequired);
    EXPECT_EQ(outcomeOf([&] { DeviceLoginChallenge::fromJson({}, 1); }), Outcome::upgradeRequired);
}

TEST(DeviceLoginChallengeTest, EveryTextFormIsRedacted)
{
    const DeviceLoginChallenge challenge = DeviceLoginChallenge::fromJson(validChallenge(), 1);
    QString debugText;
    QDebug(&debugText).nospace() << challenge; // nospace: no separator after the item
    std::ostringstream stream;
    stream << challenge;
    EXPECT_EQ(debugText, "DeviceLoginChallenge[redacted]");
    EXPECT_EQ(challenge.toString(), "DeviceLoginChallenge[redacted]");
    EXPECT_EQ(stream.str(), "DeviceLoginChallenge[redacted]");
}

TEST(DeviceLoginPollTest, ReadsEachStatus)
{
    const Credentials pair { "access", "refresh" };
    const struct {
        const char *description;
        QJsonObject data;
        std::optional<DeviceLoginPoll> expected; // absent: invalidResponse
    } cases[] = {
        { "pending", { { "status", "PENDING" } }, DeviceLoginPoll::pending() },
        { "slow down with 10", { { "status", "SLOW_DOWN" }, { "pollIntervalSeconds", 10 } },
            DeviceLoginPoll::pending(10) },
        { "pending with 2 as digits", { { "status", "PENDING" }, { "pollIntervalSeconds", "2" } },
            DeviceLoginPoll::pending(2) },
        { "pending with abc", { { "status", "PENDING" }, { "pollIntervalSeconds", "abc" } },
            std::nullopt },
        { "pending with 16", { { "status", "PENDING" }, { "pollIntervalSeconds", 16 } },
            std::nullopt },
        { "pending with null", { { "status", "PENDING" }, { "pollIntervalSeconds", QJsonValue() } },
            std::nullopt },
        { "authorized",
            { { "status", "AUTHORIZED" }, { "accessToken", "access" },
                { "refreshToken", "refresh" } },
            DeviceLoginPoll::authorized(pair) },
        { "authorized, empty refresh token",
            { { "status", "AUTHORIZED" }, { "accessToken", "access" }, { "refreshToken", "" } },
            std::nullopt },
        { "authorized without access token",
            { { "status", "AUTHORIZED" }, { "refreshToken", "refresh" } }, std::nullopt },
        { "expired", { { "status", "EXPIRED" } }, DeviceLoginPoll::expired() },
        { "cancelled", { { "status", "CANCELLED" } }, DeviceLoginPoll::expired() },
        { "consumed", { { "status", "CONSUMED" } }, DeviceLoginPoll::expired() },
        { "rejected", { { "status", "REJECTED" } }, DeviceLoginPoll::rejected() },
        { "lower case", { { "status", "pending" } }, std::nullopt },
        { "unknown", { { "status", "DONE" } }, std::nullopt },
        { "status as number", { { "status", 1 } }, std::nullopt },
        { "no status", {}, std::nullopt },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description);
        if (c.expected) {
            EXPECT_EQ(DeviceLoginPoll::fromJson(c.data), *c.expected);
        } else {
            EXPECT_EQ(
                outcomeOf([&] { DeviceLoginPoll::fromJson(c.data); }), Outcome::invalidResponse);
        }
    }
}

TEST(DeviceLoginFailureTest, TellsTheUserToUseThePhoneCode)
{
    const DeviceLoginFailure failure = DeviceLoginFailure::upgradeRequired();
    EXPECT_EQ(failure.errorDescription(), "扫码登录服务尚未升级，请先使用验证码登录。");
    EXPECT_STREQ(failure.what(), "扫码登录服务尚未升级，请先使用验证码登录。");
    EXPECT_EQ(failure, DeviceLoginFailure::upgradeRequired());
}
