#pragma once

// The client's user-defaults keys (QSettings "Quorvel" / "QuorvelTranslate") with their defaults.
// The names are stored on users' machines: never rename them.
namespace TranslateMac::UserDefaultsKeys {

inline constexpr char restorationDisabled[] = "session.sqlite.restorationDisabled"; // bool, false
inline constexpr char recentRouteCodes[] = "recentRouteCodes"; // string, empty
inline constexpr char subtitleSize[] = "subtitleSize"; // double, points
inline constexpr char floatingSubtitleSize[] = "floatingSubtitleSize"; // double, points
inline constexpr char floatingShowSource[] = "floatingShowSource"; // bool, true
// The floating window's look beyond the size and the source toggle.
inline constexpr char floatingStyle[] = "floatingSubtitleStyle"; // "light", "dark" or "outline"
inline constexpr char floatingSourceSize[] = "floatingSourceSubtitleSize"; // double, points
inline constexpr char floatingTranslationLines[] = "floatingTranslationLines"; // int, 1…3
inline constexpr char floatingSourceLines[] = "floatingSourceLines"; // int, 1…3
inline constexpr char floatingShowTranslation[] = "floatingShowTranslation"; // bool, true
inline constexpr char floatingSourceOnTop[] = "floatingSourceOnTop"; // bool, false
// Saved window geometry of the floating subtitle panel.
inline constexpr char floatingPanelGeometry[] = "QuorvelFloatingSubtitles";

inline constexpr double defaultSubtitleSize = 21.0;
inline constexpr double defaultFloatingSubtitleSize = 24.0;
inline constexpr bool defaultFloatingShowSource = true;

} // namespace TranslateMac::UserDefaultsKeys
