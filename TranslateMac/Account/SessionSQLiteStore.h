#pragma once

#include "TranslateMac/Account/SQLiteSessionPreferences.h"
#include "TranslateMac/Account/SessionCredentialStore.h"
#include "TranslateMac/Account/SessionStorageFailure.h"

#include <QUrl>

namespace TranslateMac::SessionSQLite {

// "session.sqlite3" in "com.quorvel.translate.mac" under the user's data folder
// ($XDG_DATA_HOME, usually ~/.local/share). An empty URL when the system names no such folder;
// the store then fails every call with SessionStorageFailure::unavailable.
const QUrl &databaseURL();
// The same for the given XDG_DATA_HOME and HOME values: XDG_DATA_HOME when it is an absolute
// path, else HOME/.local/share when HOME is absolute, else an empty URL.
QUrl databaseURLFor(const QString &xdgDataHome, const QString &home);

// The application's one store: `databaseURL` with the restoration flag in the application's
// settings. Created on first use; lives until the process ends.
SessionCredentialStore &store();

} // namespace TranslateMac::SessionSQLite
