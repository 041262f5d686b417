#include "AppModelFixture.h"

#include "TranslateMac/Update/AppUpdateModel.h"

using namespace TranslateCore;
using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

QJsonObject answerWith(const QJsonValue &data)
{
    return { { "envelope", QJsonObject { { "code", 0 }, { "data", data } } } };
}

QJsonObject route(const char *code, const QString &name)
{
    return { { "routeCode", code }, { "displayName", name } };
}

} // namespace

using AppModelAccount = AppModelScenario;

TEST_F(AppModelAccount, SignInRefreshesProfileWalletRoutesAndQuote)
{
    signIn(QStringLiteral("13700001234"));
    EXPECT_EQ(model->nickname(), "用户1234");
    EXPECT_TRUE(model->history());
    EXPECT_EQ(model->wallet(), 1000);
    EXPECT_EQ(model->routes().size(), 5); // the speech-only direction is not offered to this client
    EXPECT_EQ(model->route()->name, "English → 中文");
    ASSERT_TRUE(model->quote().has_value());
    EXPECT_EQ(model->quote()->pointsPerMinute, 10);
    EXPECT_EQ(model->notice(), std::nullopt);
    EXPECT_FALSE(model->accountBusy());
}

TEST_F(AppModelAccount, SendCodeCoolsDownForSixtySecondsAndNotAfterAFailure)
{
    const QString path = "v1/auth/send-code";
    service().fault(
        path, { { "httpStatus", 500 }, { "envelope", QJsonObject { { "code", 500 } } } });
    TestSupport::runTask(model->sendCode("+86", "13700000002"));
    EXPECT_EQ(model->cooldownUntil(), std::nullopt);
    EXPECT_TRUE(model->error().has_value());

    TestSupport::runTask(model->sendCode("+86", "13700000002"));
    EXPECT_EQ(model->cooldownUntil(), clock.now() + 60s);
    EXPECT_EQ(model->notice(), "验证码已发送，请在此电脑输入收到的验证码。");
    EXPECT_EQ(model->error(), std::nullopt);
    EXPECT_EQ(requestCount(path), 2);

    clock.advance(59999ms);
    TestSupport::runTask(model->sendCode("+86", "13700000002"));
    EXPECT_EQ(requestCount(path), 2);
    clock.advance(1ms); // exactly the end of the cool-down
    TestSupport::runTask(model->sendCode("+86", "13700000002"));
    EXPECT_EQ(requestCount(path), 3);
}

TEST_F(AppModelAccount, RefreshKeepsAnOfferedSelectionElsePrefersEnZhElseTheFirst)
{
    signIn();
    const struct {
        const char *name;
        QString selected;
        std::optional<QJsonArray> offered; // nothing: the service's own list
        QString expected;
    } cases[] = {
        { "kept", "JA_ZH", std::nullopt, "JA_ZH" },
        { "no longer offered", "GONE", std::nullopt, "EN_ZH" },
        { "without EN_ZH", "GONE",
            QJsonArray { route("ZH_EN", "中文 → English"), route("JA_ZH", "日本語 → 中文") },
            "ZH_EN" },
        { "nothing offered", "JA_ZH", QJsonArray {}, "" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        model->setSelectedRoute(c.selected);
        if (c.offered)
            service().fault("v1/translation/routes", answerWith(*c.offered));
        TestSupport::runTask(model->refreshAccount());
        EXPECT_EQ(model->selectedRoute(), c.expected);
        EXPECT_EQ(model->quote().has_value(), !c.expected.isEmpty());
    }
}

TEST_F(AppModelAccount, ProfileWithoutNicknameOrBooleanHistory)
{
    signIn();
    const struct {
        QJsonObject profile;
        QString nickname;
        bool history;
    } cases[] = {
        { {}, "Quorvel用户", false },
        { { { "nickname", "Ann" }, { "historyEnabled", "true" } }, "Ann", false },
        { { { "nickname", 7 }, { "historyEnabled", true } }, "Quorvel用户", true },
    };
    for (const auto &c : cases) {
        service().fault("v1/users/me", answerWith(c.profile));
        TestSupport::runTask(model->refreshAccount());
        EXPECT_EQ(model->nickname(), c.nickname);
        EXPECT_EQ(model->history(), c.history);
    }
}

TEST_F(AppModelAccount, RefreshWhoseWalletFailsKeepsTheNewNicknameAndStillQuotes)
{
    signIn();
    const QList<TranslationRoute> routes = model->routes();
    service().fault("v1/users/me", answerWith(QJsonObject { { "nickname", "Renamed" } }));
    service().fault("v1/points/wallet", { { "httpStatus", 503 } });
    const int quotes = requestCount("v1/translation/quote");
    TestSupport::runTask(model->refreshAccount());
    EXPECT_EQ(model->nickname(), "Renamed");
    EXPECT_EQ(model->routes(), routes);
    EXPECT_TRUE(model->error().has_value());
    EXPECT_TRUE(model->loggedIn());
    EXPECT_EQ(requestCount("v1/translation/quote"), quotes + 1);
    EXPECT_FALSE(model->accountBusy());
}

TEST_F(AppModelAccount, LogoutIsRefusedWhileASessionIsOwned)
{
    signIn();
    startListening();
    TestSupport::runTask(model->logout());
    EXPECT_TRUE(model->loggedIn());
    EXPECT_EQ(requestCount("v1/auth/revoke"), 0);
    model->stop();
    ASSERT_TRUE(settledIn(State::completed));

    TestSupport::runTask(model->logout());
    EXPECT_FALSE(model->loggedIn());
    EXPECT_EQ(requestCount("v1/auth/revoke"), 1);
    EXPECT_EQ(model->nickname(), "尚未登录");
    EXPECT_TRUE(model->routes().isEmpty());
    EXPECT_EQ(model->transcript(), Transcript(0));
    EXPECT_EQ(model->remaining(), 0);
    EXPECT_FALSE(model->canStart());
    expectSettled(1);
}

TEST_F(AppModelAccount, OnlyTheLatestQuoteIsApplied)
{
    signIn();
    service().fault("v1/translation/quote", { { "delayMs", 300 } });
    model->setSelectedRoute("ZH_AR");
    auto slow = TestSupport::start(model->refreshQuote());
    model->setSelectedRoute("JA_ZH");
    TestSupport::runTask(model->refreshQuote());
    ASSERT_TRUE(waitFor([&] { return slow->done; }));
    ASSERT_TRUE(model->quote().has_value());
    EXPECT_EQ(model->quote()->pointsPerMinute, 12);
    EXPECT_FALSE(model->quoteBusy());
}

TEST_F(AppModelAccount, CanStartWaitsForTheQuoteAndRefusesADemandedUpdate)
{
    signIn();
    service().fault("v1/translation/quote", { { "delayMs", 200 } });
    auto quoting = TestSupport::start(model->refreshQuote());
    EXPECT_TRUE(model->quoteBusy());
    EXPECT_FALSE(model->canStart());
    ASSERT_TRUE(waitFor([&] { return quoting->done; }));
    EXPECT_TRUE(model->canStart());

    service().control("POST", "/control/update-policy",
        { { "enabled", true }, { "updateAvailable", true }, { "forceUpdate", true },
            { "latestVersion", "9.0.0" }, { "latestBuildNumber", 900 },
            { "minimumVersion", "9.0.0" }, { "minimumBuildNumber", 900 },
            { "updateUrl", "https://quorvel.tech/download" }, { "releaseNotes", "" } });
    TestSupport::runTask(model->appUpdates().check(true));
    ASSERT_TRUE(model->appUpdates().result().has_value());
    EXPECT_TRUE(model->appUpdates().result()->forceUpdate);
    EXPECT_FALSE(model->canStart());
    TestSupport::runTask(model->start());
    EXPECT_EQ(model->state(), State::idle);
}

TEST_F(AppModelAccount, SwapTakesTheReverseDirectionWhenOffered)
{
    signIn();
    model->swapDirection();
    EXPECT_EQ(model->selectedRoute(), "ZH_EN");
    model->setSelectedRoute("JA_ZH"); // 中文 → 日本語 is not offered
    model->swapDirection();
    EXPECT_EQ(model->selectedRoute(), "JA_ZH");
}
