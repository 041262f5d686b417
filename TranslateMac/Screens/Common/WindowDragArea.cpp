#include "TranslateMac/Screens/Common/WindowDragArea.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>
#include <QWindow>

namespace TranslateMac {

WindowDragArea::WindowDragArea(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground);
}

void WindowDragArea::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (QWindow *handle = window()->windowHandle())
        handle->startSystemMove();
    event->accept();
}

void WindowDragArea::paintEvent(QPaintEvent *)
{
    // Lets a style sheet paint the background of this plain QWidget subclass.
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}

} // namespace TranslateMac
