#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Shell/AppDelegate.h"
#include "TranslateMac/Shell/FloatingSubtitlePanel.h"
#include "TranslateMac/Shell/MenuBarControls.h"
#include "TranslateMac/Shell/QuorvelTranslateMacApp.h"
#include "TranslateMac/Shell/WorkspaceWindow.h"

#include "support/ApplicationHarness.h"
#include "support/LocalServiceProcess.h"
#include "support/TestSupport.h"
#include "support/VirtualDesktop.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QWindow>

#include <gtest/gtest.h>

using namespace TranslateMac;
using namespace std::chrono_literals;
using TestSupport::commandOutput;

namespace {

// A plain window under the floating subtitles that counts the presses it receives.
class PressProbe : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
};

QString windowProperty(const QWidget &window, const char *property)
{
    return commandOutput(QStringLiteral("xprop"),
        { QStringLiteral("-id"), QString::number(window.winId()), QString::fromLatin1(property) });
}

// Right button: the panel takes a left press as the start of a move, a right one it ignores.
void rightClickAt(const QPoint &global)
{
    commandOutput(QStringLiteral("xdotool"),
        { QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y()),
            QStringLiteral("click"), QStringLiteral("3") });
}

QStringList visibleTexts(const QMenu &menu)
{
    QStringList texts;
    for (const QAction *action : menu.actions()) {
        if (action->isVisible())
            texts << (action->isSeparator() ? QStringLiteral("—") : action->text());
    }
    return texts;
}

} // namespace

// The whole desktop side of the shell on a real X server: the tray icon is embedded by the
// tray host, its menu reads as the user sees it, the floating subtitles stay above other windows
// without taking the focus, open bottom-centre, and let the pointer through only while
// click-through is on; quitting from the tray while idle ends the application at once.
TEST(DesktopShell, TrayMenuDrivesTheFloatingSubtitlesAboveOtherWindows)
{
    QUORVEL_REQUIRE_DESKTOP();
    TestSupport::ApplicationSurroundings surroundings;
    ASSERT_TRUE(surroundings.isReady()) << surroundings.failure().toStdString();
    LocalServiceProcess &service = surroundings.service();

    QuorvelTranslateMacApp app(surroundings.model());
    QSignalSpy terminated(&app, &QuorvelTranslateMacApp::terminate);
    MenuBarControls &tray = app.menuBarControls();
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] {
            return QSystemTrayIcon::isSystemTrayAvailable()
                && tray.trayIcon()->geometry().isValid();
        },
        10s))
        << "the tray host did not embed the icon";

    QMenu &menu = *tray.menu();
    EXPECT_EQ(visibleTexts(menu),
        (QStringList { "准备监听", "打开Quorvel", "历史记录…", "显示悬浮字幕", "—",
            "悬浮字幕点击穿透", "悬浮字幕背景不透明度", "—", "退出Quorvel" }));
    QAction *overlay = TestSupport::actionNamed(menu, QStringLiteral("显示悬浮字幕"));
    ASSERT_NE(overlay, nullptr);
    EXPECT_FALSE(overlay->isEnabled()); // signed out and idle

    ASSERT_TRUE(TestSupport::signIn(app.model(), service, QStringLiteral("13700000001")));
    ASSERT_TRUE(overlay->isEnabled());
    overlay->trigger();
    ASSERT_TRUE(TestSupport::spinUntil([&] {
        return app.delegate().panel() && app.delegate().panel()->windowHandle()
            && app.delegate().panel()->windowHandle()->isExposed();
    }));
    FloatingSubtitlePanel &panel = *app.delegate().panel();
    EXPECT_EQ(overlay->text(), QStringLiteral("隐藏悬浮字幕"));

    // What the window manager was told.
    ASSERT_TRUE(TestSupport::spinUntil([&] {
        return windowProperty(panel, "_NET_WM_STATE").contains("_NET_WM_STATE_ABOVE");
    })) << windowProperty(panel, "_NET_WM_STATE").toStdString();
    EXPECT_TRUE(windowProperty(panel, "WM_HINTS").contains("input or input focus: False"))
        << windowProperty(panel, "WM_HINTS").toStdString();
    EXPECT_TRUE(windowProperty(panel, "_NET_WM_WINDOW_TYPE").contains("UTILITY"));
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(panel.geometry(), initialPanelGeometry(available));

    // A window under the panel, raised as far as a normal window goes: the panel stays above.
    PressProbe probe;
    probe.setGeometry(panel.geometry().adjusted(-40, -40, 40, 40));
    probe.show();
    probe.raise();
    probe.activateWindow();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return probe.windowHandle()->isExposed(); }));
    TestSupport::spinUntil([] { return false; }, 300ms);
    const QPoint inside = panel.geometry().center();
    rightClickAt(inside);
    TestSupport::spinUntil([] { return false; }, 300ms);
    EXPECT_EQ(probe.presses, 0) << "the panel did not cover the window below";
    const QPoint beside = panel.geometry().topLeft() - QPoint(20, 20);
    rightClickAt(beside);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return probe.presses == 1; }))
        << "the probe does not receive clicks at all";
    EXPECT_NE(QGuiApplication::focusWindow(), panel.windowHandle());

    // Click-through from the tray: the panel gives up its pointer input and gets it back.
    const QList<QRect> whole { QRect(QPoint(0, 0), panel.size()) };
    EXPECT_EQ(TestSupport::inputShape(panel.winId()), whole);
    QAction *clickThrough = TestSupport::actionNamed(menu, QStringLiteral("悬浮字幕点击穿透"));
    ASSERT_NE(clickThrough, nullptr);
    ASSERT_TRUE(clickThrough->isEnabled());
    clickThrough->trigger();
    EXPECT_TRUE(panel.clickThrough());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return panel.windowHandle()->isExposed(); }));
    EXPECT_EQ(TestSupport::inputShape(panel.winId()), QList<QRect> {});
    EXPECT_EQ(panel.geometry(), initialPanelGeometry(available));
    EXPECT_TRUE(TestSupport::spinUntil(
        [&] { return windowProperty(panel, "_NET_WM_STATE").contains("_NET_WM_STATE_ABOVE"); }));
    EXPECT_TRUE(clickThrough->isChecked());

    clickThrough->trigger();
    EXPECT_FALSE(panel.clickThrough());
    EXPECT_FALSE(clickThrough->isChecked());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return panel.windowHandle()->isExposed(); }));
    EXPECT_EQ(TestSupport::inputShape(panel.winId()), whole);
    TestSupport::spinUntil([] { return false; }, 300ms);
    rightClickAt(inside + QPoint(5, 5));
    TestSupport::spinUntil([] { return false; }, 300ms);
    EXPECT_EQ(probe.presses, 1) << "the panel let a click through after click-through ended";

    // The tray menu as it opens on the desktop, for review.
    menu.popup(QPoint(available.right() - 300, available.top() + 10));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return menu.isVisible(); }));
    TestSupport::spinUntil([] { return false; }, 300ms);
    QGuiApplication::primaryScreen()
        ->grabWindow(0, menu.x(), menu.y(), menu.width(), menu.height())
        .save(TestSupport::screenshotPath(QStringLiteral("tray-menu.png")));
    QGuiApplication::primaryScreen()->grabWindow(0).save(
        TestSupport::screenshotPath(QStringLiteral("desktop.png")));
    menu.hide();

    // With a tray, closing the workspace keeps the application there; the tray opens it again.
    ASSERT_TRUE(app.window().isVisible());
    app.window().close();
    EXPECT_FALSE(app.window().isVisible());
    EXPECT_EQ(terminated.count(), 0);
    QAction *open = TestSupport::actionNamed(menu, QStringLiteral("打开Quorvel"));
    ASSERT_NE(open, nullptr);
    open->trigger();
    EXPECT_TRUE(app.window().isVisible());

    QAction *quit = TestSupport::actionNamed(menu, QStringLiteral("退出Quorvel"));
    ASSERT_NE(quit, nullptr);
    quit->trigger();
    EXPECT_EQ(terminated.count(), 1);

    // The session manager's "die" reaches Qt as a quit of the application object, which would
    // close the windows and end the event loop behind the settlement's back: it goes through
    // the shell's guarded end instead (immediate here: nothing is owned).
    QEvent quitEvent(QEvent::Quit);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &quitEvent);
    EXPECT_EQ(terminated.count(), 2);
    EXPECT_TRUE(app.window().isVisible());
}
