#pragma once

#include <algorithm>

namespace TranslateMac {

// The caption text size one press of "缩小字幕" / "放大字幕" gives, kept within the bounds of
// the view (the workspace allows 16…36, the floating window 16…40).
struct SubtitleSizeBounds {
    double minimum;
    double maximum;
    double step = 2;

    double smaller(double size) const { return std::max(minimum, size - step); }
    double larger(double size) const { return std::min(maximum, size + step); }
};

inline constexpr SubtitleSizeBounds workspaceSubtitleBounds { 16, 36 };
inline constexpr SubtitleSizeBounds floatingSubtitleBounds { 16, 40 };

} // namespace TranslateMac
