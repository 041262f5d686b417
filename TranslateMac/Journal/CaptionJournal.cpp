#include "TranslateMac/Journal/CaptionJournal.h"

#include "TranslateMac/Account/SessionSQLiteStore.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cstdio>
#include <utility>

namespace TranslateMac {

namespace {

// One transaction holds at most this many writes, so a long backlog is committed in steps.
constexpr qsizetype largestBatch = 500;

bool isPassing(const JournalFailure &failure)
{
    if (failure.kind() == JournalFailure::Case::queueFull)
        return false;
    switch (failure.resultCode() & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_FULL:
    case SQLITE_IOERR:
        return true;
    default:
        return false;
    }
}

} // namespace

QString CaptionJournal::defaultPath()
{
    const QUrl credentials = SessionSQLite::databaseURL();
    if (credentials.isEmpty())
        return {};
    return QFileInfo(credentials.toLocalFile()).path() + QStringLiteral("/journal.sqlite3");
}

std::unique_ptr<CaptionJournal> CaptionJournal::open(const QString &path, Options options)
{
    JournalDatabase::Connection writer = JournalDatabase::open(path, options.busyTimeout);
    JournalReader reader(JournalDatabase::open(path, options.busyTimeout));
    return std::unique_ptr<CaptionJournal>(
        new CaptionJournal(std::move(reader), std::move(writer), options));
}

QString CaptionJournal::setAside(const QString &path)
{
    const QString aside = path + QStringLiteral(".unreadable-")
        + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddThhmmsszzz"));
    // The log files keep SQLite's names beside the renamed file, so it still opens as it was.
    for (const char *suffix : { "", "-wal", "-shm" }) {
        const QByteArray from = QFile::encodeName(path + QLatin1String(suffix));
        const QByteArray to = QFile::encodeName(aside + QLatin1String(suffix));
        if (std::rename(from.constData(), to.constData()) != 0 && *suffix == '\0')
            throw JournalFailure::unavailable();
    }
    return aside;
}

CaptionJournal::CaptionJournal(
    JournalReader reader, JournalDatabase::Connection writer, Options options)
    : m_reader(std::move(reader)), m_writer(std::move(writer)), m_options(options),
      m_nextId(m_reader.latestSessionId() + 1), m_firstIdOfThisRun(m_nextId),
      m_retainedSessions(qMax(1, options.retainedSessions))
{
    m_thread = std::thread([this] { writerLoop(); });
}

CaptionJournal::~CaptionJournal()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
    m_statements.clear();
}

qint64 CaptionJournal::beginSession(const JournalSessionStart &start)
{
    if (start.serviceSessionId <= 0)
        return 0;
    const qint64 id = m_nextId++;
    return enqueue(Begin { id, start }) ? id : 0;
}

bool CaptionJournal::append(const JournalCaption &caption)
{
    if (caption.sessionId <= 0 || caption.sequence <= 0)
        return false;
    JournalCaption kept = caption;
    // The exported cue times rely on 0 <= appeared <= final.
    kept.appearedMs = qMax<qint64>(0, kept.appearedMs);
    kept.finalMs = qMax(kept.appearedMs, kept.finalMs);
    return enqueue(std::move(kept));
}

bool CaptionJournal::endSession(qint64 sessionId, qint64 endedAtMs)
{
    return enqueue(End { sessionId, endedAtMs });
}

bool CaptionJournal::recordCharge(qint64 sessionId, qint64 chargedPoints)
{
    return enqueue(Charge { sessionId, chargedPoints });
}

bool CaptionJournal::markInterrupted(qint64 sessionId)
{
    return enqueue(Interrupted { sessionId });
}

bool CaptionJournal::deleteSession(qint64 sessionId)
{
    return enqueue(Delete { sessionId });
}

bool CaptionJournal::clearHistory()
{
    return enqueue(Clear {});
}

bool CaptionJournal::setRetainedSessions(int count)
{
    return enqueue(Retain { qMax(1, count) });
}

QList<JournalSession> CaptionJournal::sessions() const
{
    return m_reader.sessions();
}

std::optional<JournalSession> CaptionJournal::session(qint64 sessionId) const
{
    return m_reader.session(sessionId);
}

QList<JournalSession> CaptionJournal::sessionsLeftOpen() const
{
    return m_reader.sessionsLeftOpenBefore(m_firstIdOfThisRun);
}

QList<JournalCaption> CaptionJournal::captions(qint64 sessionId) const
{
    return m_reader.captions(sessionId);
}

QList<JournalSearchHit> CaptionJournal::search(const QString &words, int limit) const
{
    return m_reader.search(words, limit);
}

bool CaptionJournal::enqueue(Command command)
{
    {
        const std::lock_guard lock(m_mutex);
        if (qsizetype(m_queue.size()) + m_inFlight < m_options.queueCapacity) {
            m_queue.push_back(std::move(command));
            m_wake.notify_one();
            return true;
        }
        m_failure = JournalFailure::queueFull();
        if (std::holds_alternative<JournalCaption>(command))
            ++m_lostCaptions;
    }
    Q_EMIT writeFailed();
    return false;
}

bool CaptionJournal::flush(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_progress.wait_for(
        lock, timeout, [this] { return m_queue.empty() && m_inFlight == 0; });
}

std::optional<JournalFailure> CaptionJournal::writeFailure() const
{
    const std::lock_guard lock(m_mutex);
    return m_failure;
}

qint64 CaptionJournal::lostCaptions() const
{
    const std::lock_guard lock(m_mutex);
    return m_lostCaptions;
}

void CaptionJournal::countLost(const std::deque<Command> &commands)
{
    for (const Command &command : commands)
        m_lostCaptions += std::holds_alternative<JournalCaption>(command) ? 1 : 0;
}

void CaptionJournal::writerLoop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty())
            return;
        std::deque<Command> batch;
        while (!m_queue.empty() && qsizetype(batch.size()) < largestBatch) {
            batch.push_back(std::move(m_queue.front()));
            m_queue.pop_front();
        }
        m_inFlight = qsizetype(batch.size());
        lock.unlock();
        std::optional<JournalFailure> failure;
        try {
            write(batch);
        } catch (const JournalFailure &caught) {
            failure = caught;
        }
        lock.lock();
        m_inFlight = 0;
        if (!failure) {
            m_writtenToAnnounce = true;
        } else {
            m_failure = failure;
            m_failureToAnnounce = true;
            if (isPassing(*failure) && !m_stopping) {
                // Kept in order at the front; the writes after them wait, so nothing is reordered.
                for (auto command = batch.rbegin(); command != batch.rend(); ++command)
                    m_queue.push_front(std::move(*command));
                requestAnnouncement();
                m_wake.wait_for(lock, m_options.retryDelay, [this] { return m_stopping; });
                continue;
            }
            countLost(batch);
            if (m_stopping) {
                // The owner is going away: a journal that fails now would hold up the end of
                // the process for a busy time-out per batch.
                countLost(m_queue);
                m_queue.clear();
            }
        }
        requestAnnouncement();
        m_progress.notify_all();
    }
}

void CaptionJournal::requestAnnouncement()
{
    if (m_announcePending)
        return;
    m_announcePending = true;
    // Posted by name: the owner's thread picks the news up under the lock.
    QMetaObject::invokeMethod(this, "announceProgress", Qt::QueuedConnection);
}

void CaptionJournal::announceProgress()
{
    bool written = false;
    bool failed = false;
    {
        const std::lock_guard lock(m_mutex);
        m_announcePending = false;
        written = std::exchange(m_writtenToAnnounce, false);
        failed = std::exchange(m_failureToAnnounce, false);
    }
    if (written)
        Q_EMIT this->written();
    if (failed)
        Q_EMIT writeFailed();
}

} // namespace TranslateMac
