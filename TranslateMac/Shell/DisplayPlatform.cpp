#include "DisplayPlatform.h"

#include <QtGlobal>

namespace TranslateMac {

std::optional<QByteArray> preferredDisplayPlatform(const DisplayEnvironment &environment)
{
    if (environment.platformChosen)
        return std::nullopt;
    const bool wayland
        = environment.sessionType == "wayland" || !environment.waylandDisplay.isEmpty();
    // Without an X server there is nothing to fall back to: Wayland it is.
    if (!wayland || environment.x11Display.isEmpty())
        return std::nullopt;
    return QByteArray("xcb");
}

void choosePreferredDisplayPlatform()
{
    const DisplayEnvironment environment { qgetenv("XDG_SESSION_TYPE"), qgetenv("WAYLAND_DISPLAY"),
        qgetenv("DISPLAY"), qEnvironmentVariableIsSet("QT_QPA_PLATFORM") };
    if (const auto platform = preferredDisplayPlatform(environment))
        qputenv("QT_QPA_PLATFORM", *platform);
}

} // namespace TranslateMac
