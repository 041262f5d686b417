#include "ScreenFixture.h"
#include "support/AppModelTestSeam.h"

#include "TranslateMac/Account/QRLoginModel.h"
#include "TranslateMac/Screens/Account/LoginQRCode.h"
#include "TranslateMac/Screens/Account/LoginView.h"
#include "TranslateMac/Screens/Account/QRLoginPane.h"

#include "TranslateCore/API/TranslationAPI.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace TranslateMac;
using namespace std::chrono_literals;
using Phase = QRLoginModel::Phase;

namespace {

class LoginViewTest : public ScreenTest {
protected:
    std::unique_ptr<LoginView> makeView()
    {
        auto view = std::make_unique<LoginView>(*model);
        view->resize(920, 640);
        view->show();
        settle();
        return view;
    }
    bool waitForPhase(Phase phase)
    {
        return waitFor([&] {
            clock.advance(1s); // the polling pauses run on the model's clock
            return model->qrLogin().phase() == phase;
        });
    }
};

} // namespace

TEST_F(LoginViewTest, SubmitNeedsAPhoneAndASixCharacterCode)
{
    auto view = makeView();
    click(*view, "验证码登录");
    EXPECT_EQ(model->loginMethod(), AppModel::LoginMethod::phone);
    EXPECT_FALSE(view->showsQRForm());
    EXPECT_EQ(view->phoneField().accessibleName(), "请输入手机号");
    EXPECT_EQ(view->codeField().placeholderText(), "6 位验证码");

    QPushButton &submit = view->submitButton();
    view->phoneField().setText("   ");
    view->codeField().setText("123456");
    EXPECT_FALSE(submit.isEnabled());
    view->phoneField().setText(phone.isEmpty() ? "13700000002" : phone);
    for (const char *code : { "12345", "1234567" }) {
        view->codeField().setText(code);
        EXPECT_FALSE(submit.isEnabled()) << code;
    }

    view->phoneField().setText("13700000002");
    click(*view, "获取验证码");
    ASSERT_TRUE(waitFor([&] { return model->cooldownUntil().has_value(); }));
    EXPECT_EQ(view->sendCodeButton().text(), "60 秒后重发");
    EXPECT_FALSE(view->sendCodeButton().isEnabled());
    const QString code
        = service().control("GET", "/control/sms-code?phone=13700000002")["code"].toString();
    view->codeField().setText(code);
    EXPECT_TRUE(submit.isEnabled());
    QTest::keyClick(&view->codeField(), Qt::Key_Return); // the return key submits too
    ASSERT_TRUE(waitFor([&] { return model->loggedIn(); }));
}

TEST_F(LoginViewTest, ShowsTheQRCodeAndOffersARefreshOnceRefused)
{
    auto view = makeView();
    EXPECT_TRUE(view->showsQRForm());
    ASSERT_TRUE(waitFor([&] { return model->qrLogin().challenge().has_value(); }));
    QRLoginPane &pane = view->qrPane();
    settle();
    const auto challenge = *model->qrLogin().challenge();
    EXPECT_TRUE(pane.showsCode());
    EXPECT_EQ(pane.confirmationText(), "确认码：" + challenge.userCode);
    EXPECT_EQ(pane.messageText(), "等待手机扫码并确认");
    auto *code = pane.findChild<LoginQRCode *>();
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(code->rows(), challenge.rows);
    EXPECT_EQ(code->accessibleName(), "登录二维码，请使用手机Quorvel扫码");

    service().control(
        "POST", "device-login", { { "challengeId", challenge.id }, { "action", "reject" } });
    ASSERT_TRUE(waitForPhase(Phase::rejected));
    EXPECT_EQ(pane.headline(), "已在手机上拒绝登录");
    EXPECT_FALSE(pane.showsCode());
    ASSERT_TRUE(hasButton(pane, "刷新二维码"));

    const int runs = TranslateMac::AppModelTestSeam::qrRunsStarted(*model);
    click(pane, "刷新二维码");
    EXPECT_EQ(TranslateMac::AppModelTestSeam::qrRunsStarted(*model), runs + 1);
    ASSERT_TRUE(waitFor([&] {
        return model->qrLogin().challenge() && model->qrLogin().challenge()->id != challenge.id;
    }));
    settle();
    EXPECT_TRUE(pane.showsCode());
    EXPECT_FALSE(hasButton(pane, "刷新二维码"));
}

TEST_F(LoginViewTest, AnExpiredQRCodeSaysSoAndCanBeRefreshed)
{
    auto view = makeView();
    ASSERT_TRUE(waitFor([&] { return model->qrLogin().challenge().has_value(); }));
    // The service forgets the challenge (as when it runs out): the next poll answers "expired".
    TranslateCore::TranslationAPI other;
    TestSupport::runTask(other.cancelDeviceLogin(*model->qrLogin().challenge()));
    ASSERT_TRUE(waitForPhase(Phase::expired));
    EXPECT_EQ(view->qrPane().headline(), "二维码已过期");
    EXPECT_TRUE(hasButton(view->qrPane(), "刷新二维码"));
}

TEST_F(LoginViewTest, SwitchingToTheSMSFormAbandonsTheQRSignIn)
{
    auto view = makeView();
    ASSERT_TRUE(waitFor([&] { return model->qrLogin().isRunning(); }));
    click(*view, "验证码登录");
    EXPECT_FALSE(model->qrLogin().isRunning());
    EXPECT_EQ(model->qrLogin().phase(), Phase::idle);
    click(*view, "扫码登录");
    EXPECT_TRUE(model->qrLogin().isRunning());
}

// The reason under "二维码暂时不可用" wraps in a narrow window and every line of it stays visible.
TEST_F(LoginViewTest, AFailedQRSignInShowsItsWholeReason)
{
    service().fault(QStringLiteral("v1/auth/watch-login/create"), { { "drop", true } });
    auto view = makeView();
    view->resize(560, 640);
    ASSERT_TRUE(waitForPhase(Phase::failed));
    settle();
    QRLoginPane &pane = view->qrPane();
    EXPECT_EQ(pane.headline(), "二维码暂时不可用");
    EXPECT_EQ(pane.messageText(), "网络请求失败，请检查网络后重试。");
    QLabel *message = nullptr;
    for (QLabel *label : pane.findChildren<QLabel *>()) {
        if (label->isVisible() && label->text() == pane.messageText())
            message = label;
    }
    ASSERT_NE(message, nullptr);
    EXPECT_GE(message->height(), message->heightForWidth(message->width()));
    screenshot(*view, QStringLiteral("login-qr-failed"));
}
