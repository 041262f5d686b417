#pragma once

#include "TranslateMac/Journal/JournalRecords.h"

#include "TranslateCore/Async/Clock.h"
#include "TranslateCore/Contract/Instant.h"

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <optional>

namespace TranslateMac {

class AppModel;
class CaptionJournal;

// Keeps what the user reads: each translation the model starts is recorded in the caption
// journal from its first caption on (a session nothing was read in is not history), and each
// caption as soon as its source is final (again when its translation settles
// or is revised), so that a crash or a kill loses at most the captions not yet final. Times are
// the session's audio clock: the capture delivers sound in real time, so the time since listening
// began is how much sound was heard.
class SessionRecorder : public QObject {
    Q_OBJECT
public:
    // `keepsHistory` is asked at the start of each session (the user's local-history switch).
    SessionRecorder(AppModel &model, CaptionJournal &journal, std::function<bool()> keepsHistory,
        QObject *parent = nullptr);

    // The journal id of the latest session this run recorded (the live transcript's, until the
    // next one is created); nothing before its first caption was written.
    std::optional<qint64> journalSession() const { return m_session; }

private:
    struct Tracked {
        qint64 appearedMs = 0;
        bool written = false;
        bool targetFinalWritten = false;
        QString source;
        QString target;
    };

    void sessionChanged();
    void stateChanged();
    void transcriptChanged();
    // Writes every caption whose source is final and whose written texts are out of date; at the
    // end of a session (`ending`) also those still open, since nothing will complete them.
    void writeCaptions(bool ending);
    void endSession();
    // The journal id of the session, begun in the journal now when it is not yet.
    std::optional<qint64> beginInJournal();
    qint64 audioClockMs() const;

    AppModel &m_model;
    CaptionJournal &m_journal;
    std::function<bool()> m_keepsHistory;
    TranslateCore::Clock &m_clock;

    std::optional<qint64> m_serviceSession;
    // The session to record, until the journal has it under `m_session`.
    std::optional<JournalSessionStart> m_start;
    std::optional<qint64> m_session;
    std::optional<TranslateCore::Instant> m_listeningSince;
    bool m_ended = false;
    bool m_chargeWritten = false;
    std::map<qint64, Tracked> m_captions; // by sequence
};

} // namespace TranslateMac
