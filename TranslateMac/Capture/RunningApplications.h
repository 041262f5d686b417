#pragma once

#include "TranslateMac/Capture/AudioSource.h"
#include "TranslateMac/Capture/SoundServerClient.h"

#include <QList>

namespace TranslateMac {

// The source list built from the sound server's clients, whichever server reported them.
namespace RunningApplications {

// This process, the server's own services and clients without a process id or name are left out.
// Clients of one identity are one entry (the first one's), and a helper identity ("id.helper")
// joins the entry of its application: a capture of that entry hears all of them, so the list
// shows it once. Sorted by name (case-insensitive, numbers by value, stable), after the
// whole-system source.
QList<AudioSource> sources(const QList<SoundServerClient> &clients, qint64 ownPid);

} // namespace RunningApplications

} // namespace TranslateMac
