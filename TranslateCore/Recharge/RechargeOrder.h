#pragma once

#include <QJsonObject>
#include <QMap>
#include <QString>

namespace TranslateCore {

// Display names of the payment channels, by channel code; built once.
const QMap<QString, QString> &paymentChannelNames();

// One points purchase; `id` (the order number) is its identity.
struct RechargeOrder {
    QString id;
    QString name;
    // Hundredths of a pataca.
    qint64 amount = 0;
    qint64 points = 0;
    // A key of paymentChannelNames().
    QString channel;
    // "PAYING", "PAID", "CLOSED", "REFUNDED" or "FAILED".
    QString status;

    bool isPending() const { return status == u"PAYING"; }
    QString statusTitle() const;

    // Throws TranslationFailure::invalidResponse on any rule violation.
    static RechargeOrder fromJson(const QJsonObject &json);

    friend bool operator==(const RechargeOrder &, const RechargeOrder &) = default;
};

} // namespace TranslateCore
