#pragma once

#include "TranslateMac/Journal/JournalRecords.h"

#include "TranslateCore/Export/ExportedCaption.h"

#include <QList>

namespace TranslateMac {

// Captions of the journal as the export formats take them: the journal's session id, and the
// times on the session's audio clock when each first appeared and became final.
TranslateCore::ExportedCaption exportedCaption(const JournalCaption &caption);
QList<TranslateCore::ExportedCaption> exportedCaptions(const QList<JournalCaption> &captions);

} // namespace TranslateMac
