#include "TranslationAPI.h"

#include "TranslateCore/Contract/Integer.h"
#include "TranslateCore/Contract/ProductionEndpoint.h"
#include "TranslateCore/Contract/TranslationFailure.h"

#include <QJsonArray>
#include <QUrl>

namespace TranslateCore {

namespace {

QJsonObject challengeBody(const DeviceLoginChallenge &challenge)
{
    return QJsonObject {
        { QStringLiteral("challengeId"), challenge.id },
        { QStringLiteral("deviceSecret"), challenge.secret },
    };
}

// A route is offered to this client when it names no output modes, or names text-only among them.
bool offersTextOnly(const QJsonObject &route)
{
    const QJsonValue modes = route.value(QLatin1String("supportedOutputModes"));
    if (modes.isUndefined())
        return true;
    if (!modes.isArray())
        return false;
    bool textOnly = false;
    for (const QJsonValue &mode : modes.toArray()) {
        if (!mode.isString())
            return false;
        textOnly = textOnly || mode.toString() == u"TEXT_ONLY";
    }
    return textOnly;
}

QString nonEmptyString(const QJsonObject &object, QLatin1String key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString() || value.toString().isEmpty())
        throw TranslationFailure::invalidResponse();
    return value.toString();
}

} // namespace

QCoro::Task<> TranslationAPI::sendCode(QString country, QString phone, CancellationToken token)
{
    const QJsonObject body {
        { QStringLiteral("purpose"), QStringLiteral("LOGIN") },
        { QStringLiteral("countryCode"), country },
        { QStringLiteral("phoneNumber"), phone },
    };
    Request request = Request::post(QStringLiteral("v1/auth/send-code"), body, false);
    co_await call(m_state, std::move(request), token);
}

QCoro::Task<> TranslationAPI::login(
    QString country, QString phone, QString code, CancellationToken token)
{
    const std::shared_ptr<State> state = m_state;
    const QJsonObject body {
        { QStringLiteral("countryCode"), country },
        { QStringLiteral("phoneNumber"), phone },
        { QStringLiteral("code"), code },
    };
    Request request = Request::post(QStringLiteral("v1/auth/login/phone-code"), body, false);
    const QJsonObject data = requireObject(co_await call(state, std::move(request), token));
    const Credentials signedIn { nonEmptyString(data, QLatin1String("token")),
        nonEmptyString(data, QLatin1String("refreshToken")) };
    commitCredentials(*state, signedIn);
}

QCoro::Task<DeviceLoginChallenge> TranslationAPI::createDeviceLogin(CancellationToken token)
{
    // The generation before the request: a sign-in change while it is in flight voids the code.
    const qint64 generation = authGeneration();
    const QJsonObject body { { QStringLiteral("deviceType"), QStringLiteral("MAC") } };
    Request request = Request::post(QStringLiteral("v1/auth/watch-login/create"), body, false);
    const QJsonObject data = requireObject(co_await call(m_state, std::move(request), token));
    co_return DeviceLoginChallenge::fromJson(data, generation);
}

QCoro::Task<DeviceLoginPoll> TranslationAPI::pollDeviceLogin(
    DeviceLoginChallenge challenge, CancellationToken token)
{
    Request request = Request::post(
        QStringLiteral("v1/auth/watch-login/poll"), challengeBody(challenge), false);
    const QJsonObject data = requireObject(co_await call(m_state, std::move(request), token));
    co_return DeviceLoginPoll::fromJson(data);
}

QCoro::Task<> TranslationAPI::cancelDeviceLogin(
    DeviceLoginChallenge challenge, CancellationToken token)
{
    Request request = Request::post(
        QStringLiteral("v1/auth/watch-login/cancel"), challengeBody(challenge), false);
    co_await call(m_state, std::move(request), token);
}

QCoro::Task<> TranslationAPI::discardDeviceLogin(Credentials credentials, CancellationToken token)
{
    const QJsonObject body { { QStringLiteral("refreshToken"), credentials.refreshToken } };
    Request request = Request::post(QStringLiteral("v1/auth/revoke"), body, false);
    co_await call(m_state, std::move(request), token);
}

QCoro::Task<QJsonObject> TranslationAPI::profile(CancellationToken token)
{
    Request request = Request::get(QStringLiteral("v1/users/me"), true);
    co_return requireObject(co_await call(m_state, std::move(request), token));
}

QCoro::Task<AppUpdateResult> TranslationAPI::checkAppUpdate(
    AppInstallation installation, CancellationToken token)
{
    const QString path = QStringLiteral("v1/app-updates/check?platform=MACOS&version=")
        + QString::fromLatin1(QUrl::toPercentEncoding(installation.version))
        + QStringLiteral("&buildNumber=") + QString::number(installation.buildNumber);
    Request request = Request::get(path, false);
    const QJsonObject data = requireObject(co_await call(m_state, std::move(request), token));
    co_return AppUpdateResult::fromJson(data, installation);
}

QCoro::Task<qint64> TranslationAPI::wallet(CancellationToken token)
{
    Request request = Request::get(QStringLiteral("v1/points/wallet"), true);
    const QJsonObject data = requireObject(co_await call(m_state, std::move(request), token));
    const std::optional<qint64> points = integer(data.value(QLatin1String("availablePoints")));
    if (!points)
        throw TranslationFailure::invalidResponse();
    co_return *points;
}

QCoro::Task<QList<TranslationRoute>> TranslationAPI::routes(CancellationToken token)
{
    Request request = Request::get(QStringLiteral("v1/translation/routes?catalogVersion=2"), true);
    const QJsonValue data = co_await call(m_state, std::move(request), token);
    if (!data.isArray())
        throw TranslationFailure::invalidResponse();
    QList<TranslationRoute> routes;
    for (const QJsonValue &entry : data.toArray()) {
        if (!entry.isObject())
            throw TranslationFailure::invalidResponse();
        if (offersTextOnly(entry.toObject()))
            routes.append(TranslationRoute::fromJson(entry.toObject()));
    }
    co_return routes;
}

QCoro::Task<Quote> TranslationAPI::quote(QString routeCode, CancellationToken token)
{
    const QJsonObject body {
        { QStringLiteral("routeCode"), routeCode },
        { QStringLiteral("outputMode"), QStringLiteral("TEXT_ONLY") },
    };
    Request request = Request::post(QStringLiteral("v1/translation/quote"), body, true);
    const QJsonObject data = requireObject(co_await call(m_state, std::move(request), token));
    co_return Quote::fromJson(data);
}

QCoro::Task<CreatedSession> TranslationAPI::create(
    QString routeCode, bool history, QString key, CancellationToken token)
{
    const QJsonObject audio {
        { QStringLiteral("encoding"), QStringLiteral("PCM_S16LE") },
        { QStringLiteral("sampleRate"), 16000 },
        { QStringLiteral("channels"), 1 },
    };
    const QJsonObject body {
        { QStringLiteral("routeCode"), routeCode },
        { QStringLiteral("outputMode"), QStringLiteral("TEXT_ONLY") },
        { QStringLiteral("historyEnabled"), history },
        { QStringLiteral("clientType"), QStringLiteral("H5") },
        { QStringLiteral("clientVersion"), QStringLiteral("macOS-1.0.0") },
        { QStringLiteral("audio"), audio },
    };
    Request request = Request::post(QStringLiteral("v1/translation/sessions"), body, true, key);
    const QJsonObject data = requireObject(co_await call(m_state, std::move(request), token));
    try {
        co_return CreatedSession::fromJson(data, baseURL());
    } catch (const TranslationFailure &) {
        // The service opened a session all the same: the caller must be able to finish it.
        const std::optional<qint64> id = integer(data.value(QLatin1String("sessionId")));
        if (id && *id >= 1)
            throw TranslationFailure::invalidCreatedSession(*id);
        throw;
    }
}

QCoro::Task<QUrl> TranslationAPI::ticket(qint64 id, qint64 cursor, CancellationToken token)
{
    const QJsonObject body { { QStringLiteral("lastReceivedSegmentSeq"), cursor } };
    const QUrl base = baseURL();
    const QString path = QStringLiteral("v1/translation/sessions/%1/ws-ticket").arg(id);
    Request request = Request::post(path, body, true);
    const QJsonObject data = requireObject(co_await call(m_state, std::move(request), token));
    const QJsonValue wsURL = data.value(QLatin1String("wsUrl"));
    const QJsonValue wsTicket = data.value(QLatin1String("wsTicket"));
    if (!wsURL.isString() || !wsTicket.isString())
        throw TranslationFailure::invalidResponse();
    co_return ProductionEndpoint::socketURL(base, wsURL.toString(), wsTicket.toString(), id);
}

QCoro::Task<QJsonObject> TranslationAPI::finish(qint64 id, CancellationToken token)
{
    const QJsonObject body { { QStringLiteral("reason"), QStringLiteral("USER_STOPPED") } };
    const QString path = QStringLiteral("v1/translation/sessions/%1/finish").arg(id);
    Request request = Request::post(path, body, true);
    co_return requireObject(co_await call(m_state, std::move(request), token));
}

// The points purchase has no endpoint on the service this client talks to.

QCoro::Task<QList<RechargePackage>> TranslationAPI::rechargePackages(CancellationToken)
{
    throw TranslationFailure::invalidResponse();
    co_return {};
}

QCoro::Task<QList<RechargeOrder>> TranslationAPI::rechargeOrders(CancellationToken)
{
    throw TranslationFailure::invalidResponse();
    co_return {};
}

QCoro::Task<TranslationAPI::PaymentOptions> TranslationAPI::paymentOptions(CancellationToken)
{
    throw TranslationFailure::unsafeAddress();
    co_return {};
}

QCoro::Task<RechargeOrder> TranslationAPI::createRecharge(
    RechargePackage, QString, QString, CancellationToken)
{
    throw TranslationFailure::unsafeAddress();
    co_return {};
}

QCoro::Task<PaymentHandoff> TranslationAPI::paymentHandoff(RechargeOrder, CancellationToken)
{
    throw TranslationFailure::unsafeAddress();
    co_return {};
}

QCoro::Task<RechargeOrder> TranslationAPI::refreshPayment(RechargeOrder, CancellationToken)
{
    throw TranslationFailure::unsafeAddress();
    co_return {};
}

QCoro::Task<RechargeOrder> TranslationAPI::cancelPayment(RechargeOrder, CancellationToken)
{
    throw TranslationFailure::unsafeAddress();
    co_return {};
}

} // namespace TranslateCore
