#include "AppUpdateModel.h"

#include "TranslateCore/API/TranslationAPI.h"
#include "TranslateCore/Async/Clock.h"

#include <QDesktopServices>

using namespace TranslateCore;

namespace TranslateMac {

const QString AppUpdateModel::checkFailedMessage = QStringLiteral("检查更新失败，请检查网络后重试");
const QString AppUpdateModel::openFailedMessage = QStringLiteral("无法打开更新页面，请重试");

AppUpdateModel::AppUpdateModel(Dependencies dependencies, Clock &clock, QObject *parent)
    : QObject(parent), m_readInstallation(std::move(dependencies.readInstallation)),
      m_fetch(std::move(dependencies.fetch)), m_open(std::move(dependencies.open)), m_clock(clock)
{
    if (!m_readInstallation)
        m_readInstallation = [] { return AppInstallation::current(); };
    if (!m_fetch) {
        m_updateClient = std::make_unique<TranslationAPI>();
        m_fetch = [client = m_updateClient.get()](
                      AppInstallation installation, CancellationToken token) {
            return client->checkAppUpdate(std::move(installation), std::move(token));
        };
    }
    if (!m_open)
        m_open = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
}

AppUpdateModel::~AppUpdateModel()
{
    m_checkTask.cancel();
}

bool AppUpdateModel::showPrompt() const
{
    return m_result && m_result->updateAvailable
        && (m_result->forceUpdate || m_dismissedRelease != m_result->releaseKey());
}

QString AppUpdateModel::status() const
{
    if (m_checking)
        return QStringLiteral("正在检查更新…");
    if (m_error)
        return *m_error;
    if (!m_result)
        return QStringLiteral("查看是否有可用的新版本");
    if (!m_result->enabled)
        return QStringLiteral("暂未发布更新信息");
    if (!m_result->updateAvailable)
        return QStringLiteral("已是最新版本");
    return QStringLiteral("发现新版 ") + m_result->latestVersion.value_or(QString());
}

QCoro::Task<> AppUpdateModel::check(bool manual)
{
    if (m_checking)
        co_return;
    if (!manual && !(m_result && m_result->forceUpdate) && m_lastCheck) {
        // A last check that lies in the future (the clock was set back) throttles nothing, or
        // automatic checks could stay silent for as long as the clock was off.
        const auto elapsed = m_clock.now() - *m_lastCheck;
        if (elapsed >= Instant::duration::zero() && elapsed < automaticCheckInterval)
            co_return;
    }
    publish([&] {
        m_checking = true;
        m_error.reset();
        if (manual)
            m_dismissedRelease.reset(); // a manual check offers a dismissed release again
    });
    m_checkTask = TaskHandle::start([this](CancellationToken token) { return runCheck(token); });
    // Only the handle's shared state is touched after this point, so the model may go away.
    co_await m_checkTask.finished();
}

QCoro::Task<> AppUpdateModel::runCheck(CancellationToken token)
{
    AppInstallation installation;
    try {
        installation = m_readInstallation();
    } catch (...) {
        finishCheck(std::nullopt);
        co_return;
    }
    publish([&] { m_installation = installation; });

    std::optional<AppUpdateResult> answer;
    try {
        answer = co_await m_fetch(installation, token);
    } catch (...) {
    }
    if (token.isCancelled())
        co_return; // the model is gone
    finishCheck(std::move(answer));
}

void AppUpdateModel::finishCheck(std::optional<AppUpdateResult> answer)
{
    publish([&] {
        if (answer) {
            m_result = std::move(answer);
            m_lastCheck = m_clock.now();
        } else {
            // The previous answer and check time stay, so the next trigger tries again.
            m_error = checkFailedMessage;
        }
        m_checking = false;
    });
}

void AppUpdateModel::openUpdate()
{
    if (!m_result || !m_result->updateURL || !showPrompt())
        return;
    const QUrl url = *m_result->updateURL;
    publish([&] {
        m_lastCheck.reset(); // the next automatic trigger checks again at once
        m_error.reset();
    });
    if (!m_open(url))
        publish([&] { m_error = openFailedMessage; });
}

void AppUpdateModel::dismiss()
{
    if (m_result && m_result->forceUpdate)
        return; // a demanded update cannot be put off
    publish([&] {
        m_dismissedRelease = m_result ? std::optional(m_result->releaseKey()) : std::nullopt;
    });
}

void AppUpdateModel::publish(const std::function<void()> &change)
{
    const auto installation = m_installation;
    const auto result = m_result;
    const bool checking = m_checking;
    const auto error = m_error;
    const auto dismissed = m_dismissedRelease;
    const bool prompt = showPrompt();
    const QString line = status();
    change();
    if (installation != m_installation)
        Q_EMIT installationChanged();
    if (result != m_result)
        Q_EMIT resultChanged();
    if (checking != m_checking)
        Q_EMIT checkingChanged();
    if (error != m_error)
        Q_EMIT errorChanged();
    if (dismissed != m_dismissedRelease)
        Q_EMIT dismissedReleaseChanged();
    if (prompt != showPrompt())
        Q_EMIT showPromptChanged();
    if (line != status())
        Q_EMIT statusChanged();
}

} // namespace TranslateMac
