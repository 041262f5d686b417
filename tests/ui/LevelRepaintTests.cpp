#include "ScreenFixture.h"

#include "TranslateMac/Screens/Root/AppContentView.h"
#include "TranslateMac/Screens/Workspace/SidebarView.h"
#include "TranslateMac/Screens/Workspace/WorkspaceView.h"
#include "TranslateMac/Shell/WorkspaceWindow.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

using namespace TranslateMac;

namespace {

// Counts the paint events of every widget, and separately those inside `watched`.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget &watched) : m_watched(watched) { }
    int total = 0;
    int watched = 0;

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() != QEvent::Paint || !object->isWidgetType())
            return false;
        ++total;
        auto *widget = static_cast<QWidget *>(object);
        if (widget == &m_watched || m_watched.isAncestorOf(widget))
            ++watched;
        return false;
    }

private:
    QWidget &m_watched;
};

// A frame of 1600 samples of a square wave of `amplitude` (of full scale): its level is known.
QByteArray squareFrame(double amplitude)
{
    QByteArray frame(1600 * 2, Qt::Uninitialized);
    const auto peak = qint16(amplitude * 32767);
    for (int i = 0; i < 1600; ++i) {
        const qint16 sample = i % 2 ? peak : qint16(-peak);
        std::memcpy(frame.data() + 2 * i, &sample, sizeof sample);
    }
    return frame;
}

} // namespace

// The level meter moves ten times a second while listening; the account corner of the sidebar
// (avatar, name, balance) shows nothing that moves with it and must not repaint.
TEST_F(ScreenTest, LevelUpdatesWhileListeningRepaintNeitherAvatarNorAccount)
{
    signIn();
    WorkspaceWindow window(*model, new AppContentView(*model), [] {});
    window.show();
    ASSERT_TRUE(waitFor([&] { return model->canStart(); }));
    startListening();
    settle();
    auto &content = static_cast<AppContentView &>(*window.centralWidget());
    PaintCounter paints(content.workspace().sidebar());
    qApp->installEventFilter(&paints);
    constexpr int updates = 20;
    for (int i = 0; i < updates; ++i) {
        const double amplitude = 0.05 + 0.01 * (i % 10);
        ASSERT_EQ(capture->push(squareFrame(amplitude)), TranslateCore::PushResult::ok);
        // The level is four times the frame's RMS, which for a square wave is its amplitude.
        ASSERT_TRUE(waitFor([&] { return std::abs(model->level() - 4 * amplitude) < 0.01; }));
        settle();
    }
    qApp->removeEventFilter(&paints);
    std::printf("paints per level update: %.2f (sidebar %.2f)\n", double(paints.total) / updates,
        double(paints.watched) / updates);
    EXPECT_EQ(paints.watched, 0);
    EXPECT_GT(paints.total, 0); // the meter itself did repaint
}
