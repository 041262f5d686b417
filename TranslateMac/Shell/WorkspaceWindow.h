#pragma once

#include <QMainWindow>
#include <QPointer>

#include <functional>

class QAction;

namespace TranslateMac {

class AppModel;
class FloatingSubtitlePanel;

// The single workspace window: the root content under a menu bar with the application menu
// ("检查更新…") and the window menu ("显示 / 隐藏悬浮字幕").
class WorkspaceWindow : public QMainWindow {
    Q_OBJECT

public:
    static constexpr QSize defaultSize { 1100, 740 };

    // `content` is the root content (owned); `quit` asks the application to terminate.
    WorkspaceWindow(
        AppModel &model, QWidget *content, std::function<void()> quit, QWidget *parent = nullptr);

    // Brings the window forward (showing it again after a close) and activates it.
    void open();

    QAction *checkForUpdatesAction() const { return m_checkForUpdates; }
    QAction *toggleOverlayAction() const { return m_toggleOverlay; }
    QAction *clickThroughAction() const { return m_clickThrough; }
    // The floating panel whose click-through the window menu switches (disabled until it
    // exists). The shortcut works in every window of the application, so a panel that lets
    // clicks through can be given its input back without reaching it.
    void setPanel(FloatingSubtitlePanel *panel);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void refresh();
    void refreshClickThrough();

    AppModel &m_model;
    std::function<void()> m_quit;
    QAction *m_checkForUpdates = nullptr;
    QAction *m_toggleOverlay = nullptr;
    QAction *m_clickThrough = nullptr;
    QPointer<FloatingSubtitlePanel> m_panel;
};

} // namespace TranslateMac
