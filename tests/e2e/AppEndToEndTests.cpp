#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Screens/Captions/CaptionTextView.h"
#include "TranslateMac/Shell/AppDelegate.h"
#include "TranslateMac/Shell/FloatingSubtitlePanel.h"
#include "TranslateMac/Shell/MenuBarControls.h"
#include "TranslateMac/Shell/QuorvelTranslateMacApp.h"
#include "TranslateMac/Shell/WorkspaceWindow.h"

#include "support/ApplicationHarness.h"
#include "support/AudioTestSupport.h"
#include "support/LocalServiceProcess.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocumentFragment>

#include <gtest/gtest.h>

using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

// Whether a label or a caption text inside `root` shows `text` (rich text read as the user
// sees it).
bool shows(const QWidget &root, const QString &text)
{
    const auto labels = root.findChildren<QLabel *>();
    const auto captions = root.findChildren<CaptionTextView *>();
    return std::any_of(labels.begin(), labels.end(), [&](const QLabel *label) {
        return label->isVisibleTo(&root)
            && QTextDocumentFragment::fromHtml(label->text()).toPlainText().contains(text);
    }) || std::any_of(captions.begin(), captions.end(), [&](const CaptionTextView *caption) {
        return caption->isVisibleTo(&root) && caption->shownText().contains(text);
    });
}

// Every label's text, for a failure message.
std::string shownTexts(const QWidget &root)
{
    std::string texts;
    for (const QLabel *label : root.findChildren<QLabel *>()) {
        if (label->isVisibleTo(&root) && !label->text().isEmpty())
            texts += "\n  " + label->text().left(80).toStdString();
    }
    return texts;
}

template <typename Widget>
Widget *find(const QWidget &root, const std::function<bool(const Widget &)> &matches)
{
    for (Widget *widget : root.findChildren<Widget *>()) {
        if (widget->isVisibleTo(&root) && matches(*widget))
            return widget;
    }
    return nullptr;
}

QAbstractButton *buttonTitled(const QWidget &root, const QString &text)
{
    return find<QAbstractButton>(
        root, [&](const QAbstractButton &button) { return button.text() == text; });
}

// A button named by its help text (tool tip or accessible name).
QAbstractButton *buttonWithHelp(const QWidget &root, const QString &help)
{
    return find<QAbstractButton>(root, [&](const QAbstractButton &button) {
        return button.toolTip() == help || button.accessibleName() == help;
    });
}

QLineEdit *fieldNamed(const QWidget &root, const QString &accessibleName)
{
    return find<QLineEdit>(
        root, [&](const QLineEdit &field) { return field.accessibleName() == accessibleName; });
}

// Signs in on the login screen with the SMS code, as a user does.
void signInOnScreen(QWidget &window, LocalServiceProcess &service, AppModel &model)
{
    const QString phone = QStringLiteral("13600000002");
    QAbstractButton *phoneMethod = buttonTitled(window, QStringLiteral("验证码登录"));
    ASSERT_NE(phoneMethod, nullptr);
    phoneMethod->click();
    QLineEdit *phoneField = fieldNamed(window, QStringLiteral("请输入手机号"));
    QLineEdit *codeField = fieldNamed(window, QStringLiteral("短信验证码，6 位数字"));
    QAbstractButton *sendCode = buttonTitled(window, QStringLiteral("获取验证码"));
    ASSERT_TRUE(phoneField && codeField && sendCode);
    QTest::keyClicks(phoneField, phone);
    sendCode->click();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return model.cooldownUntil().has_value(); }));
    QTest::keyClicks(
        codeField, service.control("GET", "/control/sms-code?phone=" + phone)["code"].toString());
    QTest::keyClick(codeField, Qt::Key_Return);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return model.loggedIn(); }))
        << model.error().value_or("").toStdString();
}

} // namespace

// The application as a user runs it, on real parts: its own window (offscreen), the local
// service over TLS and the private sound server. A tone played by another process shows as a
// caption in the workspace and in the floating subtitles; signing in and starting go through the
// screens; quitting from the tray while
// listening stops, settles the session and only then lets the application end.
TEST(AppEndToEnd, PlayedToneShowsInBothWindowsAndQuittingSettlesFirst)
{
    QUORVEL_REQUIRE_SOUND_SERVER();
    TestSupport::ApplicationSurroundings surroundings;
    ASSERT_TRUE(surroundings.isReady()) << surroundings.failure().toStdString();
    LocalServiceProcess &service = surroundings.service();

    QuorvelTranslateMacApp app(surroundings.model());
    QSignalSpy terminated(&app, &QuorvelTranslateMacApp::terminate);
    AppModel &model = app.model();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return app.delegate().model() == &model; }))
        << "the workspace window was not shown";
    signInOnScreen(app.window(), service, model);
    if (HasFatalFailure())
        return;
    QAbstractButton *start = buttonWithHelp(app.window(), QStringLiteral("开始监听系统音频"));
    ASSERT_NE(start, nullptr);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return start->isEnabled(); }))
        << model.error().value_or("").toStdString();
    const qint64 before = model.wallet();

    app.window().toggleOverlayAction()->trigger();
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] { return app.delegate().panel() && app.delegate().panel()->isVisible(); }));
    const FloatingSubtitlePanel &panel = *app.delegate().panel();

    TestSupport::TonePlayer player(TestSupport::tone(1000, "org.quorvel.app-e2e-tone"));
    ASSERT_TRUE(player.start());
    start->click();
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return model.state() == ListeningState::listening; }, 40s))
        << rawValue(model.state()).toStdString() << " " << model.error().value_or("").toStdString();
    // The frequency the service first hears may settle on screen and stay until the final text
    // (steady captions), so only the caption's kind is looked for while the tone plays.
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return shows(app.window(), QStringLiteral(" Hz, ")); }, 15s))
        << "no caption in the workspace; the model holds " << model.transcript().captions().size()
        << " caption(s), level " << model.level() << ", state "
        << rawValue(model.state()).toStdString() << "; labels shown:" << shownTexts(app.window());
    EXPECT_TRUE(TestSupport::spinUntil([&] { return shows(panel, QStringLiteral(" 赫兹音调")); }))
        << "no caption in the floating subtitles";
    ASSERT_TRUE(player.stop());
    TestSupport::spinUntil([] { return false; }, 1s); // new rows fade in; let them settle
    app.window().grab().save(
        TestSupport::screenshotPath(QStringLiteral("workspace-listening.png")));
    const_cast<FloatingSubtitlePanel &>(panel).grab().save(
        TestSupport::screenshotPath(QStringLiteral("floating-listening.png")));

    QAction *stop
        = TestSupport::actionNamed(*app.menuBarControls().menu(), QStringLiteral("停止并结算"));
    ASSERT_NE(stop, nullptr);
    EXPECT_TRUE(stop->isVisible());
    QAction *quit
        = TestSupport::actionNamed(*app.menuBarControls().menu(), QStringLiteral("退出Quorvel"));
    ASSERT_NE(quit, nullptr);
    quit->trigger();
    EXPECT_TRUE(app.delegate().terminating());
    EXPECT_EQ(terminated.count(), 0) << "quit while a session was still owned";
    ASSERT_TRUE(TestSupport::spinUntil([&] { return terminated.count() == 1; }, 20s))
        << rawValue(model.state()).toStdString() << " " << model.error().value_or("").toStdString();
    EXPECT_EQ(model.state(), ListeningState::completed);
    EXPECT_FALSE(model.sessionID().has_value());
    EXPECT_EQ(model.wallet(), before - 10); // one started minute of the 10-point direction
    const QJsonArray sessions = service.control("GET", "/control/sessions")["sessions"].toArray();
    ASSERT_EQ(sessions.size(), 1);
    EXPECT_TRUE(sessions.first()["settled"].toBool());
}
