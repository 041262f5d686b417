#include "ListeningState.h"

namespace TranslateMac {

QString rawValue(ListeningState state)
{
    switch (state) {
    case ListeningState::idle:
        return QStringLiteral("准备监听");
    case ListeningState::preparing:
        return QStringLiteral("正在准备音源");
    case ListeningState::connecting:
        return QStringLiteral("正在连接翻译服务");
    case ListeningState::listening:
        return QStringLiteral("正在监听系统音频");
    case ListeningState::reconnecting:
        return QStringLiteral("正在恢复连接");
    case ListeningState::stopping:
        return QStringLiteral("正在停止并结算");
    case ListeningState::pending:
        return QStringLiteral("结算等待确认");
    case ListeningState::completed:
        return QStringLiteral("本次翻译已结束");
    case ListeningState::failed:
        return QStringLiteral("监听已停止");
    }
    Q_UNREACHABLE();
}

std::optional<ListeningState> listeningStateFromRawValue(const QString &text)
{
    for (ListeningState state : allListeningStates) {
        if (rawValue(state) == text)
            return state;
    }
    return std::nullopt;
}

} // namespace TranslateMac
