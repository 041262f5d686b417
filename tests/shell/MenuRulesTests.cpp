#include "TranslateMac/Shell/MenuRules.h"

#include <gtest/gtest.h>

using namespace TranslateMac;

namespace {

struct MenuCase {
    const char *name;
    MenuInputs inputs;
    const char *stateLine;
    const char *overlayTitle;
    bool overlayEnabled;
    bool stopVisible;
    bool stopEnabled;
    bool checkForUpdatesEnabled;
};

// inputs: state, loggedIn, ownsSession, overlayVisible, updateChecking
const MenuCase menuCases[] = {
    { "SignedOutIdle", { ListeningState::idle, false, false, false, false }, "准备监听",
        "显示悬浮字幕", false, false, false, true },
    { "SignedInIdle", { ListeningState::idle, true, false, false, false }, "准备监听",
        "显示悬浮字幕", true, false, false, true },
    { "ListeningWithOverlayShown", { ListeningState::listening, true, true, true, false },
        "正在监听系统音频", "隐藏悬浮字幕", true, true, true, false },
    { "SessionOwnedAfterSignInEnded", { ListeningState::pending, false, true, false, false },
        "结算等待确认", "显示悬浮字幕", true, true, true, false },
    { "StoppingDisablesStop", { ListeningState::stopping, true, true, true, false },
        "正在停止并结算", "隐藏悬浮字幕", true, true, false, false },
    { "UpdateCheckInFlight", { ListeningState::completed, true, false, false, true },
        "本次翻译已结束", "显示悬浮字幕", true, false, false, false },
};

class MenuPresentationTest : public ::testing::TestWithParam<MenuCase> { };

} // namespace

TEST_P(MenuPresentationTest, ShowsTitlesAndEnabledStates)
{
    const MenuCase &c = GetParam();
    const MenuPresentation menus = presentMenus(c.inputs);
    EXPECT_EQ(menus.stateLine, QString::fromUtf8(c.stateLine));
    EXPECT_EQ(menus.overlayTitle, QString::fromUtf8(c.overlayTitle));
    EXPECT_EQ(menus.overlayEnabled, c.overlayEnabled);
    EXPECT_EQ(menus.stopVisible, c.stopVisible);
    EXPECT_EQ(menus.stopEnabled, c.stopEnabled);
    EXPECT_EQ(menus.checkForUpdatesEnabled, c.checkForUpdatesEnabled);
}

INSTANTIATE_TEST_SUITE_P(Cases, MenuPresentationTest, ::testing::ValuesIn(menuCases),
    [](const auto &info) { return std::string(info.param.name); });
