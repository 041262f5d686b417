#include "TranslateMac/Screens/Common/Theme.h"

#include "TranslateMac/Screens/Common/SymbolIcons.h"

#include <QHash>

namespace TranslateMac {

QColor Theme::accent()
{
    return QColor(0x2F, 0x6F, 0xEB);
}
QColor Theme::warning()
{
    return QColor(0xD9, 0x8A, 0x0B);
}
QColor Theme::success()
{
    return QColor(0x1F, 0x9D, 0x55);
}
QColor Theme::danger()
{
    return QColor(0xD6, 0x3B, 0x3B);
}
QColor Theme::neutral()
{
    return QColor(0x80, 0x86, 0x90);
}
QColor Theme::text()
{
    return QColor(0x1D, 0x1F, 0x24);
}
QColor Theme::secondaryText()
{
    return QColor(0x6B, 0x71, 0x7B);
}
QColor Theme::mutedBorder()
{
    return QColor(0xC9, 0xCE, 0xD6);
}
QColor Theme::background()
{
    return QColor(0xFF, 0xFF, 0xFF);
}
QColor Theme::sidebarBackground()
{
    return QColor(0xF4, 0xF5, 0xF7);
}
QColor Theme::cardBackground()
{
    return QColor(0xFF, 0xFF, 0xFF);
}
QColor Theme::floatingBackground()
{
    return QColor(0x14, 0x16, 0x1A);
}

QColor Theme::tint(Tone tone)
{
    switch (tone) {
    case Tone::accent:
        return accent();
    case Tone::warning:
        return warning();
    case Tone::success:
        return success();
    case Tone::danger:
        return danger();
    case Tone::neutral:
        break;
    }
    return neutral();
}

QStringList Theme::fontFamilies()
{
    // The CJK face first: its Latin letters and digits then share the weight and size of the
    // Chinese text around them (mixing faces gave bold digits beside thin characters).
    return { QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans"),
        QStringLiteral("DejaVu Sans") };
}

QFont Theme::font(qreal pointSize, QFont::Weight weight)
{
    QFont font;
    font.setFamilies(fontFamilies());
    font.setPointSizeF(pointSize);
    font.setWeight(weight);
    return font;
}

QFont Theme::monospacedDigits(qreal pointSize, QFont::Weight weight)
{
    QFont font;
    font.setFamilies({ QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Noto Sans Mono"),
        QStringLiteral("WenQuanYi Micro Hei Mono") });
    font.setStyleHint(QFont::Monospace);
    font.setPointSizeF(pointSize);
    font.setWeight(weight);
    return font;
}

QString Theme::themeIconName(const QString &symbolName)
{
    static const QHash<QString, QString> names {
        { "play.fill", "media-playback-start" },
        { "stop.fill", "media-playback-stop" },
        { "arrow.down.to.line", "go-bottom" },
        { "arrow.down", "go-down" },
        { "checkmark", "object-select" },
        { "doc.on.doc", "edit-copy" },
        { "square.and.arrow.up", "document-save-as" },
        { "arrow.clockwise", "view-refresh" },
        { "globe", "applications-internet" },
        { "speaker.wave.2.fill", "audio-volume-high" },
        { "mic.slash", "microphone-sensitivity-muted" },
        { "mic.slash.fill", "microphone-sensitivity-muted" },
        { "lock", "changes-prevent" },
        { "hourglass", "content-loading" },
        { "desktopcomputer", "computer" },
        { "xmark", "window-close" },
        { "xmark.circle.fill", "edit-clear" },
        { "magnifyingglass", "edit-find" },
        { "chevron.left", "go-previous" },
        { "arrow.up.right", "go-jump" },
        { "rectangle.portrait.and.arrow.right", "system-log-out" },
        { "exclamationmark.circle", "dialog-warning" },
        { "info.circle", "dialog-information" },
        { "iphone", "phone" },
        { "trash", "edit-delete" },
    };
    return names.value(symbolName);
}

QIcon Theme::icon(const QString &symbolName)
{
    static QHash<QString, QIcon> cache;
    if (auto found = cache.constFind(symbolName); found != cache.constEnd())
        return *found;
    const QString themed = themeIconName(symbolName);
    QIcon icon;
    if (!themed.isEmpty() && QIcon::hasThemeIcon(themed))
        icon = QIcon::fromTheme(themed);
    else
        // The product mark keeps its accent colour, which reads on light and dark panels alike
        // (the tray shows it on the desktop's panel, whatever its colour).
        icon = SymbolIcons::drawn(
            symbolName, symbolName == QLatin1String("captions.bubble") ? accent() : text());
    cache.insert(symbolName, icon);
    return icon;
}

QString Theme::styleSheet()
{
    return QStringLiteral(R"(
QWidget#sidebar { background: #F4F5F7; }
QWidget#card { background: #FFFFFF; border: 1px solid #E1E4E9; border-radius: 10px; }
QLabel#title { font-size: 20pt; font-weight: 600; }
QLabel#sectionTitle { color: #6B717B; font-weight: 600; }
QLabel#secondary { color: #6B717B; }
QLabel#errorText { color: #D63B3B; }
QLabel#noticeText { color: #B06E00; }
QPushButton#primary { background: #2F6FEB; color: white; border: none; border-radius: 8px;
    padding: 7px 18px; font-weight: 600; }
QPushButton#primary:disabled { background: #A9BFEA; }
QPushButton#primary:hover:!disabled { background: #2A63D4; }
QPushButton#chip { background: #E9EEF8; border: none; border-radius: 11px; padding: 3px 10px; }
QPushButton#chip:hover { background: #DCE5F7; }
QPushButton#languageButton { background: #FFFFFF; border: 1px solid #D7DBE2; border-radius: 8px;
    padding: 6px 10px; text-align: left; }
QPushButton#accountButton { background: #FFFFFF; border: 1px solid #E1E4E9; border-radius: 10px;
    padding: 8px; text-align: left; }
QToolButton { border: none; padding: 4px; border-radius: 6px; }
QToolButton:hover { background: rgba(0, 0, 0, 0.07); }
QToolButton:checked { background: rgba(47, 111, 235, 0.15); }
QPushButton#floatingReturn { background: #2F6FEB; color: white; border: none;
    border-radius: 13px; padding: 4px 12px; }
)");
}

} // namespace TranslateMac
