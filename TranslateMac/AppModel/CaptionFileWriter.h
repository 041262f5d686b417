#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace TranslateMac {

// Why an export file could not be written.
enum class ExportWriteFailure {
    unwritable, // the folder is missing, read-only or not ours
    diskFull, // the file system had no room (or the file exceeded what it may hold)
};

// The user's text for a failure, in the words of the transcript's own save error.
QString exportWriteFailureText(ExportWriteFailure failure);

// Writes `bytes` to `path` through a temporary file that replaces the target only once it is
// complete: on failure nothing is left behind and an existing file keeps its old content.
std::optional<ExportWriteFailure> writeExportFile(const QString &path, const QByteArray &bytes);

} // namespace TranslateMac
