#include "ScreenFixture.h"
#include "support/ApplicationHarness.h"

#include "TranslateMac/Account/QRLoginModel.h"
#include "TranslateMac/Screens/Captions/CaptionRowView.h"
#include "TranslateMac/Screens/Captions/FloatingSubtitleView.h"
#include "TranslateMac/Screens/Captions/FollowingCaptions.h"
#include "TranslateMac/Screens/Directions/DirectionSection.h"
#include "TranslateMac/Screens/Directions/LanguagePicker.h"
#include "TranslateMac/Screens/Root/AppContentView.h"
#include "TranslateMac/Screens/Workspace/LagIndicator.h"
#include "TranslateMac/Screens/Workspace/SidebarView.h"
#include "TranslateMac/Screens/Workspace/TranscriptPane.h"
#include "TranslateMac/Screens/Workspace/WorkspaceView.h"
#include "TranslateMac/Update/AppUpdateModel.h"

#include <QPainter>
#include <QPushButton>
#include <QScrollArea>

using namespace TranslateMac;
using namespace std::chrono_literals;

namespace {

// Every screen in its main states, saved under the build folder for review.
class ScreenshotTest : public ScreenTest {
protected:
    void captionPair(qint64 seq, const QString &source, const QString &target)
    {
        sendCaption(seq, "asr.final", source);
        sendCaption(seq, "translation.final", target);
    }
    bool idle()
    {
        return waitFor([&] {
            return !model->sourcesRefreshing() && !model->accountBusy() && !model->quoteBusy();
        });
    }
};

} // namespace

TEST_F(ScreenshotTest, EveryScreenInItsMainStates)
{
    capture->listed.append({ 4242, QStringLiteral("Firefox"), QStringLiteral("firefox") });
    AppContentView content(*model);
    content.resize(1080, 720);
    content.show();
    ASSERT_TRUE(idle());
    ASSERT_TRUE(waitFor([&] { return model->qrLogin().challenge().has_value(); }));
    screenshot(content, "01-signed-out-qr");
    model->setLoginMethod(AppModel::LoginMethod::phone);
    screenshot(content, "02-signed-out-phone");

    signIn();
    ASSERT_TRUE(idle());
    screenshot(content, "03-workspace-idle");

    DirectionSection &directions = content.workspace().sidebar().directions();
    LanguagePicker *picker = directions.openSourcePicker();
    settle();
    QPixmap withPicker = content.grab();
    {
        QPainter painter(&withPicker);
        const QPoint at = content.mapFromGlobal(picker->pos());
        painter.drawPixmap(at, picker->grab());
    }
    ASSERT_TRUE(withPicker.save(TestSupport::screenshotPath(QStringLiteral("04-picker-open.png"))));
    picker->close();

    startListening();
    play(440, 3); // the level meter moves; the service captions the tone at once as segment 1
    captionPair(101, "Good evening, and welcome to the night market.", "晚上好，欢迎来到夜市。");
    captionPair(102, "Tonight we are tasting street food from six different cities.",
        "今晚我们将品尝来自六个不同城市的街头小吃。");
    sendCaption(103, "asr.partial", "First up is a bowl of");
    sendCaption(103, "translation.partial", "首先是一碗");
    ASSERT_TRUE(waitFor([&] { return model->transcript().captions().size() == 4; }));
    clock.advance(3s);
    ASSERT_TRUE(waitFor([&] { return model->elapsed() >= 3; }));
    screenshot(content, "05-workspace-listening");
    content.resize(content.minimumSize());
    screenshot(content, "05b-workspace-listening-narrowest");
    const LagIndicator &lag = content.workspace().transcript().lagIndicator();
    EXPECT_GE(lag.width(), lag.sizeHint().width()) << "the lag's words are cut at the narrowest";
    content.resize(1080, 720);

    FloatingSubtitleView floating(*model);
    floating.resize(640, 210);
    floating.show();
    screenshot(floating, "06-floating-subtitles");
    floating.captions().setFollowing(false);
    content.workspace().transcript().captions().setFollowing(false);
    captionPair(103, "First up is a bowl of hand-pulled noodles.", "首先是一碗手拉面。");
    captionPair(104, "The broth has been simmering since noon.", "汤底从中午就开始熬了。");
    ASSERT_TRUE(waitFor([&] { return floating.captions().unseen() == 1; }));
    screenshot(floating, "06b-floating-subtitles-reading-back");
    {
        // The way back to the newest never covers a line being read.
        const QPushButton &back = floating.returnButton();
        ASSERT_TRUE(back.isVisible());
        EXPECT_EQ(back.text(), "1 句新内容");
        const FollowingCaptions &list = floating.captions();
        const QWidget &viewport = *list.scrollArea().viewport();
        const QRect shown(viewport.mapTo(&floating, QPoint()), viewport.size());
        const QRect button(back.mapTo(&floating, QPoint()), back.size());
        for (int i = 0; i < list.rowCount(); ++i) {
            const CaptionRowView *row = list.rowAt(i);
            if (!row->isVisible())
                continue;
            const QRect place(row->mapTo(&floating, QPoint()), row->size());
            EXPECT_FALSE((place & shown).intersects(button)) << "row " << i;
        }
    }
    screenshot(content, "05c-workspace-reading-back");
    floating.close();

    service().control("POST", "/control/socket", { { "withholdFinished", true } });
    service().control("POST", "/control/finish-status", { { "status", "SETTLING" } });
    model->stop();
    ASSERT_TRUE(waitForFinishDeadline());
    clock.advance(12s);
    ASSERT_TRUE(waitForState(State::pending));
    screenshot(content, "07-workspace-pending");
    content.workspace().setShowingAccount(true);
    screenshot(content, "08-account-pending");

    service().control("POST", "/control/finish-status", { { "status", "" } });
    TestSupport::runTask(model->reconcileFinish());
    ASSERT_TRUE(settledIn(State::completed));
    screenshot(content, "09-account");
    content.workspace().setShowingAccount(false);

    service().control("POST", "/control/update-policy",
        { { "enabled", true }, { "updateAvailable", true }, { "forceUpdate", false },
            { "latestVersion", "1.1.0" }, { "latestBuildNumber", 110 },
            { "minimumVersion", "0.1.0" }, { "minimumBuildNumber", 1 },
            { "updateUrl", "https://quorvel.tech/download" },
            { "releaseNotes", "悬浮字幕支持点击穿透和背景透明度。" } });
    TestSupport::runTask(model->appUpdates().check(true));
    ASSERT_TRUE(content.showsUpdatePanel());
    screenshot(content, "10-update-panel");
}
