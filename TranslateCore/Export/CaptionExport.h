#pragma once

#include "ExportedCaption.h"

#include <QList>
#include <QString>

namespace TranslateCore {

enum class ExportFormat {
    text, // the plain transcript text of copy and export
    timedText, // the plain text with each caption's time
    srt, // SubRip subtitles
    webVtt, // WebVTT subtitles
    jsonLines, // one JSON object per caption, for scripts
};

// The file name suffix of a format, without the dot ("txt", "srt", "vtt", "jsonl").
QString exportSuffix(ExportFormat format);

// The file content of `captions` in `format`, in export order (sessions as they first occur,
// captions by sequence). `text` chooses the languages of the timed text and the subtitle formats;
// the plain text and JSON lines always carry both.
QString exportCaptions(const QList<ExportedCaption> &captions, ExportFormat format,
    ExportText text = ExportText::both);

// Clock readings as subtitle files write them: "01:02:03,456" (SubRip) and "01:02:03.456"
// (WebVTT and timed text); hours take more digits when needed.
QString subRipTime(qint64 ms);
QString webVttTime(qint64 ms);

} // namespace TranslateCore
