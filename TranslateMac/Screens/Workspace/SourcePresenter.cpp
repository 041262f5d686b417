#include "TranslateMac/Screens/Workspace/SourcePresenter.h"

#include "TranslateMac/Screens/Common/Theme.h"

namespace TranslateMac::SourcePresenter {

Access access(
    bool refreshing, const std::optional<QString> &failure, bool confirmed, bool wholeSystem)
{
    if (refreshing)
        return { QStringLiteral("hourglass"), QStringLiteral("正在检查音源"),
            QStringLiteral("检查中…"), false };
    if (failure)
        return { QStringLiteral("exclamationmark.circle"), QStringLiteral("音源检查失败"),
            failure->isEmpty() ? QStringLiteral("请稍后重试") : *failure, true };
    if (confirmed)
        return { QStringLiteral("checkmark.shield.fill"),
            wholeSystem ? QStringLiteral("已确认系统音频访问") : QStringLiteral("已确认音频访问"),
            QString(), false };
    return { QStringLiteral("lock.shield.fill"), QStringLiteral("未授权"), QString(), false };
}

QIcon icon(const AudioSource &source)
{
    if (!source.pid)
        return Theme::icon(QStringLiteral("desktopcomputer"));
    // Desktop entries name their icon after the application id or the binary, usually in
    // lower case.
    for (const QString &name : { source.bundleID.value_or(QString()), source.name }) {
        if (!name.isEmpty() && QIcon::hasThemeIcon(name.toLower()))
            return QIcon::fromTheme(name.toLower());
    }
    if (QIcon::hasThemeIcon(QStringLiteral("application-x-executable")))
        return QIcon::fromTheme(QStringLiteral("application-x-executable"));
    return Theme::icon(source.name.isEmpty() ? QStringLiteral("app") : source.name);
}

} // namespace TranslateMac::SourcePresenter
