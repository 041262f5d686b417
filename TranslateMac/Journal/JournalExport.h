#pragma once

#include "TranslateMac/Journal/JournalRecords.h"

#include "TranslateCore/Export/ExportedCaption.h"

#include <QList>

namespace TranslateMac {

// Captions of the journal as the export formats take them (`exportedCaption` of each).
QList<TranslateCore::ExportedCaption> exportedCaptions(const QList<JournalCaption> &captions);

} // namespace TranslateMac
