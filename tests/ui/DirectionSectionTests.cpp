#include "ScreenFixture.h"

#include "TranslateMac/Account/UserDefaultsKeys.h"
#include "TranslateMac/Screens/Directions/DirectionSection.h"
#include "TranslateMac/Screens/Directions/LanguagePicker.h"

#include <QToolButton>

using namespace TranslateMac;

namespace {

class DirectionSectionTest : public ScreenTest {
protected:
    std::unique_ptr<DirectionSection> makeSection()
    {
        auto section = std::make_unique<DirectionSection>(*model);
        section->resize(260, 320);
        section->show();
        settle();
        return section;
    }
};

} // namespace

TEST_F(DirectionSectionTest, WithoutRoutesSaysThereAreNone)
{
    auto section = makeSection();
    EXPECT_FALSE(section->showsCard());
    EXPECT_EQ(section->emptyText(), "暂无可用方向");
}

TEST_F(DirectionSectionTest, PickingATargetSelectsItsRouteAndRemembersIt)
{
    signIn();
    auto section = makeSection();
    EXPECT_TRUE(section->showsCard());
    EXPECT_EQ(section->quoteText(), "10 积分/分钟");
    EXPECT_TRUE(section->recentChipTexts().isEmpty());

    LanguagePicker *sources = section->openSourcePicker();
    EXPECT_TRUE(section->pickingSource());
    EXPECT_EQ(sources->listedNames(), (QStringList { "中文", "粤语", "English", "日本語" }));
    EXPECT_EQ(sources->sectionTitles(), (QStringList { "中文", "方言", "外语" }));
    EXPECT_FALSE(sources->showsSearch()); // fewer than nine languages
    sources->pick("中文");
    EXPECT_FALSE(section->pickingSource());
    EXPECT_EQ(model->selectedRoute(), "ZH_EN"); // the current source becomes the target

    LanguagePicker *targets = section->openTargetPicker();
    EXPECT_EQ(targets->listedNames(), (QStringList { "English", "العربية" }));
    targets->pick("العربية");
    EXPECT_EQ(model->selectedRoute(), "ZH_AR");
    EXPECT_EQ(storedDefault(UserDefaultsKeys::recentRouteCodes).toString(), "ZH_AR,ZH_EN");
    settle();
    EXPECT_EQ(section->recentChipTexts(), (QStringList { "中文 → العربية", "中文 → English" }));
    EXPECT_FALSE(section->swapButton().isEnabled());
    EXPECT_EQ(section->swapButton().accessibleName(), "没有反向方向");

    click(*section, "切换到 中文 → English");
    EXPECT_EQ(model->selectedRoute(), "ZH_EN");
    EXPECT_TRUE(section->swapButton().isEnabled());
    EXPECT_EQ(section->swapButton().accessibleName(), "交换翻译方向");
}

TEST_F(DirectionSectionTest, RecentChipsSkipDirectionsNoLongerOffered)
{
    storeDefault(UserDefaultsKeys::recentRouteCodes, "GONE_ZH,,JA_ZH");
    signIn();
    auto section = makeSection();
    EXPECT_EQ(section->recentChipTexts(), QStringList { "日本語 → 中文" });
}

TEST_F(DirectionSectionTest, TooFewPointsAddTheTopUpNote)
{
    signIn();
    service().control("POST", "balance", { { "phone", phone }, { "points", 3 } });
    TestSupport::runTask(model->refreshQuote());
    auto section = makeSection();
    EXPECT_EQ(section->quoteText(), "10 积分/分钟 · 余额不足");
    EXPECT_EQ(section->minimumText(), "启动至少需要 20 积分，请在手机 App 中充值");
}
