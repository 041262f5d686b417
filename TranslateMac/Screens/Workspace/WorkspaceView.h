#pragma once

#include <QWidget>

class QStackedWidget;

namespace TranslateMac {

class AccountView;
class AppModel;
class SidebarView;
class TranscriptPane;

// The signed-in main window: the sidebar beside the transcript pane, or beside the account
// screen while the account is shown.
class WorkspaceView : public QWidget {
    Q_OBJECT

public:
    explicit WorkspaceView(AppModel &model, QWidget *parent = nullptr);
    bool showingAccount() const { return m_showingAccount; }
    void setShowingAccount(bool showing);

    SidebarView &sidebar() const { return *m_sidebar; }
    TranscriptPane &transcript() const { return *m_transcript; }
    AccountView &account() const { return *m_account; }

private:
    bool m_showingAccount = false;
    SidebarView *m_sidebar = nullptr;
    QStackedWidget *m_main = nullptr;
    TranscriptPane *m_transcript = nullptr;
    AccountView *m_account = nullptr;
};

} // namespace TranslateMac
