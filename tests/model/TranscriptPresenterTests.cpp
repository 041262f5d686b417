#include "TranslateMac/Screens/Captions/CaptionText.h"
#include "TranslateMac/Screens/Captions/FollowState.h"
#include "TranslateMac/Screens/Common/StatusPill.h"
#include "TranslateMac/Screens/Common/SubtitleSize.h"
#include "TranslateMac/Screens/Workspace/TranscriptPresenter.h"

#include <gtest/gtest.h>

using namespace TranslateMac;
using namespace TranslateMac::TranscriptPresenter;
using State = ListeningState;

namespace {

// Every precondition of a start holds.
Facts ready()
{
    Facts facts;
    facts.canStart = true;
    facts.accessConfirmed = true;
    facts.routeSelected = true;
    facts.quote = TranslateCore::Quote { true, 6, 1000, 30 };
    return facts;
}

} // namespace

TEST(SubtitleSizeTest, PressesStayWithinEachViewsBounds)
{
    struct Case {
        SubtitleSizeBounds bounds;
        double size;
        double smaller;
        double larger;
    } cases[] = {
        { workspaceSubtitleBounds, 21, 19, 23 },
        { workspaceSubtitleBounds, 16, 16, 18 },
        { workspaceSubtitleBounds, 36, 34, 36 },
        { workspaceSubtitleBounds, 17, 16, 19 },
        { floatingSubtitleBounds, 24, 22, 26 },
        { floatingSubtitleBounds, 40, 38, 40 },
        { floatingSubtitleBounds, 16, 16, 18 },
        { floatingSubtitleBounds, 36, 34, 38 },
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.bounds.smaller(c.size), c.smaller) << c.size;
        EXPECT_EQ(c.bounds.larger(c.size), c.larger) << c.size;
    }
}

TEST(TranscriptPresenterTest, ElapsedTimeIsHoursMinutesSeconds)
{
    EXPECT_EQ(elapsedText(0), "00:00:00");
    EXPECT_EQ(elapsedText(59), "00:00:59");
    EXPECT_EQ(elapsedText(3661), "01:01:01");
    EXPECT_EQ(elapsedText(36000 + 59 * 60 + 9), "10:59:09");
}

TEST(TranscriptPresenterTest, StartHintNamesTheFirstMissingPrecondition)
{
    struct Case {
        const char *name;
        std::function<void(Facts &)> change;
        std::optional<Hint> hint;
    };
    const Case cases[] = {
        { "ready", [](Facts &) {}, std::nullopt },
        { "owned",
            [](Facts &f) { f.canStart = false, f.ownsSession = true, f.sourcesRefreshing = true; },
            std::nullopt },
        { "pending",
            [](Facts &f) { f.canStart = false, f.state = State::pending, f.quote.reset(); },
            std::nullopt },
        { "checking",
            [](Facts &f) {
                f.canStart = false, f.sourcesRefreshing = true, f.sourceCheckFailure = "坏了";
            },
            Hint { "检查中", "正在检查系统音源", "hourglass" } },
        { "failure", [](Facts &f) { f.canStart = false, f.sourceCheckFailure = "音频服务无响应"; },
            Hint { "音源异常", "音频服务无响应", "exclamationmark.circle" } },
        { "access",
            [](Facts &f) {
                f.canStart = false, f.accessConfirmed = false, f.routeSelected = false;
            },
            Hint { "未授权", "请先在左侧允许系统音频访问", "lock" } },
        { "route", [](Facts &f) { f.canStart = false, f.routeSelected = false; },
            Hint { "未选方向", "请在左侧选择翻译方向", "globe" } },
        { "quoting", [](Facts &f) { f.canStart = false, f.quoteBusy = true; },
            Hint { "报价中", "正在获取报价", "hourglass" } },
        { "account", [](Facts &f) { f.canStart = false, f.accountBusy = true; },
            Hint { "报价中", "正在获取报价", "hourglass" } },
        { "no quote", [](Facts &f) { f.canStart = false, f.quote.reset(); },
            Hint { "暂无报价", "报价暂不可用，请稍后重试", "exclamationmark.circle" } },
        { "points",
            [](Facts &f) {
                f.canStart = false, f.quote = TranslateCore::Quote { false, 6, 12, 30 };
            },
            Hint { "积分不足", "启动至少需要 30 积分，请在手机 App 中充值", "creditcard" } },
    };
    for (const Case &c : cases) {
        Facts facts = ready();
        c.change(facts);
        EXPECT_EQ(startHint(facts), c.hint) << c.name;
    }
}

TEST(TranscriptPresenterTest, OnlyALevelAboveFiveThousandthsCountsAsReceiving)
{
    EXPECT_FALSE(receivingAudio(0.005f));
    EXPECT_TRUE(receivingAudio(0.0051f));
    EXPECT_EQ(levelHelp(0.005f, State::listening), "等待播放音频");
    EXPECT_EQ(levelHelp(0.005f, State::idle), "未在监听");
    EXPECT_EQ(levelHelp(0.2f, State::reconnecting), "正在接收播放音频");
    EXPECT_EQ(levelValue(0.005f), "无声音");
    EXPECT_EQ(levelValue(0.3f), "正在接收");
}

TEST(TranscriptPresenterTest, MeterBarsRiseByTheirWeightsAndCapAtEighteen)
{
    const std::array<double, 5> silent { 4, 4, 4, 4, 4 };
    EXPECT_EQ(meterBarHeights(0), silent);
    const auto half = meterBarHeights(0.5f);
    const std::array<double, 5> expected { 0.36 * 14 + 4, 0.6 * 14 + 4, 0.8 * 14 + 4, 0.56 * 14 + 4,
        0.4 * 14 + 4 };
    for (size_t i = 0; i < 5; ++i)
        EXPECT_NEAR(half[i], expected[i], 1e-6) << i;
    const auto loud = meterBarHeights(1.0f);
    EXPECT_NEAR(loud[0], 0.72 * 14 + 4, 1e-6);
    EXPECT_EQ(loud[1], 18);
    EXPECT_EQ(loud[2], 18);
    EXPECT_EQ(loud[3], 18);
}

TEST(TranscriptPresenterTest, UsedPointsShowWhileOwnedOrOnceSpent)
{
    Facts facts = ready();
    facts.remaining = 970;
    EXPECT_EQ(usage(facts).remaining, "剩余 970 积分");
    EXPECT_FALSE(usage(facts).used.has_value());
    facts.ownsSession = true;
    EXPECT_EQ(usage(facts).used, "−0");
    facts.ownsSession = false;
    facts.used = 3;
    EXPECT_EQ(usage(facts).used, "−3");
    EXPECT_EQ(usage(facts).usedHelp, "本次已用 3 积分");
}

TEST(TranscriptPresenterTest, ActionButtonFollowsTheState)
{
    struct Case {
        State state;
        bool owns;
        bool canStart;
        QString label;
        QString help;
        bool enabled;
    } cases[] = {
        { State::idle, false, true, "开始", "开始监听系统音频", true },
        { State::completed, false, false, "开始", "开始监听系统音频", false },
        { State::preparing, true, false, "取消", "取消准备，不创建翻译会话", true },
        { State::connecting, true, false, "停止", "停止监听并结算", true },
        { State::listening, true, false, "停止", "停止监听并结算", true },
        { State::stopping, true, false, "结算中…", "停止监听并结算", true },
        { State::pending, true, false, "确认结算", "重新向服务端确认本次结算", true },
    };
    for (const Case &c : cases) {
        Facts facts;
        facts.state = c.state;
        facts.ownsSession = c.owns;
        facts.canStart = c.canStart;
        const Action shown = action(facts);
        EXPECT_EQ(shown.label, c.label) << rawValue(c.state).toStdString();
        EXPECT_EQ(shown.help, c.help) << rawValue(c.state).toStdString();
        EXPECT_EQ(shown.enabled, c.enabled) << rawValue(c.state).toStdString();
    }
    Facts start;
    EXPECT_EQ(action(start).shortcut, "Ctrl+Return");
    start.ownsSession = true;
    start.state = State::listening;
    EXPECT_EQ(action(start).shortcut, "Ctrl+.");
}

TEST(FollowStateTest, OnlyAScrollBackBeyondHalfAPointStopsFollowing)
{
    EXPECT_FALSE(FollowState::stopsFollowingOnScroll(0.5));
    EXPECT_TRUE(FollowState::stopsFollowingOnScroll(0.6));
    EXPECT_FALSE(FollowState::stopsFollowingOnScroll(-3));
}

TEST(FollowStateTest, CountsChangesOfTheLastCaptionWhileNotFollowing)
{
    FollowState state;
    state.open(4);
    EXPECT_TRUE(state.captionsChanged(5)); // following: scroll, nothing unseen
    EXPECT_EQ(state.unseen(), 0);
    EXPECT_EQ(state.returnLabel(), "回到最新");
    EXPECT_FALSE(state.setFollowing(false));
    EXPECT_FALSE(state.captionsChanged(5)); // the same caption revised
    EXPECT_EQ(state.unseen(), 0);
    state.captionsChanged(6);
    state.captionsChanged(7);
    state.captionsChanged(7);
    state.captionsChanged(9);
    EXPECT_EQ(state.unseen(), 3);
    EXPECT_EQ(state.returnLabel(), "3 句新内容");
    EXPECT_TRUE(state.setFollowing(true));
    EXPECT_EQ(state.unseen(), 0);
    EXPECT_EQ(state.lastSequence(), 9);
}

TEST(CaptionTextTest, PlaceholdersAndTheCursorOfTheLatestCaption)
{
    const TranslateCore::Caption empty { 1, "", "", false, false };
    EXPECT_EQ(CaptionText::source(empty, true), (CaptionText::Block { "正在识别", true, false }));
    EXPECT_EQ(CaptionText::target(empty, true), (CaptionText::Block { "正在翻译", true, false }));
    EXPECT_EQ(CaptionText::floatingTarget(empty, true, true),
        (CaptionText::Block { "等待译文", true, false }));

    const TranslateCore::Caption partial { 2, "hello wor", "你好", false, false };
    EXPECT_TRUE(CaptionText::source(partial, true).cursor);
    EXPECT_FALSE(CaptionText::source(partial, false).cursor);
    EXPECT_TRUE(CaptionText::target(partial, true).cursor);
    EXPECT_TRUE(CaptionText::floatingTarget(partial, true, true).cursor);
    EXPECT_FALSE(CaptionText::floatingTarget(partial, true, false).cursor); // session over

    const TranslateCore::Caption done { 3, "hello world", "你好世界", true, true };
    EXPECT_FALSE(CaptionText::source(done, true).cursor);
    EXPECT_FALSE(CaptionText::target(done, true).cursor);
    EXPECT_EQ(CaptionText::cursor, " ▏");
}
