#pragma once

#include <QWidget>

namespace TranslateMac {

// A background that moves its window when pressed with the left button, for frameless windows
// (the window manager then runs the move, so it works on X11 and Wayland alike).
class WindowDragArea : public QWidget {
    Q_OBJECT

public:
    explicit WindowDragArea(QWidget *parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

} // namespace TranslateMac
