#pragma once

#include <QColor>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

namespace TranslateMac {

// The first place of the floating subtitles on a screen's available area: bottom-centre, its
// bottom edge `bottomMargin` above the area's bottom.
QRect initialPanelGeometry(const QRect &available);

// The floating subtitle window around its content: frameless, resizable, above other windows,
// never taking the focus, moved by dragging its background. Its place, click-through and
// background opacity are remembered in the settings.
class FloatingSubtitlePanel : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize defaultSize { 700, 200 };
    static constexpr QSize minimumPanelSize { 400, 160 };
    static constexpr int bottomMargin = 55;
    // Width of the border that resizes the window instead of moving it.
    static constexpr int resizeBorder = 6;
    static const QString geometryKey;
    static const QString clickThroughKey;
    static const QString opacityKey;
    static constexpr int minimumOpacity = 20;
    static constexpr int defaultOpacity = 100;
    // The resize border's colour when the desktop does not composite.
    static QColor frameColour() { return QColor(0x8A, 0x8F, 0x98); }

    // Takes ownership of `content`.
    explicit FloatingSubtitlePanel(QWidget *content, QWidget *parent = nullptr);

    // Shows the panel in front without activating it; the first time at its saved or initial
    // place.
    void present();

    // Whether the desktop composited translucent windows when the panel was made.
    bool compositing() const { return m_compositing; }
    bool clickThrough() const { return m_clickThrough; }
    void setClickThrough(bool enabled);
    // Percent, from minimumOpacity to 100.
    int backgroundOpacity() const { return m_opacity; }
    void setBackgroundOpacity(int percent);

Q_SIGNALS:
    void closed();
    void clickThroughChanged(bool enabled);
    void backgroundOpacityChanged(int percent);

protected:
    void closeEvent(QCloseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    Qt::Edges edgesAt(const QPoint &position) const;
    void rememberGeometry();
    void applyBackgroundOpacity();

    bool m_placed = false;
    bool m_compositing = true;
    bool m_clickThrough = false;
    int m_opacity = defaultOpacity;
};

} // namespace TranslateMac
