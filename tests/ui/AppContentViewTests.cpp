#include "ScreenFixture.h"

#include "TranslateMac/Account/QRLoginModel.h"
#include "TranslateMac/Screens/Account/AccountView.h"
#include "TranslateMac/Screens/Root/AppContentView.h"
#include "TranslateMac/Screens/Update/AppUpdateCheckRow.h"
#include "TranslateMac/Screens/Update/AppUpdatePanel.h"
#include "TranslateMac/Screens/Workspace/WorkspaceView.h"
#include "TranslateMac/Update/AppUpdateModel.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

const QString updateCheck = QStringLiteral("v1/app-updates/check");

class AppContentViewTest : public ScreenTest {
protected:
    std::unique_ptr<AppContentView> makeContent()
    {
        auto content = std::make_unique<AppContentView>(*model);
        content->resize(content->minimumSize());
        content->show();
        // The first appearance refreshes the sources and the account: let that finish.
        EXPECT_TRUE(waitFor([&] {
            return !model->sourcesRefreshing() && !model->accountBusy() && !model->quoteBusy();
        }));
        settle();
        return content;
    }
    void offerUpdate(bool demanded)
    {
        service().control("POST", "/control/update-policy",
            { { "enabled", true }, { "updateAvailable", true }, { "forceUpdate", demanded },
                { "latestVersion", "9.0.0" }, { "latestBuildNumber", 900 },
                { "minimumVersion", demanded ? "9.0.0" : "0.1.0" },
                { "minimumBuildNumber", demanded ? 900 : 1 },
                { "updateUrl", "https://quorvel.tech/download" },
                { "releaseNotes", "字幕窗口可以穿透点击。" } });
        TestSupport::runTask(model->appUpdates().check(true));
        settle();
    }
};

} // namespace

TEST_F(AppContentViewTest, SignedOutShowsTheLoginAndSignedInTheWorkspace)
{
    auto content = makeContent();
    EXPECT_EQ(content->minimumSize(), QSize(920, 640));
    EXPECT_TRUE(content->showsLogin());
    ASSERT_TRUE(waitFor([&] { return !model->sourcesRefreshing() && model->permission(); }));
    signIn();
    EXPECT_FALSE(content->showsLogin());
    EXPECT_FALSE(content->showsUpdatePanel());
}

TEST_F(AppContentViewTest, ActivationRefreshesSourcesAndChecksForUpdates)
{
    auto content = makeContent();
    ASSERT_TRUE(waitFor([&] { return !model->sourcesRefreshing(); }));
    const AudioSource player { 4242, QStringLiteral("Rhythmbox"), QStringLiteral("rhythmbox") };
    capture->listed.append(player); // started since the last look
    Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_TRUE(waitFor([&] { return model->sources().contains(player); }));
    EXPECT_TRUE(waitFor([&] { return requestCount(updateCheck) == 1; }));
}

TEST_F(AppContentViewTest, SigningOutClosesTheAccountAndTheFloatingSubtitles)
{
    signIn();
    auto content = makeContent();
    content->workspace().setShowingAccount(true);
    model->setOverlayVisible(true);
    TestSupport::runTask(model->logout());
    EXPECT_TRUE(content->showsLogin());
    EXPECT_FALSE(content->workspace().showingAccount());
    EXPECT_FALSE(model->overlayVisible());
}

TEST_F(AppContentViewTest, AnOptionalUpdateCanBeDismissed)
{
    auto content = makeContent();
    offerUpdate(false);
    ASSERT_TRUE(content->showsUpdatePanel());
    auto *panel = content->findChild<AppUpdatePanel *>();
    EXPECT_EQ(panel->titleText(), "发现新版本");
    EXPECT_TRUE(hasButton(*panel, "去更新"));
    EXPECT_FALSE(hasButton(*panel, "重新检查"));
    click(*panel, "稍后");
    EXPECT_FALSE(content->showsUpdatePanel());
}

TEST_F(AppContentViewTest, ADemandedUpdateOffersOnlyAnotherCheck)
{
    auto content = makeContent();
    offerUpdate(true);
    ASSERT_TRUE(content->showsUpdatePanel());
    auto *panel = content->findChild<AppUpdatePanel *>();
    EXPECT_EQ(panel->titleText(), "需要更新Quorvel");
    EXPECT_FALSE(hasButton(*panel, "稍后"));
    const int before = requestCount(updateCheck);
    click(*panel, "重新检查");
    EXPECT_EQ(panel->secondaryButton().text(), "正在检查…");
    EXPECT_FALSE(panel->secondaryButton().isEnabled());
    ASSERT_TRUE(waitFor([&] { return !model->appUpdates().checking(); }));
    EXPECT_EQ(requestCount(updateCheck), before + 1);
    EXPECT_TRUE(content->showsUpdatePanel());
}

TEST_F(AppContentViewTest, SigningOutIsNotPossibleWhileATranslationRuns)
{
    signIn();
    auto content = makeContent();
    AccountView &account = content->workspace().account();
    content->workspace().setShowingAccount(true);
    startListening();
    EXPECT_TRUE(account.showsSessionRow());
    EXPECT_FALSE(account.logoutButton().isEnabled());
    EXPECT_EQ(account.logoutButton().toolTip(), "结束当前翻译后才能退出登录");
    EXPECT_EQ(account.updateRow().statusText(), "当前翻译结束后可检查更新");
    EXPECT_FALSE(hasButton(account, "检查更新") && button(account, "检查更新")->isEnabled());
    EXPECT_EQ(account.sessionButton().text(), "停止");
    account.sessionButton().click();
    ASSERT_TRUE(settledIn(State::completed));
    settle();
    EXPECT_FALSE(account.showsSessionRow());
    EXPECT_TRUE(account.logoutButton().isEnabled());

    account.logoutButton().click();
    ASSERT_TRUE(account.confirmingLogout());
    QMessageBox *confirmation = account.logoutConfirmation();
    EXPECT_EQ(confirmation->windowTitle(), "退出登录？");
    EXPECT_EQ(confirmation->text(), "退出后需要重新使用手机验证码登录。");
    click(*confirmation, "退出登录");
    ASSERT_TRUE(waitFor([&] { return !model->loggedIn(); }));
    EXPECT_TRUE(content->showsLogin());
}

TEST_F(AppContentViewTest, AfterSigningOutTheQRSignInStartsAgain)
{
    signIn();
    auto content = makeContent();
    EXPECT_FALSE(model->qrLogin().isRunning());
    TestSupport::runTask(model->logout());
    ASSERT_TRUE(content->showsLogin());
    EXPECT_TRUE(waitFor([&] { return model->qrLogin().challenge().has_value(); }));
}

TEST_F(AppContentViewTest, APendingSettlementThatLostItsSignInShowsTheLoginAndSettlesAfterIt)
{
    signIn();
    auto content = makeContent();
    startListening();
    const qint64 id = *model->sessionID();
    const QString finish = QStringLiteral("v1/translation/sessions/%1/finish").arg(id);
    service().fault(
        finish, { { "httpStatus", 500 }, { "envelope", QJsonObject { { "code", 500 } } } });
    sendEvent({ { "type", "error" } });
    ASSERT_TRUE(waitForState(State::pending));
    // The confirmation meets a sign-in the service no longer renews.
    service().control("POST", "/control/expire-access-tokens");
    service().fault("v1/auth/refresh",
        { { "httpStatus", 401 }, { "envelope", QJsonObject { { "code", 1003 } } } });
    TestSupport::runTask(model->reconcileFinish());
    ASSERT_FALSE(model->loggedIn());
    settle();
    EXPECT_TRUE(content->showsLogin());
    EXPECT_EQ(model->sessionID(), id); // still the user's to settle
    EXPECT_EQ(model->error(), signInToSettleError);
    screenshot(*content, "pending-settlement-sign-in");

    // The login screen's QR sign-in runs; approving it settles the session without a button.
    approveQRSignIn();
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(waitFor([&] {
        clock.advance(1s);
        return model->loggedIn();
    }));
    ASSERT_TRUE(settledIn(State::completed));
    settle();
    EXPECT_FALSE(content->showsLogin());
    expectEnd(State::completed, std::nullopt, settledNotice);
    expectSettled(1);
}
