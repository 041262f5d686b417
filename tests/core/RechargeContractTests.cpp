#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/Recharge/MopAmount.h"
#include "TranslateCore/Recharge/PaymentHandoff.h"
#include "TranslateCore/Recharge/RechargeOrder.h"
#include "TranslateCore/Recharge/RechargePackage.h"

#include <QJsonArray>

#include <gtest/gtest.h>

using namespace TranslateCore;

namespace {

struct MemberCase {
    const char *description;
    const char *member;
    QJsonValue value;
    bool accepted;
};

template <typename Read>
void expectMemberRules(const QJsonObject &valid, std::initializer_list<MemberCase> cases, Read read)
{
    for (const MemberCase &c : cases) {
        SCOPED_TRACE(c.description);
        QJsonObject json = valid;
        json.insert(QLatin1String(c.member), c.value);
        if (c.accepted) {
            EXPECT_NO_THROW(read(json));
        } else {
            EXPECT_THROW(
                {
                    try {
                        read(json);
                    } catch (const TranslationFailure &failure) {
                        EXPECT_EQ(failure, TranslationFailure::invalidResponse());
                        throw;
                    }
                },
                TranslationFailure);
        }
    }
}

const QJsonValue absent(QJsonValue::Undefined);

QJsonArray squareRows(int side, int shortRow = -1, QChar last = u'1')
{
    QJsonArray rows;
    for (int i = 0; i < side; ++i)
        rows.append(QString(i == shortRow ? side - 2 : side - 1, u'0') + last);
    return rows;
}

const Instant now = instantFromEpochMilliseconds(1'700'000'000'000);

} // namespace

TEST(MopAmountTest, FormatsHundredths)
{
    const struct {
        qint64 fen;
        const char *text;
    } cases[] = {
        { 1234, "MOP 12.34" },
        { 5, "MOP 0.05" },
        { 100, "MOP 1.00" },
        { 0, "MOP 0.00" },
        { -5, "MOP -0.05" },
        { -1234, "MOP -12.34" },
        { std::numeric_limits<qint64>::max(), "MOP 92233720368547758.07" },
        { std::numeric_limits<qint64>::min(), "MOP -92233720368547758.08" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fen);
        EXPECT_EQ(mopAmount(c.fen), QString::fromUtf8(c.text));
    }
}

TEST(RechargePackageTest, ReadsAndValidatesMembers)
{
    const QJsonObject valid { { "id", 3 }, { "name", "月卡" }, { "priceFen", 9900 },
        { "currency", "MOP" }, { "totalPoints", "600" } };
    EXPECT_EQ(RechargePackage::fromJson(valid), (RechargePackage { 3, "月卡", 9900, "MOP", 600 }));
    expectMemberRules(valid,
        {
            { "currency HKD", "currency", "HKD", false },
            { "currency lower case", "currency", "mop", false },
            { "id 0", "id", 0, false },
            { "id missing", "id", absent, false },
            { "price negative", "priceFen", -1, false },
            { "price 0", "priceFen", 0, true },
            { "price fractional", "priceFen", 1.5, false },
            { "name not a string", "name", 5, false },
            { "points negative", "totalPoints", -1, false },
        },
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
    expectMemberRules(valid,
        {
            { "no prefix", "orderNo", QString(15, u'x'), false },
            { "lower-case prefix", "orderNo", "qvuat" + QString(10, u'x'), false },
            { "9 after prefix", "orderNo", "QVUAT" + QString(9, u'x'), false },
            { "59 after prefix", "orderNo", "QVUAT" + QString(59, u'-'), true },
            { "60 after prefix", "orderNo", "QVUAT" + QString(60, u'x'), false },
            { "a dot", "orderNo", "QVUAT" + QString(10, u'x') + '.', false },
            { "amount 0", "payAmountFen", 0, false },
            { "points negative", "grantPoints", -1, false },
            { "channel lower case", "paymentChannel", "mpay", false },
            { "channel WeChat", "paymentChannel", "WECHAT_APP", true },
            { "channel missing", "paymentChannel", absent, false },
            { "currency HKD", "currency", "HKD", false },
            { "currency missing", "currency", absent, false },
            { "status ENDED", "paymentStatus", "ENDED", false },
            { "status REFUNDED", "paymentStatus", "REFUNDED", true },
        },
        [](const QJsonObject &json) { RechargeOrder::fromJson(json); });
}

TEST(RechargeOrderTest, DerivesPendingAndStatusTitle)
{
    const struct {
        const char *status;
        bool pending;
        const char *title;
    } cases[] = {
        { "PAYING", true, "待付款" },
        { "PAID", false, "已到账" },
        { "CLOSED", false, "已关闭" },
        { "REFUNDED", false, "已退款" },
        { "FAILED", false, "失败" },
        { "paying", false, "结果待确认" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.status);
        RechargeOrder order;
        order.status = QString::fromUtf8(c.status);
        EXPECT_EQ(order.isPending(), c.pending);
        EXPECT_EQ(order.statusTitle(), QString::fromUtf8(c.title));
    }
}

TEST(RechargeOrderTest, NamesTheThreeChannels)
{
    const QMap<QString, QString> expected { { "WECHAT_APP", "微信支付" },
        { "ALIPAY_CN_APP", "支付宝" }, { "MPAY", "澳门通 MPay" } };
    EXPECT_EQ(paymentChannelNames(), expected);
    EXPECT_EQ(&paymentChannelNames(), &paymentChannelNames());
}

TEST(PaymentHandoffTest, ReadsAndValidatesMembers)
{
    const qint64 nowMs = 1'700'000'000'000;
    const QJsonObject valid { { "link", "quorvel-uat:///recharge/pay/" + QString(43, u'A') },
        { "expiresAt", nowMs + 1 }, { "qrRows", squareRows(21) } };
    const PaymentHandoff handoff = PaymentHandoff::fromJson(valid, now);
    EXPECT_EQ(handoff.expiresAt, instantFromEpochMilliseconds(nowMs + 1));
    ASSERT_EQ(handoff.rows.size(), 21);
    EXPECT_EQ(handoff.rows[0], QString(20, u'0') + u'1');

    expectMemberRules(valid,
        {
            { "20 rows", "qrRows", squareRows(20), false },
            { "177 rows", "qrRows", squareRows(177), true },
            { "178 rows", "qrRows", squareRows(178), false },
            { "a row one short", "qrRows", squareRows(21, 4), false },
            { "an x in the rows", "qrRows", squareRows(21, -1, u'x'), false },
            { "expiry this millisecond", "expiresAt", nowMs, false },
            { "expiry in the past", "expiresAt", nowMs - 60'000, false },
            { "expiry beyond the clock", "expiresAt", "9223372036854775807", false },
            { "expiry missing", "expiresAt", absent, false },
            { "other scheme", "link", "quorvel:///recharge/pay/" + QString(43, u'A'), false },
            { "42-character token", "link", "quorvel-uat:///recharge/pay/" + QString(42, u'A'),
                false },
            { "token with /", "link", "quorvel-uat:///recharge/pay/" + QString(42, u'A') + '/',
                false },
        },
        [](const QJsonObject &json) { PaymentHandoff::fromJson(json, now); });
}

TEST(PaymentHandoffTest, ComparesWithTheCurrentMillisecondTruncated)
{
    const QJsonObject json { { "link", "quorvel-uat:///recharge/pay/" + QString(43, u'a') },
        { "expiresAt", qint64(1'700'000'000'001) }, { "qrRows", squareRows(21) } };
    using std::chrono::microseconds;
    // 999 µs into millisecond ...000 the expiry ...001 is still later; at ...001.5 it is not.
    EXPECT_NO_THROW(PaymentHandoff::fromJson(json, now + microseconds(999)));
    EXPECT_THROW(PaymentHandoff::fromJson(json, now + microseconds(1500)), TranslationFailure);
}
