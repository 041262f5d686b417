#include "SubtitleCues.h"

#include "CueText.h"

#include <QHash>

#include <algorithm>
#include <cmath>

namespace TranslateCore {

using namespace SubtitleTiming;

namespace {

// A caption reduced to what one export shows: single-line texts and clock readings put in order.
struct Piece {
    qint64 startMs = 0;
    qint64 endMs = 0;
    QString source;
    QString target;
};

using Session = QList<Piece>;

// Negative readings count as the session's start; an end before the start (a caption cannot
// become final before it appears) is taken as unknown, so the caption gets the minimum time.
Piece pieceOf(const ExportedCaption &caption, ExportText text)
{
    Piece piece;
    piece.startMs = std::clamp<qint64>(caption.startMs, 0, latestMs);
    piece.endMs = std::clamp<qint64>(caption.endMs, piece.startMs, latestMs);
    if (text != ExportText::target)
        piece.source = CueText::singleLine(caption.source);
    if (text != ExportText::source)
        piece.target = CueText::singleLine(caption.target);
    return piece;
}

QList<Session> sessionsOf(const QList<ExportedCaption> &captions, ExportText text)
{
    QList<Session> sessions;
    const QList<ExportedCaption> ordered = exportOrder(captions);
    for (qsizetype i = 0; i < ordered.size(); ++i) {
        if (i == 0 || ordered[i].sessionId != ordered[i - 1].sessionId)
            sessions.append(Session {});
        Piece piece = pieceOf(ordered[i], text);
        if (piece.source.isEmpty() && piece.target.isEmpty())
            continue;
        // A caption whose clock reading went back behind the caption before it (by sequence)
        // cannot be placed by its own times: it follows that caption, keeping its length.
        if (const Session &session = sessions.last();
            !session.isEmpty() && piece.startMs < session.last().startMs) {
            const qint64 length = piece.endMs - piece.startMs;
            piece.startMs = session.last().endMs;
            piece.endMs = piece.startMs + length;
        }
        sessions.last().append(std::move(piece));
    }
    sessions.removeIf([](const Session &session) { return session.isEmpty(); });
    return sessions;
}

bool fitsOneCue(const QString &text)
{
    // Wider than two full lines can never fit; checked first so a huge text is not wrapped.
    return CueText::width(text) <= CueText::linesPerLanguage * CueText::lineBudget
        && CueText::wrap(text).size() <= CueText::linesPerLanguage;
}

bool isFragment(const Piece &piece)
{
    const int widest = std::max(CueText::width(piece.source), CueText::width(piece.target));
    return widest <= fragmentWidth || piece.endMs - piece.startMs < minimumDisplayMs;
}

Session withFragmentsMerged(const Session &session)
{
    Session merged;
    for (const Piece &piece : session) {
        if (!merged.isEmpty() && isFragment(piece)
            && piece.startMs - merged.last().endMs <= fragmentGapMs) {
            Piece &before = merged.last();
            QString source = CueText::joined(before.source, piece.source);
            QString target = CueText::joined(before.target, piece.target);
            if (fitsOneCue(source) && fitsOneCue(target)) {
                before.source = std::move(source);
                before.target = std::move(target);
                before.endMs = std::max(before.endMs, piece.endMs);
                continue;
            }
        }
        merged.append(piece);
    }
    return merged;
}

double share(const QStringList &group, int total)
{
    if (total == 0)
        return 0;
    int groupWidth = 0;
    for (const QString &line : group)
        groupWidth += CueText::width(line);
    return double(groupWidth) / total;
}

int totalWidth(const QStringList &lines)
{
    int total = 0;
    for (const QString &line : lines)
        total += CueText::width(line);
    return total;
}

// The lines [ceil(k·n/count), ceil((k+1)·n/count)): groups of at most two lines, the fuller first.
QStringList group(const QStringList &lines, qsizetype k, qsizetype count)
{
    const auto boundary = [&](qsizetype i) { return (i * lines.size() + count - 1) / count; };
    return lines.mid(boundary(k), boundary(k + 1) - boundary(k));
}

// Splits a caption into as many cues as its longer language needs, each cue's time in proportion
// to the share of the text it shows (the mean of both languages' shares when both are shown).
QList<SubtitleCue> cuesOf(const Piece &piece)
{
    const QStringList source = CueText::balancedWrap(piece.source);
    const QStringList target = CueText::balancedWrap(piece.target);
    const qsizetype perCue = CueText::linesPerLanguage;
    const qsizetype count = std::max<qsizetype>(
        { 1, (source.size() + perCue - 1) / perCue, (target.size() + perCue - 1) / perCue });
    const int sourceWidth = totalWidth(source);
    const int targetWidth = totalWidth(target);
    const int languages = (sourceWidth > 0) + (targetWidth > 0);
    const qint64 duration = piece.endMs - piece.startMs;

    QList<SubtitleCue> cues;
    double shown = 0;
    qint64 start = piece.startMs;
    for (qsizetype k = 0; k < count; ++k) {
        SubtitleCue cue;
        cue.sourceLines = group(source, k, count);
        cue.targetLines = group(target, k, count);
        shown += (share(cue.sourceLines, sourceWidth) + share(cue.targetLines, targetWidth))
            / std::max(languages, 1);
        cue.startMs = start;
        cue.endMs
            = k + 1 == count ? piece.endMs : piece.startMs + std::llround(double(duration) * shown);
        cue.endMs = std::clamp(cue.endMs, start, piece.endMs);
        start = cue.endMs;
        cues.append(std::move(cue));
    }
    return cues;
}

// Starts only move later: each cue starts no earlier than it asked and at least the minimum after
// the cue before; it ends when it asked, but not before the minimum has passed and not after
// the next cue starts.
void makeMonotonic(QList<SubtitleCue> &cues)
{
    for (qsizetype i = 1; i < cues.size(); ++i)
        cues[i].startMs = std::max(cues[i].startMs, cues[i - 1].startMs + minimumDisplayMs);
    for (qsizetype i = 0; i < cues.size(); ++i) {
        cues[i].endMs = std::max(cues[i].endMs, cues[i].startMs + minimumDisplayMs);
        if (i + 1 < cues.size())
            cues[i].endMs = std::min(cues[i].endMs, cues[i + 1].startMs);
    }
}

// Each session's clock starts anew; a session whose first cue would start before the previous
// session's last one ended is moved behind it.
QList<SubtitleCue> placedAfterEachOther(const QList<QList<SubtitleCue>> &sessions)
{
    QList<SubtitleCue> all;
    for (QList<SubtitleCue> cues : sessions) {
        makeMonotonic(cues);
        if (!all.isEmpty() && !cues.isEmpty() && cues.first().startMs < all.last().endMs) {
            const qint64 shift = all.last().endMs + sessionPauseMs - cues.first().startMs;
            for (SubtitleCue &cue : cues) {
                cue.startMs += shift;
                cue.endMs += shift;
            }
        }
        all.append(cues);
    }
    return all;
}

SubtitleCue wholeCaption(const Piece &piece)
{
    SubtitleCue cue { piece.startMs, piece.endMs, {}, {} };
    if (!piece.source.isEmpty())
        cue.sourceLines.append(piece.source);
    if (!piece.target.isEmpty())
        cue.targetLines.append(piece.target);
    return cue;
}

} // namespace

QList<ExportedCaption> exportOrder(const QList<ExportedCaption> &captions)
{
    QList<qint64> sessionOrder;
    QHash<qint64, QList<ExportedCaption>> bySession;
    for (const ExportedCaption &caption : captions) {
        auto found = bySession.find(caption.sessionId);
        if (found == bySession.end()) {
            sessionOrder.append(caption.sessionId);
            found = bySession.insert(caption.sessionId, {});
        }
        found->append(caption);
    }
    QList<ExportedCaption> ordered;
    ordered.reserve(captions.size());
    for (qint64 id : sessionOrder) {
        QList<ExportedCaption> &session = bySession[id];
        std::stable_sort(session.begin(), session.end(),
            [](const auto &a, const auto &b) { return a.sequence < b.sequence; });
        ordered.append(session);
    }
    return ordered;
}

QList<SubtitleCue> subtitleCues(const QList<ExportedCaption> &captions, ExportText text)
{
    QList<QList<SubtitleCue>> sessions;
    for (const Session &session : sessionsOf(captions, text)) {
        QList<SubtitleCue> cues;
        for (const Piece &piece : withFragmentsMerged(session))
            cues.append(cuesOf(piece));
        sessions.append(std::move(cues));
    }
    return placedAfterEachOther(sessions);
}

QList<SubtitleCue> timedCaptions(const QList<ExportedCaption> &captions, ExportText text)
{
    QList<QList<SubtitleCue>> sessions;
    for (const Session &session : sessionsOf(captions, text)) {
        QList<SubtitleCue> cues;
        for (const Piece &piece : session)
            cues.append(wholeCaption(piece));
        sessions.append(std::move(cues));
    }
    return placedAfterEachOther(sessions);
}

} // namespace TranslateCore
