#pragma once

#include "TranslateCore/AppUpdate/AppInstallation.h"
#include "TranslateCore/AppUpdate/AppUpdateResult.h"
#include "TranslateCore/Async/Cancellation.h"
#include "TranslateCore/Async/OneShot.h"
#include "TranslateCore/Contract/CreatedSession.h"
#include "TranslateCore/Contract/Credentials.h"
#include "TranslateCore/Contract/ProductionEndpoint.h"
#include "TranslateCore/Contract/Quote.h"
#include "TranslateCore/Contract/TranslationRoute.h"
#include "TranslateCore/DeviceLogin/DeviceLoginChallenge.h"
#include "TranslateCore/DeviceLogin/DeviceLoginPoll.h"
#include "TranslateCore/Recharge/PaymentHandoff.h"
#include "TranslateCore/Recharge/RechargeOrder.h"
#include "TranslateCore/Recharge/RechargePackage.h"

#include <QCoroTask>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace TranslateCore {

// The one client of the translation service's REST interface. It owns the signed-in token pair,
// attaches it to authenticated requests, renews it once when the service answers 401 (one renewal
// shared by every request that needs it), hands every change of the pair to the persistence hook,
// and turns the service's JSON envelope into results or TranslationFailure.
//
// Lives on the main thread. Every operation takes a cancellation token; cancelling it aborts the
// request in flight and fails the operation with CancellationError. Transport failures surface as
// NetworkError, bodies that are not JSON as JsonParseError. Destroying the client cancels whatever
// it still has in flight.
class TranslationAPI {
public:
    using SaveCredentials = std::function<void(const std::optional<Credentials> &)>;

    // What the phone can pay an order with: the amount in hundredths and the channel names.
    struct PaymentOptions {
        qint64 amount = 0;
        QStringList channelNames;
        friend bool operator==(const PaymentOptions &, const PaymentOptions &) = default;
    };

    // Responses larger than this are refused while they are read.
    static constexpr qint64 maximumBodyBytes = 4 * 1024 * 1024;
    static constexpr int requestTimeoutMs = 20000;
    static constexpr char userAgent[] = "QuorvelTranslateMac/1.0.0 (macOS; native)";

    // `base` is the REST root every request is resolved against and checked to stay below; the
    // service's own unless a test points the client at another local service. (Created sessions
    // always name a socket on the service's own endpoint.)
    explicit TranslationAPI(
        std::optional<Credentials> credentials = {}, QUrl base = ProductionEndpoint::base());
    ~TranslationAPI();
    TranslationAPI(const TranslationAPI &) = delete;
    TranslationAPI &operator=(const TranslationAPI &) = delete;

    const std::optional<Credentials> &credentials() const;
    // Called after every change of the credentials; it may throw, which is recorded in
    // credentialPersistenceFailure() and never fails the operation that changed them.
    const SaveCredentials &saveCredentials() const;
    void setSaveCredentials(SaveCredentials save);
    std::exception_ptr credentialPersistenceFailure() const;
    // Incremented every time the credentials are replaced.
    qint64 authGeneration() const;
    // The REST root this client talks to.
    const QUrl &baseURL() const;

    // Phone-code sign-in.
    QCoro::Task<> sendCode(QString country, QString phone, CancellationToken token = {});
    QCoro::Task<> login(QString country, QString phone, QString code, CancellationToken token = {});
    // Signs out locally first and always, then revokes the refresh token on the service; a
    // failure of the revocation is reported but the client stays signed out. A renewal in flight
    // is cancelled and never commits; the requests waiting for it fail with CancellationError.
    QCoro::Task<> logout(CancellationToken token = {});

    // QR sign-in.
    QCoro::Task<DeviceLoginChallenge> createDeviceLogin(CancellationToken token = {});
    QCoro::Task<DeviceLoginPoll> pollDeviceLogin(
        DeviceLoginChallenge challenge, CancellationToken token = {});
    QCoro::Task<> cancelDeviceLogin(DeviceLoginChallenge challenge, CancellationToken token = {});
    // Makes `credentials` the sign-in unless the sign-in changed since `challenge` was created or
    // `token` is cancelled; then throws CancellationError and keeps the current state.
    void completeDeviceLogin(const Credentials &credentials, const DeviceLoginChallenge &challenge,
        const CancellationToken &token = {});
    // Revokes a pair the QR sign-in produced but the client will not use.
    QCoro::Task<> discardDeviceLogin(Credentials credentials, CancellationToken token = {});

    // Account and releases.
    QCoro::Task<QJsonObject> profile(CancellationToken token = {});
    QCoro::Task<AppUpdateResult> checkAppUpdate(
        AppInstallation installation, CancellationToken token = {});
    QCoro::Task<qint64> wallet(CancellationToken token = {});

    // Translation sessions.
    QCoro::Task<QList<TranslationRoute>> routes(CancellationToken token = {});
    QCoro::Task<Quote> quote(QString routeCode, CancellationToken token = {});
    // `key` is a fresh idempotency key for every start; it survives the repeat after a 401.
    // A created session the client cannot use but that names an id fails with
    // invalidCreatedSession(id), so the caller can finish it.
    QCoro::Task<CreatedSession> create(
        QString routeCode, bool history, QString key, CancellationToken token = {});
    // The validated socket address for reconnecting to session `id` from `cursor` on.
    QCoro::Task<QUrl> ticket(qint64 id, qint64 cursor, CancellationToken token = {});
    QCoro::Task<QJsonObject> finish(qint64 id, CancellationToken token = {});

    // Points purchase: the service offers no endpoint for these, so they contact nothing and fail
    // at once (invalidResponse for the two lists, unsafeAddress for the rest).
    QCoro::Task<QList<RechargePackage>> rechargePackages(CancellationToken token = {});
    QCoro::Task<QList<RechargeOrder>> rechargeOrders(CancellationToken token = {});
    QCoro::Task<PaymentOptions> paymentOptions(CancellationToken token = {});
    QCoro::Task<RechargeOrder> createRecharge(
        RechargePackage package, QString channel, QString key, CancellationToken token = {});
    QCoro::Task<PaymentHandoff> paymentHandoff(RechargeOrder order, CancellationToken token = {});
    QCoro::Task<RechargeOrder> refreshPayment(RechargeOrder order, CancellationToken token = {});
    QCoro::Task<RechargeOrder> cancelPayment(RechargeOrder order, CancellationToken token = {});

private:
    struct State;

    // One request of the pipeline; `path` is relative to the service's REST root and may carry a
    // query. A request with a body is a POST, one without a GET.
    struct Request {
        QString path;
        std::optional<QJsonObject> body;
        bool authenticated = false;
        QString idempotencyKey;

        static Request get(QString path, bool authenticated)
        {
            return Request { std::move(path), std::nullopt, authenticated, {} };
        }
        static Request post(QString path, QJsonObject body, bool authenticated, QString key = {})
        {
            return Request { std::move(path), std::move(body), authenticated, std::move(key) };
        }
    };

    // Sends `request` and yields the envelope's "data" (null when absent); `retry` marks the one
    // repeat after a 401.
    static QCoro::Task<QJsonValue> call(
        std::shared_ptr<State> state, Request request, CancellationToken token, bool retry = false);
    // The single-flight renewal of the token pair.
    static QCoro::Task<Credentials> refresh(std::shared_ptr<State> state, CancellationToken token);
    static OneShot<Credentials> startRenewal(const std::shared_ptr<State> &state);
    // The only writer of the credentials.
    static void commitCredentials(State &state, std::optional<Credentials> credentials);
    // `data` as an object, or invalidResponse.
    static QJsonObject requireObject(const QJsonValue &data);

    // Shared with the flows in flight, so a flow that outlives the client never touches freed
    // memory; the client's destruction cancels those flows.
    std::shared_ptr<State> m_state;
};

} // namespace TranslateCore
