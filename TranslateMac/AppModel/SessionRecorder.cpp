#include "TranslateMac/AppModel/SessionRecorder.h"

#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Journal/CaptionJournal.h"

#include <QDateTime>

#include <chrono>

using namespace TranslateCore;

namespace TranslateMac {

namespace {

// The session's translation is over: nothing more will be heard or captioned.
bool isOver(ListeningState state)
{
    switch (state) {
    case ListeningState::pending:
    case ListeningState::completed:
    case ListeningState::failed:
    case ListeningState::idle:
        return true;
    default:
        return false;
    }
}

} // namespace

SessionRecorder::SessionRecorder(
    AppModel &model, CaptionJournal &journal, std::function<bool()> keepsHistory, QObject *parent)
    : QObject(parent), m_model(model), m_journal(journal), m_keepsHistory(std::move(keepsHistory)),
      m_clock(model.clock())
{
    connect(&model, &AppModel::sessionIDChanged, this, &SessionRecorder::sessionChanged);
    connect(&model, &AppModel::stateChanged, this, &SessionRecorder::stateChanged);
    connect(&model, &AppModel::transcriptChanged, this, &SessionRecorder::transcriptChanged);
}

void SessionRecorder::sessionChanged()
{
    const std::optional<qint64> id = m_model.sessionID();
    // Only a session this run creates is recorded; one an earlier run left for settlement is
    // already in the journal (or was never meant to be).
    if (!id || id == m_serviceSession || m_model.state() != ListeningState::preparing)
        return;
    m_serviceSession = id;
    m_start.reset();
    m_session.reset();
    m_listeningSince.reset();
    m_captions.clear();
    m_ended = false;
    m_chargeWritten = false;
    if (!m_keepsHistory())
        return;
    const auto route = m_model.route();
    m_start = JournalSessionStart { .serviceSessionId = *id,
        .routeCode = m_model.selectedRoute(),
        .direction = route ? route->name : m_model.selectedRoute(),
        .sourceName = m_model.selectedSource().name,
        .startedAtMs = QDateTime::currentMSecsSinceEpoch() };
}

std::optional<qint64> SessionRecorder::beginInJournal()
{
    if (!m_session && m_start) {
        if (const qint64 id = m_journal.beginSession(*m_start); id > 0)
            m_session = id;
    }
    return m_session;
}

void SessionRecorder::stateChanged()
{
    if (!m_start)
        return;
    const ListeningState state = m_model.state();
    if (state == ListeningState::listening && !m_listeningSince)
        m_listeningSince = m_clock.now();
    if (isOver(state))
        endSession();
}

void SessionRecorder::transcriptChanged()
{
    if (!m_start)
        return;
    writeCaptions(m_ended);
    const auto &transcript = m_model.transcript();
    if (m_session && transcript.finished() && !m_chargeWritten)
        m_chargeWritten = m_journal.recordCharge(*m_session, transcript.ledgerCharged());
}

void SessionRecorder::writeCaptions(bool ending)
{
    const qint64 now = audioClockMs();
    for (const Caption &caption : m_model.transcript().captions()) {
        if (caption.source.isEmpty() && caption.target.isEmpty())
            continue;
        auto [entry, appeared] = m_captions.try_emplace(caption.sequence);
        Tracked &tracked = entry->second;
        if (appeared)
            tracked.appearedMs = now;
        const bool textsChanged
            = tracked.source != caption.source || tracked.target != caption.target;
        const bool due = ending ? !tracked.written || textsChanged
                                : caption.sourceFinal
                && (!tracked.written || (caption.targetFinal && !tracked.targetFinalWritten)
                    || (tracked.targetFinalWritten && textsChanged));
        if (!due)
            continue;
        const std::optional<qint64> session = beginInJournal();
        if (!session)
            return; // refused (the journal reports it); tried again at the next change
        const bool written = m_journal.append({ .sessionId = *session,
            .sequence = caption.sequence,
            .source = caption.source,
            .target = caption.target,
            .appearedMs = tracked.appearedMs,
            .finalMs = now });
        if (!written)
            continue; // refused (the journal reports it); tried again at the next change
        tracked.written = true;
        tracked.targetFinalWritten = caption.targetFinal;
        tracked.source = caption.source;
        tracked.target = caption.target;
    }
}

void SessionRecorder::endSession()
{
    if (m_ended)
        return;
    m_ended = true;
    writeCaptions(true);
    if (m_session)
        m_journal.endSession(*m_session, QDateTime::currentMSecsSinceEpoch());
}

qint64 SessionRecorder::audioClockMs() const
{
    if (!m_listeningSince)
        return 0;
    return std::chrono::duration_cast<std::chrono::milliseconds>(m_clock.now() - *m_listeningSince)
        .count();
}

} // namespace TranslateMac
