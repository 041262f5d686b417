#include "TranslateMac/Account/SessionSQLiteStore.h"

#include <QSettings>
#include <QStandardPaths>

namespace TranslateMac::SessionSQLite {

const QUrl &databaseURL()
{
    static const QUrl url = [] {
        const QString folder
            = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        if (folder.isEmpty())
            return QUrl();
        return QUrl::fromLocalFile(
            folder + QStringLiteral("/com.quorvel.translate.mac/session.sqlite3"));
    }();
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
