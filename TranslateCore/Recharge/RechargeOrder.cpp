#include "RechargeOrder.h"

#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/Recharge/IntegerAtLeast.h"

#include <QRegularExpression>

namespace TranslateCore {

namespace {

QString stringValue(const QJsonValue &value)
{
    if (!value.isString())
        throw TranslationFailure::invalidResponse();
    return value.toString();
}

} // namespace

const QMap<QString, QString> &paymentChannelNames()
{
    static const QMap<QString, QString> names {
        { QStringLiteral("WECHAT_APP"), QStringLiteral("微信支付") },
        { QStringLiteral("ALIPAY_CN_APP"), QStringLiteral("支付宝") },
        { QStringLiteral("MPAY"), QStringLiteral("澳门通 MPay") },
    };
    return names;
}

QString RechargeOrder::statusTitle() const
{
    if (status == u"PAYING")
        return QStringLiteral("待付款");
    if (status == u"PAID")
        return QStringLiteral("已到账");
    if (status == u"CLOSED")
        return QStringLiteral("已关闭");
    if (status == u"REFUNDED")
        return QStringLiteral("已退款");
    if (status == u"FAILED")
        return QStringLiteral("失败");
    return QStringLiteral("结果待确认");
}

RechargeOrder RechargeOrder::fromJson(const QJsonObject &json)
{
    // Only order numbers of the acceptance environment are accepted.
    static const QRegularExpression orderNumberPattern(
        QRegularExpression::anchoredPattern(QStringLiteral("QVUAT[A-Za-z0-9_-]{10,59}")));

    RechargeOrder order;
    order.id = stringValue(json.value(QLatin1String("orderNo")));
    if (!orderNumberPattern.match(order.id).hasMatch())
        throw TranslationFailure::invalidResponse();
    order.name = stringValue(json.value(QLatin1String("packageName")));
    order.amount = integerAtLeast(json.value(QLatin1String("payAmountFen")), 1);
    order.points = integerAtLeast(json.value(QLatin1String("grantPoints")), 0);
    order.channel = stringValue(json.value(QLatin1String("paymentChannel")));
    if (!paymentChannelNames().contains(order.channel))
        throw TranslationFailure::invalidResponse();
    if (stringValue(json.value(QLatin1String("currency"))) != u"MOP")
        throw TranslationFailure::invalidResponse();
    order.status = stringValue(json.value(QLatin1String("paymentStatus")));
    static const QStringList statuses { QStringLiteral("PAYING"), QStringLiteral("PAID"),
        QStringLiteral("CLOSED"), QStringLiteral("REFUNDED"), QStringLiteral("FAILED") };
    if (!statuses.contains(order.status))
        throw TranslationFailure::invalidResponse();
    return order;
}

} // namespace TranslateCore
