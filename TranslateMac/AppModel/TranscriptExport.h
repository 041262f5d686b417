#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace TranslateMac {

// How the transcript leaves the application: a clipboard and a save location, replaceable so
// that tests can observe both.
struct TranscriptExport {
    using Copy = std::function<void(const QString &text)>;
    // Reports the chosen file path, or nothing when the user cancelled. Never blocks the caller.
    using Completion = std::function<void(std::optional<QString> path)>;
    using ChooseSaveLocation = std::function<void(const QString &proposedName, Completion)>;

    // Replaces the clipboard's content with `text` as a plain string.
    Copy copy;
    ChooseSaveLocation chooseSaveLocation;

    // The desktop's clipboard and a non-modal save dialog offering the proposed name's type
    // (needs a QApplication).
    static TranscriptExport desktop();
};

// Writes `text` to `path` as UTF-8, atomically: on failure the file is left as it was.
bool writeTextAtomically(const QString &path, const QString &text);

} // namespace TranslateMac
