#pragma once

#include <QString>
#include <QTemporaryDir>

class LocalServiceProcess;
class QAction;
class QMenu;

namespace TranslateMac {
class AppModel;
}

namespace TestSupport {

// A home of its own for a whole application: its credential store (XDG_DATA_HOME) and its
// settings (XDG_CONFIG_HOME, QSettings) in a temporary folder, so a test never reads or writes
// the user's.
class IsolatedHome {
public:
    IsolatedHome();
    bool isValid() const { return m_folder.isValid(); }
    QString path() const { return m_folder.path(); }

private:
    QTemporaryDir m_folder;
};

// Signs the model in with the SMS code the service sent to `phone`; false when it did not work.
bool signIn(TranslateMac::AppModel &model, LocalServiceProcess &service, const QString &phone);

// The menu's action with this text, as the user reads it; null when there is none.
QAction *actionNamed(const QMenu &menu, const QString &text);

// Where tests write their screenshots for review (created on demand).
QString screenshotPath(const QString &name);

} // namespace TestSupport
