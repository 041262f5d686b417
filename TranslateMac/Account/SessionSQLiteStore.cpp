#include "TranslateMac/Account/SessionSQLiteStore.h"

#include <QDir>
#include <QSettings>

namespace TranslateMac::SessionSQLite {

QUrl databaseURLFor(const QString &xdgDataHome, const QString &home)
{
    // A relative XDG_DATA_HOME is invalid and ignored: it would put the tokens under whatever
    // folder the application was started from.
    QString folder = QDir::isAbsolutePath(xdgDataHome) ? xdgDataHome : QString();
    if (folder.isEmpty() && QDir::isAbsolutePath(home))
        folder = home + QStringLiteral("/.local/share");
    if (folder.isEmpty())
        return QUrl();
    return QUrl::fromLocalFile(
        QDir::cleanPath(folder + QStringLiteral("/com.quorvel.translate.mac/session.sqlite3")));
}

const QUrl &databaseURL()
{
    static const QUrl url
        = databaseURLFor(qEnvironmentVariable("XDG_DATA_HOME"), qEnvironmentVariable("HOME"));
    return url;
}

SessionCredentialStore &store()
{
    static QSettings defaults(QStringLiteral("Quorvel"), QStringLiteral("QuorvelTranslate"));
    static SessionCredentialStore store(
        databaseURL(), std::make_shared<SQLiteSessionPreferences>(defaults));
    return store;
}

} // namespace TranslateMac::SessionSQLite
