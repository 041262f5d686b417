#pragma once

#include <QWidget>

namespace TranslateMac {

class AppModel;

// The signed-in main window: the sidebar beside the transcript pane (or the account screen).
class WorkspaceView : public QWidget {
    Q_OBJECT

public:
    explicit WorkspaceView(AppModel &model, QWidget *parent = nullptr);
    bool showingAccount() const { return m_showingAccount; }
    void setShowingAccount(bool showing);

private:
    AppModel &m_model;
    bool m_showingAccount = false;
};

} // namespace TranslateMac
