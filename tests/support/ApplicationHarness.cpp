#include "support/ApplicationHarness.h"

#include "support/LocalServiceProcess.h"
#include "support/TestSupport.h"

#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Capture/AudioCaptureFactory.h"

#include "TranslateCore/API/TranslationAPI.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QSettings>

namespace TestSupport {

IsolatedHome::IsolatedHome()
{
    const QDir home(m_folder.path());
    home.mkpath(QStringLiteral("data"));
    home.mkpath(QStringLiteral("config"));
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    QSettings::setPath(
        QSettings::NativeFormat, QSettings::UserScope, home.filePath(QStringLiteral("config")));
}

ApplicationSurroundings::ApplicationSurroundings()
{
    if (m_service.isRunning())
        m_service.exportEndpoint();
}

std::unique_ptr<TranslateMac::AppModel> ApplicationSurroundings::model() const
{
    return std::make_unique<TranslateMac::AppModel>(m_service.base());
}

std::unique_ptr<TranslateMac::AppModel> applicationModel(const LocalServiceProcess &service)
{
    TranslateMac::TranscriptExport seams;
    seams.copy = [](const QString &) {};
    seams.chooseSaveLocation = [](const QString &, TranslateMac::TranscriptExport::Completion) {};
    return std::make_unique<TranslateMac::AppModel>(
        std::make_unique<TranslateCore::TranslationAPI>(std::nullopt, service.base()),
        TranslateMac::AudioCaptureFactory::make(), nullptr, TranslateCore::SystemClock::shared(),
        seams);
}

bool signIn(TranslateMac::AppModel &model, LocalServiceProcess &service, const QString &phone)
{
    runTask(model.sendCode(QStringLiteral("+86"), phone));
    const QString code
        = service.control("GET", "/control/sms-code?phone=" + phone)["code"].toString();
    runTask(model.login(QStringLiteral("+86"), phone, code));
    return model.loggedIn();
}

QAction *actionNamed(const QMenu &menu, const QString &text)
{
    for (QAction *action : menu.actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

QString screenshotPath(const QString &name)
{
    const QString folder = buildPath(QUORVEL_SCREENSHOTS_DIR);
    QDir().mkpath(folder);
    return QDir(folder).filePath(name);
}

} // namespace TestSupport
