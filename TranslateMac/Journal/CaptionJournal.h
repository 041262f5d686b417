#pragma once

#include "TranslateMac/Journal/JournalDatabase.h"
#include "TranslateMac/Journal/JournalFailure.h"
#include "TranslateMac/Journal/JournalReader.h"
#include "TranslateMac/Journal/JournalRecords.h"

#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>

namespace TranslateMac {

// The local history of what was read: sessions and their final captions in an SQLite journal in
// the user's data folder, kept as they arrive so that a crash loses at most the captions not yet
// final. Writes are queued and done in order by a writer thread of the journal's own, so the
// caller (the event loop that paints the captions) never waits for the disk; the queue is
// bounded, and a write that fails or does not fit is reported, never dropped in silence. Reads
// run on the caller's thread over a connection of their own; WAL lets them run beside the writer
// and beside other processes reading the same file.
//
// Created and used on one thread (the main thread); only the writer runs elsewhere.
class CaptionJournal : public QObject {
    Q_OBJECT
public:
    struct Options {
        int retainedSessions = 100; // the newest sessions kept; older ones are deleted
        qsizetype queueCapacity = 10000; // writes waiting for the disk at most
        // Pause before a write that failed for a passing reason (a busy or full disk) is retried.
        std::chrono::milliseconds retryDelay = std::chrono::seconds(1);
        // Longest wait for another connection's lock before a write or read fails with SQLITE_BUSY;
        // the writer's own transactions are short.
        std::chrono::milliseconds busyTimeout = std::chrono::seconds(2);
    };

    // "journal.sqlite3" beside the credential store, in the user's data folder; empty when the
    // system names no such folder.
    static QString defaultPath();
    // Opens or creates the journal. Throws JournalFailure; the file is then left as it is.
    static std::unique_ptr<CaptionJournal> open(const QString &path, Options options);
    static std::unique_ptr<CaptionJournal> open(const QString &path) { return open(path, {}); }
    // Renames a journal that cannot be opened (and its log files) out of the way, so that a new
    // one can start while the old one stays for whoever wants to rescue it; returns its new path.
    static QString setAside(const QString &path);

    // Writes everything still queued before it returns; once a write fails then, the rest is
    // given up (and counted) rather than each waiting for the busy time-out.
    ~CaptionJournal() override;

    // Writes, in the order given. Each returns at once; false means the write was refused
    // because the queue is full (reported through `writeFailure`).

    // A new session, recorded under the returned journal id (0 when the queue is full). The
    // oldest sessions beyond the retained number go in the same write.
    qint64 beginSession(const JournalSessionStart &start);
    // A caption that became final, or a final caption revised (the same session and sequence):
    // the texts are replaced, the earliest times kept. Captions of a session deleted meanwhile
    // are not kept. A sequence below 1 is refused.
    bool append(const JournalCaption &caption);
    bool endSession(qint64 sessionId, qint64 endedAtMs);
    bool recordCharge(qint64 sessionId, qint64 chargedPoints);
    // A session found unended at launch: ended at its last caption's time, marked interrupted.
    bool markInterrupted(qint64 sessionId);
    bool deleteSession(qint64 sessionId);
    // Deletes every session, also the one being recorded (nothing more of it is kept).
    bool clearHistory();
    // Keeps the newest `count` sessions (at least 1) from now on, deleting older ones at once.
    bool setRetainedSessions(int count);

    // Waits until every write queued so far is on disk or has failed; false after `timeout`.
    bool flush(std::chrono::milliseconds timeout);
    // The latest write failure, if any.
    std::optional<JournalFailure> writeFailure() const;
    // Captions that could not be kept because writing failed or the queue was full.
    qint64 lostCaptions() const;

    // Reads (throw JournalFailure). They see what the writer has committed.

    // Every session, newest first, with its caption count.
    QList<JournalSession> sessions() const;
    std::optional<JournalSession> session(qint64 sessionId) const;
    // Sessions recorded but never ended nor marked interrupted, newest first: at launch these are
    // the ones a crash or a kill cut off.
    QList<JournalSession> sessionsLeftOpen() const;
    // A session's captions in sequence order.
    QList<JournalCaption> captions(qint64 sessionId) const;
    // Captions holding every word of `words` (separated by white space) in their source or their
    // target, the newest first; at most `limit`.
    QList<JournalSearchHit> search(const QString &words, int limit = 500) const;

Q_SIGNALS:
    // Queued writes reached the disk (views of the history refresh).
    void written();
    // A write failed or was refused; `writeFailure` tells why.
    void writeFailed();

private:
    struct Begin {
        qint64 id;
        JournalSessionStart start;
    };
    struct End {
        qint64 id;
        qint64 endedAtMs;
    };
    struct Charge {
        qint64 id;
        qint64 points;
    };
    struct Interrupted {
        qint64 id;
    };
    struct Delete {
        qint64 id;
    };
    struct Clear { };
    struct Retain {
        int count;
    };
    using Command
        = std::variant<Begin, JournalCaption, End, Charge, Interrupted, Delete, Clear, Retain>;

    CaptionJournal(JournalReader reader, JournalDatabase::Connection writer, Options options);
    bool enqueue(Command command);
    void writerLoop();
    // Counts the captions among writes that will not be done (under the lock).
    void countLost(const std::deque<Command> &commands);
    // Runs one batch in one transaction (CaptionJournalWriter.cpp).
    void write(const std::deque<Command> &batch);
    Q_INVOKABLE void announceProgress();
    // Asks the owner's thread to announce what happened (under the lock).
    void requestAnnouncement();
    sqlite3_stmt *statement(const char *sql);

    JournalReader m_reader;
    JournalDatabase::Connection m_writer;
    const Options m_options;
    qint64 m_nextId;
    // Sessions from this id on were begun by this process, so none of them was cut off.
    const qint64 m_firstIdOfThisRun;
    int m_retainedSessions; // the writer's copy
    std::map<const char *, JournalDatabase::Statement> m_statements; // the writer's

    mutable std::mutex m_mutex;
    std::condition_variable m_wake; // the writer: work or stop
    std::condition_variable m_progress; // flush: a batch ended
    std::deque<Command> m_queue;
    qsizetype m_inFlight = 0; // taken by the writer, not yet ended
    bool m_stopping = false;
    std::optional<JournalFailure> m_failure;
    qint64 m_lostCaptions = 0;
    bool m_announcePending = false;
    bool m_writtenToAnnounce = false;
    bool m_failureToAnnounce = false;
    std::thread m_thread;
};

} // namespace TranslateMac
