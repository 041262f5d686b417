#include "WorkspaceWindow.h"

#include "FloatingSubtitlePanel.h"
#include "MenuRules.h"

#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Update/AppUpdateModel.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QSystemTrayIcon>

namespace TranslateMac {

namespace {

// The update check runs on its own; the command does not wait for it.
QCoro::Task<> checkForUpdates(AppUpdateModel &updates)
{
    co_await updates.check(true);
}

} // namespace

WorkspaceWindow::WorkspaceWindow(
    AppModel &model, QWidget *content, std::function<void()> quit, QWidget *parent)
    : QMainWindow(parent), m_model(model), m_quit(std::move(quit))
{
    setObjectName(QStringLiteral("workspace"));
    setWindowTitle(MenuTexts::workspaceTitle);
    setCentralWidget(content);
    resize(defaultSize.expandedTo(content->minimumSizeHint()));

    QMenu *application = menuBar()->addMenu(QStringLiteral("Quorvel"));
    application->addAction(QStringLiteral("关于Quorvel"), this, [this] {
        QMessageBox::about(this, QStringLiteral("Quorvel"),
            QStringLiteral("Quorvel %1").arg(QCoreApplication::applicationVersion()));
    });
    m_checkForUpdates = application->addAction(
        MenuTexts::checkForUpdates, this, [this] { checkForUpdates(m_model.appUpdates()); });
    application->addSeparator();
    QAction *quitAction = application->addAction(MenuTexts::quit, this, [this] { m_quit(); });
    quitAction->setShortcut(QKeySequence::Quit);

    QMenu *window = menuBar()->addMenu(QStringLiteral("窗口"));
    QAction *minimize = window->addAction(QStringLiteral("最小化"), this, &QWidget::showMinimized);
    minimize->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    window->addSeparator();
    m_toggleOverlay = window->addAction(MenuTexts::toggleOverlay, this,
        [this] { m_model.setOverlayVisible(!m_model.overlayVisible()); });
    m_toggleOverlay->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    m_toggleOverlay->setShortcutContext(Qt::ApplicationShortcut);
    m_clickThrough = window->addAction(MenuTexts::clickThrough, this, [this](bool checked) {
        if (m_panel)
            m_panel->setClickThrough(checked);
    });
    m_clickThrough->setCheckable(true);
    m_clickThrough->setShortcut(MenuTexts::clickThroughShortcut);
    m_clickThrough->setShortcutContext(Qt::ApplicationShortcut);
    refreshClickThrough();

    for (auto signal : { &AppModel::stateChanged, &AppModel::loggedInChanged,
             &AppModel::ownsSessionChanged, &AppModel::overlayVisibleChanged })
        connect(&m_model, signal, this, &WorkspaceWindow::refresh);
    connect(
        &m_model.appUpdates(), &AppUpdateModel::checkingChanged, this, &WorkspaceWindow::refresh);
    refresh();
}

void WorkspaceWindow::open()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void WorkspaceWindow::refresh()
{
    const MenuPresentation menus = presentMenus(MenuInputs::from(m_model));
    m_checkForUpdates->setEnabled(menus.checkForUpdatesEnabled);
    m_toggleOverlay->setEnabled(menus.overlayEnabled);
}

void WorkspaceWindow::setPanel(FloatingSubtitlePanel *panel)
{
    m_panel = panel;
    connect(panel, &FloatingSubtitlePanel::clickThroughChanged, this,
        &WorkspaceWindow::refreshClickThrough);
    refreshClickThrough();
}

void WorkspaceWindow::refreshClickThrough()
{
    m_clickThrough->setEnabled(m_panel);
    m_clickThrough->setChecked(m_panel && m_panel->clickThrough());
}

void WorkspaceWindow::closeEvent(QCloseEvent *event)
{
    // With a tray the application stays there and the window can be opened again; without one
    // a hidden window would leave a process nobody can reach, so closing means quitting.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        return QMainWindow::closeEvent(event);
    event->ignore();
    m_quit();
}

} // namespace TranslateMac
