#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Shell/AppDelegate.h"
#include "TranslateMac/Shell/Compositing.h"
#include "TranslateMac/Shell/FloatingSubtitlePanel.h"
#include "TranslateMac/Shell/QuorvelTranslateMacApp.h"

#include "support/ApplicationHarness.h"
#include "support/LocalServiceProcess.h"
#include "support/TestSupport.h"
#include "support/VirtualDesktop.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QWindow>

#include <X11/Xlib.h>

#include <gtest/gtest.h>

using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

// Stands in for a compositing manager: owns its selection on screen 0 while alive.
class CompositorSelection {
public:
    CompositorSelection() : m_display(XOpenDisplay(nullptr))
    {
        m_owner = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 1, 1, 0, 0, 0);
        XSetSelectionOwner(
            m_display, XInternAtom(m_display, "_NET_WM_CM_S0", False), m_owner, CurrentTime);
        XSync(m_display, False);
    }
    ~CompositorSelection()
    {
        XDestroyWindow(m_display, m_owner);
        XCloseDisplay(m_display);
    }

private:
    Display *m_display;
    Window m_owner;
};

QColor screenPixel(const QPoint &global)
{
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, global.x(), global.y(), 1, 1)
        .toImage()
        .pixelColor(0, 0);
}

} // namespace

TEST(DesktopCompositing, ACompositingManagerIsSeenByItsSelection)
{
    QUORVEL_REQUIRE_DESKTOP();
    EXPECT_FALSE(desktopComposites()); // openbox draws no translucency
    {
        CompositorSelection compositor;
        EXPECT_TRUE(desktopComposites());
        FloatingSubtitlePanel panel(new QLabel);
        EXPECT_TRUE(panel.compositing());
        EXPECT_TRUE(panel.testAttribute(Qt::WA_TranslucentBackground));
    }
    EXPECT_FALSE(desktopComposites());
}

// Without a compositor the floating window shows no black: its border is a plain frame and its
// content's corners are square and opaque.
TEST(DesktopCompositing, WithoutACompositorTheFloatingWindowIsOpaque)
{
    QUORVEL_REQUIRE_DESKTOP();
    TestSupport::ApplicationSurroundings surroundings;
    ASSERT_TRUE(surroundings.isReady()) << surroundings.failure().toStdString();
    QuorvelTranslateMacApp app;
    ASSERT_TRUE(
        TestSupport::signIn(app.model(), surroundings.service(), QStringLiteral("13700000001")));
    app.model().setOverlayVisible(true);
    ASSERT_TRUE(TestSupport::spinUntil([&] {
        return app.delegate().panel() && app.delegate().panel()->windowHandle()
            && app.delegate().panel()->windowHandle()->isExposed();
    }));
    FloatingSubtitlePanel &panel = *app.delegate().panel();
    EXPECT_FALSE(panel.compositing());
    EXPECT_FALSE(panel.testAttribute(Qt::WA_TranslucentBackground));
    TestSupport::spinUntil([] { return false; }, 300ms);
    const QPoint origin = panel.geometry().topLeft();
    const int border = FloatingSubtitlePanel::resizeBorder;
    EXPECT_EQ(screenPixel(origin + QPoint(1, 1)), FloatingSubtitlePanel::frameColour());
    // The content's corner, where a rounded translucent card showed black.
    EXPECT_EQ(screenPixel(origin + QPoint(border + 1, border + 1)), QColor(Qt::white));
    QGuiApplication::primaryScreen()
        ->grabWindow(0, panel.x(), panel.y(), panel.width(), panel.height())
        .save(TestSupport::screenshotPath(QStringLiteral("13-floating-without-compositor.png")));
}
