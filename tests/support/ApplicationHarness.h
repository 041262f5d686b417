#pragma once

#include "support/LocalServiceProcess.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

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

// What a whole application runs in during a test: a home of its own and the local service, whose
// address the application's service client takes from the environment.
class ApplicationSurroundings {
public:
    ApplicationSurroundings();
    bool isReady() const { return m_home.isValid() && m_service.isRunning(); }
    QString failure() const { return m_service.failure(); }
    LocalServiceProcess &service() { return m_service; }
    // The application's own model (restoring the sign-in from this home), talking to this
    // surroundings' service.
    std::unique_ptr<TranslateMac::AppModel> model() const;

private:
    IsolatedHome m_home;
    LocalServiceProcess m_service;
};

// The model as the application builds it (real service client of `service`, real capture,
// system clock), with the clipboard and the save dialog left out.
std::unique_ptr<TranslateMac::AppModel> applicationModel(const LocalServiceProcess &service);

// Signs the model in with the SMS code the service sent to `phone`; false when it did not work.
bool signIn(TranslateMac::AppModel &model, LocalServiceProcess &service, const QString &phone);

// The menu's action with this text, as the user reads it; null when there is none.
QAction *actionNamed(const QMenu &menu, const QString &text);

// Where tests write their screenshots for review (created on demand).
QString screenshotPath(const QString &name);

} // namespace TestSupport
