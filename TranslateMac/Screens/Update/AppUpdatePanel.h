#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

namespace TranslateMac {

class AppUpdateModel;

// The update prompt laid over the main window: what is new and the way to it.
class AppUpdatePanel : public QFrame {
    Q_OBJECT

public:
    static constexpr int panelWidth = 420;

    explicit AppUpdatePanel(AppUpdateModel &updates, QWidget *parent = nullptr);

    QString titleText() const;
    QPushButton &updateButton() const { return *m_update; }
    QPushButton &secondaryButton() const { return *m_secondary; }

private:
    void refresh();

    AppUpdateModel &m_updates;
    QLabel *m_title = nullptr;
    QLabel *m_version = nullptr;
    QLabel *m_text = nullptr;
    QLabel *m_notes = nullptr;
    QPushButton *m_update = nullptr;
    QPushButton *m_secondary = nullptr;
};

} // namespace TranslateMac
