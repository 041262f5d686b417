#include "TranslateMac/Screens/Update/UpdatePresenter.h"

namespace TranslateMac::UpdatePresenter {

namespace {
const QString checkingText = QStringLiteral("正在检查…");
}

Panel panel(const TranslateCore::AppUpdateResult &result, bool checking)
{
    Panel panel;
    const bool demanded = result.forceUpdate;
    panel.title = demanded ? QStringLiteral("需要更新Quorvel") : QStringLiteral("发现新版本");
    panel.version = QStringLiteral("新版本 %1 (%2)")
                        .arg(result.latestVersion.value_or(QString()))
                        .arg(result.latestBuildNumber);
    panel.text = demanded ? QStringLiteral("当前版本已停止支持，请更新后继续使用。")
                          : QStringLiteral("更新后可体验最新功能和改进。");
    panel.releaseNotes = result.releaseNotes;
    panel.secondaryDismisses = !demanded;
    if (demanded) {
        panel.secondary = checking ? checkingText : QStringLiteral("重新检查");
        panel.secondaryEnabled = !checking;
    } else {
        panel.secondary = QStringLiteral("稍后");
    }
    return panel;
}

Row row(const std::optional<TranslateCore::AppInstallation> &installation, const QString &status,
    bool checking, bool sessionActive)
{
    Row row;
    row.label
        = QStringLiteral("Quorvel ") + (installation ? installation->displayVersion() : QString());
    row.status = sessionActive ? QStringLiteral("当前翻译结束后可检查更新") : status;
    row.button = checking ? checkingText : QStringLiteral("检查更新");
    row.buttonEnabled = !checking && !sessionActive;
    return row;
}

} // namespace TranslateMac::UpdatePresenter
