#pragma once

// The client's user-defaults keys (QSettings "Quorvel" / "QuorvelTranslate") with their defaults.
// The names are stored on users' machines: never rename them.
namespace TranslateMac::UserDefaultsKeys {

inline constexpr char restorationDisabled[] = "session.sqlite.restorationDisabled"; // bool, false
inline constexpr char recentRouteCodes[] = "recentRouteCodes"; // string, empty
inline constexpr char subtitleSize[] = "subtitleSize"; // double, points
inline constexpr char floatingSubtitleSize[] = "floatingSubtitleSize"; // double, points
inline constexpr char floatingShowSource[] = "floatingShowSource"; // bool, true
// Saved window geometry of the floating subtitle panel.
inline constexpr char floatingPanelGeometry[] = "QuorvelFloatingSubtitles";

inline constexpr double defaultSubtitleSize = 21.0;
inline constexpr double defaultFloatingSubtitleSize = 24.0;
inline constexpr bool defaultFloatingShowSource = true;

} // namespace TranslateMac::UserDefaultsKeys
