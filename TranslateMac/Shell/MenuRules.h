#pragma once

#include "TranslateMac/AppModel/ListeningState.h"

#include <QKeySequence>
#include <QString>

namespace TranslateMac {

class AppModel;

// What the menus show, read from the model in one place.
struct MenuInputs {
    ListeningState state = ListeningState::idle;
    bool loggedIn = false;
    bool ownsSession = false;
    bool overlayVisible = false;
    bool updateChecking = false;

    static MenuInputs from(const AppModel &model);
};

// The tray menu's and the menu bar's titles and enabled states.
struct MenuPresentation {
    QString stateLine;
    QString overlayTitle;
    // Both floating-subtitle commands (tray item and menu-bar command).
    bool overlayEnabled = false;
    bool stopVisible = false;
    bool stopEnabled = false;
    bool checkForUpdatesEnabled = false;
};

MenuPresentation presentMenus(const MenuInputs &inputs);

namespace MenuTexts {
inline const QString trayTitle = QStringLiteral("Quorvel");
inline const QString openWorkspace = QStringLiteral("打开Quorvel");
inline const QString openHistory = QStringLiteral("历史记录…");
inline const QString showOverlay = QStringLiteral("显示悬浮字幕");
inline const QString hideOverlay = QStringLiteral("隐藏悬浮字幕");
inline const QString stopAndSettle = QStringLiteral("停止并结算");
inline const QString quit = QStringLiteral("退出Quorvel");
inline const QString checkForUpdates = QStringLiteral("检查更新…");
inline const QString toggleOverlay = QStringLiteral("显示 / 隐藏悬浮字幕");
inline const QString workspaceTitle = QStringLiteral("Quorvel · 系统音频翻译");
inline const QString panelTitle = QStringLiteral("Quorvel悬浮字幕");
// The floating window's own settings, reachable from the tray so a click-through window can
// always be given its pointer input back.
inline const QString clickThrough = QStringLiteral("悬浮字幕点击穿透");
inline const QKeySequence clickThroughShortcut { QStringLiteral("Ctrl+Shift+T") };
inline const QString backgroundOpacity = QStringLiteral("悬浮字幕背景不透明度");
} // namespace MenuTexts

} // namespace TranslateMac
