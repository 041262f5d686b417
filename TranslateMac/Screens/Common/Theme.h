#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>

namespace TranslateMac {

// The screens' look in one place: a light palette with one accent, the fonts (a CJK face is
// named explicitly so Chinese captions never fall back to boxes), and the icons named by the
// symbol names the screens use.
class Theme {
public:
    enum class Tone { neutral, accent, warning, success, danger };

    static QColor accent();
    static QColor warning();
    static QColor success();
    static QColor danger();
    static QColor neutral();
    static QColor tint(Tone tone);
    static QColor text();
    static QColor secondaryText();
    static QColor mutedBorder();
    static QColor background();
    static QColor sidebarBackground();
    static QColor cardBackground();
    static QColor floatingBackground();

    // A font of the interface family (Latin face first, then the CJK face) at `pointSize`.
    static QFont font(qreal pointSize, QFont::Weight weight = QFont::Normal);
    // Digits of equal width for counters and clocks.
    static QFont monospacedDigits(qreal pointSize, QFont::Weight weight = QFont::Normal);
    static QStringList fontFamilies();

    // The icon for a symbol name ("play.fill", "captions.bubble", …): the desktop icon theme's
    // icon when it has one, otherwise a drawn one, so a screen never shows an empty button.
    static QIcon icon(const QString &symbolName);
    // The freedesktop icon name used for a symbol name; empty when there is none.
    static QString themeIconName(const QString &symbolName);
    // The application's style sheet for the widgets the screens mark with object names.
    static QString styleSheet();
};

} // namespace TranslateMac
