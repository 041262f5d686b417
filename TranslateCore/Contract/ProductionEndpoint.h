#pragma once

#include <QString>
#include <QUrl>
#include <QtGlobal>

#include <optional>

namespace TranslateCore {

// Where the service lives, and the check that a live socket address handed out by the service
// points back at it.
struct ProductionEndpoint {
    ProductionEndpoint() = delete;

    static constexpr char productionOrigin[] = "https://api.quorvel.tech";

    // The REST root: the service origin followed by "/api/". Built once, on first use. Development
    // builds take the origin from QUORVEL_SERVICE_ORIGIN when it is set, and stop the program when
    // that value is not an https origin.
    static const QUrl &base();

    // The REST root below `origin` ("https://host" or "https://host:port", optionally with a
    // trailing "/"), or nothing when `origin` is anything else.
    static std::optional<QUrl> baseForOrigin(const QString &origin);

    // The live socket address for `sessionID`: `wsURL` must be a wss address on the service's host
    // and port with the session's socket path; every "ticket" query item is replaced by one holding
    // `ticket`. Throws TranslationFailure::unsafeAddress otherwise. `base` is the REST root of
    // the service the session was created on.
    static QUrl socketURL(
        const QUrl &base, const QString &wsURL, const QString &ticket, qint64 sessionID);
};

} // namespace TranslateCore
