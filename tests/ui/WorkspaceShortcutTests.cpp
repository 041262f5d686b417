#include "ScreenFixture.h"

#include "TranslateMac/Screens/Root/AppContentView.h"
#include "TranslateMac/Screens/Workspace/TranscriptPane.h"
#include "TranslateMac/Screens/Workspace/WorkspaceView.h"

#include <QApplication>
#include <QTest>

using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

// The workspace signed in and ready to start, in an active window.
class WorkspaceShortcutTest : public ScreenTest {
protected:
    void SetUp() override
    {
        ScreenTest::SetUp();
        signIn();
        content = std::make_unique<AppContentView>(*model);
        content->resize(1080, 720);
        content->show();
        content->activateWindow();
        ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == content.get(); }));
        ASSERT_TRUE(waitFor([&] { return model->canStart(); }));
    }
    void TearDown() override
    {
        content.reset();
        ScreenTest::TearDown();
    }
    // Every widget of the window that takes the focus by the keyboard.
    QList<QWidget *> focusPositions() const
    {
        QList<QWidget *> positions;
        for (QWidget *widget : content->findChildren<QWidget *>())
            if (widget->isVisible() && widget->isEnabled()
                && (widget->focusPolicy() & Qt::TabFocus))
                positions.append(widget);
        return positions;
    }
    static void press(QWidget *focus, Qt::Key key)
    {
        QTest::keyClick(focus, key, Qt::ControlModifier);
    }
    std::unique_ptr<AppContentView> content;
};

} // namespace

TEST_F(WorkspaceShortcutTest, StartAndStopKeysWorkWhereverTheFocusIs)
{
    const QList<QWidget *> positions = focusPositions();
    ASSERT_GE(positions.size(), 8); // the sidebar's controls and the pane's
    for (QWidget *focus : positions) {
        const QString name = focus->metaObject()->className() + QStringLiteral(" ")
            + focus->accessibleName() + focus->toolTip();
        focus->setFocus();
        ASSERT_TRUE(waitFor([&] { return focus->hasFocus(); })) << name.toStdString();
        press(focus, Qt::Key_Return);
        EXPECT_TRUE(model->ownsSession()) << "Ctrl+Return at " << name.toStdString();
        press(QApplication::focusWidget() ? QApplication::focusWidget() : focus, Qt::Key_Period);
        ASSERT_TRUE(waitFor([&] { return !model->ownsSession() && !model->settling(); }))
            << "Ctrl+. at " << name.toStdString();
        ASSERT_TRUE(waitFor([&] { return model->canStart(); })) << name.toStdString();
    }
}

// The transcript has no find of its own: Ctrl+F anywhere in the window asks for the history's
// search.
TEST_F(WorkspaceShortcutTest, TheFindKeyAsksForTheHistorySearchWhereverTheFocusIs)
{
    int asked = 0;
    QObject::connect(&content->workspace().transcript(), &TranscriptPane::historySearchRequested,
        content.get(), [&] { ++asked; });
    int expected = 0;
    for (QWidget *focus : focusPositions()) {
        const QString name = focus->metaObject()->className() + QStringLiteral(" ")
            + focus->accessibleName() + focus->toolTip();
        focus->setFocus();
        ASSERT_TRUE(waitFor([&] { return focus->hasFocus(); })) << name.toStdString();
        press(focus, Qt::Key_F);
        EXPECT_EQ(asked, ++expected) << "Ctrl+F at " << name.toStdString();
    }
}

TEST_F(WorkspaceShortcutTest, TheStopKeyDoesNotRecheckAPendingSettlement)
{
    startListening();
    service().control("POST", "/control/socket", { { "withholdFinished", true } });
    service().control("POST", "/control/finish-status", { { "status", "SETTLING" } });
    model->stop();
    ASSERT_TRUE(waitForFinishDeadline());
    clock.advance(12s);
    ASSERT_TRUE(waitForState(State::pending));
    ASSERT_TRUE(waitFor([&] { return !model->settling(); }));
    service().control("POST", "/control/finish-status", { { "status", "" } });
    press(content.get(), Qt::Key_Period);
    press(content.get(), Qt::Key_Return);
    EXPECT_FALSE(model->settling());
    settle();
    EXPECT_EQ(model->state(), State::pending); // only "确认结算" re-checks
}
