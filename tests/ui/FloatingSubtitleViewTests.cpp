#include "ScreenFixture.h"

#include "TranslateMac/Account/UserDefaultsKeys.h"
#include "TranslateMac/Screens/Captions/FloatingLine.h"
#include "TranslateMac/Screens/Captions/FloatingSubtitleView.h"
#include "TranslateMac/Screens/Captions/FollowingCaptions.h"

#include <QApplication>
#include <QEnterEvent>

using namespace TranslateMac;

namespace {

class FloatingSubtitleViewTest : public ScreenTest {
protected:
    std::unique_ptr<FloatingSubtitleView> makeView()
    {
        auto view = std::make_unique<FloatingSubtitleView>(*model);
        view->resize(560, 200);
        view->show();
        settle();
        return view;
    }
    FloatingLine *line(FloatingSubtitleView &view, int index)
    {
        return static_cast<FloatingLine *>(view.captions().rowAt(index));
    }
};

} // namespace

TEST_F(FloatingSubtitleViewTest, SizeStaysWithinSixteenAndFortyAndIsRemembered)
{
    auto view = makeView();
    EXPECT_EQ(view->subtitleSize(), 24);
    for (int i = 0; i < 12; ++i)
        click(*view, "放大字幕");
    EXPECT_EQ(view->subtitleSize(), 40);
    for (int i = 0; i < 14; ++i)
        click(*view, "缩小字幕");
    EXPECT_EQ(view->subtitleSize(), 16);
    click(*view, "放大字幕");
    EXPECT_EQ(storedDefault(UserDefaultsKeys::floatingSubtitleSize).toDouble(), 18);
    EXPECT_EQ(makeView()->subtitleSize(), 18);
}

TEST_F(FloatingSubtitleViewTest, SourceToggleIsRemembered)
{
    auto view = makeView();
    EXPECT_TRUE(view->showSource());
    click(*view, "隐藏原文");
    EXPECT_FALSE(view->showSource());
    EXPECT_TRUE(hasButton(*view, "显示原文"));
    EXPECT_EQ(storedDefault(UserDefaultsKeys::floatingShowSource).toBool(), false);
    EXPECT_FALSE(makeView()->showSource());
}

TEST_F(FloatingSubtitleViewTest, WaitsThenShowsTheLiveLinesAndStopsTheTranslation)
{
    signIn();
    model->setOverlayVisible(true);
    auto view = makeView();
    EXPECT_EQ(view->placeholderText(), "开始监听后，字幕会显示在这里");
    EXPECT_FALSE(hasButton(*view, "停止并结算"));
    startListening();
    EXPECT_EQ(view->placeholderText(), "等待播放声音…");
    EXPECT_TRUE(hasButton(*view, "停止并结算"));

    sendCaption(1, "asr.final", "It is a beautiful night.");
    sendCaption(1, "translation.partial", "这是一个美丽的");
    ASSERT_TRUE(waitFor([&] { return view->showsCaptions() && view->captions().rowCount() == 1; }));
    settle();
    EXPECT_EQ(line(*view, 0)->targetText(), "这是一个美丽的 ▏");
    EXPECT_EQ(line(*view, 0)->sourceText(), "It is a beautiful night.");
    sendCaption(2, "asr.partial", "And");
    ASSERT_TRUE(waitFor([&] { return view->captions().rowCount() == 2; }));
    EXPECT_EQ(line(*view, 0)->targetText(), "这是一个美丽的"); // no longer the latest
    EXPECT_EQ(line(*view, 1)->targetText(), "等待译文");

    click(*view, "停止并结算");
    ASSERT_TRUE(settledIn(State::completed));
    expectSettled(1);
    click(*view, "关闭悬浮窗");
    EXPECT_FALSE(model->overlayVisible());
}

TEST_F(FloatingSubtitleViewTest, ShowsTheHeaderOnlyWhileThePointerIsOver)
{
    auto view = makeView();
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(view.get(), &leave);
    EXPECT_FALSE(view->hovering());
    QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), view->mapToGlobal(QPointF(10, 10)));
    QApplication::sendEvent(view.get(), &enter);
    EXPECT_TRUE(view->hovering());
    QApplication::sendEvent(view.get(), &leave);
    EXPECT_FALSE(view->hovering());
}
