#include "TranslateMac/Screens/Workspace/WorkspaceView.h"

#include "TranslateMac/Screens/Account/AccountView.h"
#include "TranslateMac/Screens/Workspace/SidebarView.h"
#include "TranslateMac/Screens/Workspace/TranscriptPane.h"

#include <QHBoxLayout>
#include <QStackedWidget>

namespace TranslateMac {

WorkspaceView::WorkspaceView(AppModel &model, QWidget *parent) : QWidget(parent)
{
    m_sidebar = new SidebarView(model, this);
    m_sidebar->setFixedWidth(272);
    m_main = new QStackedWidget(this);
    m_transcript = new TranscriptPane(model, m_main);
    m_account = new AccountView(
        model, [this] { setShowingAccount(false); }, m_main);
    m_main->addWidget(m_transcript);
    m_main->addWidget(m_account);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(m_sidebar);
    row->addWidget(m_main, 1);
    connect(m_sidebar, &SidebarView::accountToggled, this,
        [this] { setShowingAccount(!m_showingAccount); });
}

void WorkspaceView::setShowingAccount(bool showing)
{
    m_showingAccount = showing;
    m_main->setCurrentWidget(showing ? static_cast<QWidget *>(m_account) : m_transcript);
    m_sidebar->setShowingAccount(showing);
}

} // namespace TranslateMac
