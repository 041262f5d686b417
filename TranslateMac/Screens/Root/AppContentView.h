#pragma once

#include <QWidget>

class QStackedLayout;

namespace TranslateMac {

class AppModel;
class LoginView;
class WorkspaceView;
class AppUpdatePanel;

// The workspace window's whole content: the login screen while signed out, the workspace
// otherwise, and the update panel over both when an update prompt is due. It also runs the
// application-wide refreshes tied to the window: first appearance, activation of the
// application, the end of a translation, a new direction and a change of sign-in.
class AppContentView : public QWidget {
    Q_OBJECT

public:
    explicit AppContentView(AppModel &model, QWidget *parent = nullptr);

    // Whether the login screen (rather than the workspace) is shown.
    bool showsLogin() const;
    bool showsUpdatePanel() const;
    WorkspaceView &workspace() const { return *m_workspace; }
    LoginView &login() const { return *m_login; }

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void refreshScreens();
    void applicationBecameActive();
    void ownsSessionChanged();
    void loggedInChanged();

    AppModel &m_model;
    QStackedLayout *m_stack = nullptr;
    LoginView *m_login = nullptr;
    WorkspaceView *m_workspace = nullptr;
    QWidget *m_dimmer = nullptr;
    AppUpdatePanel *m_updatePanel = nullptr;
    bool m_ownedSession = false;
    bool m_loggedIn = false;
};

} // namespace TranslateMac
