#pragma once

#include <QColor>
#include <QString>

#include <optional>

class QLabel;
class QPushButton;
class QToolButton;
class QWidget;

namespace TranslateMac::Controls {

// A borderless icon button whose help text is also its accessible name. With `colour` the icon
// is drawn in that colour (for dark surfaces) instead of taken from the icon theme.
QToolButton *toolButton(const QString &symbolName, const QString &help, QWidget *parent,
    std::optional<QColor> colour = std::nullopt);
// A button in the primary style.
QPushButton *primaryButton(const QString &text, QWidget *parent);
// A label with the given object name for the style sheet ("secondary", "title", …).
QLabel *label(const QString &text, QWidget *parent, const QString &role = {});
// An icon shown as a small label.
QLabel *iconLabel(const QString &symbolName, QWidget *parent, int side = 16);
// Lays a text label out right to left (aligned right) or left to right (aligned left).
void setRightToLeft(QLabel *label, bool rightToLeft);
// Sets the help text and uses it as the accessible name too.
void setHelp(QWidget *widget, const QString &help);

} // namespace TranslateMac::Controls
