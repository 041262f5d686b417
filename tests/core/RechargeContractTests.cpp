#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/Recharge/MopAmount.h"
#include "TranslateCore/Recharge/PaymentHandoff.h"
#include "TranslateCore/Recharge/RechargeOrder.h"
#include "TranslateCore/Recharge/RechargePackage.h"

#include <QJsonArray>

#include <gtest/gtest.h>

#include <limits>

using namespace TranslateCore;

namespace {

using Rule = std::tuple<const char *, QJsonValue, bool>; // member, value, accepted

// Reads `valid` with each rule's member replaced in turn; a refusal must be invalidResponse.
template <typename Read>
void expectRules(const QJsonObject &valid, std::initializer_list<Rule> rules, Read read)
{
    for (const auto &[member, value, accepted] : rules) {
        QJsonObject json = valid;
        value.isUndefined() ? json.remove(member) : void(json[member] = value);
        try {
            read(json);
            EXPECT_TRUE(accepted) << member << " accepted";
        } catch (const TranslationFailure &failure) {
            EXPECT_EQ(failure, TranslationFailure::invalidResponse()) << member;
            EXPECT_FALSE(accepted) << member << " refused";
        }
    }
}

// A side × side matrix of "0" rows ending in "1"; row `shortRow` is one short and every row
// ends in `last`.
QJsonArray square(int side, int shortRow = -1, QChar last = u'1')
{
    QJsonArray rows;
    for (int i = 0; i < side; ++i)
        rows.append(QString(i == shortRow ? side - 2 : side - 1, u'0') + last);
    return rows;
}

Instant at(qint64 ms)
{
    return Instant(std::chrono::milliseconds(ms));
}

} // namespace

TEST(MopAmountTest, FormatsHundredths)
{
    const std::pair<qint64, const char *> cases[] = { { 1234, "MOP 12.34" }, { 5, "MOP 0.05" },
        { 100, "MOP 1.00" }, { 0, "MOP 0.00" }, { -5, "MOP -0.05" },
        { std::numeric_limits<qint64>::max(), "MOP 92233720368547758.07" },
        { std::numeric_limits<qint64>::min(), "MOP -92233720368547758.08" } };
    for (const auto &[fen, text] : cases)
        EXPECT_EQ(mopAmount(fen), text);
}

TEST(RechargePackageTest, ReadsAndValidatesMembers)
{
    const QJsonObject valid { { "id", 3 }, { "name", "月卡" }, { "priceFen", 9900 },
        { "currency", "MOP" }, { "totalPoints", "600" } };
    EXPECT_EQ(RechargePackage::fromJson(valid), (RechargePackage { 3, "月卡", 9900, "MOP", 600 }));
    expectRules(valid,
        { { "currency", "HKD", false }, { "currency", "mop", false }, { "id", 0, false },
            { "priceFen", -1, false }, { "priceFen", 0, true }, { "name", 5, false },
            { "totalPoints", -1, false } },
        [](const QJsonObject &json) { RechargePackage::fromJson(json); });
}

TEST(RechargeOrderTest, ReadsAndValidatesMembers)
{
    const QString number = "QVUAT" + QString(10, u'x');
    const QJsonObject valid { { "orderNo", number }, { "packageName", "月卡" },
        { "payAmountFen", 9900 }, { "grantPoints", 600 }, { "paymentChannel", "MPAY" },
        { "currency", "MOP" }, { "paymentStatus", "PAYING" } };
    EXPECT_EQ(RechargeOrder::fromJson(valid),
        (RechargeOrder { number, "月卡", 9900, 600, "MPAY", "PAYING" }));
    expectRules(valid,
        { { "orderNo", "qvuat" + QString(10, u'x'), false },
            { "orderNo", "QVUAT" + QString(9, u'x'), false },
            { "orderNo", "QVUAT" + QString(59, u'-'), true },
            { "orderNo", "QVUAT" + QString(60, u'x'), false },
            { "orderNo", "QVUAT" + QString(10, u'x') + '.', false }, { "payAmountFen", 0, false },
            { "grantPoints", -1, false }, { "paymentChannel", "mpay", false },
            { "paymentChannel", "WECHAT_APP", true }, { "currency", "HKD", false },
            { "paymentStatus", "ENDED", false }, { "paymentStatus", "REFUNDED", true } },
        [](const QJsonObject &json) { RechargeOrder::fromJson(json); });
}

TEST(RechargeOrderTest, DerivesPendingAndStatusTitle)
{
    const std::tuple<const char *, const char *, bool> cases[] = { { "PAYING", "待付款", true },
        { "PAID", "已到账", false }, { "CLOSED", "已关闭", false }, { "REFUNDED", "已退款", false },
        { "FAILED", "失败", false }, { "paying", "结果待确认", false } };
    for (const auto &[status, title, pending] : cases) {
        RechargeOrder order;
        order.status = status;
        EXPECT_EQ(order.statusTitle(), title);
        EXPECT_EQ(order.isPending(), pending) << status;
    }
}

TEST(PaymentHandoffTest, ReadsAndValidatesMembers)
{
    const qint64 now = 1'700'000'000'000;
    const QString link = "quorvel-uat:///recharge/pay/";
    const QJsonObject valid { { "link", link + QString(43, u'A') }, { "expiresAt", now + 1 },
        { "qrRows", square(21) } };
    const PaymentHandoff handoff = PaymentHandoff::fromJson(valid, at(now));
    EXPECT_EQ(handoff.expiresAt, at(now + 1));
    ASSERT_EQ(handoff.rows.size(), 21);
    EXPECT_EQ(handoff.rows[0], QString(20, u'0') + u'1');
    expectRules(valid,
        { { "qrRows", square(20), false }, { "qrRows", square(177), true },
            { "qrRows", square(178), false }, { "qrRows", square(21, 4), false },
            { "qrRows", square(21, -1, u'x'), false }, { "expiresAt", now, false },
            { "expiresAt", "9223372036854775807", false },
            { "link", "quorvel:///recharge/pay/" + QString(43, u'A'), false },
            { "link", link + QString(42, u'A'), false },
            { "link", link + QString(42, u'A') + '/', false } },
        [&](const QJsonObject &json) { PaymentHandoff::fromJson(json, at(now)); });

    // The current time counts in whole milliseconds: 999 µs into millisecond ...000 the expiry
    // ...001 is still later; at ...001.5 it is not.
    using std::chrono::microseconds;
    EXPECT_NO_THROW(PaymentHandoff::fromJson(valid, at(now) + microseconds(999)));
    EXPECT_THROW(PaymentHandoff::fromJson(valid, at(now) + microseconds(1500)), TranslationFailure);
}
