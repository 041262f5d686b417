#pragma once

#include "ExportedCaption.h"

#include <QList>
#include <QStringList>
#include <QtGlobal>

namespace TranslateCore {

// One timed block of a subtitle file: the lines of each language it shows.
struct SubtitleCue {
    qint64 startMs = 0;
    qint64 endMs = 0;
    QStringList sourceLines;
    QStringList targetLines;

    friend bool operator==(const SubtitleCue &, const SubtitleCue &) = default;
};

namespace SubtitleTiming {
// Shortest time a cue stays on screen.
constexpr qint64 minimumDisplayMs = 800;
// A caption is a fragment worth merging into the one before when its text is at most this wide
// (about 10 Latin or 4 CJK characters) or it would be shown for less than the minimum...
constexpr int fragmentWidth = 84;
// ...and it begins at most this long after the one before ended.
constexpr qint64 fragmentGapMs = 1000;
// Sessions of one file follow each other with this pause when their clocks would overlap.
constexpr qint64 sessionPauseMs = 1000;
// Clock readings are held to this range (0 to about 31 years), so no arithmetic can overflow.
constexpr qint64 latestMs = 1'000'000'000'000;
} // namespace SubtitleTiming

// The order every export uses: sessions in the order they first occur, captions of a session by
// ascending sequence (equal sequences keep their order).
QList<ExportedCaption> exportOrder(const QList<ExportedCaption> &captions);

// Subtitle cues of `captions` showing `text`: each caption's lines wrapped to the reading limits,
// long captions split into cues of at most two lines per language, short fragments merged into
// the caption before, and times made monotonic without overlaps, each cue shown at least
// `minimumDisplayMs`. Captions with nothing to show in `text` give no cue.
QList<SubtitleCue> subtitleCues(const QList<ExportedCaption> &captions, ExportText text);

// One entry per caption with something to show in `text`, each language on a single line, timed
// by the same rules as the cues (without splitting or merging).
QList<SubtitleCue> timedCaptions(const QList<ExportedCaption> &captions, ExportText text);

} // namespace TranslateCore
