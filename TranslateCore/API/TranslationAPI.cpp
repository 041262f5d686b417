#include "TranslationAPI.h"

#include "TranslateCore/Async/ReplyAwaiter.h"
#include "TranslateCore/Async/TaskHandle.h"
#include "TranslateCore/Contract/Integer.h"
#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/ProductionEndpoint.h"
#include "TranslateCore/Contract/ServiceTLS.h"
#include "TranslateCore/Contract/TranslationFailure.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

#include <cstring>

namespace TranslateCore {

namespace {

// Neither stores nor sends a cookie.
class NullCookieJar final : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

bool isLoopback(const QString &host)
{
    return host == u"localhost" || QHostAddress(host).isLoopback();
}

std::unique_ptr<QNetworkAccessManager> makeNetworkAccessManager(const QUrl &base)
{
    auto network = std::make_unique<QNetworkAccessManager>();
    network->setCookieJar(new NullCookieJar); // the manager takes ownership
    network->setCache(nullptr);
    // Qt follows redirects by default; a redirect must come back as the 3xx answer it is.
    network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    network->setTransferTimeout(TranslationAPI::requestTimeoutMs);
    network->setStrictTransportSecurityEnabled(false);
    // A development service on this machine is never reached through a proxy from the
    // environment; the production service honours the user's proxy settings.
    if (isLoopback(base.host()))
        network->setProxy(QNetworkProxy::NoProxy);
    return network;
}

// Errors of the connection itself (refused, reset, TLS, time-out, proxy); the others Qt derives
// from an HTTP status and are judged by that status.
bool isTransportError(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

// A request body Qt can read once and never rewind. Qt sends a request again by itself when the
// connection closes before an answer arrived; to do so it must rewind the body, and this device
// refuses once any of it was read, so the dropped request fails instead of reaching the service
// twice.
class SingleSendBody final : public QIODevice {
public:
    SingleSendBody(QByteArray bytes, QObject *parent) : QIODevice(parent), m_bytes(std::move(bytes))
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    qint64 size() const override { return m_bytes.size(); }
    bool seek(qint64 position) override
    {
        if (position != pos() && (m_started || position != 0))
            return false;
        return QIODevice::seek(position);
    }
    bool reset() override { return seek(0); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = qMin(maxSize, qint64(m_bytes.size()) - pos());
        if (count <= 0)
            return count < 0 ? -1 : 0;
        m_started = true;
        std::memcpy(data, m_bytes.constData() + pos(), size_t(count));
        return count;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    bool m_started = false;
};

struct Response {
    int status = 0;
    QByteArray body;
    bool tooLarge = false;
};

// Deletes the reply on every way out of the await.
struct ReplyGuard {
    QPointer<QNetworkReply> reply;
    ~ReplyGuard()
    {
        if (reply)
            reply->deleteLater();
    }
};

// Collects the body as it arrives and gives up on it (aborting the transfer) as soon as it is
// announced or found to be larger than the limit, so an oversized answer is never buffered whole.
struct BodyReader {
    QByteArray body;
    bool tooLarge = false;

    void consume(QNetworkReply *reply)
    {
        if (tooLarge)
            return;
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if ((length.isValid() && length.toLongLong() > TranslationAPI::maximumBodyBytes)
            || body.size() + reply->bytesAvailable() > TranslationAPI::maximumBodyBytes) {
            tooLarge = true;
            body.clear();
            reply->abort();
            return;
        }
        body.append(reply->readAll());
    }
};

QCoro::Task<Response> send(QNetworkAccessManager &network, const QNetworkRequest &request,
    std::optional<QByteArray> payload, CancellationToken token)
{
    // GETs only read; Qt may send one again once when the connection drops before the answer.
    QNetworkReply *reply = nullptr;
    if (payload) {
        auto *body = new SingleSendBody(*payload, nullptr);
        reply = network.post(request, body);
        body->setParent(reply);
    } else {
        reply = network.get(request);
    }
    ReplyGuard guard { reply };

    auto reader = std::make_shared<BodyReader>();
    const auto consume = [reader, reply] { reader->consume(reply); };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, consume);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, consume);
    // A 401 is an answer like any other here: nothing is connected to the manager's
    // authenticationRequired, so Qt neither waits for credentials nor repeats the request.

    co_await awaitReply(reply, std::move(token));

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // Qt names a connection closed before the answer by the resend it did not make.
    if (!status.isValid() && reply->error() == QNetworkReply::ContentReSendError)
        throw NetworkError(QNetworkReply::RemoteHostClosedError,
            QStringLiteral("The connection closed before the answer arrived"));
    if (!status.isValid())
        throw NetworkError(reply->error(), reply->errorString());
    bool numeric = false;
    const int code = status.toInt(&numeric);
    if (!numeric)
        throw TranslationFailure::invalidResponse();
    if (reader->tooLarge)
        co_return Response { code, {}, true };
    // An answer cut off by the connection (reset, time-out) is a transport failure, not a body.
    if (isTransportError(reply->error()))
        throw NetworkError(reply->error(), reply->errorString());
    reader->consume(reply);
    co_return Response { code, std::move(reader->body), reader->tooLarge };
}

QNetworkRequest makeRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setSslConfiguration(serviceTLSConfiguration());
    request.setTransferTimeout(TranslationAPI::requestTimeoutMs);
    request.setAttribute(
        QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);
    request.setRawHeader("User-Agent", TranslationAPI::userAgent);
    // Qt's own check of compressed answers fails them with an error that reads like an HTTP
    // status error, leaving a cut-off body; the body reader's 4 MiB limit, applied to what the
    // decompression yields, bounds them instead.
    request.setDecompressedSafetyCheckThreshold(-1);
    return request;
}

std::optional<QString> accessTokenOf(const std::optional<Credentials> &credentials)
{
    return credentials ? std::optional(credentials->accessToken) : std::nullopt;
}

} // namespace

struct TranslationAPI::State {
    struct Renewal {
        quint64 id = 0;
        OneShot<Credentials> result;
        TaskHandle task;
    };

    explicit State(QUrl root) : base(std::move(root)), network(makeNetworkAccessManager(base)) { }

    const QUrl base;
    std::optional<Credentials> credentials;
    SaveCredentials saveCredentials;
    std::exception_ptr credentialPersistenceFailure;
    qint64 authGeneration = 0;
    std::unique_ptr<QNetworkAccessManager> network;
    // Cancelled when the client goes away: ends every request still in flight.
    CancellationSource lifetime;
    std::optional<Renewal> renewal;
    quint64 renewalCount = 0;

    void cancelRenewal()
    {
        if (!renewal)
            return;
        Renewal ended = std::move(*renewal);
        renewal.reset();
        ended.task.cancel();
    }
};

TranslationAPI::TranslationAPI(std::optional<Credentials> credentials, QUrl base)
    : m_state(std::make_shared<State>(std::move(base)))
{
    m_state->credentials = std::move(credentials);
}

TranslationAPI::~TranslationAPI()
{
    m_state->cancelRenewal();
    m_state->lifetime.cancel();
}

const std::optional<Credentials> &TranslationAPI::credentials() const
{
    return m_state->credentials;
}

const TranslationAPI::SaveCredentials &TranslationAPI::saveCredentials() const
{
    return m_state->saveCredentials;
}

void TranslationAPI::setSaveCredentials(SaveCredentials save)
{
    m_state->saveCredentials = std::move(save);
}

std::exception_ptr TranslationAPI::credentialPersistenceFailure() const
{
    return m_state->credentialPersistenceFailure;
}

qint64 TranslationAPI::authGeneration() const
{
    return m_state->authGeneration;
}

const QUrl &TranslationAPI::baseURL() const
{
    return m_state->base;
}

void TranslationAPI::commitCredentials(State &state, std::optional<Credentials> credentials)
{
    ++state.authGeneration;
    state.credentials = std::move(credentials);
    state.credentialPersistenceFailure = nullptr;
    if (!state.saveCredentials)
        return;
    // The sign-in stands in memory even when it cannot be stored; the caller looks at the failure.
    try {
        state.saveCredentials(state.credentials);
    } catch (...) {
        state.credentialPersistenceFailure = std::current_exception();
    }
}

QJsonObject TranslationAPI::requireObject(const QJsonValue &data)
{
    if (!data.isObject())
        throw TranslationFailure::invalidResponse();
    return data.toObject();
}

QCoro::Task<QJsonValue> TranslationAPI::call(
    std::shared_ptr<State> state, Request request, CancellationToken token, bool retry)
{
    if (request.authenticated && !state->credentials)
        throw TranslationFailure::signedOut();

    const QUrl &base = state->base;
    const QUrl url = base.resolved(QUrl(request.path));
    if (!url.isValid() || url.scheme() != u"https" || url.host() != base.host()
        || url.port() != base.port() || !url.path().startsWith(u"/api/"))
        throw TranslationFailure::unsafeAddress();

    QNetworkRequest networkRequest = makeRequest(url);
    std::optional<QString> sentAccessToken;
    if (request.authenticated) {
        sentAccessToken = state->credentials->accessToken;
        networkRequest.setRawHeader("Authorization", "Bearer " + sentAccessToken->toUtf8());
    }
    if (!request.idempotencyKey.isEmpty())
        networkRequest.setRawHeader("Idempotency-Key", request.idempotencyKey.toUtf8());
    std::optional<QByteArray> payload;
    if (request.body) {
        networkRequest.setHeader(
            QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        payload = QJsonDocument(*request.body).toJson(QJsonDocument::Compact);
    }

    // Ends with the caller's token and with the client itself.
    CancellationSource cancellation(token);
    const CancellationSubscription clientGone
        = state->lifetime.token().onCancel([&cancellation] { cancellation.cancel(); });
    Response response
        = co_await send(*state->network, networkRequest, std::move(payload), cancellation.token());

    if (response.status == 401 && request.authenticated && !retry) {
        // Renew only when no one replaced the pair while this request was in flight.
        if (accessTokenOf(state->credentials) == sentAccessToken)
            co_await refresh(state, cancellation.token());
        QJsonValue repeated = co_await call(state, std::move(request), token, true);
        co_return repeated;
    }

    if (response.tooLarge || response.body.size() > maximumBodyBytes)
        throw TranslationFailure::invalidResponse();

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(response.body, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw JsonParseError(parseError);
    if (!document.isObject())
        throw TranslationFailure::invalidResponse();
    const QJsonObject envelope = document.object();
    const std::optional<qint64> code = integer(envelope.value(QLatin1String("code")));
    if (!code)
        throw TranslationFailure::invalidResponse();

    const auto successful = [](qint64 status) { return status >= 200 && status <= 299; };
    const qint64 effectiveStatus
        = integer(envelope.value(QLatin1String("status"))).value_or(response.status);
    if (successful(response.status) && *code == 0 && successful(effectiveStatus)) {
        const QJsonValue data = envelope.value(QLatin1String("data"));
        co_return data.isUndefined() ? QJsonValue(QJsonValue::Null) : data;
    }

    if (response.status == 401 && request.authenticated) {
        // A refusal of a pair that was replaced meanwhile must not end the newer sign-in.
        if (state->credentials && state->credentials->accessToken == sentAccessToken)
            commitCredentials(*state, std::nullopt);
        throw TranslationFailure::signedOut();
    }
    throw TranslationFailure::rejected(*code != 0 ? *code : response.status);
}

QCoro::Task<Credentials> TranslationAPI::refresh(
    std::shared_ptr<State> state, CancellationToken token)
{
    OneShot<Credentials> result;
    if (state->renewal) {
        result = state->renewal->result;
    } else {
        if (!state->credentials)
            throw TranslationFailure::signedOut();
        result = startRenewal(state);
    }
    Credentials renewed = co_await result.wait(std::move(token));
    co_return renewed;
}

OneShot<Credentials> TranslationAPI::startRenewal(const std::shared_ptr<State> &state)
{
    const Credentials captured = *state->credentials;
    const quint64 id = ++state->renewalCount;
    OneShot<Credentials> result;
    state->renewal = State::Renewal { id, result, {} };

    const auto finish = [state, id] {
        if (state->renewal && state->renewal->id == id)
            state->renewal.reset();
    };
    auto flow
        = [state, captured, result, finish](CancellationToken token) mutable -> QCoro::Task<> {
        try {
            const QJsonObject body { { QStringLiteral("refreshToken"), captured.refreshToken } };
            Request request = Request::post(QStringLiteral("v1/auth/refresh"), body, false);
            const QJsonValue data = co_await call(state, std::move(request), token);
            const QJsonObject object = requireObject(data);
            token.throwIfCancelled(); // a renewal ended by a logout never commits
            // A logout or another sign-in happened meanwhile: this answer belongs to no one.
            if (state->credentials != captured)
                throw TranslationFailure::signedOut();
            const QJsonValue access = object.value(QLatin1String("accessToken"));
            if (!access.isString() || access.toString().isEmpty())
                throw TranslationFailure::signedOut();
            const QJsonValue refreshToken = object.value(QLatin1String("refreshToken"));
            const Credentials renewed { access.toString(),
                refreshToken.isString() ? refreshToken.toString() : captured.refreshToken };
            finish();
            commitCredentials(*state, renewed);
            result.resolve(renewed);
        } catch (const TranslationFailure &failure) {
            finish();
            const bool refused = failure.kind() == TranslationFailure::Case::rejected
                && failure.number() >= 1000 && failure.number() <= 1999;
            if (!refused) {
                result.fail(std::current_exception());
                co_return;
            }
            // The service no longer accepts this sign-in; every waiting request learns it.
            if (state->credentials == captured)
                commitCredentials(*state, std::nullopt);
            result.fail(std::make_exception_ptr(TranslationFailure::signedOut()));
        } catch (...) {
            finish();
            result.fail(std::current_exception());
        }
    };
    TaskHandle task = TaskHandle::start(std::move(flow), state->lifetime.token());
    if (state->renewal && state->renewal->id == id)
        state->renewal->task = std::move(task);
    return result;
}

QCoro::Task<> TranslationAPI::logout(CancellationToken token)
{
    const std::shared_ptr<State> state = m_state;
    const std::optional<Credentials> signedIn = state->credentials;
    state->cancelRenewal();
    commitCredentials(*state, std::nullopt);
    if (!signedIn)
        co_return;
    const QJsonObject body { { QStringLiteral("refreshToken"), signedIn->refreshToken } };
    Request request = Request::post(QStringLiteral("v1/auth/revoke"), body, false);
    co_await call(state, std::move(request), std::move(token));
}

void TranslationAPI::completeDeviceLogin(const Credentials &credentials,
    const DeviceLoginChallenge &challenge, const CancellationToken &token)
{
    if (m_state->authGeneration != challenge.authGeneration || token.isCancelled())
        throw CancellationError();
    commitCredentials(*m_state, credentials);
}

} // namespace TranslateCore
