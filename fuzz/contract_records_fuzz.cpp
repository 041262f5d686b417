// Feeds arbitrary JSON objects to every reader of service records. A reader may refuse its input
// only with a TranslationFailure; anything else (another exception, a crash, an address that
// passed its check but breaks the rules) escapes or aborts so the fuzzer reports it.
#include "TranslateCore/AppUpdate/AppInstallation.h"
#include "TranslateCore/AppUpdate/AppUpdateResult.h"
#include "TranslateCore/Contract/CreatedSession.h"
#include "TranslateCore/Contract/Integer.h"
#include "TranslateCore/Contract/ProductionEndpoint.h"
#include "TranslateCore/Contract/Quote.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/Contract/TranslationRoute.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace TranslateCore;

namespace {

template <typename Read> void allowingRefusal(Read read)
{
    try {
        read();
    } catch (const TranslationFailure &) {
    }
}

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromRawData(
        reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    if (!document.isObject())
        return 0;
    const QJsonObject json = document.object();
    static const AppInstallation installation { QStringLiteral("1.0.0"), 5 };
    static const QUrl base
        = *ProductionEndpoint::baseForOrigin(QLatin1String(ProductionEndpoint::productionOrigin));

    allowingRefusal([&] {
        const TranslationRoute route = TranslationRoute::fromJson(json);
        require(!route.sourceName().isNull() && !route.targetName().isNull());
        (void)route.isTargetRTL();
    });
    allowingRefusal([&] { (void)Quote::fromJson(json); });
    allowingRefusal([&] {
        const CreatedSession session = CreatedSession::fromJson(json);
        require(session.id >= 1 && !session.ticket.isEmpty());
    });
    allowingRefusal([&] {
        const AppUpdateResult result = AppUpdateResult::fromJson(json, installation);
        require(result.enabled || (!result.updateAvailable && !result.forceUpdate));
        (void)result.releaseKey();
    });

    const qint64 sessionID = integer(json.value(QLatin1String("sessionId"))).value_or(1);
    const QString ticket = json.value(QLatin1String("wsTicket")).toString(QStringLiteral("t"));
    for (auto it = json.constBegin(); it != json.constEnd(); ++it) {
        if (!it.value().isString())
            continue;
        const QString text = it.value().toString();
        allowingRefusal([&] {
            const QUrl url = validatedUpdateURL(text);
            require(url.isValid() && url.scheme() == u"https" && !url.host().isEmpty()
                && (url.port() == -1 || url.port() == 443) && !url.hasFragment());
        });
        allowingRefusal([&] {
            const QUrl url = ProductionEndpoint::socketURL(base, text, ticket, sessionID);
            require(url.isValid() && url.scheme() == u"wss" && url.host() == base.host()
                && url.userInfo().isEmpty() && !url.hasFragment());
            // An accepted address passes its own check again and comes back unchanged.
            require(ProductionEndpoint::socketURL(
                        base, url.toString(QUrl::FullyEncoded), ticket, sessionID)
                == url);
        });
    }
    return 0;
}
