#pragma once

#include <QWidget>

namespace TranslateMac {

class AppUpdateModel;

// The update prompt laid over the main window.
class AppUpdatePanel : public QWidget {
    Q_OBJECT

public:
    explicit AppUpdatePanel(AppUpdateModel &updates, QWidget *parent = nullptr);

private:
    AppUpdateModel &m_updates;
};

} // namespace TranslateMac
