#include "TranslateMac/Account/SessionCredentialStore.h"

#include "TranslateMac/Account/SessionDatabase.h"
#include "TranslateMac/Account/SessionStorageFailure.h"

#include <sqlite3.h>

#include <exception>

namespace TranslateMac {

using TranslateCore::Credentials;

namespace {

constexpr char selectCredentials[] = "SELECT access_token, refresh_token FROM session WHERE id = 1";

constexpr char upsertCredentials[]
    = "INSERT INTO session (id, access_token, refresh_token) VALUES (1, ?, ?)\n"
      "ON CONFLICT(id) DO UPDATE SET\n"
      "    access_token = excluded.access_token, refresh_token = excluded.refresh_token";

std::optional<Credentials> loadBody(sqlite3 *db)
{
    SessionDatabase::Statement statement = SessionDatabase::prepare(db, selectCredentials);
    int result = sqlite3_step(statement.get());
    if (result == SQLITE_DONE)
        return std::nullopt;
    if (result != SQLITE_ROW)
        throw SessionStorageFailure::database(result);
    Credentials credentials {
        SessionDatabase::text(statement.get(), 0),
        SessionDatabase::text(statement.get(), 1),
    };
    SessionDatabase::validate(credentials);
    result = sqlite3_step(statement.get());
    if (result != SQLITE_DONE)
        throw SessionStorageFailure::database(result);
    return credentials;
}

using SessionDatabase::beginWrite;
using SessionDatabase::commit;
using SessionDatabase::rollBack;

void upsertBody(sqlite3 *db, const Credentials &credentials)
{
    beginWrite(db);
    try {
        SessionDatabase::Statement statement = SessionDatabase::prepare(db, upsertCredentials);
        SessionDatabase::bind(credentials.accessToken, statement.get(), 1);
        SessionDatabase::bind(credentials.refreshToken, statement.get(), 2);
        const int result = sqlite3_step(statement.get());
        if (result != SQLITE_DONE)
            throw SessionStorageFailure::database(result);
    } catch (...) {
        // The statement is already finalized here: it was destroyed while unwinding.
        rollBack(db);
        throw;
    }
    commit(db);
}

void deleteBody(sqlite3 *db)
{
    beginWrite(db);
    const int result = sqlite3_exec(db, "DELETE FROM session", nullptr, nullptr, nullptr);
    if (result != SQLITE_OK) {
        rollBack(db);
        throw SessionStorageFailure::database(result);
    }
    commit(db);
}

} // namespace

SessionCredentialStore::SessionCredentialStore(
    QUrl databaseURL, std::shared_ptr<SessionRestorePreferences> preferences)
    : m_databaseURL(std::move(databaseURL)), m_preferences(std::move(preferences))
{
}

std::optional<Credentials> SessionCredentialStore::load() const
{
    if (m_preferences->restorationDisabled())
        return std::nullopt;
    std::optional<Credentials> credentials;
    withDatabase([&credentials](sqlite3 *db) { credentials = loadBody(db); });
    return credentials;
}

void SessionCredentialStore::withDatabase(const std::function<void(sqlite3 *)> &body) const
{
    const SessionDatabase::Connection db = SessionDatabase::open(m_databaseURL);
    body(db.get());
}

void SessionCredentialStore::save(const std::optional<Credentials> &credentials) const
{
    std::exception_ptr flagFailure;
    try {
        m_preferences->setRestorationDisabled(true);
    } catch (...) {
        if (credentials)
            throw;
        // A sign-out whose flag could not be made durable still removes the stored pair: with the
        // row gone, nothing can be restored whatever the flag reads at the next start.
        flagFailure = std::current_exception();
    }
    if (!credentials) {
        withDatabase(deleteBody);
        if (flagFailure)
            std::rethrow_exception(flagFailure);
        return;
    }
    SessionDatabase::validate(*credentials);
    withDatabase([&credentials](sqlite3 *db) { upsertBody(db, *credentials); });
    m_preferences->setRestorationDisabled(false);
}

} // namespace TranslateMac
