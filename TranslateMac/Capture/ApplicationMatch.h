#pragma once

#include "TranslateMac/Capture/AudioSource.h"

#include <QString>

#include <optional>

namespace TranslateMac {

// Which of the sound server's clients and streams belong to a chosen application. Both backends
// ask these, so a helper process is captured by one exactly when it is by the other.
namespace ApplicationMatch {

// The application's own process, or a helper whose identity equals the application's or begins
// with it followed by ".". Never the whole-system source, never this program.
bool belongsTo(
    const std::optional<qint32> &pid, const QString &identity, const AudioSource &source);

// `helper` names a helper of `identity` (equal, or `identity` followed by "." and more).
bool isHelperIdentity(const QString &helper, const QString &identity);

// This program's own process: never captured, never listed.
bool isOwnProcess(const std::optional<qint32> &pid);

// The sound server's own services (pipewire, pipewire-pulse, wireplumber, pulseaudio, ...),
// recognised by their binary: they are not applications a user could choose.
bool isSoundServerService(const QString &binary);

// Whether the process `pid` is running and able to play: gone, a zombie, or stopped (frozen by a
// signal or a debugger) counts as not delivering.
enum class ProcessState { running, stopped, gone };
ProcessState processState(qint32 pid);

} // namespace ApplicationMatch

} // namespace TranslateMac
