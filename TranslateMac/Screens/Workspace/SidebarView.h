#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QToolButton;

namespace TranslateMac {

class AppModel;
class DirectionSection;

// The workspace's left column: direction, audio source, cloud history and the account button.
class SidebarView : public QWidget {
    Q_OBJECT

public:
    explicit SidebarView(AppModel &model, QWidget *parent = nullptr);
    void setShowingAccount(bool showing);

    DirectionSection &directions() const { return *m_directions; }
    QComboBox &sourcePicker() const { return *m_sources; }
    QCheckBox &historyToggle() const { return *m_history; }
    QPushButton &accountButton() const { return *m_account; }
    QString accessText() const;

Q_SIGNALS:
    // The account button was pressed: the workspace switches between captions and account.
    void accountToggled();

private:
    QWidget *buildSourceSection();
    QWidget *buildAccountButton();
    void refresh();
    void refreshSources();

    AppModel &m_model;
    bool m_showingAccount = false;
    DirectionSection *m_directions = nullptr;
    QWidget *m_sourceSection = nullptr;
    QComboBox *m_sources = nullptr;
    QLabel *m_accessIcon = nullptr;
    QLabel *m_access = nullptr;
    QLabel *m_accessDetail = nullptr;
    QPushButton *m_retry = nullptr;
    QCheckBox *m_history = nullptr;
    QPushButton *m_account = nullptr;
    QLabel *m_avatar = nullptr;
    QLabel *m_nickname = nullptr;
    QLabel *m_balance = nullptr;
    QLabel *m_accountLabel = nullptr;
};

} // namespace TranslateMac
