#include "AppModel.h"

#include "TranslateMac/Account/QRLoginModel.h"

#include "TranslateCore/API/TranslationAPI.h"

#include <QPointer>

using namespace TranslateCore;

namespace TranslateMac {

void AppModel::applyPersistenceNotice()
{
    if (m_api->credentialPersistenceFailure())
        setNotice(QStringLiteral("已登录。本次未能保存登录状态，下次打开时可能需要重新登录。"));
    else
        setNotice(std::nullopt);
}

void AppModel::syncSignIn()
{
    assign(m_loggedIn, m_api->credentials().has_value(), &AppModel::loggedInChanged);
}

QCoro::Task<> AppModel::sendCode(QString country, QString phone)
{
    if (m_accountBusy || (m_cooldownUntil && *m_cooldownUntil > m_clock.now()))
        co_return; // the screen already counts down
    QPointer<AppModel> self(this);
    assign(m_accountBusy, true, &AppModel::accountBusyChanged);
    setError(std::nullopt);
    std::exception_ptr failure;
    try {
        co_await m_api->sendCode(country, phone, lifetime());
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        show(failure); // no cool-down: the user may retry at once
    } else {
        assign(m_cooldownUntil, std::optional<Instant>(m_clock.now() + smsCooldown),
            &AppModel::cooldownUntilChanged);
        setNotice(QStringLiteral("验证码已发送，请在此电脑输入收到的验证码。"));
    }
    assign(m_accountBusy, false, &AppModel::accountBusyChanged);
}

QCoro::Task<> AppModel::login(QString country, QString phone, QString code)
{
    if (m_accountBusy)
        co_return;
    QPointer<AppModel> self(this);
    assign(m_accountBusy, true, &AppModel::accountBusyChanged);
    setError(std::nullopt);
    std::exception_ptr failure;
    try {
        co_await m_api->login(country, phone, code, lifetime());
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        show(failure);
    } else {
        assign(m_loggedIn, true, &AppModel::loggedInChanged);
        applyPersistenceNotice();
    }
    assign(m_accountBusy, false, &AppModel::accountBusyChanged);
    if (m_loggedIn)
        co_await refreshAccount();
}

QCoro::Task<> AppModel::logout()
{
    if (ownsSession() || m_accountBusy)
        co_return;
    QPointer<AppModel> self(this);
    assign(m_accountBusy, true, &AppModel::accountBusyChanged);
    setError(std::nullopt);
    std::exception_ptr failure;
    try {
        co_await m_api->logout(lifetime());
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure)
        show(failure);
    syncSignIn();
    if (!m_loggedIn)
        resetAccount();
    assign(m_accountBusy, false, &AppModel::accountBusyChanged);
}

void AppModel::resetAccount()
{
    assign(m_routes, QList<TranslationRoute>(), &AppModel::routesChanged);
    chooseRoute(QString());
    assign(m_quote, std::nullopt, &AppModel::quoteChanged);
    assign(m_nickname, QStringLiteral("尚未登录"), &AppModel::nicknameChanged);
    assign(m_wallet, qint64(0), &AppModel::walletChanged);
    setTranscript(Transcript(0));
    setStartTime(std::nullopt);
    setNotice(std::nullopt);
}

QCoro::Task<> AppModel::runQRLogin()
{
    if (m_loggedIn || m_accountBusy || m_loginMethod != LoginMethod::qr)
        co_return;
    QPointer<AppModel> self(this);
    const bool signedIn = co_await m_qrLogin->run(lifetime());
    if (!self || !signedIn)
        co_return;
    assign(m_loggedIn, true, &AppModel::loggedInChanged);
    setError(std::nullopt);
    applyPersistenceNotice();
    co_await refreshAccount();
}

void AppModel::setLoginScreenShown(bool shown)
{
    m_loginScreenShown = shown;
    syncQRLogin();
}

void AppModel::syncQRLogin()
{
    const bool wanted = m_loginScreenShown && m_loginMethod == LoginMethod::qr;
    const int key = wanted ? m_qrLogin->revision() : -1;
    if (key == m_qrKey)
        return;
    if (m_qrKey != -1 && m_qrLogin->isRunning())
        m_qrLogin->cancel(); // the task of the previous key ends with it
    m_qrKey = key;
    if (wanted) {
        ++m_qrRuns;
        runQRLogin();
        // runQRLogin() declines while an account request (a sign-out) still runs: try again
        // when it is done.
        if (!m_qrLogin->isRunning() && m_qrLogin->phase() == QRLoginModel::Phase::idle)
            m_qrKey = -1;
    }
}

QCoro::Task<> AppModel::refreshAccount()
{
    if (m_accountBusy || ownsSession())
        co_return;
    QPointer<AppModel> self(this);
    assign(m_accountBusy, true, &AppModel::accountBusyChanged);
    std::exception_ptr failure;
    try {
        const QJsonObject profile = co_await m_api->profile(lifetime());
        if (!self)
            co_return;
        const QJsonValue name = profile.value("nickname");
        assign(m_nickname, name.isString() ? name.toString() : QStringLiteral("Quorvel用户"),
            &AppModel::nicknameChanged);
        const QJsonValue history = profile.value("historyEnabled");
        setHistory(history.isBool() && history.toBool());

        const qint64 balance = co_await m_api->wallet(lifetime());
        if (!self)
            co_return;
        assign(m_wallet, balance, &AppModel::walletChanged);

        const QList<TranslationRoute> offered = co_await m_api->routes(lifetime());
        if (!self)
            co_return;
        assign(m_routes, offered, &AppModel::routesChanged);
        const auto offers = [&](const QString &code) {
            return std::any_of(offered.begin(), offered.end(),
                [&](const TranslationRoute &r) { return r.code == code; });
        };
        if (!offers(m_selectedRoute)) {
            // The refresh asks for the quote of the chosen direction at its end.
            if (offers(preferredRouteCode))
                chooseRoute(preferredRouteCode);
            else
                chooseRoute(offered.isEmpty() ? QString() : offered.first().code);
        }
        assign(m_loggedIn, true, &AppModel::loggedInChanged);
        setError(std::nullopt);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        show(failure);
        syncSignIn(); // the client may have dropped the sign-in (a refused renewal)
    }
    co_await refreshQuote();
    if (!self)
        co_return;
    assign(m_accountBusy, false, &AppModel::accountBusyChanged);
}

QCoro::Task<> AppModel::bootstrap()
{
    if (m_bootstrapped)
        co_return;
    m_bootstrapped = true;
    QPointer<AppModel> self(this);
    co_await refreshSources();
    if (!self || !m_loggedIn)
        co_return;
    if (m_state == ListeningState::pending && m_sessionID)
        settlePendingWhileSignedIn(); // it refreshes the account once the session is settled
    else
        co_await refreshAccount();
}

} // namespace TranslateMac
