#include "QRLoginModel.h"

#include "TranslateCore/API/TranslationAPI.h"
#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/DeviceLogin/DeviceLoginFailure.h"

#include <algorithm>

using namespace TranslateCore;

namespace TranslateMac {

const QString QRLoginModel::retryMessage = QStringLiteral("连接暂时中断，正在重试");
const QString QRLoginModel::fallbackFailureMessage
    = QStringLiteral("暂时无法生成二维码，请重试或使用验证码登录。");

namespace {

// Clean-up calls to the service run on their own; their failure changes nothing for the user.
QCoro::Task<> ignoringFailure(QCoro::Task<> call)
{
    try {
        co_await call;
    } catch (...) {
    }
}

} // namespace

QRLoginModel::Service QRLoginModel::Service::from(TranslationAPI &api)
{
    Service service;
    service.create = [&api](CancellationToken token) { return api.createDeviceLogin(token); };
    service.poll = [&api](DeviceLoginChallenge challenge, CancellationToken token) {
        return api.pollDeviceLogin(std::move(challenge), std::move(token));
    };
    service.cancel = [&api](DeviceLoginChallenge challenge, CancellationToken token) {
        return api.cancelDeviceLogin(std::move(challenge), std::move(token));
    };
    service.complete = [&api](const Credentials &credentials, const DeviceLoginChallenge &challenge,
                           const CancellationToken &token) {
        api.completeDeviceLogin(credentials, challenge, token);
    };
    service.discard = [&api](Credentials credentials, CancellationToken token) {
        return api.discardDeviceLogin(std::move(credentials), std::move(token));
    };
    return service;
}

QRLoginModel::QRLoginModel(Service service, Now now, Wait wait, QObject *parent)
    : QObject(parent), m_service(std::move(service)),
      m_now(now ? std::move(now) : Now([] { return SystemClock::shared().now(); })),
      m_wait(wait ? std::move(wait)
                  : Wait([](std::chrono::milliseconds pause, CancellationToken token) {
                        return SystemClock::shared().sleep(pause, std::move(token));
                    }))
{
}

QRLoginModel::QRLoginModel(Service service, Clock &clock, QObject *parent)
    : QRLoginModel(
        std::move(service), [&clock] { return clock.now(); },
        [&clock](std::chrono::milliseconds pause, CancellationToken token) {
            return clock.sleep(pause, std::move(token));
        },
        parent)
{
}

QRLoginModel::~QRLoginModel()
{
    m_lifetime.cancel();
    m_abandon.cancel();
}

void QRLoginModel::setRevision(int revision)
{
    if (m_revision == revision)
        return;
    m_revision = revision;
    Q_EMIT revisionChanged();
}

void QRLoginModel::cancel()
{
    ++m_generation;
    m_abandon = CancellationSource(); // cancels the previous one
    m_running = false;
    setChallenge(std::nullopt);
    setPhase(Phase::idle);
    setMessage(std::nullopt);
}

QCoro::Task<bool> QRLoginModel::run(CancellationToken token)
{
    if (m_running)
        co_return false;
    m_running = true;
    const quint64 generation = m_generation;
    const CancellationToken lifetime = m_lifetime.token();
    setPhase(Phase::loading);
    setMessage(std::nullopt);

    std::optional<DeviceLoginChallenge> held;
    bool signedIn = false;
    try {
        signedIn = co_await exchange(generation, token, lifetime, held);
    } catch (...) {
        // exchange() routes its own failures; anything else only ends the run.
    }
    // A model that went away takes its client with it: nothing more may be sent.
    if (lifetime.isCancelled())
        co_return signedIn;
    if (m_generation == generation) {
        m_running = false;
        setChallenge(std::nullopt);
    }
    if (held)
        cancelInBackground(m_service, *held);
    co_return signedIn;
}

QCoro::Task<bool> QRLoginModel::exchange(quint64 generation, CancellationToken token,
    CancellationToken lifetime, std::optional<DeviceLoginChallenge> &held)
{
    // The lifetime is looked at first: after a suspension `this` may be gone.
    const auto stale = [&] {
        return lifetime.isCancelled() || m_generation != generation || token.isCancelled();
    };
    // Creation and polling are not aborted when the run is abandoned: a challenge or a token pair
    // the service already issued must come back so it can be cancelled or revoked.
    DeviceLoginChallenge challenge;
    std::exception_ptr creationFailure;
    try {
        challenge = co_await m_service.create(lifetime);
    } catch (...) {
        creationFailure = std::current_exception();
    }
    if (creationFailure) {
        if (!stale())
            fail(creationFailure);
        co_return false;
    }
    held = challenge;
    if (stale())
        co_return false;
    setChallenge(challenge);
    setPhase(Phase::waiting);

    const int base = challenge.interval;
    int delay = base;
    CancellationSource pause(token);
    const CancellationSubscription abandoned
        = m_abandon.token().onCancel([&pause] { pause.cancel(); });
    const auto expired = [&] { return !(m_now() < challenge.expiresAt); };

    for (;;) {
        if (stale())
            co_return false;
        if (expired()) {
            setPhase(Phase::expired);
            co_return false;
        }
        std::exception_ptr failure;
        std::optional<DeviceLoginPoll> answer;
        try {
            co_await m_wait(std::chrono::seconds(delay), pause.token());
        } catch (...) {
            failure = std::current_exception();
        }
        if (!failure) {
            if (stale())
                co_return false;
            if (expired()) {
                setPhase(Phase::expired);
                co_return false;
            }
            try {
                answer = co_await m_service.poll(challenge, lifetime);
            } catch (...) {
                failure = std::current_exception();
            }
        }
        if (answer) {
            if (stale()) {
                if (answer->kind == DeviceLoginPoll::Kind::authorized && !lifetime.isCancelled())
                    discardInBackground(m_service, *answer->credentials);
                co_return false;
            }
            switch (answer->kind) {
            case DeviceLoginPoll::Kind::pending:
                setPhase(Phase::waiting);
                setMessage(std::nullopt);
                delay = answer->interval.value_or(base);
                continue;
            case DeviceLoginPoll::Kind::expired:
                setPhase(Phase::expired);
                co_return false;
            case DeviceLoginPoll::Kind::rejected:
                setPhase(Phase::rejected);
                co_return false;
            case DeviceLoginPoll::Kind::authorized:
                try {
                    m_service.complete(*answer->credentials, challenge, token);
                    setPhase(Phase::completed);
                    co_return true;
                } catch (...) {
                    failure = std::current_exception();
                }
                discardInBackground(m_service, *answer->credentials);
                break;
            }
        }
        if (stale())
            co_return false;
        if (isTransient(failure)) {
            setPhase(Phase::recovering);
            setMessage(retryMessage);
            delay = std::min(std::max(base, delay * 2), maximumRetryPauseSeconds);
            continue;
        }
        fail(failure);
        co_return false;
    }
}

bool QRLoginModel::isTransient(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const NetworkError &network) {
        // Our own cancellation arrives as CancellationError, so a cancelled transfer here is the
        // request's time-out. An address the stack cannot use will not get better by waiting.
        return network.code() != QNetworkReply::ProtocolUnknownError
            && network.code() != QNetworkReply::ProtocolInvalidOperationError;
    } catch (const TranslationFailure &failure) {
        if (failure.kind() != TranslationFailure::Case::rejected)
            return false;
        const qint64 code = failure.number();
        return (code >= 500 && code <= 599) || code == 5000 || code == 5001;
    } catch (...) {
        return false;
    }
}

QString QRLoginModel::failureMessage(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const TranslationFailure &failure) {
        return failure.errorDescription();
    } catch (const DeviceLoginFailure &failure) {
        return failure.errorDescription();
    } catch (const NetworkError &) {
        return NetworkError::userMessage();
    } catch (...) {
        return fallbackFailureMessage;
    }
}

void QRLoginModel::fail(std::exception_ptr error)
{
    setPhase(Phase::failed);
    setMessage(failureMessage(error));
}

void QRLoginModel::setPhase(Phase phase)
{
    if (m_phase == phase)
        return;
    m_phase = phase;
    Q_EMIT phaseChanged();
}

void QRLoginModel::setChallenge(std::optional<DeviceLoginChallenge> challenge)
{
    if (m_challenge == challenge)
        return;
    m_challenge = std::move(challenge);
    Q_EMIT challengeChanged();
}

void QRLoginModel::setMessage(std::optional<QString> message)
{
    if (m_message == message)
        return;
    m_message = std::move(message);
    Q_EMIT messageChanged();
}

void QRLoginModel::cancelInBackground(Service service, DeviceLoginChallenge challenge)
{
    ignoringFailure(service.cancel(std::move(challenge), CancellationToken()));
}

void QRLoginModel::discardInBackground(Service service, Credentials credentials)
{
    ignoringFailure(service.discard(std::move(credentials), CancellationToken()));
}

} // namespace TranslateMac
