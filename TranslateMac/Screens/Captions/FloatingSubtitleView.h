#pragma once

#include "TranslateMac/Screens/Captions/FloatingLine.h"

#include <QWidget>

class QLabel;
class QToolButton;
class QStackedLayout;
class QGraphicsOpacityEffect;

namespace TranslateMac {

class AppModel;
class FollowingCaptions;
class StatusPill;
class WindowDragArea;

// The floating subtitle window's content: a header shown while the pointer is over the window
// (state, source toggle, size, stop, close) and the live lines. The window around it is the
// shell's; the background is a drag area that moves that window.
class FloatingSubtitleView : public QWidget {
    Q_OBJECT

public:
    explicit FloatingSubtitleView(AppModel &model, QWidget *parent = nullptr);

    double subtitleSize() const { return m_style.size; }
    bool showSource() const { return m_style.showSource; }
    // The text shown while there are no captions.
    QString placeholderText() const;
    bool showsCaptions() const;
    QWidget &header() const { return *m_header; }
    bool hovering() const { return m_hovering; }
    FollowingCaptions &captions() const { return *m_captions; }

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void refresh();
    void refreshLines();
    void setHovering(bool hovering);
    void setSubtitleSize(double size);
    void toggleSource();

    AppModel &m_model;
    bool m_hovering = false;
    WindowDragArea *m_background = nullptr;
    QWidget *m_header = nullptr;
    QGraphicsOpacityEffect *m_headerOpacity = nullptr;
    StatusPill *m_status = nullptr;
    QToolButton *m_sourceToggle = nullptr;
    QToolButton *m_smaller = nullptr;
    QToolButton *m_larger = nullptr;
    QToolButton *m_stop = nullptr;
    QToolButton *m_close = nullptr;
    QStackedLayout *m_body = nullptr;
    QWidget *m_emptyPage = nullptr;
    QLabel *m_placeholder = nullptr;
    FloatingLineStyle m_style;
    FollowingCaptions *m_captions = nullptr;
};

} // namespace TranslateMac
