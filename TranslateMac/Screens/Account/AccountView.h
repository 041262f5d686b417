#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QMessageBox;
class QPushButton;

namespace TranslateMac {

class AppModel;
class AppUpdateCheckRow;
class StatusPill;

// The account screen inside the workspace: profile, balance, the running translation, updates,
// privacy and sign-out.
class AccountView : public QWidget {
    Q_OBJECT

public:
    AccountView(
        AppModel &model, std::function<void()> returnToWorkspace, QWidget *parent = nullptr);

    QPushButton &logoutButton() const { return *m_logout; }
    QPushButton &refreshButton() const { return *m_refresh; }
    QPushButton &sessionButton() const { return *m_sessionButton; }
    bool showsSessionRow() const;
    AppUpdateCheckRow &updateRow() const { return *m_updateRow; }
    // The sign-out confirmation while it is open.
    QMessageBox *logoutConfirmation() const { return m_confirmation; }
    bool confirmingLogout() const { return m_confirmation != nullptr; }

private:
    QWidget *buildBalance();
    QWidget *buildSessionRow();
    QWidget *buildSettings();
    void refresh();
    void confirmLogout();

    AppModel &m_model;
    std::function<void()> m_returnToWorkspace;
    QLabel *m_avatar = nullptr;
    QLabel *m_nickname = nullptr;
    QLabel *m_wallet = nullptr;
    QPushButton *m_refresh = nullptr;
    QWidget *m_sessionRow = nullptr;
    StatusPill *m_sessionState = nullptr;
    QPushButton *m_sessionButton = nullptr;
    AppUpdateCheckRow *m_updateRow = nullptr;
    QPushButton *m_logout = nullptr;
    QMessageBox *m_confirmation = nullptr;
};

} // namespace TranslateMac
