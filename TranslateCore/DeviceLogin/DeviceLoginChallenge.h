#pragma once

#include "TranslateCore/Contract/Instant.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <iosfwd>

class QDebug;

namespace TranslateCore {

// One QR sign-in attempt as the service created it. Every text form is redacted, so logging a
// challenge never reveals the secret or the codes.
struct DeviceLoginChallenge {
    QString id;
    // Only the service layer reads this: it goes back to the service when polling or cancelling.
    QString secret;
    QString userCode;
    Instant expiresAt;
    // Initial polling interval in seconds, 2 to 15.
    int interval = 0;
    // The QR module matrix row by row; true is a dark module.
    QList<QList<bool>> rows;
    // The client's credential generation when the challenge was requested (service layer only).
    qint64 authGeneration = 0;

    // Reads the data of a create answer; throws DeviceLoginFailure or TranslationFailure.
    static DeviceLoginChallenge fromJson(const QJsonObject &data, qint64 authGeneration);

    // Always "DeviceLoginChallenge[redacted]".
    QString toString() const;

    friend bool operator==(const DeviceLoginChallenge &, const DeviceLoginChallenge &) = default;
};

QDebug operator<<(QDebug debug, const DeviceLoginChallenge &challenge);
// Keeps test frameworks and streams from dumping the fields.
std::ostream &operator<<(std::ostream &stream, const DeviceLoginChallenge &challenge);

} // namespace TranslateCore
