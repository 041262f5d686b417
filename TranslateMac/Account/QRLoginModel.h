#pragma once

#include "TranslateCore/Async/Cancellation.h"
#include "TranslateCore/Async/Clock.h"
#include "TranslateCore/Contract/Credentials.h"
#include "TranslateCore/Contract/Instant.h"
#include "TranslateCore/DeviceLogin/DeviceLoginChallenge.h"
#include "TranslateCore/DeviceLogin/DeviceLoginPoll.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>

namespace TranslateCore {
class TranslationAPI;
}

namespace TranslateMac {

// Signs in by QR code: asks the service for a challenge, publishes it for the login screen, polls
// until the phone approves or refuses or the challenge runs out, and hands approved credentials to
// the HTTP client. Short network interruptions are retried with a growing pause. A challenge it
// abandons is cancelled on the service and credentials it does not use are revoked there.
// Lives on the main thread.
class QRLoginModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(Phase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(std::optional<TranslateCore::DeviceLoginChallenge> challenge READ challenge NOTIFY
            challengeChanged)
    Q_PROPERTY(std::optional<QString> message READ message NOTIFY messageChanged)
    Q_PROPERTY(int revision READ revision WRITE setRevision NOTIFY revisionChanged)

public:
    enum class Phase { idle, loading, waiting, recovering, expired, rejected, failed, completed };
    Q_ENUM(Phase)

    // The service calls of one exchange.
    struct Service {
        std::function<QCoro::Task<TranslateCore::DeviceLoginChallenge>(
            TranslateCore::CancellationToken)>
            create;
        std::function<QCoro::Task<TranslateCore::DeviceLoginPoll>(
            TranslateCore::DeviceLoginChallenge, TranslateCore::CancellationToken)>
            poll;
        std::function<QCoro::Task<>(
            TranslateCore::DeviceLoginChallenge, TranslateCore::CancellationToken)>
            cancel;
        // Commits the credentials; throws CancellationError when the sign-in changed since the
        // challenge was created.
        std::function<void(const TranslateCore::Credentials &,
            const TranslateCore::DeviceLoginChallenge &, const TranslateCore::CancellationToken &)>
            complete;
        std::function<QCoro::Task<>(TranslateCore::Credentials, TranslateCore::CancellationToken)>
            discard;

        // The client's operations; `api` must outlive every model and clean-up call using them.
        static Service from(TranslateCore::TranslationAPI &api);
    };
    using Now = std::function<TranslateCore::Instant()>;
    // A cancellable pause.
    using Wait
        = std::function<QCoro::Task<>(std::chrono::milliseconds, TranslateCore::CancellationToken)>;

    static constexpr int maximumRetryPauseSeconds = 15;
    static const QString retryMessage;
    static const QString fallbackFailureMessage;

    // Empty `now` / `wait` use the system clock.
    explicit QRLoginModel(Service service, Now now = {}, Wait wait = {}, QObject *parent = nullptr);
    QRLoginModel(Service service, TranslateCore::Clock &clock, QObject *parent = nullptr);
    ~QRLoginModel() override;

    Phase phase() const { return m_phase; }
    const std::optional<TranslateCore::DeviceLoginChallenge> &challenge() const
    {
        return m_challenge;
    }
    const std::optional<QString> &message() const { return m_message; }
    int revision() const { return m_revision; }
    void setRevision(int revision);
    bool isRunning() const { return m_running; }

    // Performs one exchange; yields true only when the HTTP client accepted the credentials.
    // Yields false at once, changing nothing, while another run is in progress. Never throws.
    QCoro::Task<bool> run(TranslateCore::CancellationToken token = {});
    // Abandons the run in progress: it stops at its next step without touching the published
    // state, which returns to idle at once.
    void cancel();

    // The text shown for a failure: the system's message for the error, or the fallback.
    static QString failureMessage(std::exception_ptr error);
    // Whether a failure may pass by itself (a network interruption, a server-side error).
    static bool isTransient(std::exception_ptr error);

Q_SIGNALS:
    void phaseChanged();
    void challengeChanged();
    void messageChanged();
    void revisionChanged();

private:
    QCoro::Task<bool> exchange(quint64 generation, TranslateCore::CancellationToken token,
        TranslateCore::CancellationToken lifetime,
        std::optional<TranslateCore::DeviceLoginChallenge> &held);
    void setPhase(Phase phase);
    void setChallenge(std::optional<TranslateCore::DeviceLoginChallenge> challenge);
    void setMessage(std::optional<QString> message);
    void fail(std::exception_ptr error);
    // Fire-and-forget clean-up calls: their failures are of no consequence.
    static void cancelInBackground(Service service, TranslateCore::DeviceLoginChallenge challenge);
    static void discardInBackground(Service service, TranslateCore::Credentials credentials);

    Service m_service;
    Now m_now;
    Wait m_wait;

    Phase m_phase = Phase::idle;
    std::optional<TranslateCore::DeviceLoginChallenge> m_challenge;
    std::optional<QString> m_message;
    int m_revision = 0;

    quint64 m_generation = 0;
    bool m_running = false;
    // Cancelled (and renewed) by cancel(), so an abandoned run's pause ends at once.
    TranslateCore::CancellationSource m_abandon;
    // Cancelled when the model goes away; flows check it before touching the model again.
    TranslateCore::CancellationSource m_lifetime;
};

} // namespace TranslateMac
