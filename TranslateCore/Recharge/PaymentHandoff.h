#pragma once

#include "TranslateCore/Contract/Instant.h"

#include <QJsonObject>
#include <QStringList>

namespace TranslateCore {

// What the phone app needs to pay one order: a QR code to scan before it expires.
struct PaymentHandoff {
    Instant expiresAt;
    // The QR module matrix row by row, "1" dark and "0" light.
    QStringList rows;

    // Throws TranslationFailure::invalidResponse on any rule violation, including an expiry that
    // is not later than `now` (compared in whole milliseconds).
    static PaymentHandoff fromJson(
        const QJsonObject &json, Instant now = std::chrono::system_clock::now());

    friend bool operator==(const PaymentHandoff &, const PaymentHandoff &) = default;
};

} // namespace TranslateCore
