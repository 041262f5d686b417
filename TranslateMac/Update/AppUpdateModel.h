#pragma once

#include "TranslateCore/AppUpdate/AppInstallation.h"
#include "TranslateCore/AppUpdate/AppUpdateResult.h"
#include "TranslateCore/Async/Cancellation.h"
#include "TranslateCore/Async/Clock.h"
#include "TranslateCore/Async/TaskHandle.h"
#include "TranslateCore/Contract/Instant.h"

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace TranslateCore {
class TranslationAPI;
}

namespace TranslateMac {

// Decides when to ask the service for a newer release, keeps the last answer, and derives whether
// an update prompt is due and what the update status line says. Automatic checks run at most once
// every six hours unless the installed release is no longer supported; manual checks always run.
// Lives on the main thread.
class AppUpdateModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::optional<TranslateCore::AppInstallation> installation READ installation NOTIFY
            installationChanged)
    Q_PROPERTY(
        std::optional<TranslateCore::AppUpdateResult> result READ result NOTIFY resultChanged)
    Q_PROPERTY(bool checking READ checking NOTIFY checkingChanged)
    Q_PROPERTY(std::optional<QString> error READ error NOTIFY errorChanged)
    Q_PROPERTY(std::optional<QString> dismissedRelease READ dismissedRelease NOTIFY
            dismissedReleaseChanged)
    Q_PROPERTY(bool showPrompt READ showPrompt NOTIFY showPromptChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)

public:
    using ReadInstallation = std::function<TranslateCore::AppInstallation()>;
    using Fetch = std::function<QCoro::Task<TranslateCore::AppUpdateResult>(
        TranslateCore::AppInstallation, TranslateCore::CancellationToken)>;
    // Opens the address in the default browser; false when that failed.
    using Open = std::function<bool(const QUrl &)>;

    // Empty members take the application's defaults: the installation this binary was built as,
    // a separate HTTP client without credentials (update checks never carry the user's tokens)
    // and the desktop's URL handler.
    struct Dependencies {
        ReadInstallation readInstallation;
        Fetch fetch;
        Open open;
    };

    static constexpr std::chrono::seconds automaticCheckInterval { 21600 };
    static const QString checkFailedMessage;
    static const QString openFailedMessage;

    // `clock` tells the time of checks; it must outlive the model.
    explicit AppUpdateModel(Dependencies dependencies = {},
        TranslateCore::Clock &clock = TranslateCore::SystemClock::shared(),
        QObject *parent = nullptr);
    ~AppUpdateModel() override;

    const std::optional<TranslateCore::AppInstallation> &installation() const
    {
        return m_installation;
    }
    const std::optional<TranslateCore::AppUpdateResult> &result() const { return m_result; }
    bool checking() const { return m_checking; }
    const std::optional<QString> &error() const { return m_error; }
    const std::optional<QString> &dismissedRelease() const { return m_dismissedRelease; }
    std::optional<TranslateCore::Instant> lastCheck() const { return m_lastCheck; }

    bool showPrompt() const;
    QString status() const;

    // Asks the service unless a check is in flight or, for an automatic check, the last one is
    // recent and no update is demanded. Completes when the check has ended; never throws.
    QCoro::Task<> check(bool manual);
    // Opens the offered release's page when a prompt is due.
    void openUpdate();
    // Hides the prompt for the offered release until a manual check; a demanded update stays.
    void dismiss();

Q_SIGNALS:
    void installationChanged();
    void resultChanged();
    void checkingChanged();
    void errorChanged();
    void dismissedReleaseChanged();
    void showPromptChanged();
    void statusChanged();

private:
    QCoro::Task<> runCheck(TranslateCore::CancellationToken token);
    void finishCheck(std::optional<TranslateCore::AppUpdateResult> answer);
    // Applies a change and announces whichever published values it altered.
    void publish(const std::function<void()> &change);

    ReadInstallation m_readInstallation;
    Fetch m_fetch;
    Open m_open;
    TranslateCore::Clock &m_clock;
    std::unique_ptr<TranslateCore::TranslationAPI> m_updateClient;

    std::optional<TranslateCore::AppInstallation> m_installation;
    std::optional<TranslateCore::AppUpdateResult> m_result;
    bool m_checking = false;
    std::optional<QString> m_error;
    std::optional<QString> m_dismissedRelease;
    std::optional<TranslateCore::Instant> m_lastCheck;

    TranslateCore::TaskHandle m_checkTask;
};

} // namespace TranslateMac
