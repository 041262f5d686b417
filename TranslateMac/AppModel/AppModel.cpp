#include "AppModel.h"

#include "TranslateMac/Account/QRLoginModel.h"
#include "TranslateMac/Account/SessionSQLiteStore.h"
#include "TranslateMac/Capture/AudioCaptureFactory.h"
#include "TranslateMac/Capture/CaptureAccess.h"
#include "TranslateMac/Capture/TapAudioFailure.h"
#include "TranslateMac/Update/AppUpdateModel.h"

#include "TranslateCore/API/TranslationAPI.h"
#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/Socket/LiveSocket.h"
#include "TranslateCore/Subtitles/ServerEvent.h"

#include <filesystem>

using namespace TranslateCore;

namespace TranslateMac {

const QString AppModel::preferredRouteCode = QStringLiteral("EN_ZH");

QString AppModel::rawValue(LoginMethod method)
{
    return method == LoginMethod::qr ? QStringLiteral("扫码登录") : QStringLiteral("验证码登录");
}

std::optional<AppModel::LoginMethod> AppModel::loginMethodFromRawValue(const QString &text)
{
    for (LoginMethod method : allLoginMethods) {
        if (rawValue(method) == text)
            return method;
    }
    return std::nullopt;
}

AppModel::AppModel(QObject *parent) : AppModel(ProductionEndpoint::base(), parent) { }

AppModel::AppModel(const QUrl &serviceBase, QObject *parent)
    : QObject(parent), m_clock(SystemClock::shared())
{
    SessionCredentialStore &store = SessionSQLite::store();
    std::optional<Credentials> credentials;
    bool restoreFailed = false;
    try {
        if (!store.preferences().restorationDisabled())
            credentials = store.load();
    } catch (...) {
        credentials.reset();
        restoreFailed = true;
    }
    m_api = std::make_unique<TranslationAPI>(credentials, serviceBase);
    m_api->setSaveCredentials(
        [](const std::optional<Credentials> &changed) { SessionSQLite::store().save(changed); });
    m_capture = AudioCaptureFactory::make(m_clock);
    m_socketFactory = [](const QUrl &url) { return std::make_shared<LiveSocket>(url); };
    m_transcriptExport = TranscriptExport::desktop();
    // The store lives until the process ends.
    m_sessionStore = std::shared_ptr<SessionCredentialStore>(&store, [](auto *) {});
    initialise(restoreFailed);
}

AppModel::AppModel(std::unique_ptr<TranslationAPI> api, std::unique_ptr<AudioCapturing> capture,
    SocketFactory socketFactory, Clock &clock, TranscriptExport transcriptExport,
    std::shared_ptr<SessionCredentialStore> sessionStore, QObject *parent)
    : QObject(parent), m_api(std::move(api)), m_capture(std::move(capture)),
      m_socketFactory(std::move(socketFactory)), m_clock(clock),
      m_transcriptExport(std::move(transcriptExport)), m_sessionStore(std::move(sessionStore))
{
    if (!m_socketFactory)
        m_socketFactory = [](const QUrl &url) { return std::make_shared<LiveSocket>(url); };
    const TranscriptExport desktop = TranscriptExport::desktop();
    if (!m_transcriptExport.copy)
        m_transcriptExport.copy = desktop.copy;
    if (!m_transcriptExport.chooseSaveLocation)
        m_transcriptExport.chooseSaveLocation = desktop.chooseSaveLocation;
    initialise(false);
}

void AppModel::initialise(bool restoreFailed)
{
    m_nickname = QStringLiteral("尚未登录");
    m_qrLogin = std::make_unique<QRLoginModel>(QRLoginModel::Service::from(*m_api), m_clock);
    // The update check asks the same service, without the account's credentials.
    AppUpdateModel::Dependencies updates;
    updates.fetch = [client = std::make_shared<TranslationAPI>(std::nullopt, m_api->baseURL())](
                        AppInstallation installation, CancellationToken token) {
        return client->checkAppUpdate(std::move(installation), std::move(token));
    };
    m_appUpdates = std::make_unique<AppUpdateModel>(std::move(updates), m_clock);
    // A demanded update blocks starting.
    QObject::connect(
        m_appUpdates.get(), &AppUpdateModel::resultChanged, this, &AppModel::announceDerived);
    m_loggedIn = m_api->credentials().has_value();
    m_permission = m_capture->hasPermission();
    if (restoreFailed)
        m_notice = QStringLiteral("暂时无法读取本机登录状态，请重新登录。");
    takeLeftSession();
    m_derived = derived();
    for (auto signal : { &AppModel::loginMethodChanged, &AppModel::accountBusyChanged })
        QObject::connect(this, signal, this, &AppModel::syncQRLogin);
    QObject::connect(m_qrLogin.get(), &QRLoginModel::revisionChanged, this, &AppModel::syncQRLogin);
    // Without a sign-in and without a session there are no subtitles to float.
    QObject::connect(this, &AppModel::loggedInChanged, this, [this] {
        if (!m_loggedIn && !ownsSession())
            setOverlayVisible(false);
        settlePendingWhileSignedIn(); // a settlement waiting for a sign-in goes on
    });
}

AppModel::~AppModel()
{
    // The model's own rules answer its signals and its parts' signals; none of them may run on
    // a model whose parts are being destroyed.
    QObject::disconnect(m_qrLogin.get(), nullptr, this, nullptr);
    QObject::disconnect(m_appUpdates.get(), nullptr, this, nullptr);
    QObject::disconnect(this, nullptr, this, nullptr);
    m_lifetime.cancel();
}

void AppModel::setLoginMethod(LoginMethod method)
{
    assign(m_loginMethod, method, &AppModel::loginMethodChanged);
}

void AppModel::setSelectedRoute(const QString &code)
{
    if (code == m_selectedRoute)
        return;
    chooseRoute(code);
    refreshQuote(); // a quote is for one direction; it runs on by itself and never fails
}

void AppModel::chooseRoute(const QString &code)
{
    assign(m_selectedRoute, code, &AppModel::selectedRouteChanged);
}

void AppModel::setSelectedSource(const AudioSource &source)
{
    assign(m_selectedSource, source, &AppModel::selectedSourceChanged);
}

void AppModel::setHistory(bool history)
{
    assign(m_history, history, &AppModel::historyChanged);
}

void AppModel::setOverlayVisible(bool visible)
{
    assign(m_overlayVisible, visible, &AppModel::overlayVisibleChanged);
}

void AppModel::setTranscript(Transcript transcript)
{
    assign(m_transcript, std::move(transcript), &AppModel::transcriptChanged);
}

void AppModel::applyToTranscript(const ServerEvent &event)
{
    // Applied to a copy so that observers see one change; a refused event that the transcript
    // keeps applied (queueFull) is published before it fails.
    Transcript next = m_transcript;
    try {
        next.apply(event);
    } catch (...) {
        setTranscript(std::move(next));
        throw;
    }
    setTranscript(std::move(next));
}

bool AppModel::ownsSession() const
{
    return m_sessionID.has_value() || m_state == ListeningState::preparing
        || m_state == ListeningState::connecting || m_state == ListeningState::reconnecting
        || m_state == ListeningState::stopping;
}

bool AppModel::canStart() const
{
    if (m_appUpdates->result() && m_appUpdates->result()->forceUpdate)
        return false;
    return m_loggedIn && (m_permission || m_capture->authorizesOnStart()) && !m_sourceCheckFailure
        && !m_sourcesRefreshing && !ownsSession() && !m_accountBusy && !m_quoteBusy && m_quote
        && m_quote->canStart && route();
}

qint64 AppModel::remaining() const
{
    return m_startTime ? m_transcript.remaining() : m_wallet;
}

std::optional<TranslationRoute> AppModel::route() const
{
    for (const TranslationRoute &candidate : m_routes) {
        if (candidate.code == m_selectedRoute)
            return candidate;
    }
    return std::nullopt;
}

bool AppModel::accessConfirmed() const
{
    return m_permission || m_capture->hasPermission();
}

AppModel::Derived AppModel::derived() const
{
    return Derived { ownsSession(), canStart(), remaining(), route(), settling(), accessConfirmed(),
        message() };
}

void AppModel::announceDerived()
{
    // Each derived value is compared with what was last announced, so that a view connected
    // to one of them repaints only when that value moved (not on every level update).
    const Derived now = derived();
    const Derived before = std::exchange(m_derived, now);
    if (now.ownsSession != before.ownsSession) {
        Q_EMIT ownsSessionChanged();
        // The end of a translation is when an update may be offered again.
        if (!now.ownsSession && m_appUpdates)
            m_appUpdates->check(false);
    }
    if (now.canStart != before.canStart)
        Q_EMIT canStartChanged();
    if (now.remaining != before.remaining)
        Q_EMIT remainingChanged();
    if (now.route != before.route)
        Q_EMIT routeChanged();
    if (now.settling != before.settling)
        Q_EMIT settlingChanged();
    if (now.accessConfirmed != before.accessConfirmed)
        Q_EMIT accessConfirmedChanged();
    if (now.message != before.message)
        Q_EMIT messageChanged();
}

QString AppModel::errorText(std::exception_ptr error)
{
    const auto generic = [](qint64 code) {
        return QStringLiteral("操作未能完成，请重试（") + QString::number(code)
            + QStringLiteral("）。");
    };
    try {
        std::rethrow_exception(error);
    } catch (const TranslationFailure &failure) {
        return failure.errorDescription();
    } catch (const NetworkError &) {
        return NetworkError::userMessage();
    } catch (const TapAudioFailure &failure) {
        return generic(failure.status());
    } catch (const SoundServerAccessError &failure) {
        return generic(failure.code());
    } catch (const SessionStorageFailure &failure) {
        return generic(failure.resultCode());
    } catch (const JsonParseError &failure) {
        return generic(failure.error().error);
    } catch (const std::filesystem::filesystem_error &failure) {
        return generic(failure.code().value());
    } catch (...) {
        return generic(-1);
    }
}

void AppModel::show(std::exception_ptr error)
{
    setError(errorText(error));
}

AppModel::Ending::Ending(AppModel *model) : m_model(model)
{
    if (++m_model->m_endings == 1)
        m_model->announceDerived();
}

AppModel::Ending::~Ending()
{
    if (m_model && --m_model->m_endings == 0)
        m_model->announceDerived();
}

} // namespace TranslateMac
