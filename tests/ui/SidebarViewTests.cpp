#include "ScreenFixture.h"

#include "TranslateMac/Screens/Workspace/SidebarView.h"
#include "TranslateMac/Screens/Workspace/WorkspaceView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

using namespace TranslateMac;

namespace {

class SidebarViewTest : public ScreenTest {
protected:
    std::unique_ptr<WorkspaceView> makeWorkspace()
    {
        auto workspace = std::make_unique<WorkspaceView>(*model);
        workspace->resize(1000, 680);
        workspace->show();
        settle();
        return workspace;
    }
};

} // namespace

TEST_F(SidebarViewTest, ChoosingARunningApplicationSelectsItsSource)
{
    const AudioSource player { 4242, QStringLiteral("Firefox"), QStringLiteral("firefox") };
    capture->listed.append(player);
    TestSupport::runTask(model->refreshSources());
    auto workspace = makeWorkspace();
    SidebarView &sidebar = workspace->sidebar();
    QComboBox &sources = sidebar.sourcePicker();
    ASSERT_EQ(sources.count(), 2);
    EXPECT_EQ(sources.itemText(0), "全电脑播放音频");
    EXPECT_EQ(sources.itemText(1), "Firefox");
    EXPECT_FALSE(sources.itemIcon(1).isNull());
    EXPECT_EQ(sidebar.accessText(), "已确认系统音频访问");

    sources.setCurrentIndex(1);
    Q_EMIT sources.activated(1);
    EXPECT_EQ(model->selectedSource(), player);
    EXPECT_EQ(sidebar.accessText(), "已确认音频访问");
}

TEST_F(SidebarViewTest, HistoryToggleAndAccountButtonDriveTheWorkspace)
{
    signIn();
    auto workspace = makeWorkspace();
    SidebarView &sidebar = workspace->sidebar();
    const bool history = model->history();
    sidebar.historyToggle().click();
    EXPECT_EQ(model->history(), !history);
    EXPECT_EQ(sidebar.historyToggle().accessibleName(), "开启后本次字幕保存到Quorvel历史");

    QPushButton &account = sidebar.accountButton();
    EXPECT_EQ(account.accessibleName(),
        QStringLiteral("账户：%1，剩余 %2 积分").arg(model->nickname()).arg(model->remaining()));
    account.click();
    EXPECT_TRUE(workspace->showingAccount());
    EXPECT_TRUE(hasButton(*workspace, "返回字幕"));
    account.click();
    EXPECT_FALSE(workspace->showingAccount());
}
