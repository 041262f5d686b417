#pragma once

#include "Caption.h"

#include <QList>
#include <QString>
#include <QtGlobal>

namespace TranslateCore {

struct ServerEvent;

// The client's account of one listening session: captions in ascending sequence order, the replay
// cursor a reconnect resumes from, and the points figures the service reported.
class Transcript {
public:
    // Pruning runs only once the list holds this many captions.
    static constexpr qsizetype pruningThreshold = 301;
    // Captions more than this many segments behind the replay cursor are dropped when pruning.
    static constexpr qint64 keptWindow = 300;
    // A list this long after pruning means the service never completes segments.
    static constexpr qsizetype hardCeiling = 601;

    explicit Transcript(qint64 remaining = 0) : m_remaining(remaining) { }

    const QList<Caption> &captions() const { return m_captions; }
    qint64 replayCursor() const { return m_replayCursor; }
    qint64 used() const { return m_used; }
    qint64 remaining() const { return m_remaining; }
    bool finished() const { return m_finished; }
    qint64 ledgerCharged() const { return m_ledgerCharged; }

    // Applies a caption, usage or finish event; other types are ignored. A malformed caption event
    // throws TranslationFailure::invalidResponse and changes nothing; an update that leaves too
    // many open captions stays applied and then throws TranslationFailure::queueFull.
    void apply(const ServerEvent &event);

    // Source and target of each caption on two lines, captions separated by a blank line.
    QString plainText() const;

    friend bool operator==(const Transcript &, const Transcript &) = default;

private:
    void applyCaption(const ServerEvent &event, bool source, bool final);
    void applyUsage(const ServerEvent &event);
    void applyFinish(const ServerEvent &event);

    QList<Caption> m_captions;
    qint64 m_replayCursor = 0;
    qint64 m_used = 0;
    qint64 m_remaining = 0;
    bool m_finished = false;
    qint64 m_ledgerCharged = 0;
};

} // namespace TranslateCore
