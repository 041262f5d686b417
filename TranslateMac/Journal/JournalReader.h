#pragma once

#include "TranslateMac/Journal/JournalDatabase.h"
#include "TranslateMac/Journal/JournalRecords.h"

#include <QList>
#include <QString>

#include <chrono>
#include <optional>

namespace TranslateMac {

// The journal's queries over one connection of their own. The journal reads through one beside
// its writer; another process (the command line, while the application records) opens one
// read-only, which WAL lets it do beside the writer. Every read throws JournalFailure.
class JournalReader {
public:
    // Reads the journal at `path` without creating, changing or migrating anything; nothing when
    // there is no file there. Throws JournalFailure for a file that cannot be read as a journal.
    static std::optional<JournalReader> openReadOnly(
        const QString &path, std::chrono::milliseconds busyTimeout = std::chrono::seconds(2));

    explicit JournalReader(JournalDatabase::Connection db);

    // Every session, newest first, with its caption count.
    QList<JournalSession> sessions() const;
    std::optional<JournalSession> session(qint64 sessionId) const;
    // Sessions with an id below `sessionId`, never ended nor marked interrupted, newest first.
    QList<JournalSession> sessionsLeftOpenBefore(qint64 sessionId) const;
    // The highest session id recorded so far (0 for none).
    qint64 latestSessionId() const;
    // A session's captions in sequence order.
    QList<JournalCaption> captions(qint64 sessionId) const;
    // Captions holding every word of `words` (separated by white space) in their source or their
    // target, the newest first; at most `limit`.
    QList<JournalSearchHit> search(const QString &words, int limit) const;

private:
    JournalDatabase::Connection m_db;
};

} // namespace TranslateMac
