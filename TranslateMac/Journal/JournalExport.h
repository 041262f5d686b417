#pragma once

#include "TranslateMac/Journal/JournalRecords.h"

#include "TranslateCore/Export/CaptionExport.h"

#include <QList>
#include <QString>

namespace TranslateMac {

// The file content of journal captions in `format`: each caption is shown from when it first
// appeared until it became final (see TranslateCore::exportCaptions).
QString exportJournalCaptions(const QList<JournalCaption> &captions,
    TranslateCore::ExportFormat format,
    TranslateCore::ExportText text = TranslateCore::ExportText::both);

} // namespace TranslateMac
