#include "TranslateMac/Screens/Common/WindowDragArea.h"

#include <QMouseEvent>
#include <QWindow>

namespace TranslateMac {

WindowDragArea::WindowDragArea(QWidget *parent) : QWidget(parent)
{
    // Qt paints a style sheet's background for it; painting it again in a paint event drew a
    // translucent background twice, darker than asked.
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

} // namespace TranslateMac
