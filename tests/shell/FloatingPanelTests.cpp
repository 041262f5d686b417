#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Shell/AppDelegate.h"
#include "TranslateMac/Shell/FloatingSubtitlePanel.h"
#include "TranslateMac/Shell/WorkspaceWindow.h"

#include "support/ScriptedCapture.h"
#include "support/TestSupport.h"

#include "TranslateCore/API/TranslationAPI.h"

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace TranslateCore;
using namespace TranslateMac;

namespace {

// The delegate and the workspace window's commands offscreen, over a model whose service is
// unreachable, with the settings in a temporary folder.
class ShellWindowsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsHome.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsHome.path());
        makeModel(Credentials { "access", "refresh" });
    }
    void TearDown() override
    {
        delegate.reset();
        model.reset();
        TestSupport::drainEvents();
    }

    void makeModel(std::optional<Credentials> credentials)
    {
        delegate.reset();
        model = std::make_unique<AppModel>(
            std::make_unique<TranslationAPI>(credentials, QUrl("https://127.0.0.1:1/api/")),
            std::make_unique<TestSupport::ScriptedCapture>(), nullptr, clock);
    }
    AppDelegate &makeDelegate()
    {
        delegate = std::make_unique<AppDelegate>(
            clock, [](AppModel &) { return new QLabel(QStringLiteral("captions")); });
        return *delegate;
    }
    static QRect available() { return QGuiApplication::primaryScreen()->availableGeometry(); }

    QTemporaryDir settingsHome;
    ManualClock clock;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<AppDelegate> delegate;
};

} // namespace

TEST_F(ShellWindowsTest, DoesNothingBeforeAModelIsAttached)
{
    AppDelegate &shell = makeDelegate();
    shell.setOverlay(true);
    EXPECT_EQ(shell.panel(), nullptr);
    EXPECT_EQ(shell.shouldTerminate(), QuitReply::now);
}

TEST_F(ShellWindowsTest, TogglingTwiceQuicklyCreatesThePanelOnce)
{
    AppDelegate &shell = makeDelegate();
    QSignalSpy created(&shell, &AppDelegate::panelCreated);
    shell.attach(*model);
    model->setOverlayVisible(true);
    model->setOverlayVisible(false);
    model->setOverlayVisible(true);
    TestSupport::drainEvents();
    EXPECT_EQ(created.count(), 1);
    ASSERT_NE(shell.panel(), nullptr);
    EXPECT_TRUE(shell.panel()->isVisible());
    EXPECT_EQ(shell.panel()->minimumSize(), QSize(400, 160));

    model->setOverlayVisible(false);
    TestSupport::drainEvents();
    EXPECT_FALSE(shell.panel()->isVisible());
    EXPECT_EQ(created.count(), 1);
}

TEST_F(ShellWindowsTest, ShowsTheCurrentValueOnAttachAndOnlyTheFirstAttachCounts)
{
    model->setOverlayVisible(true);
    AppDelegate &shell = makeDelegate();
    shell.attach(*model);
    TestSupport::drainEvents();
    ASSERT_NE(shell.panel(), nullptr);
    EXPECT_TRUE(shell.panel()->isVisible());

    AppModel other(std::make_unique<TranslationAPI>(std::nullopt, QUrl("https://127.0.0.1:1/api/")),
        std::make_unique<TestSupport::ScriptedCapture>(), nullptr, clock);
    shell.attach(other);
    EXPECT_EQ(shell.model(), model.get());
}

TEST_F(ShellWindowsTest, ClosingThePanelHidesTheFloatingSubtitles)
{
    AppDelegate &shell = makeDelegate();
    shell.attach(*model);
    model->setOverlayVisible(true);
    TestSupport::drainEvents();
    ASSERT_NE(shell.panel(), nullptr);
    shell.panel()->close();
    TestSupport::drainEvents();
    EXPECT_FALSE(model->overlayVisible());
    EXPECT_FALSE(shell.panel()->isVisible());
}

TEST_F(ShellWindowsTest, FirstShowIsBottomCentreAndLaterLaunchesUseTheSavedFrame)
{
    {
        AppDelegate &shell = makeDelegate();
        shell.attach(*model);
        model->setOverlayVisible(true);
        TestSupport::drainEvents();
        ASSERT_NE(shell.panel(), nullptr);
        EXPECT_EQ(shell.panel()->geometry(), initialPanelGeometry(available()));
        shell.panel()->setGeometry(QRect(40, 60, 520, 180));
    }
    // A new launch: new model, new delegate, same settings.
    makeModel(Credentials { "access", "refresh" });
    AppDelegate &shell = makeDelegate();
    shell.attach(*model);
    model->setOverlayVisible(true);
    TestSupport::drainEvents();
    ASSERT_NE(shell.panel(), nullptr);
    EXPECT_EQ(shell.panel()->geometry(), QRect(40, 60, 520, 180));
}

TEST_F(ShellWindowsTest, ClickThroughAndBackgroundOpacityAreRemembered)
{
    {
        FloatingSubtitlePanel panel(new QLabel);
        EXPECT_FALSE(panel.clickThrough());
        EXPECT_EQ(panel.backgroundOpacity(), FloatingSubtitlePanel::defaultOpacity);
        panel.present();
        panel.setClickThrough(true);
        EXPECT_TRUE(panel.isVisible()); // changing the flag does not lose the window
        EXPECT_TRUE(panel.windowFlags().testFlag(Qt::WindowTransparentForInput));
        panel.setBackgroundOpacity(5); // below the floor: the text must stay readable
        EXPECT_EQ(panel.backgroundOpacity(), FloatingSubtitlePanel::minimumOpacity);
        panel.setBackgroundOpacity(70);
    }
    FloatingSubtitlePanel panel(new QLabel);
    EXPECT_TRUE(panel.clickThrough());
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_EQ(panel.backgroundOpacity(), 70);
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
}

TEST_F(ShellWindowsTest, OverlayCommandIsDisabledWhileSignedOutAndIdle)
{
    makeModel(std::nullopt);
    WorkspaceWindow window(*model, new QLabel, [] {});
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Quorvel · 系统音频翻译"));
    EXPECT_EQ(window.size(), QSize(1100, 740));
    EXPECT_FALSE(window.toggleOverlayAction()->isEnabled());
    EXPECT_EQ(window.toggleOverlayAction()->text(), QStringLiteral("显示 / 隐藏悬浮字幕"));
    EXPECT_EQ(window.toggleOverlayAction()->shortcut(), QKeySequence("Ctrl+Shift+F"));
    EXPECT_TRUE(window.checkForUpdatesAction()->isEnabled());
}

TEST_F(ShellWindowsTest, OverlayCommandTogglesTheFloatingSubtitlesWhenSignedIn)
{
    WorkspaceWindow window(*model, new QLabel, [] {});
    ASSERT_TRUE(window.toggleOverlayAction()->isEnabled());
    window.toggleOverlayAction()->trigger();
    EXPECT_TRUE(model->overlayVisible());
    window.toggleOverlayAction()->trigger();
    EXPECT_FALSE(model->overlayVisible());
}

TEST_F(ShellWindowsTest, BackgroundOpacityShowsInTheFloatingContent)
{
    AppDelegate shell(clock); // the real floating subtitle content
    shell.attach(*model);
    model->setOverlayVisible(true);
    TestSupport::drainEvents();
    ASSERT_NE(shell.panel(), nullptr);
    FloatingSubtitlePanel &panel = *shell.panel();
    // A point of the content's background, clear of the resize border and the rounded corners.
    const QPoint background(panel.width() / 2, panel.height() - 24);
    const auto alphaAt = [&] { return panel.grab().toImage().pixelColor(background).alpha(); };
    EXPECT_EQ(alphaAt(), 255); // the first look: an opaque white window
    panel.setBackgroundOpacity(50);
    EXPECT_NEAR(alphaAt(), 127, 3);
    panel.setBackgroundOpacity(100);
    EXPECT_EQ(alphaAt(), 255);
    // The resize border around the content stays unpainted.
    EXPECT_EQ(panel.grab().toImage().pixelColor(2, panel.height() / 2).alpha(), 0);
}

TEST_F(ShellWindowsTest, ClickThroughIsSwitchedBackFromTheWindowMenuByItsShortcut)
{
    WorkspaceWindow window(*model, new QLabel, [] {});
    EXPECT_FALSE(window.clickThroughAction()->isEnabled()); // no panel yet
    EXPECT_EQ(window.clickThroughAction()->shortcut(), QKeySequence("Ctrl+Shift+T"));
    EXPECT_EQ(window.clickThroughAction()->shortcutContext(), Qt::ApplicationShortcut);
    FloatingSubtitlePanel panel(new QLabel);
    window.setPanel(&panel);
    panel.setClickThrough(true);
    EXPECT_TRUE(window.clickThroughAction()->isChecked());
    window.clickThroughAction()->trigger();
    EXPECT_FALSE(panel.clickThrough());
    EXPECT_FALSE(panel.windowFlags().testFlag(Qt::WindowTransparentForInput));
}

TEST_F(ShellWindowsTest, ClosingTheWorkspaceWithoutATrayAsksToQuit)
{
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()); // offscreen: no tray
    int quits = 0;
    WorkspaceWindow window(*model, new QLabel, [&] { ++quits; });
    window.show();
    window.close();
    EXPECT_EQ(quits, 1);
    // The window stays until the quit is answered: a refused quit leaves it usable.
    EXPECT_TRUE(window.isVisible());
}
