#include "TranslateMac/Screens/History/ExportSaving.h"

#include <QPointer>

namespace TranslateMac {

void saveExport(const TranscriptExport::ChooseSaveLocation &choose, const QString &proposedName,
    const QString &content, QObject *receiver, ExportSaved saved)
{
    choose(proposedName,
        [guard = QPointer<QObject>(receiver), content, saved = std::move(saved)](
            std::optional<QString> path) {
            if (!guard || !path)
                return;
            saved(*path, writeExportFile(*path, content.toUtf8()));
        });
}

} // namespace TranslateMac
