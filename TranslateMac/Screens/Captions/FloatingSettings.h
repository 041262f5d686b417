#pragma once

#include "TranslateMac/Screens/Common/SubtitleSize.h"

#include <QColor>
#include <QString>

namespace TranslateMac {

// How the floating window is drawn. `light` is the first look (white, dark text); `dark` a dark
// card; `outline` no card at all, white text with a dark outline, for captions over video.
enum class FloatingStyle { light, dark, outline };

// The stored name of a style ("light", "dark", "outline") and back (unknown names are light).
QString floatingStyleName(FloatingStyle style);
FloatingStyle floatingStyleNamed(const QString &name);

// The floating window's settings, each remembered across launches.
struct FloatingSettings {
    static constexpr SubtitleSizeBounds sourceSizeBounds { 12, 32 };
    static constexpr int minimumLines = 1;
    static constexpr int maximumLines = 3;

    FloatingStyle style = FloatingStyle::light;
    double translationSize = 24; // "floatingSubtitleSize"
    double sourceSize = 14;
    int translationLines = 2; // the newest lines of a caption's translation that are shown
    int sourceLines = 2;
    bool showTranslation = true;
    bool showSource = true; // "floatingShowSource"
    bool sourceOnTop = false;

    // Out-of-range stored values (a hand-edited file) are brought into range; at least one
    // language is always shown.
    static FloatingSettings load();
    void store() const;
    FloatingSettings normalised() const;

    friend bool operator==(const FloatingSettings &, const FloatingSettings &) = default;
};

// The colours the floating window paints with, for a style, a background opacity (percent) and
// whether the desktop composites translucent windows. Without a compositor nothing may be
// translucent (it shows black), so the background is opaque and the outline style, which
// needs to see through, falls back to the dark card.
struct FloatingPalette {
    FloatingStyle style = FloatingStyle::light; // the style actually drawn
    QColor background; // alpha 0 for none
    QColor text;
    QColor sourceText;
    QColor changingText; // the words the service may still rewrite
    QColor placeholder;
    QColor cursor;
    QColor outline; // invalid: no outline
    QColor icon;
    bool rounded = true;
    bool darkSurface = false;

    static FloatingPalette of(FloatingStyle style, int opacityPercent, bool compositing);
};

} // namespace TranslateMac
