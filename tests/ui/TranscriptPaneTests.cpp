#include "ScreenFixture.h"

#include "TranslateMac/Account/UserDefaultsKeys.h"
#include "TranslateMac/Screens/Captions/FollowingCaptions.h"
#include "TranslateMac/Screens/Workspace/LevelMeter.h"
#include "TranslateMac/Screens/Workspace/TranscriptCaptionRow.h"
#include "TranslateMac/Screens/Workspace/TranscriptEmptyState.h"
#include "TranslateMac/Screens/Workspace/TranscriptPane.h"

#include <QPushButton>

using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

class TranscriptPaneTest : public ScreenTest {
protected:
    std::unique_ptr<TranscriptPane> makePane()
    {
        auto pane = std::make_unique<TranscriptPane>(*model);
        pane->resize(680, 560);
        pane->show();
        settle();
        return pane;
    }
    TranscriptCaptionRow *row(TranscriptPane &pane, int index)
    {
        return static_cast<TranscriptCaptionRow *>(pane.captions().rowAt(index));
    }
};

} // namespace

TEST_F(TranscriptPaneTest, SubtitleSizeStaysWithinSixteenAndThirtySixAndIsRemembered)
{
    auto pane = makePane();
    EXPECT_EQ(pane->subtitleSize(), 21);
    click(*pane, "放大字幕");
    EXPECT_EQ(pane->subtitleSize(), 23);
    for (int i = 0; i < 10; ++i)
        click(*pane, "放大字幕");
    EXPECT_EQ(pane->subtitleSize(), 36);
    EXPECT_EQ(storedDefault(UserDefaultsKeys::subtitleSize).toDouble(), 36);
    for (int i = 0; i < 12; ++i)
        click(*pane, "缩小字幕");
    EXPECT_EQ(pane->subtitleSize(), 16);
    click(*pane, "放大字幕");
    EXPECT_EQ(makePane()->subtitleSize(), 18); // a new window opens with the stored size
}

TEST_F(TranscriptPaneTest, CopyCheckmarkLastsOneAndAHalfSecondsAfterTheLastCopy)
{
    auto pane = makePane();
    click(*pane, "复制全部字幕");
    EXPECT_TRUE(pane->copied());
    clock.advance(1s);
    click(*pane, "复制全部字幕");
    clock.advance(1s);
    EXPECT_TRUE(pane->copied());
    clock.advance(500ms);
    EXPECT_FALSE(pane->copied());
}

TEST_F(TranscriptPaneTest, HintsExplainWhyAStartIsNotPossible)
{
    auto pane = makePane();
    EXPECT_EQ(pane->hintText(), "未选方向");
    EXPECT_EQ(pane->hintHelp(), "请在左侧选择翻译方向");
    EXPECT_FALSE(pane->actionButton().isEnabled());
    EXPECT_EQ(pane->levelHelpText(), "未在监听");

    signIn();
    EXPECT_EQ(pane->hintText(), "");
    EXPECT_TRUE(pane->actionButton().isEnabled());
    EXPECT_TRUE(pane->actionButton().text().startsWith("开始"));
    EXPECT_TRUE(pane->actionButton().text().endsWith(
        QKeySequence(Qt::CTRL | Qt::Key_Return).toString(QKeySequence::NativeText)));
    EXPECT_EQ(pane->actionButton().accessibleName(), "开始监听系统音频");
    EXPECT_TRUE(pane->usageText().startsWith("剩余 "));
    EXPECT_EQ(pane->usedText(), "");

    service().control("POST", "balance", { { "phone", phone }, { "points", 5 } });
    TestSupport::runTask(model->refreshAccount());
    ASSERT_TRUE(waitFor(
        [&] { return !model->quoteBusy() && model->quote() && !model->quote()->canStart; }));
    EXPECT_EQ(pane->hintText(), "积分不足");
    EXPECT_EQ(pane->hintHelp(), "启动至少需要 20 积分，请在手机 App 中充值");
    EXPECT_EQ(pane->usageText(), "剩余 5 积分");
    EXPECT_FALSE(pane->actionButton().isEnabled());
}

TEST_F(TranscriptPaneTest, ShowsLiveCaptionsAndStopsAndSettlesFromTheButton)
{
    signIn();
    auto pane = makePane();
    EXPECT_FALSE(pane->emptyState().showsWaiting());
    startListening();
    EXPECT_TRUE(pane->emptyState().showsWaiting());
    EXPECT_TRUE(pane->actionButton().text().startsWith("停止"));
    EXPECT_EQ(pane->usedText(), "−0");

    sendCaption(1, "asr.final", "Good evening, everyone.");
    sendCaption(1, "translation.final", "大家晚上好。");
    sendCaption(2, "asr.partial", "Tonight we");
    ASSERT_TRUE(waitFor([&] { return pane->captions().rowCount() == 2; }));
    EXPECT_TRUE(pane->showsCaptions());
    EXPECT_EQ(row(*pane, 0)->sourceText(), "Good evening, everyone.");
    EXPECT_EQ(row(*pane, 0)->targetText(), "大家晚上好。");
    EXPECT_EQ(row(*pane, 1)->sourceText(), "Tonight we ▏");
    EXPECT_EQ(row(*pane, 1)->targetText(), "正在翻译");

    clock.advance(1s);
    ASSERT_TRUE(waitFor([&] { return !pane->elapsedText().isEmpty(); }));
    EXPECT_EQ(pane->elapsedText(), "00:00:01");

    pane->actionButton().click();
    ASSERT_TRUE(settledIn(State::completed));
    expectSettled(1);
    EXPECT_TRUE(pane->actionButton().text().startsWith("开始"));
    EXPECT_EQ(pane->captions().rowCount(), 2); // the captions stay for copying and export
}

TEST_F(TranscriptPaneTest, LevelMeterRisesWhilePlaybackArrives)
{
    signIn();
    auto pane = makePane();
    startListening();
    EXPECT_EQ(pane->levelHelpText(), "等待播放音频");
    EXPECT_EQ(pane->levelMeter().accessibleDescription(), "无声音");
    play(440, 5);
    ASSERT_TRUE(waitFor([&] { return model->level() > 0.005f; }));
    EXPECT_EQ(pane->levelHelpText(), "正在接收播放音频");
    EXPECT_EQ(pane->levelMeter().accessibleDescription(), "正在接收");
    EXPECT_GT(pane->levelMeter().targetHeights()[2], 4);
    model->stop();
    EXPECT_TRUE(settledIn(State::completed));
}

TEST_F(TranscriptPaneTest, RightToLeftTargetsAreLaidOutRightToLeft)
{
    signIn();
    model->setSelectedRoute("ZH_AR");
    ASSERT_TRUE(waitFor([&] { return !model->quoteBusy() && model->canStart(); }));
    auto pane = makePane();
    startListening();
    sendCaption(1, "asr.final", "晚上好");
    sendCaption(1, "translation.final", "مساء الخير");
    ASSERT_TRUE(waitFor([&] { return pane->captions().rowCount() == 1; }));
    settle();
    EXPECT_EQ(row(*pane, 0)->targetText(), "مساء الخير");
    EXPECT_TRUE(row(*pane, 0)->targetIsRightToLeft());
    screenshot(*pane, "11-workspace-right-to-left");
    model->stop();
    EXPECT_TRUE(settledIn(State::completed));
}

TEST_F(TranscriptPaneTest, FollowToggleSaysWhetherItFollows)
{
    auto pane = makePane();
    click(*pane, "自动跟随最新字幕：开");
    EXPECT_FALSE(pane->followLatest());
    EXPECT_FALSE(pane->captions().following());
    EXPECT_TRUE(hasButton(*pane, "自动跟随最新字幕：关"));
    click(*pane, "自动跟随最新字幕：关");
    EXPECT_TRUE(pane->followLatest());
    EXPECT_TRUE(pane->captions().following());
}

TEST_F(TranscriptPaneTest, APendingSettlementIsConfirmedFromTheButton)
{
    signIn();
    service().control("POST", "/control/socket", { { "withholdFinished", true } });
    service().control("POST", "/control/finish-status", { { "status", "SETTLING" } });
    auto pane = makePane();
    startListening();
    model->stop();
    ASSERT_TRUE(waitForFinishDeadline());
    clock.advance(AppModel::finishDeadline);
    ASSERT_TRUE(waitForState(State::pending));
    EXPECT_EQ(pane->actionButton().text(), "确认结算");
    EXPECT_EQ(pane->actionButton().accessibleName(), "重新向服务端确认本次结算");
    EXPECT_EQ(pane->hintText(), "");
    EXPECT_EQ(pane->messageText(), *model->error());

    service().control("POST", "/control/finish-status", { { "status", "" } });
    pane->actionButton().click();
    ASSERT_TRUE(settledIn(State::completed));
    expectSettled(1);
    EXPECT_TRUE(pane->actionButton().text().startsWith("开始"));
}
