#include "TranslateMac/Journal/JournalExport.h"

namespace TranslateMac {

QString exportJournalCaptions(const QList<JournalCaption> &captions,
    TranslateCore::ExportFormat format, TranslateCore::ExportText text)
{
    QList<TranslateCore::ExportedCaption> exported;
    exported.reserve(captions.size());
    for (const JournalCaption &caption : captions)
        exported.append({ caption.sessionId, caption.sequence, caption.appearedMs, caption.finalMs,
            caption.source, caption.target });
    return TranslateCore::exportCaptions(exported, format, text);
}

} // namespace TranslateMac
