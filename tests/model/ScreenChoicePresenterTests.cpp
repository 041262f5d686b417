#include "TranslateMac/Screens/Account/LoginPresenter.h"
#include "TranslateMac/Screens/Directions/DirectionPresenter.h"
#include "TranslateMac/Screens/Directions/LanguagePickerModel.h"
#include "TranslateMac/Screens/Directions/RecentRoutes.h"
#include "TranslateMac/Screens/Update/UpdatePresenter.h"
#include "TranslateMac/Screens/Workspace/SourcePresenter.h"

#include <gtest/gtest.h>

using namespace TranslateMac;
using namespace std::chrono_literals;
using Group = LanguageOption::Group;
using TranslateCore::TranslationRoute;

namespace {

QList<LanguageOption> options(const QStringList &codes)
{
    QList<LanguageOption> list;
    for (const QString &code : codes)
        list.append({ QStringLiteral("语言 ") + code, code });
    return list;
}

QStringList codesOf(const QList<LanguageOption> &list)
{
    QStringList codes;
    for (const LanguageOption &option : list)
        codes.append(option.code);
    return codes;
}

TranslationRoute route(const QString &code, const QString &name)
{
    return { code, name, {}, {} };
}

} // namespace

TEST(LanguagePickerModelTest, SearchMatchesNameOrCodeIgnoringCaseAndSpaces)
{
    const QList<LanguageOption> all { { "英语", "en" }, { "中文", "zh" }, { "粤语", "yue" },
        { "English (UK)", "en-GB" } };
    EXPECT_EQ(LanguagePickerModel::filter(all, "   "), all);
    EXPECT_EQ(LanguagePickerModel::filter(all, ""), all);
    EXPECT_EQ(codesOf(LanguagePickerModel::filter(all, " EN ")), (QStringList { "en", "en-GB" }));
    EXPECT_EQ(codesOf(LanguagePickerModel::filter(all, "english")), QStringList { "en-GB" });
    EXPECT_EQ(codesOf(LanguagePickerModel::filter(all, "粤")), QStringList { "yue" });
    EXPECT_TRUE(LanguagePickerModel::filter(all, "xx").isEmpty());
}

TEST(LanguagePickerModelTest, GroupsChineseThenDialectsThenForeignInCatalogOrder)
{
    const auto list = options(
        { "en", "zh-x-sichuan", "ZH-TW", "ja", "zh", "YUE", "cmn-Hans", "yue-HK", "Zh-X-Min" });
    const auto sections = LanguagePickerModel::sections(list);
    ASSERT_EQ(sections.size(), 3);
    EXPECT_EQ(sections[0].group, Group::chinese);
    EXPECT_EQ(codesOf(sections[0].items), (QStringList { "ZH-TW", "zh", "cmn-Hans" }));
    EXPECT_EQ(sections[1].group, Group::dialect);
    EXPECT_EQ(
        codesOf(sections[1].items), (QStringList { "zh-x-sichuan", "YUE", "yue-HK", "Zh-X-Min" }));
    EXPECT_EQ(sections[2].group, Group::foreign);
    EXPECT_EQ(codesOf(sections[2].items), (QStringList { "en", "ja" }));
    EXPECT_EQ(sections[1].countText(), "4 种");
    EXPECT_EQ(LanguagePickerModel::sections(options({ "en", "fr" })).size(), 1);
}

TEST(RecentRoutesTest, RememberingMovesToTheFrontWithoutDuplicates)
{
    EXPECT_EQ(RecentRoutes::remember("", "EN_ZH"), "EN_ZH");
    EXPECT_EQ(RecentRoutes::remember("A,B,C", "B"), "B,A,C");
    EXPECT_EQ(RecentRoutes::remember("A,B,C", "A"), "A,B,C");
    EXPECT_EQ(RecentRoutes::remember("A,,B,", "C"), "C,A,B");
    EXPECT_EQ(RecentRoutes::remember("A,B", ""), "A,B");
}

TEST(RecentRoutesTest, KeepsAtMostSixDirections)
{
    QString stored;
    for (const char *code : { "R1", "R2", "R3", "R4", "R5", "R6", "R7" })
        stored = RecentRoutes::remember(stored, code);
    EXPECT_EQ(stored, "R7,R6,R5,R4,R3,R2");
}

TEST(RecentRoutesTest, SkipsCodesNoLongerOffered)
{
    const QList<TranslationRoute> offered { route("EN_ZH", "英语 → 中文"),
        route("ZH_EN", "中文 → 英语"), route("JA_ZH", "日语 → 中文") };
    const auto recent = RecentRoutes::routes("JA_ZH,GONE,,EN_ZH", offered);
    ASSERT_EQ(recent.size(), 2);
    EXPECT_EQ(recent[0].code, "JA_ZH");
    EXPECT_EQ(recent[1].code, "EN_ZH");
    EXPECT_EQ(RecentRoutes::chipText(recent[0]), "日语 → 中文");
    EXPECT_TRUE(RecentRoutes::routes("", offered).isEmpty());
}

TEST(DirectionPresenterTest, SwapNeedsTheReverseRoute)
{
    const DirectionCatalog catalog { { route("EN_ZH", "英语 → 中文"), route("ZH_EN", "中文 → 英语"),
        route("JA_ZH", "日语 → 中文") } };
    EXPECT_TRUE(DirectionPresenter::canSwap(catalog, catalog.routes[0]));
    EXPECT_FALSE(DirectionPresenter::canSwap(catalog, catalog.routes[2]));
    EXPECT_FALSE(DirectionPresenter::canSwap(catalog, std::nullopt));
    EXPECT_EQ(DirectionPresenter::swapHelp(true), "交换翻译方向");
    EXPECT_EQ(DirectionPresenter::swapHelp(false), "没有反向方向");
}

TEST(DirectionPresenterTest, QuoteLineShowsThePriceAndTheShortfall)
{
    const TranslateCore::Quote affordable { true, 6, 1000, 30 };
    const TranslateCore::Quote short_ { false, 6, 12, 30 };
    EXPECT_EQ(DirectionPresenter::quoteLine(true, affordable), "报价中…");
    EXPECT_EQ(DirectionPresenter::quoteLine(false, affordable), "6 积分/分钟");
    EXPECT_EQ(DirectionPresenter::quoteLine(false, short_), "6 积分/分钟 · 余额不足");
    EXPECT_EQ(DirectionPresenter::quoteLine(false, std::nullopt), std::nullopt);
    EXPECT_EQ(DirectionPresenter::minimumLine(short_), "启动至少需要 30 积分，请在手机 App 中充值");
    EXPECT_EQ(DirectionPresenter::minimumLine(affordable), std::nullopt);
}

TEST(LoginPresenterTest, SubmitNeedsAPhoneAndExactlySixCharacters)
{
    struct Case {
        bool busy;
        QString phone;
        QString code;
        bool enabled;
    } cases[] = {
        { false, "13800000000", "123456", true },
        { false, " 13800000000\n", "123456", true },
        { false, "13800000000", "12345", false },
        { false, "13800000000", "1234567", false },
        { false, "   ", "123456", false },
        { false, " \n\t", "123456", false },
        { true, "13800000000", "123456", false },
    };
    for (const Case &c : cases)
        EXPECT_EQ(LoginPresenter::canSubmit(c.busy, c.phone, c.code), c.enabled)
            << c.phone.toStdString() << "/" << c.code.toStdString();
}

TEST(LoginPresenterTest, SendButtonCountsDownWholeSeconds)
{
    const TranslateCore::Instant now { std::chrono::seconds(1'000'000) };
    EXPECT_EQ(LoginPresenter::cooldownSeconds(std::nullopt, now), 0);
    EXPECT_EQ(LoginPresenter::cooldownSeconds(now + 60s, now), 60);
    EXPECT_EQ(LoginPresenter::cooldownSeconds(now + 200ms, now), 1);
    EXPECT_EQ(LoginPresenter::cooldownSeconds(now - 1s, now), 0);
    EXPECT_EQ(LoginPresenter::sendCodeLabel(0), "获取验证码");
    EXPECT_EQ(LoginPresenter::sendCodeLabel(42), "42 秒后重发");
}

TEST(LoginPresenterTest, QRPaneTextsByPhase)
{
    using Phase = QRLoginModel::Phase;
    EXPECT_EQ(LoginPresenter::qrHeadline(Phase::idle), "正在生成二维码…");
    EXPECT_EQ(LoginPresenter::qrHeadline(Phase::loading), "正在生成二维码…");
    EXPECT_EQ(LoginPresenter::qrHeadline(Phase::completed), "登录成功");
    EXPECT_EQ(LoginPresenter::qrHeadline(Phase::expired), "二维码已过期");
    EXPECT_EQ(LoginPresenter::qrHeadline(Phase::rejected), "已在手机上拒绝登录");
    EXPECT_EQ(LoginPresenter::qrHeadline(Phase::failed), "二维码暂时不可用");
    for (Phase phase : { Phase::expired, Phase::rejected, Phase::failed })
        EXPECT_TRUE(LoginPresenter::qrOffersRefresh(phase));
    for (Phase phase :
        { Phase::idle, Phase::loading, Phase::waiting, Phase::recovering, Phase::completed })
        EXPECT_FALSE(LoginPresenter::qrOffersRefresh(phase));
    EXPECT_TRUE(LoginPresenter::qrShowsCode(Phase::recovering));
    EXPECT_EQ(LoginPresenter::qrWaitingLine(std::nullopt), "等待手机扫码并确认");
    EXPECT_EQ(LoginPresenter::qrWaitingLine(QStringLiteral("网络不稳定，正在重试")),
        "网络不稳定，正在重试");
    const TranslateCore::Instant now { std::chrono::seconds(1'000'000) };
    EXPECT_EQ(LoginPresenter::qrCountdown(now + 125s, now), "2:05");
    EXPECT_EQ(LoginPresenter::qrCountdown(now - 5s, now), "0:00");
}

TEST(UpdatePresenterTest, ADemandedUpdateCannotBeDismissed)
{
    TranslateCore::AppUpdateResult demanded;
    demanded.enabled = demanded.updateAvailable = demanded.forceUpdate = true;
    demanded.latestVersion = "2.0.0";
    demanded.latestBuildNumber = 200;
    auto panel = UpdatePresenter::panel(demanded, false);
    EXPECT_EQ(panel.title, "需要更新Quorvel");
    EXPECT_EQ(panel.version, "新版本 2.0.0 (200)");
    EXPECT_EQ(panel.text, "当前版本已停止支持，请更新后继续使用。");
    EXPECT_EQ(panel.secondary, "重新检查");
    EXPECT_FALSE(panel.secondaryDismisses);
    panel = UpdatePresenter::panel(demanded, true);
    EXPECT_EQ(panel.secondary, "正在检查…");
    EXPECT_FALSE(panel.secondaryEnabled);

    TranslateCore::AppUpdateResult optional = demanded;
    optional.forceUpdate = false;
    optional.releaseNotes = "修复了字幕闪烁";
    panel = UpdatePresenter::panel(optional, true);
    EXPECT_EQ(panel.title, "发现新版本");
    EXPECT_EQ(panel.text, "更新后可体验最新功能和改进。");
    EXPECT_EQ(panel.releaseNotes, "修复了字幕闪烁");
    EXPECT_EQ(panel.secondary, "稍后");
    EXPECT_TRUE(panel.secondaryDismisses);
}

TEST(UpdatePresenterTest, TheRowWaitsForTheTranslationToEnd)
{
    const auto installation = TranslateCore::AppInstallation::validated("1.0.0", 7);
    auto row = UpdatePresenter::row(installation, "已是最新版本", false, true);
    EXPECT_EQ(row.label, "Quorvel 1.0.0 (7)");
    EXPECT_EQ(row.status, "当前翻译结束后可检查更新");
    EXPECT_EQ(row.button, "检查更新");
    EXPECT_FALSE(row.buttonEnabled);
    row = UpdatePresenter::row(installation, "已是最新版本", false, false);
    EXPECT_EQ(row.status, "已是最新版本");
    EXPECT_TRUE(row.buttonEnabled);
    row = UpdatePresenter::row(installation, "正在检查更新…", true, false);
    EXPECT_EQ(row.button, "正在检查…");
    EXPECT_FALSE(row.buttonEnabled);
}

TEST(SourcePresenterTest, AccessRowByCheckState)
{
    using SourcePresenter::access;
    EXPECT_EQ(access(true, QStringLiteral("x"), true, true).title, "正在检查音源");
    EXPECT_EQ(access(true, std::nullopt, true, true).detail, "检查中…");
    const auto failed = access(false, QStringLiteral("音频服务无响应"), true, true);
    EXPECT_EQ(failed.title, "音源检查失败");
    EXPECT_EQ(failed.detail, "音频服务无响应");
    EXPECT_TRUE(failed.offersRetry);
    EXPECT_EQ(access(false, QString(), true, true).detail, "请稍后重试");
    EXPECT_EQ(access(false, std::nullopt, true, true).title, "已确认系统音频访问");
    EXPECT_EQ(access(false, std::nullopt, true, false).title, "已确认音频访问");
    EXPECT_EQ(access(false, std::nullopt, false, true).icon, "lock.shield.fill");
}
