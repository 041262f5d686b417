#include "TranslateMac/Journal/JournalExport.h"

namespace TranslateMac {

QList<TranslateCore::ExportedCaption> exportedCaptions(const QList<JournalCaption> &captions)
{
    QList<TranslateCore::ExportedCaption> exported;
    exported.reserve(captions.size());
    for (const JournalCaption &caption : captions)
        exported.append(exportedCaption(caption));
    return exported;
}

} // namespace TranslateMac
