#include "ProductionEndpoint.h"

#include "TranslationFailure.h"

#include <QStringList>
#include <QtDebug>

namespace TranslateCore {

namespace {

// QUrl lower-cases schemes; the address must already be written with exactly this one.
bool hasScheme(const QString &text, QLatin1String scheme)
{
    return text.startsWith(scheme) && text.mid(scheme.size()).startsWith(u':');
}

bool hasUserInfo(const QUrl &url)
{
    // An empty user name ("wss://@host") still counts: QUrl reports no user for it.
    return !url.userInfo().isEmpty() || url.authority(QUrl::FullyEncoded).contains(u'@');
}

QString queryWithTicket(const QUrl &url, const QString &ticket)
{
    QStringList items;
    if (url.hasQuery()) {
        const QStringList existing = url.query(QUrl::FullyEncoded).split(u'&');
        for (const QString &item : existing) {
            if (item.isEmpty())
                continue;
            const QString key = QUrl::fromPercentEncoding(item.section(u'=', 0, 0).toUtf8());
            if (key != u"ticket")
                items.append(item);
        }
    }
    items.append(QStringLiteral("ticket=") + QString::fromLatin1(QUrl::toPercentEncoding(ticket)));
    return items.join(u'&');
}

} // namespace

std::optional<QUrl> ProductionEndpoint::baseForOrigin(const QString &origin)
{
    const QUrl url(origin, QUrl::StrictMode);
    if (!url.isValid() || origin != origin.trimmed() || !hasScheme(origin, QLatin1String("https"))
        || url.host().isEmpty() || hasUserInfo(url) || url.hasQuery() || url.hasFragment()
        || !(url.path().isEmpty() || url.path() == u"/"))
        return std::nullopt;
    QUrl base;
    base.setScheme(QStringLiteral("https"));
    base.setHost(url.host());
    base.setPort(url.port());
    base.setPath(QStringLiteral("/api/"));
    if (!base.isValid())
        return std::nullopt;
    return base;
}

const QUrl &ProductionEndpoint::base()
{
    static const QUrl url = [] {
#if defined(QUORVEL_DEVELOPMENT_ENDPOINT)
        if (!qEnvironmentVariableIsEmpty("QUORVEL_SERVICE_ORIGIN")) {
            const QString origin = qEnvironmentVariable("QUORVEL_SERVICE_ORIGIN");
            if (std::optional<QUrl> development = baseForOrigin(origin))
                return *development;
            qFatal("QUORVEL_SERVICE_ORIGIN must be an https origin such as https://127.0.0.1:8443 "
                   "(scheme https, a host, an optional port, nothing else); got \"%s\"",
                qPrintable(origin));
        }
#endif
        return *baseForOrigin(QLatin1String(productionOrigin));
    }();
    return url;
}

QUrl ProductionEndpoint::socketURL(
    const QUrl &base, const QString &wsURL, const QString &ticket, qint64 sessionID)
{
    const auto unsafe = [] { return TranslationFailure::unsafeAddress(); };

    QUrl url(wsURL, QUrl::StrictMode);
    if (!url.isValid())
        throw unsafe();
    if (!hasScheme(wsURL, QLatin1String("wss")))
        throw unsafe();
    if (url.host(QUrl::FullyEncoded).toLower() != base.host(QUrl::FullyEncoded))
        throw unsafe();
    if (url.port() != -1 && url.port() != base.port(443))
        throw unsafe();
    if (hasUserInfo(url) || url.hasFragment())
        throw unsafe();
    if (url.path(QUrl::FullyDecoded)
        != QStringLiteral("/api/ws/v1/translation/") + QString::number(sessionID))
        throw unsafe();
    if (ticket.isEmpty())
        throw unsafe();

    url.setQuery(queryWithTicket(url, ticket), QUrl::StrictMode);
    if (!url.isValid())
        throw unsafe();
    return url;
}

} // namespace TranslateCore
