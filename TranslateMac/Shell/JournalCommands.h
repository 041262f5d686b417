#pragma once

#include "TranslateMac/Journal/JournalRecords.h"
#include "TranslateMac/Shell/CommandLine.h"

#include "TranslateCore/Export/CaptionExport.h"

#include <QString>

namespace TranslateMac::JournalCommands {

// The command line's reads of the caption journal at `journalPath`, done read-only beside a
// running application. A journal that cannot be read is exit status 1; a session it does not
// hold is a usage mistake (2), as are the arguments CommandLine refuses before coming here.

// "--list-sessions": one line per session, newest first. No journal yet is no session (exit 0,
// a note on standard error).
CommandLineAnswer listSessions(const QString &journalPath);

struct SessionExport {
    qint64 sessionId = 0; // the journal's own id, as listed
    TranslateCore::ExportFormat format = TranslateCore::ExportFormat::text;
    TranslateCore::ExportText text = TranslateCore::ExportText::both;
    QString output; // a file, or "-" for standard output
};

// "--export": the session's captions in the format, written whole or not at all.
CommandLineAnswer exportSession(const QString &journalPath, const SessionExport &request);

// A session's line of the list, its columns apart by tabs: id, start (local time), duration
// (or "interrupted"/"recording"), direction, caption count, points charged (or "-"), source.
QString sessionLine(const JournalSession &session);

} // namespace TranslateMac::JournalCommands
