#pragma once

namespace TranslateMac {

// Whether the desktop draws translucent windows over what lies below them. On X11 that takes a
// compositing manager, which owns the selection "_NET_WM_CM_S<screen>"; without one the
// translucent parts of a window show black. Wayland compositors always composite; other
// platforms (offscreen) render translucency themselves.
bool desktopComposites();

} // namespace TranslateMac
