#pragma once

#include "ProductionEndpoint.h"

#include <QJsonObject>
#include <QString>
#include <QUrl>
#include <QtGlobal>

namespace TranslateCore {

// A translation session the service has just created, with the address and one-time ticket of its
// live socket and the points it reserved.
struct CreatedSession {
    qint64 id = 0;
    // Kept as received; ProductionEndpoint::socketURL validates it again when connecting.
    QString wsURL;
    QString ticket;
    qint64 available = 0;
    qint64 reserved = 0;

    // Throws TranslationFailure::invalidResponse for a missing or unreadable member,
    // unsafeAddress when the socket address is not the service's own, and audioFormat when
    // "inputAudio" does not ask for 16 kHz mono PCM_S16LE.
    // The socket address is checked against `base`, the REST root the session was created through.
    static CreatedSession fromJson(
        const QJsonObject &json, const QUrl &base = ProductionEndpoint::base());

    friend bool operator==(const CreatedSession &, const CreatedSession &) = default;
};

} // namespace TranslateCore
