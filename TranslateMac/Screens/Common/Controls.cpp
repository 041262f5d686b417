#include "TranslateMac/Screens/Common/Controls.h"

#include "TranslateMac/Screens/Common/SymbolIcons.h"
#include "TranslateMac/Screens/Common/Theme.h"

#include <QLabel>
#include <QPushButton>
#include <QToolButton>

namespace TranslateMac::Controls {

QToolButton *toolButton(
    const QString &symbolName, const QString &help, QWidget *parent, std::optional<QColor> colour)
{
    auto *button = new QToolButton(parent);
    button->setIcon(colour ? SymbolIcons::drawn(symbolName, *colour) : Theme::icon(symbolName));
    button->setIconSize(QSize(16, 16));
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    setHelp(button, help);
    return button;
}

QPushButton *primaryButton(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QStringLiteral("primary"));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

QLabel *label(const QString &text, QWidget *parent, const QString &role)
{
    auto *label = new QLabel(text, parent);
    if (!role.isEmpty())
        label->setObjectName(role);
    return label;
}

QLabel *iconLabel(const QString &symbolName, QWidget *parent, int side)
{
    auto *label = new QLabel(parent);
    label->setPixmap(Theme::icon(symbolName).pixmap(side, side));
    label->setFixedSize(side, side);
    return label;
}

void setRightToLeft(QLabel *label, bool rightToLeft)
{
    label->setLayoutDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    // Absolute: a right-to-left label would otherwise mirror "right" back to the left.
    label->setAlignment(
        (rightToLeft ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignAbsolute | Qt::AlignVCenter);
}

void setHelp(QWidget *widget, const QString &help)
{
    widget->setToolTip(help);
    widget->setAccessibleName(help);
}

} // namespace TranslateMac::Controls
