#pragma once

#include <QByteArray>

#include <optional>

namespace TranslateMac {

// The parts of the environment that decide which display platform Qt should use.
struct DisplayEnvironment {
    QByteArray sessionType; // XDG_SESSION_TYPE
    QByteArray waylandDisplay; // WAYLAND_DISPLAY
    QByteArray x11Display; // DISPLAY
    bool platformChosen = false; // QT_QPA_PLATFORM is set
};

// "xcb" on a Wayland session that also offers XWayland, unless the user chose a platform:
// Wayland compositors ignore a client's stay-on-top request, so the floating subtitles would
// sink behind the video they are meant to cover.
std::optional<QByteArray> preferredDisplayPlatform(const DisplayEnvironment &environment);

// Reads the environment and sets QT_QPA_PLATFORM; call before the application object exists.
void choosePreferredDisplayPlatform();

} // namespace TranslateMac
