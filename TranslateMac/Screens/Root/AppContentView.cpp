#include "TranslateMac/Screens/Root/AppContentView.h"

#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Screens/Account/LoginView.h"
#include "TranslateMac/Screens/Common/Theme.h"
#include "TranslateMac/Screens/Update/AppUpdatePanel.h"
#include "TranslateMac/Screens/Workspace/WorkspaceView.h"
#include "TranslateMac/Update/AppUpdateModel.h"

#include <QGuiApplication>
#include <QStackedLayout>

namespace TranslateMac {

AppContentView::AppContentView(AppModel &model, QWidget *parent)
    : QWidget(parent), m_model(model), m_loggedIn(model.loggedIn())
{
    setMinimumSize(920, 640);
    setStyleSheet(Theme::styleSheet());
    setFont(Theme::font(10));
    m_login = new LoginView(model, this);
    m_workspace = new WorkspaceView(model, this);
    m_stack = new QStackedLayout(this);
    m_stack->addWidget(m_login);
    m_stack->addWidget(m_workspace);

    m_dimmer = new QWidget(this);
    m_dimmer->setObjectName(QStringLiteral("dimmer"));
    m_dimmer->setAttribute(Qt::WA_StyledBackground);
    m_dimmer->setStyleSheet(QStringLiteral("#dimmer { background: rgba(0, 0, 0, 90); }"));
    m_updatePanel = new AppUpdatePanel(model.appUpdates(), m_dimmer);

    connect(&model, &AppModel::loggedInChanged, this, &AppContentView::refreshScreens);
    connect(&model, &AppModel::ownsSessionChanged, this, &AppContentView::refreshScreens);
    connect(&model, &AppModel::stateChanged, this, &AppContentView::refreshScreens);
    connect(&model, &AppModel::loggedInChanged, this, &AppContentView::loggedInChanged);
    connect(&model.appUpdates(), &AppUpdateModel::showPromptChanged, this,
        &AppContentView::refreshScreens);
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
        [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                applicationBecameActive();
        });
    refreshScreens();
}

bool AppContentView::showsLogin() const
{
    return m_stack->currentWidget() == m_login;
}

bool AppContentView::showsUpdatePanel() const
{
    return !m_dimmer->isHidden();
}

void AppContentView::refreshScreens()
{
    // A settlement waiting for its sign-in needs the login screen; a running session does not.
    const bool login = !m_model.loggedIn()
        && (!m_model.ownsSession() || m_model.state() == ListeningState::pending);
    m_stack->setCurrentWidget(login ? static_cast<QWidget *>(m_login) : m_workspace);
    const bool prompt = !m_model.ownsSession() && m_model.appUpdates().showPrompt();
    m_dimmer->setVisible(prompt);
    if (prompt) {
        m_dimmer->setGeometry(rect());
        m_dimmer->raise();
        const QSize panel = m_updatePanel->sizeHint();
        m_updatePanel->setGeometry((width() - panel.width()) / 2, (height() - panel.height()) / 2,
            panel.width(), panel.height());
    }
}

void AppContentView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The model remembers that it was bootstrapped, so a second window does not repeat it.
    m_model.bootstrap();
}

void AppContentView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    refreshScreens();
}

void AppContentView::applicationBecameActive()
{
    m_model.refreshSources();
    if (!m_model.ownsSession())
        m_model.appUpdates().check(false);
}

void AppContentView::loggedInChanged()
{
    const bool loggedIn = m_model.loggedIn();
    if (loggedIn == m_loggedIn)
        return;
    m_loggedIn = loggedIn;
    m_workspace->setShowingAccount(false);
}

} // namespace TranslateMac
