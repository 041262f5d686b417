#pragma once

#include "TranslateMac/AppModel/CaptionFileWriter.h"
#include "TranslateMac/AppModel/TranscriptExport.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace TranslateMac {

// What came of saving an export: the file's path, and why it could not be written, if so.
using ExportSaved = std::function<void(const QString &path, std::optional<ExportWriteFailure>)>;

// Asks for a place through `choose` (the save dialog), proposing `proposedName`, and writes
// `content` there as UTF-8, completely or not at all; `saved` hears the outcome. Nothing happens
// when the user cancels, or when `receiver` is gone by then.
void saveExport(const TranscriptExport::ChooseSaveLocation &choose, const QString &proposedName,
    const QString &content, QObject *receiver, ExportSaved saved);

} // namespace TranslateMac
