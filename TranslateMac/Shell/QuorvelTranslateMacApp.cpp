#include "QuorvelTranslateMacApp.h"

#include "AppDelegate.h"
#include "DisplayPlatform.h"
#include "FloatingSubtitlePanel.h"
#include "MenuBarControls.h"
#include "WorkspaceWindow.h"

#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Screens/Common/Theme.h"
#include "TranslateMac/Screens/Root/AppContentView.h"

#include "BuildInfo.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>

namespace TranslateMac {

const QString QuorvelTranslateMacApp::desktopName = QStringLiteral("com.quorvel.translate");

void QuorvelTranslateMacApp::prepareProcess()
{
    choosePreferredDisplayPlatform();
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    // On X11 the application name is the window class, by which task bars and docks match the
    // windows to the desktop file; Wayland uses the desktop file name. Both are the one identity.
    // (The settings and the credential store name their own places.)
    QCoreApplication::setApplicationName(desktopName);
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION_STRING));
    QGuiApplication::setDesktopFileName(desktopName);
}

QuorvelTranslateMacApp::QuorvelTranslateMacApp(TranslateCore::Clock &clock, QObject *parent)
    : QObject(parent), m_model(std::make_unique<AppModel>()),
      m_delegate(std::make_unique<AppDelegate>(clock))
{
    // The installed icon when there is one; the drawn captions symbol otherwise.
    QGuiApplication::setWindowIcon(
        QIcon::fromTheme(desktopName, Theme::icon(QStringLiteral("captions.bubble"))));
    AppModel &model = *m_model;
    m_window = std::make_unique<WorkspaceWindow>(
        model, new AppContentView(model), [this] { requestQuit(); });
    m_menuBar = std::make_unique<MenuBarControls>(
        model, [this] { openWorkspace(); }, [this] { requestQuit(); });

    // The delegate serves the model for the application's whole life: the floating subtitles
    // and the guarded quit work from the start, not only once the window has appeared.
    m_delegate->attach(model);
    connect(
        m_delegate.get(), &AppDelegate::panelCreated, m_menuBar.get(), &MenuBarControls::setPanel);
    connect(m_delegate.get(), &AppDelegate::quitAnswered, this, [this](bool quit) {
        if (quit)
            Q_EMIT terminate();
    });
    m_window->show();
}

QuorvelTranslateMacApp::~QuorvelTranslateMacApp()
{
    // Views observe the model: they go first.
    m_menuBar.reset();
    m_window.reset();
    m_delegate.reset();
}

void QuorvelTranslateMacApp::openWorkspace()
{
    m_window->open();
}

void QuorvelTranslateMacApp::requestQuit()
{
    if (m_delegate->shouldTerminate() == QuitReply::now)
        Q_EMIT terminate();
}

} // namespace TranslateMac
