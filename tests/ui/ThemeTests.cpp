#include "TranslateMac/Screens/Common/SymbolIcons.h"
#include "TranslateMac/Screens/Common/Theme.h"

#include <QFontInfo>
#include <QImage>

#include <gtest/gtest.h>

using namespace TranslateMac;

namespace {

// The number of pixels an icon covers at 32 × 32.
int coveredPixels(const QIcon &icon)
{
    const QImage image = icon.pixmap(32, 32).toImage();
    int covered = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            covered += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    return covered;
}

} // namespace

TEST(ThemeTest, EverySymbolTheScreensUseHasAVisibleIcon)
{
    const char *symbols[] = { "play.fill", "stop.fill", "captions.bubble", "character.bubble",
        "text.bubble.fill", "arrow.down.to.line", "arrow.down", "arrow.up.right",
        "arrow.up.arrow.down", "checkmark", "doc.on.doc", "square.and.arrow.up", "pip", "pip.fill",
        "clock", "globe", "speaker.wave.2.fill", "mic.slash", "mic.slash.fill", "hourglass", "lock",
        "creditcard", "arrow.clockwise", "desktopcomputer", "checkmark.shield.fill",
        "lock.shield.fill", "xmark", "xmark.circle.fill", "magnifyingglass", "chevron.left",
        "waveform", "hand.raised", "rectangle.portrait.and.arrow.right", "exclamationmark.circle",
        "info.circle", "clock.arrow.circlepath", "iphone", "arrow.right.circle.fill",
        "textformat.size.smaller", "textformat.size.larger" };
    const QImage fallback
        = SymbolIcons::drawn("no.such.symbol", Qt::black).pixmap(32, 32).toImage();
    for (const char *symbol : symbols) {
        EXPECT_GT(coveredPixels(Theme::icon(symbol)), 20) << symbol;
        // A drawing of its own, not the lettered stand-in for unknown names.
        EXPECT_NE(SymbolIcons::drawn(symbol, Qt::black).pixmap(32, 32).toImage(), fallback)
            << symbol;
    }
}

TEST(ThemeTest, ChineseTextHasAFontThatCoversIt)
{
    const QFontInfo used(Theme::font(14));
    EXPECT_EQ(used.family(), "WenQuanYi Micro Hei")
        << "install fonts-wqy-microhei (scripts/bootstrap)";
}
