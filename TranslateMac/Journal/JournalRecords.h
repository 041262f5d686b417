#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace TranslateMac {

// What the journal keeps of a session when its recording begins.
struct JournalSessionStart {
    qint64 serviceSessionId = 0; // the service's id (greater than 0)
    QString routeCode; // "EN_ZH"
    QString direction; // the direction's name as shown then ("English → 中文")
    QString sourceName; // the audio source ("全电脑播放音频" or an application)
    qint64 startedAtMs = 0; // wall clock, milliseconds since 1970 UTC
};

// A recorded session as the history lists it.
struct JournalSession {
    qint64 id = 0; // the journal's own id; service ids repeat across services
    qint64 serviceSessionId = 0;
    QString routeCode;
    QString direction;
    QString sourceName;
    qint64 startedAtMs = 0;
    // Nothing while it is recorded, and after the process ended without ending it.
    std::optional<qint64> endedAtMs;
    // It was found unended at a later launch (a crash, a kill or a power cut).
    bool interrupted = false;
    std::optional<qint64> chargedPoints; // once the settlement told
    qint64 captionCount = 0;

    friend bool operator==(const JournalSession &, const JournalSession &) = default;
};

// One final caption. The times are the session's audio clock (milliseconds of audio since the
// session started): when the caption first appeared and when it became final.
struct JournalCaption {
    qint64 sessionId = 0; // the journal's session id
    qint64 sequence = 0; // the service's segment number (greater than 0)
    QString source;
    QString target;
    qint64 appearedMs = 0;
    qint64 finalMs = 0;

    friend bool operator==(const JournalCaption &, const JournalCaption &) = default;
};

// A caption found by a search, with what identifies its session in a result list.
struct JournalSearchHit {
    JournalCaption caption;
    qint64 sessionStartedAtMs = 0;
    QString direction;

    friend bool operator==(const JournalSearchHit &, const JournalSearchHit &) = default;
};

} // namespace TranslateMac
