#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace TranslateMac {

class AppUpdateModel;

// The account screen's row with the installed version and a manual update check.
class AppUpdateCheckRow : public QWidget {
    Q_OBJECT

public:
    explicit AppUpdateCheckRow(AppUpdateModel &updates, QWidget *parent = nullptr);
    void setSessionActive(bool active);

    QString labelText() const;
    QString statusText() const;
    QPushButton &checkButton() const { return *m_check; }

private:
    void refresh();

    AppUpdateModel &m_updates;
    bool m_sessionActive = false;
    QLabel *m_label = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_check = nullptr;
};

} // namespace TranslateMac
