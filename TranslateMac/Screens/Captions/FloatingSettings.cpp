#include "TranslateMac/Screens/Captions/FloatingSettings.h"

#include "TranslateMac/Account/UserDefaultsKeys.h"
#include "TranslateMac/Screens/Common/Theme.h"
#include "TranslateMac/Screens/Common/UserDefaults.h"

#include <algorithm>

namespace TranslateMac {

namespace Keys = UserDefaultsKeys;

QString floatingStyleName(FloatingStyle style)
{
    switch (style) {
    case FloatingStyle::dark:
        return QStringLiteral("dark");
    case FloatingStyle::outline:
        return QStringLiteral("outline");
    case FloatingStyle::light:
        break;
    }
    return QStringLiteral("light");
}

FloatingStyle floatingStyleNamed(const QString &name)
{
    if (name == QLatin1String("dark"))
        return FloatingStyle::dark;
    if (name == QLatin1String("outline"))
        return FloatingStyle::outline;
    return FloatingStyle::light;
}

FloatingSettings FloatingSettings::load()
{
    FloatingSettings settings;
    settings.style = floatingStyleNamed(
        UserDefaults::value(Keys::floatingStyle, floatingStyleName(settings.style)).toString());
    settings.translationSize
        = UserDefaults::value(Keys::floatingSubtitleSize, Keys::defaultFloatingSubtitleSize)
              .toDouble();
    settings.sourceSize
        = UserDefaults::value(Keys::floatingSourceSize, settings.sourceSize).toDouble();
    settings.translationLines
        = UserDefaults::value(Keys::floatingTranslationLines, settings.translationLines).toInt();
    settings.sourceLines
        = UserDefaults::value(Keys::floatingSourceLines, settings.sourceLines).toInt();
    settings.showTranslation
        = UserDefaults::value(Keys::floatingShowTranslation, settings.showTranslation).toBool();
    settings.showSource
        = UserDefaults::value(Keys::floatingShowSource, Keys::defaultFloatingShowSource).toBool();
    settings.sourceOnTop
        = UserDefaults::value(Keys::floatingSourceOnTop, settings.sourceOnTop).toBool();
    return settings.normalised();
}

void FloatingSettings::store() const
{
    UserDefaults::setValue(Keys::floatingStyle, floatingStyleName(style));
    UserDefaults::setValue(Keys::floatingSubtitleSize, translationSize);
    UserDefaults::setValue(Keys::floatingSourceSize, sourceSize);
    UserDefaults::setValue(Keys::floatingTranslationLines, translationLines);
    UserDefaults::setValue(Keys::floatingSourceLines, sourceLines);
    UserDefaults::setValue(Keys::floatingShowTranslation, showTranslation);
    UserDefaults::setValue(Keys::floatingShowSource, showSource);
    UserDefaults::setValue(Keys::floatingSourceOnTop, sourceOnTop);
}

FloatingSettings FloatingSettings::normalised() const
{
    FloatingSettings settings = *this;
    settings.translationSize = std::clamp(
        translationSize, floatingSubtitleBounds.minimum, floatingSubtitleBounds.maximum);
    settings.sourceSize
        = std::clamp(sourceSize, sourceSizeBounds.minimum, sourceSizeBounds.maximum);
    settings.translationLines = std::clamp(translationLines, minimumLines, maximumLines);
    settings.sourceLines = std::clamp(sourceLines, minimumLines, maximumLines);
    if (!settings.showTranslation && !settings.showSource)
        settings.showTranslation = true;
    return settings;
}

FloatingPalette FloatingPalette::of(FloatingStyle style, int opacityPercent, bool compositing)
{
    if (!compositing && style == FloatingStyle::outline)
        style = FloatingStyle::dark;
    const int alpha = compositing ? std::clamp(opacityPercent, 0, 100) * 255 / 100 : 255;
    FloatingPalette palette;
    palette.style = style;
    palette.rounded = compositing;
    palette.cursor = Theme::accent();
    switch (style) {
    case FloatingStyle::light:
        palette.background = QColor(255, 255, 255, alpha);
        palette.text = Theme::text();
        palette.sourceText = Theme::secondaryText();
        palette.changingText = QColor(0x8A, 0x90, 0x9A);
        palette.placeholder = QColor(0x9A, 0xA0, 0xA8);
        palette.icon = Theme::secondaryText();
        break;
    case FloatingStyle::dark:
        palette.background = Theme::floatingBackground();
        palette.background.setAlpha(alpha);
        palette.text = Qt::white;
        palette.sourceText = QColor(255, 255, 255, 165);
        palette.changingText = QColor(255, 255, 255, 150);
        palette.placeholder = QColor(255, 255, 255, 140);
        palette.cursor = Theme::accent().lighter(130);
        palette.icon = QColor(0xF2, 0xF4, 0xF7);
        palette.darkSurface = true;
        break;
    case FloatingStyle::outline:
        palette.background = QColor(0, 0, 0, 0);
        palette.text = Qt::white;
        palette.sourceText = QColor(0xE8, 0xEA, 0xEE);
        palette.changingText = QColor(0xC4, 0xC8, 0xCE);
        palette.placeholder = QColor(0xDD, 0xDD, 0xDD);
        palette.outline = QColor(0, 0, 0, 230);
        palette.cursor = Theme::accent().lighter(130);
        palette.icon = Qt::white;
        palette.darkSurface = true;
        break;
    }
    return palette;
}

} // namespace TranslateMac
