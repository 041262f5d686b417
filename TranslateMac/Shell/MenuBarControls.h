#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QAction;
class QActionGroup;
class QMenu;
class QSystemTrayIcon;

namespace TranslateMac {

class AppModel;
class FloatingSubtitlePanel;

// The tray icon and its menu: the listening state, opening the workspace or the history, the
// floating subtitles (with their click-through and background opacity), stop and settle, and quit.
class MenuBarControls : public QObject {
    Q_OBJECT

public:
    static constexpr int opacitySteps[] = { 100, 85, 70, 50, 30 };

    MenuBarControls(AppModel &model, std::function<void()> openWorkspace,
        std::function<void()> openHistory, std::function<void()> quit, QObject *parent = nullptr);
    ~MenuBarControls() override;

    // The floating panel whose settings the menu offers (they are disabled until it exists).
    void setPanel(FloatingSubtitlePanel *panel);
    QMenu *menu() const { return m_menu.get(); }
    QSystemTrayIcon *trayIcon() const { return m_tray.get(); }

private:
    void refresh();
    void refreshPanelSettings();

    AppModel &m_model;
    std::function<void()> m_openWorkspace;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QPointer<FloatingSubtitlePanel> m_panel;
    QAction *m_state = nullptr;
    QAction *m_overlay = nullptr;
    QAction *m_stop = nullptr;
    QAction *m_clickThrough = nullptr;
    QMenu *m_opacity = nullptr;
    QActionGroup *m_opacityGroup = nullptr;
};

} // namespace TranslateMac
