#pragma once

#include <QString>
#include <QtGlobal>

namespace TranslateCore {

// One caption as it leaves the application: where it belongs, its texts and its times on the
// session's audio clock (when it first appeared and when it became final).
struct ExportedCaption {
    qint64 sessionId = 0;
    qint64 sequence = 0;
    qint64 startMs = 0;
    qint64 endMs = 0;
    QString source;
    QString target;

    friend bool operator==(const ExportedCaption &, const ExportedCaption &) = default;
};

// Which languages a subtitle file shows.
enum class ExportText { source, target, both };

} // namespace TranslateCore
