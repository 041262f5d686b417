#pragma once

#include "TranslateCore/Contract/Credentials.h"
#include "TranslateMac/Account/SessionRestorePreferences.h"

#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

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

private:
    void withDatabase(const std::function<void(sqlite3 *)> &body) const;

    const QUrl m_databaseURL;
    const std::shared_ptr<SessionRestorePreferences> m_preferences;
};

} // namespace TranslateMac
