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

TEST(LanguagePickerTest, SearchesFromNineLanguagesAndReportsThePick)
{
    QList<LanguageOption> options;
    for (const char *code : { "en", "fr", "de", "ja", "ko", "es", "it", "zh-TW", "yue" })
        options.append({ QString::fromLatin1(code).toUpper() + QStringLiteral(" 语"), code });
    std::optional<LanguageOption> picked;
    LanguagePicker picker("目标语言", options, QStringLiteral("JA 语"), true,
        [&](const LanguageOption &option) { picked = option; });
    picker.show();
    EXPECT_TRUE(picker.showsSearch());
    EXPECT_EQ(picker.listedNames().size(), 9);
    EXPECT_EQ(picker.preferredHeight(), 3 * 26 + 9 * 31 + 88 + 14);
    EXPECT_EQ(picker.height(), std::min(picker.preferredHeight(), LanguagePicker::maximumHeight));

    picker.setQuery("  ");
    EXPECT_EQ(picker.listedNames().size(), 9);
    picker.setQuery("Zh");
    EXPECT_EQ(picker.listedNames(), QStringList { "ZH-TW 语" });
    EXPECT_TRUE(picker.sectionTitles().isEmpty()); // one section: no header
    picker.setQuery("klingon");
    EXPECT_TRUE(picker.listedNames().isEmpty());
    EXPECT_TRUE(picker.showsNoMatch());
    EXPECT_EQ(picker.height(), 31 + 88 + 14);

    picker.setQuery("");
    picker.pick("FR 语");
    ASSERT_TRUE(picked.has_value());
    EXPECT_EQ(picked->code, "fr");
    EXPECT_FALSE(picker.isVisible());
}
