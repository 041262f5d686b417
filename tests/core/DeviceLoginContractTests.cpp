#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/DeviceLogin/DeviceLoginChallenge.h"
#include "TranslateCore/DeviceLogin/DeviceLoginFailure.h"
#include "TranslateCore/DeviceLogin/DeviceLoginPoll.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <sstream>

using namespace TranslateCore;

namespace {

enum class Outcome { accepted, invalid, upgrade };

template <typename Read> Outcome outcomeOf(Read read)
{
    try {
        read();
        return Outcome::accepted;
    } catch (const TranslationFailure &failure) {
        EXPECT_EQ(failure, TranslationFailure::invalidResponse());
        return Outcome::invalid;
    } catch (const DeviceLoginFailure &failure) {
        EXPECT_EQ(failure.errorDescription(), "扫码登录服务尚未升级，请先使用验证码登录。");
        EXPECT_STREQ(failure.what(), "扫码登录服务尚未升级，请先使用验证码登录。");
        return Outcome::upgrade;
    }
}

// A side × side matrix whose odd rows are dark and whose even rows end in one dark module, with
// row `row` replaced by `text`.
QJsonArray square(int side, int row = -1, const QString &text = {})
{
    QJsonArray rows;
    for (int i = 0; i < side; ++i)
        rows.append(i == row ? text : i % 2 ? QString(side, u'1') : QString(side - 1, u'0') + u'1');
    return rows;
}

const QJsonObject challenge { { "deviceType", "MAC" }, { "challengeId", QString(22, u'a') },
    { "deviceSecret", QString(42, u'Z') + u'_' }, { "userCode", "ABCD2345" }, { "expiresAt", 1500 },
    { "pollIntervalSeconds", 5 }, { "qrRows", square(29) } };

QJsonObject with(QJsonObject json, const char *member, const QJsonValue &value)
{
    value.isUndefined() ? json.remove(member) : void(json[member] = value);
    return json;
}

} // namespace

TEST(DeviceLoginChallengeTest, ReadsEveryMemberAndRedactsItsText)
{
    QList<QList<bool>> rows;
    for (int i = 0; i < 29; ++i) {
        rows.append(QList<bool>(29, i % 2 == 1));
        rows.last()[28] = true;
    }
    const Instant expiry(std::chrono::milliseconds(1500));
    const DeviceLoginChallenge read = DeviceLoginChallenge::fromJson(challenge, 7);
    EXPECT_EQ(read,
        (DeviceLoginChallenge {
            QString(22, u'a'), QString(42, u'Z') + u'_', "ABCD2345", expiry, 5, rows, 7 }));

    // Every text form is redacted.
    QString debugText;
    QDebug(&debugText).nospace() << read; // nospace: no separator after the item
    std::ostringstream stream;
    stream << read;
    for (const QString &text : { debugText, read.toString(), QString::fromStdString(stream.str()) })
        EXPECT_EQ(text, "DeviceLoginChallenge[redacted]");
}

TEST(DeviceLoginChallengeTest, AppliesEachMemberRule)
{
    using enum Outcome;
    const QJsonValue absent(QJsonValue::Undefined);
    // Each member with the values tried for it, the others staying valid.
    const std::pair<const char *, std::vector<std::pair<QJsonValue, Outcome>>> cases[] = {
        { "challengeId", { { QString(21, u'a'), invalid }, { QString(23, u'a'), invalid } } },
        { "deviceSecret",
            { { QString(42, u'a') + u'+', invalid }, { QString(44, u'a'), invalid },
                { 12, invalid } } },
        { "userCode",
            { { "ABCDI234", invalid }, { "abcd2345", invalid }, { "ABCD2345\n", invalid } } },
        { "expiresAt",
            { { 0, invalid }, { "1500", accepted }, { "9223372036854775807", invalid } } },
        { "pollIntervalSeconds",
            { { 1, invalid }, { 2, accepted }, { 15, accepted }, { 16, invalid } } },
        { "qrRows",
            { { square(28), invalid }, { square(65), accepted }, { square(66), invalid },
                { square(29, 3, QString(30, u'1')), invalid },
                { square(29, 0, QString(28, u'0') + u'2'), invalid },
                // 29 user-perceived characters but 30 UTF-16 units: the accented zero is no module.
                { square(29, 5, QString(29, u'0') + QChar(0x0301)), invalid },
                { QJsonArray { 1 }, invalid } } },
        { "deviceType", { { absent, upgrade }, { "mac", upgrade }, { "WINDOWS", upgrade } } },
    };
    for (const auto &[member, values] : cases) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            const QJsonObject json = with(challenge, member, values[i].first);
            EXPECT_EQ(outcomeOf([&] { DeviceLoginChallenge::fromJson(json, 1); }), values[i].second)
                << member << " #" << i;
        }
    }
    // The device type is looked at before anything else.
    const QJsonObject typeAlone { { "deviceType", "IOS" } };
    EXPECT_EQ(outcomeOf([&] { DeviceLoginChallenge::fromJson(typeAlone, 1); }), upgrade);
}

TEST(DeviceLoginPollTest, ReadsEachStatus)
{
    using Poll = DeviceLoginPoll;
    const std::pair<QJsonObject, std::optional<Poll>> cases[] = {
        // absent: invalidResponse
        { { { "status", "PENDING" } }, Poll::pending() },
        { { { "status", "SLOW_DOWN" }, { "pollIntervalSeconds", 10 } }, Poll::pending(10) },
        { { { "status", "PENDING" }, { "pollIntervalSeconds", "2" } }, Poll::pending(2) },
        { { { "status", "PENDING" }, { "pollIntervalSeconds", "abc" } }, {} },
        { { { "status", "PENDING" }, { "pollIntervalSeconds", 16 } }, {} },
        { { { "status", "AUTHORIZED" }, { "accessToken", "a" }, { "refreshToken", "r" } },
            Poll::authorized({ "a", "r" }) },
        { { { "status", "AUTHORIZED" }, { "accessToken", "a" }, { "refreshToken", "" } }, {} },
        { { { "status", "AUTHORIZED" }, { "refreshToken", "r" } }, {} },
        { { { "status", "EXPIRED" } }, Poll::expired() },
        { { { "status", "CANCELLED" } }, Poll::expired() },
        { { { "status", "CONSUMED" } }, Poll::expired() },
        { { { "status", "REJECTED" } }, Poll::rejected() },
        { { { "status", "pending" } }, {} },
        { {}, {} },
    };
    for (const auto &[json, expected] : cases) {
        SCOPED_TRACE(QJsonDocument(json).toJson(QJsonDocument::Compact).constData());
        if (expected)
            EXPECT_EQ(Poll::fromJson(json), *expected);
        else
            EXPECT_EQ(outcomeOf([&] { Poll::fromJson(json); }), Outcome::invalid);
    }
}
