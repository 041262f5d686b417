#pragma once

#include "TranslateCore/Contract/Credentials.h"
#include "TranslateMac/Account/PendingSession.h"
#include "TranslateMac/Account/SessionRestorePreferences.h"

#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct sqlite3;

namespace TranslateMac {

// Keeps the signed-in token pair in a one-row SQLite database so that a restart stays signed in.
// Each call opens, hardens, migrates, works and closes; nothing stays open in between. A save
// raises the restoration flag first and lowers it only after new credentials were written, so a
// failed or interrupted write can never bring back older or someone else's credentials.
//
// Throws SessionStorageFailure, or std::filesystem::filesystem_error when creating the folder,
// reading an item's attributes or setting permissions fails.
class SessionCredentialStore {
public:
    // Touches nothing on disk.
    SessionCredentialStore(
        QUrl databaseURL, std::shared_ptr<SessionRestorePreferences> preferences);

    const QUrl &databaseURL() const { return m_databaseURL; }
    SessionRestorePreferences &preferences() const { return *m_preferences; }

    // Nothing, without opening the database, while restoration is disabled; otherwise the stored
    // pair, or nothing when none is stored.
    std::optional<TranslateCore::Credentials> load() const;
    // Replaces the stored pair, or deletes it when given nothing (the flag then stays raised).
    void save(const std::optional<TranslateCore::Credentials> &credentials) const;

    // Sessions created on the service whose settlement is not confirmed, oldest first. Read
    // whatever the restoration flag says: a session the service bills must be settled even
    // after its sign-in was lost. A row whose id no settlement could use fails with
    // invalidPendingSession; an unreadable route or time only comes back empty.
    std::vector<PendingSession> pendingSessions() const;
    // Records a created session durably (full synchronous write) before anything else is done
    // with it; recording the same id again replaces its route and time. A caller whose record
    // failed must not go on with the session. Throws invalidPendingSession for an id not above
    // 0, a route that is empty, holds U+0000 or passes 256 UTF-8 bytes, or a missing time.
    void recordPendingSession(const PendingSession &session) const;
    // Forgets a session once its settlement is confirmed; an id not recorded is no error.
    void removePendingSession(qint64 sessionId) const;

private:
    void withDatabase(const std::function<void(sqlite3 *)> &body) const;

    const QUrl m_databaseURL;
    const std::shared_ptr<SessionRestorePreferences> m_preferences;
};

} // namespace TranslateMac
