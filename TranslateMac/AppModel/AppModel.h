#pragma once

#include "TranslateMac/AppModel/ListeningState.h"
#include "TranslateMac/AppModel/LiveConnection.h"
#include "TranslateMac/AppModel/TranscriptExport.h"
#include "TranslateMac/Capture/AudioCapturing.h"
#include "TranslateMac/Capture/AudioSource.h"

#include "TranslateCore/Async/Clock.h"
#include "TranslateCore/Async/TaskHandle.h"
#include "TranslateCore/Contract/Instant.h"
#include "TranslateCore/Contract/Quote.h"
#include "TranslateCore/Contract/TranslationRoute.h"
#include "TranslateCore/Socket/SocketConnection.h"
#include "TranslateCore/Subtitles/Transcript.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace TranslateCore {
class TranslationAPI;
struct ServerEvent;
} // namespace TranslateCore

namespace TranslateMac {

class AppUpdateModel;
class QRLoginModel;
class SessionCredentialStore;

// The application's one observable object: the signed-in account, the chosen direction and
// source, and the whole life of a translation session (preparation, creation, streaming,
// recovery, stop and settlement). Every server session it creates stays its responsibility until
// the service confirms the end. Lives on the main thread; every flow re-checks its generation and
// the expected state after each suspension instead of locking.
class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(
        LoginMethod loginMethod READ loginMethod WRITE setLoginMethod NOTIFY loginMethodChanged)
    Q_PROPERTY(TranslateMac::ListeningState state READ state NOTIFY stateChanged)
    Q_PROPERTY(bool loggedIn READ loggedIn NOTIFY loggedInChanged)
    Q_PROPERTY(bool accountBusy READ accountBusy NOTIFY accountBusyChanged)
    Q_PROPERTY(QString nickname READ nickname NOTIFY nicknameChanged)
    Q_PROPERTY(qint64 wallet READ wallet NOTIFY walletChanged)
    Q_PROPERTY(QList<TranslateCore::TranslationRoute> routes READ routes NOTIFY routesChanged)
    Q_PROPERTY(
        QString selectedRoute READ selectedRoute WRITE setSelectedRoute NOTIFY selectedRouteChanged)
    Q_PROPERTY(std::optional<TranslateCore::Quote> quote READ quote NOTIFY quoteChanged)
    Q_PROPERTY(bool quoteBusy READ quoteBusy NOTIFY quoteBusyChanged)
    Q_PROPERTY(QList<TranslateMac::AudioSource> sources READ sources NOTIFY sourcesChanged)
    Q_PROPERTY(TranslateMac::AudioSource selectedSource READ selectedSource WRITE setSelectedSource
            NOTIFY selectedSourceChanged)
    Q_PROPERTY(bool permission READ permission NOTIFY permissionChanged)
    Q_PROPERTY(bool sourcesRefreshing READ sourcesRefreshing NOTIFY sourcesRefreshingChanged)
    Q_PROPERTY(std::optional<QString> sourceCheckFailure READ sourceCheckFailure NOTIFY
            sourceCheckFailureChanged)
    Q_PROPERTY(bool history READ history WRITE setHistory NOTIFY historyChanged)
    Q_PROPERTY(TranslateCore::Transcript transcript READ transcript NOTIFY transcriptChanged)
    Q_PROPERTY(float level READ level NOTIFY levelChanged)
    Q_PROPERTY(qint64 elapsed READ elapsed NOTIFY elapsedChanged)
    Q_PROPERTY(std::optional<QString> error READ error NOTIFY errorChanged)
    Q_PROPERTY(std::optional<QString> notice READ notice NOTIFY noticeChanged)
    Q_PROPERTY(std::optional<TranslateCore::Instant> cooldownUntil READ cooldownUntil NOTIFY
            cooldownUntilChanged)
    Q_PROPERTY(bool overlayVisible READ overlayVisible WRITE setOverlayVisible NOTIFY
            overlayVisibleChanged)
    Q_PROPERTY(std::optional<qint64> sessionID READ sessionID NOTIFY sessionIDChanged)
    // Derived values, each announced when its own value changes.
    Q_PROPERTY(bool ownsSession READ ownsSession NOTIFY ownsSessionChanged)
    Q_PROPERTY(bool canStart READ canStart NOTIFY canStartChanged)
    Q_PROPERTY(qint64 remaining READ remaining NOTIFY remainingChanged)
    Q_PROPERTY(std::optional<TranslateCore::TranslationRoute> route READ route NOTIFY routeChanged)
    // A stop, an end of session or a settlement (with the refresh that follows it) is running:
    // the guarded quit waits for it.
    Q_PROPERTY(bool settling READ settling NOTIFY settlingChanged)
    Q_PROPERTY(bool accessConfirmed READ accessConfirmed NOTIFY accessConfirmedChanged)
    Q_PROPERTY(std::optional<QString> message READ message NOTIFY messageChanged)

public:
    enum class LoginMethod { qr, phone };
    Q_ENUM(LoginMethod)
    static constexpr std::array<LoginMethod, 2> allLoginMethods { LoginMethod::qr,
        LoginMethod::phone };
    // The segment titles of the login screen's method picker.
    static QString rawValue(LoginMethod method);
    static std::optional<LoginMethod> loginMethodFromRawValue(const QString &rawValue);

    using SocketFactory
        = std::function<std::shared_ptr<TranslateCore::SocketConnection>(const QUrl &)>;

    static constexpr std::chrono::seconds readyDeadline = LiveConnection::readyDeadline;
    static constexpr std::chrono::seconds finishDeadline { 12 };
    static constexpr std::chrono::seconds smsCooldown { 60 };
    static constexpr int recoveryAttempts = 3;
    // The wait before settling a pending session again after a failed try; it doubles up to the
    // limit.
    static constexpr std::chrono::seconds pendingRetryFirst { 2 };
    static constexpr std::chrono::seconds pendingRetryLimit { 60 };
    static const QString preferredRouteCode;

    // The application's model: restores the sign-in from the credential store (unless
    // restoration is disabled), talks to the service's own endpoint, captures with the backend
    // this machine offers, and copies and saves through the desktop's clipboard and save dialog.
    explicit AppModel(QObject *parent = nullptr);
    // The same, talking to the service below `serviceBase` (a REST root such as
    // ProductionEndpoint::base()).
    explicit AppModel(const QUrl &serviceBase, QObject *parent = nullptr);
    // A model on the given parts; the transcript seams default to the desktop's own. Without a
    // `sessionStore` the sessions it creates are not recorded for a later launch.
    AppModel(std::unique_ptr<TranslateCore::TranslationAPI> api,
        std::unique_ptr<AudioCapturing> capture, SocketFactory socketFactory,
        TranslateCore::Clock &clock = TranslateCore::SystemClock::shared(),
        TranscriptExport transcriptExport = {},
        std::shared_ptr<SessionCredentialStore> sessionStore = nullptr, QObject *parent = nullptr);
    ~AppModel() override;

    // Published state.
    LoginMethod loginMethod() const { return m_loginMethod; }
    void setLoginMethod(LoginMethod method);
    ListeningState state() const { return m_state; }
    bool loggedIn() const { return m_loggedIn; }
    bool accountBusy() const { return m_accountBusy; }
    const QString &nickname() const { return m_nickname; }
    qint64 wallet() const { return m_wallet; }
    const QList<TranslateCore::TranslationRoute> &routes() const { return m_routes; }
    const QString &selectedRoute() const { return m_selectedRoute; }
    void setSelectedRoute(const QString &code);
    const std::optional<TranslateCore::Quote> &quote() const { return m_quote; }
    bool quoteBusy() const { return m_quoteBusy; }
    const QList<AudioSource> &sources() const { return m_sources; }
    const AudioSource &selectedSource() const { return m_selectedSource; }
    void setSelectedSource(const AudioSource &source);
    bool permission() const { return m_permission; }
    bool sourcesRefreshing() const { return m_sourcesRefreshing; }
    const std::optional<QString> &sourceCheckFailure() const { return m_sourceCheckFailure; }
    bool history() const { return m_history; }
    void setHistory(bool history);
    const TranslateCore::Transcript &transcript() const { return m_transcript; }
    float level() const { return m_level; }
    qint64 elapsed() const { return m_elapsed; }
    const std::optional<QString> &error() const { return m_error; }
    const std::optional<QString> &notice() const { return m_notice; }
    const std::optional<TranslateCore::Instant> &cooldownUntil() const { return m_cooldownUntil; }
    bool overlayVisible() const { return m_overlayVisible; }
    void setOverlayVisible(bool visible);
    const std::optional<qint64> &sessionID() const { return m_sessionID; }

    // Derived values.
    bool ownsSession() const;
    bool canStart() const;
    qint64 remaining() const;
    std::optional<TranslateCore::TranslationRoute> route() const;
    bool settling() const { return m_endings > 0; }
    // Audio access is known to be granted (by the model's check or by the capture itself).
    bool accessConfirmed() const;
    // The one line screens show under their content: the error, else the notice.
    std::optional<QString> message() const { return m_error ? m_error : m_notice; }

    // Owned collaborators.
    // The clock the model times its flows with (the screens count the SMS cooldown with it).
    TranslateCore::Clock &clock() const { return m_clock; }
    QRLoginModel &qrLogin() const { return *m_qrLogin; }
    AppUpdateModel &appUpdates() const { return *m_appUpdates; }

    // The text shown for an error: the service's own message, the network text, or the generic
    // text with the error's code.
    static QString errorText(std::exception_ptr error);

    // Shows a message of the application's shell (a refused quit) in `error`.
    void reportError(const QString &text) { setError(text); }
    // Shows a message of the application's shell (a translation ended by sleep) in `notice`.
    void reportNotice(const QString &text) { setNotice(text); }

    // A translation (the start flow never fails to its caller).
    QCoro::Task<> start();
    // Starts the stop sequence and returns; the session is then finished and settled.
    void stop();
    // Settles the held session over HTTP; the confirm-settlement action. Single-flight.
    QCoro::Task<> reconcileFinish();

    // Routes, quote, sources and transcript export.
    QCoro::Task<> refreshQuote();
    QCoro::Task<> refreshSources();
    void swapDirection();
    void copyTranscript();
    void exportTranscript();

    // Account.
    QCoro::Task<> sendCode(QString country, QString phone);
    QCoro::Task<> login(QString country, QString phone, QString code);
    QCoro::Task<> logout();
    QCoro::Task<> runQRLogin();
    // Whether the login screen shows (its QR sign-in runs only while it does and the QR method
    // is chosen; a new revision restarts it).
    void setLoginScreenShown(bool shown);
    QCoro::Task<> refreshAccount();
    // The root screen's first appearance: sources, then (when signed in) the account; once.
    QCoro::Task<> bootstrap();

Q_SIGNALS:
    void loginMethodChanged();
    void stateChanged();
    void loggedInChanged();
    void accountBusyChanged();
    void nicknameChanged();
    void walletChanged();
    void routesChanged();
    void selectedRouteChanged();
    void quoteChanged();
    void quoteBusyChanged();
    void sourcesChanged();
    void selectedSourceChanged();
    void permissionChanged();
    void sourcesRefreshingChanged();
    void sourceCheckFailureChanged();
    void historyChanged();
    void transcriptChanged();
    void levelChanged();
    void elapsedChanged();
    void errorChanged();
    void noticeChanged();
    void cooldownUntilChanged();
    void overlayVisibleChanged();
    void sessionIDChanged();
    void ownsSessionChanged();
    void canStartChanged();
    void remainingChanged();
    void routeChanged();
    void settlingChanged();
    void accessConfirmedChanged();
    void messageChanged();

private:
    // Tests reach the service client through it (tests/support/AppModelTestSeam.h).
    friend struct AppModelTestSeam;
    using Generation = QUuid;

    void initialise(bool restoreFailed);

    // Assigns a published field and announces the change when the value differs.
    template <typename T, typename U> void assign(T &field, U &&value, void (AppModel::*signal)())
    {
        if (field == value)
            return;
        field = std::forward<U>(value);
        Q_EMIT(this->*signal)();
        announceDerived();
    }
    // The derived values as last announced; announceDerived() emits the signal of each that
    // differs now.
    struct Derived {
        bool ownsSession = false;
        bool canStart = false;
        qint64 remaining = 0;
        std::optional<TranslateCore::TranslationRoute> route;
        bool settling = false;
        bool accessConfirmed = false;
        std::optional<QString> message;
    };
    Derived derived() const;
    void announceDerived();
    void setState(ListeningState state) { assign(m_state, state, &AppModel::stateChanged); }
    void setError(std::optional<QString> text) { assign(m_error, text, &AppModel::errorChanged); }
    void setNotice(std::optional<QString> text)
    {
        assign(m_notice, text, &AppModel::noticeChanged);
    }
    void setLevel(float level) { assign(m_level, level, &AppModel::levelChanged); }
    void setSessionID(std::optional<qint64> id)
    {
        assign(m_sessionID, id, &AppModel::sessionIDChanged);
    }
    void setTranscript(TranslateCore::Transcript transcript);
    void setStartTime(std::optional<TranslateCore::Instant> startTime)
    {
        m_startTime = startTime;
        announceDerived(); // `remaining` follows it
    }
    void applyToTranscript(const TranslateCore::ServerEvent &event);
    void show(std::exception_ptr error);
    // Counts one ending flow for `settling` while it lives; harmless once the model is gone.
    class Ending {
    public:
        explicit Ending(AppModel *model);
        ~Ending();
        Ending(const Ending &) = delete;
        Ending &operator=(const Ending &) = delete;

    private:
        QPointer<AppModel> m_model;
    };
    TranslateCore::CancellationToken lifetime() const { return m_lifetime.token(); }
    bool operationCurrent(const Generation &operation, ListeningState expected) const
    {
        return m_operationGeneration == operation && m_state == expected;
    }

    // Start (AppModelStart.cpp).
    QCoro::Task<> startFailed(std::exception_ptr error, Generation operation);

    // Connection, events, capture and clock (AppModelStream.cpp).
    // Opens the live connection to `url` and waits until the service announced it ready.
    QCoro::Task<> connect(QUrl url);
    // The model's answer to an event of its connection; whether to keep receiving.
    QCoro::Task<bool> received(TranslateCore::ServerEvent event);
    QCoro::Task<> handle(TranslateCore::ServerEvent event);
    // `from` broke; nothing when it is no longer the model's connection.
    QCoro::Task<> streamFailed(std::exception_ptr error, const LiveConnection *from);
    QCoro::Task<> beginCapture(Generation operation);
    void startClock();
    QCoro::Task<> clockLoop(TranslateCore::CancellationToken token);

    // Recovery (AppModelRecovery.cpp).
    QCoro::Task<> connectionFailed(const LiveConnection *from);
    QCoro::Task<> recoverConnection(TranslateCore::CancellationToken token);
    QCoro::Task<bool> recoveryAttempt(Generation operation, TranslateCore::CancellationToken token);
    bool recoveryCurrent(const Generation &operation) const
    {
        return operationCurrent(operation, ListeningState::reconnecting);
    }

    // Stop and settlement (AppModelSettlement.cpp).
    QCoro::Task<> stopSequence(TranslateCore::CancellationToken token);
    QCoro::Task<> awaitServerFinish(TranslateCore::CancellationToken token);
    QCoro::Task<> finishFromServer();
    QCoro::Task<> failAndSettle();
    QCoro::Task<> closeConnection();
    // Stops the capture without flushing and closes the connection; false when the model went.
    QCoro::Task<bool> stopStreaming();
    QCoro::Task<> settle(qint64 id);
    bool confirmSettlement(const QJsonObject &answer);
    QCoro::Task<> refreshBalanceAfterFinish();

    // Sessions outliving the process (AppModelPendingSessions.cpp).
    // Records a created session before anything else is done with it; throws when it could not.
    void recordPendingSession(qint64 id, const QString &routeCode);
    // Forgets a session whose settlement is confirmed; a failure leaves a harmless second try.
    void forgetPendingSession(qint64 id);
    // Holds the oldest session an earlier run left unsettled, as a pending settlement.
    void takeLeftSession();
    // Settles the held pending settlement while signed in, retrying with back-off; single-flight.
    void settlePendingWhileSignedIn();
    QCoro::Task<> settlePendingLoop(TranslateCore::CancellationToken token);

    // Chooses a direction without asking for its quote (the caller does).
    void chooseRoute(const QString &code);

    // Account helpers (AppModelAccount.cpp).
    void applyPersistenceNotice();
    // `loggedIn` follows the client, which drops the sign-in when a renewal is refused.
    void syncSignIn();
    void resetAccount();
    // Starts, restarts or cancels the QR sign-in to match the screen, method and revision.
    void syncQRLogin();

    // Collaborators.
    std::unique_ptr<TranslateCore::TranslationAPI> m_api;
    std::unique_ptr<AudioCapturing> m_capture;
    SocketFactory m_socketFactory;
    TranslateCore::Clock &m_clock;
    TranscriptExport m_transcriptExport;
    std::unique_ptr<QRLoginModel> m_qrLogin;
    std::unique_ptr<AppUpdateModel> m_appUpdates;

    // Published fields.
    LoginMethod m_loginMethod = LoginMethod::qr;
    ListeningState m_state = ListeningState::idle;
    bool m_loggedIn = false;
    bool m_accountBusy = false;
    QString m_nickname;
    qint64 m_wallet = 0;
    QList<TranslateCore::TranslationRoute> m_routes;
    QString m_selectedRoute;
    std::optional<TranslateCore::Quote> m_quote;
    bool m_quoteBusy = false;
    QList<AudioSource> m_sources { AudioSource::wholeSystem() };
    AudioSource m_selectedSource = AudioSource::wholeSystem();
    bool m_permission = false;
    bool m_sourcesRefreshing = false;
    std::optional<QString> m_sourceCheckFailure;
    bool m_history = false;
    TranslateCore::Transcript m_transcript { 0 };
    float m_level = 0;
    qint64 m_elapsed = 0;
    std::optional<QString> m_error;
    std::optional<QString> m_notice;
    std::optional<TranslateCore::Instant> m_cooldownUntil;
    bool m_overlayVisible = false;
    std::optional<qint64> m_sessionID;

    // Session state.
    std::shared_ptr<LiveConnection> m_connection;
    TranslateCore::TaskHandle m_finishDeadlineTask;
    TranslateCore::TaskHandle m_clockTask;
    TranslateCore::TaskHandle m_endTask;
    TranslateCore::TaskHandle m_recoveryTask;
    TranslateCore::TaskHandle m_settlementTask;
    TranslateCore::TaskHandle m_pendingRetryTask;
    std::shared_ptr<SessionCredentialStore> m_sessionStore;
    Generation m_operationGeneration = QUuid::createUuid();
    Generation m_quoteGeneration = QUuid::createUuid();
    std::optional<TranslateCore::Instant> m_startTime;
    int m_reconnectAttempts = 0;
    bool m_recovering = false;
    bool m_bootstrapped = false;
    bool m_loginScreenShown = false;
    // The revision the running QR sign-in was started for; -1 for none.
    int m_qrKey = -1;
    int m_qrRuns = 0;
    bool m_creationInFlight = false;
    bool m_settlementInFlight = false;
    int m_endings = 0;
    Derived m_derived;

    // Cancelled when the model goes away: requests and flows it started end with it.
    TranslateCore::CancellationSource m_lifetime;
};

} // namespace TranslateMac
