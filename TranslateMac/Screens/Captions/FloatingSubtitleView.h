#pragma once

#include "TranslateMac/Screens/Captions/FloatingLine.h"

#include <QWidget>

#include <functional>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QToolButton;
class QStackedLayout;
class QGraphicsOpacityEffect;

namespace TranslateMac {

class AppModel;
class FollowingCaptions;
class StatusPill;
class WindowDragArea;

// The floating subtitle window's content: a header shown while the pointer is over the window
// (state, source toggle, size, the look's menu, stop, close) and the live lines. The window
// around it is the shell's; the background is a drag area that moves that window.
class FloatingSubtitleView : public QWidget {
    Q_OBJECT

public:
    explicit FloatingSubtitleView(AppModel &model, QWidget *parent = nullptr);

    const FloatingSettings &settings() const { return m_style.settings; }
    // Applies and remembers new settings (brought into range first).
    void setSettings(const FloatingSettings &settings);
    double subtitleSize() const { return m_style.settings.translationSize; }
    bool showSource() const { return m_style.settings.showSource; }
    const FloatingPalette &palette() const { return m_style.palette; }

    // Called by the window around the content: the background's opacity in percent, and
    // whether the desktop composites translucent windows (without, everything is opaque).
    Q_INVOKABLE void setBackgroundOpacity(int percent);
    Q_INVOKABLE void setCompositing(bool compositing);

    // The height that shows the newest caption whole with every line the settings allow, under
    // the header; the view is never smaller.
    int fittingHeight() const;

    // The text shown while there are no captions.
    QString placeholderText() const;
    bool showsCaptions() const;
    QWidget &header() const { return *m_header; }
    bool hovering() const { return m_hovering; }
    FollowingCaptions &captions() const { return *m_captions; }
    QMenu &lookMenu() const { return *m_lookMenu; }
    // The way back to the newest captions, in the header while reading back.
    QPushButton &returnButton() const { return *m_return; }

Q_SIGNALS:
    void settingsChanged();

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void refresh();
    void refreshLines();
    void applyLook();
    void buildLookMenu();
    void refreshLookMenu();
    void setHovering(bool hovering);
    void refreshReturn();
    void fadeHeader();
    void toggleSource();

    AppModel &m_model;
    bool m_hovering = false;
    int m_opacity = 100;
    bool m_compositing = true;
    WindowDragArea *m_background = nullptr;
    QWidget *m_header = nullptr;
    QGraphicsOpacityEffect *m_headerOpacity = nullptr;
    StatusPill *m_status = nullptr;
    QPushButton *m_return = nullptr;
    QToolButton *m_sourceToggle = nullptr;
    QToolButton *m_smaller = nullptr;
    QToolButton *m_larger = nullptr;
    QToolButton *m_lookButton = nullptr;
    QToolButton *m_stop = nullptr;
    QToolButton *m_close = nullptr;
    QMenu *m_lookMenu = nullptr;
    QStackedLayout *m_body = nullptr;
    QWidget *m_emptyPage = nullptr;
    QLabel *m_placeholder = nullptr;
    FloatingLineStyle m_style;
    // The look menu's choices, each checked when the settings match it.
    QList<std::pair<QAction *, std::function<bool(const FloatingSettings &)>>> m_choices;
    QList<std::pair<QToolButton *, QString>> m_headerIcons;
    FollowingCaptions *m_captions = nullptr;
};

} // namespace TranslateMac
