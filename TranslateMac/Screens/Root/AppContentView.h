#pragma once

#include <QWidget>

class QStackedLayout;

namespace TranslateMac {

class AppModel;
class LoginView;
class WorkspaceView;
class AppUpdatePanel;

// The workspace window's whole content: the login screen while signed out, the workspace
// otherwise, and the update panel over both when an update prompt is due. It forwards the
// window's first appearance and the application's activation to the model.
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
    void loggedInChanged();

    AppModel &m_model;
    QStackedLayout *m_stack = nullptr;
    LoginView *m_login = nullptr;
    WorkspaceView *m_workspace = nullptr;
    QWidget *m_dimmer = nullptr;
    AppUpdatePanel *m_updatePanel = nullptr;
    bool m_loggedIn = false;
};

} // namespace TranslateMac
