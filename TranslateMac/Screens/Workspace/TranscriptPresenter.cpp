#include "TranslateMac/Screens/Workspace/TranscriptPresenter.h"

#include "TranslateMac/AppModel/AppModel.h"

#include <algorithm>

namespace TranslateMac::TranscriptPresenter {

namespace {
constexpr float receivingThreshold = 0.005f;
constexpr std::array<double, 5> barWeights { 0.45, 0.75, 1.0, 0.7, 0.5 };
} // namespace

Facts Facts::of(const AppModel &model)
{
    Facts facts;
    facts.state = model.state();
    facts.ownsSession = model.ownsSession();
    facts.canStart = model.canStart();
    facts.sourcesRefreshing = model.sourcesRefreshing();
    facts.sourceCheckFailure = model.sourceCheckFailure();
    facts.accessConfirmed = model.accessConfirmed();
    facts.routeSelected = model.route().has_value();
    facts.quoteBusy = model.quoteBusy();
    facts.accountBusy = model.accountBusy();
    facts.quote = model.quote();
    facts.level = model.level();
    facts.remaining = model.remaining();
    facts.used = model.transcript().used();
    return facts;
}

std::optional<Hint> startHint(const Facts &facts)
{
    if (facts.ownsSession || facts.state == ListeningState::pending || facts.canStart)
        return std::nullopt;
    if (facts.sourcesRefreshing)
        return Hint { QStringLiteral("检查中"), QStringLiteral("正在检查系统音源"),
            QStringLiteral("hourglass") };
    if (facts.sourceCheckFailure)
        return Hint { QStringLiteral("音源异常"), *facts.sourceCheckFailure,
            QStringLiteral("exclamationmark.circle") };
    if (!facts.accessConfirmed)
        return Hint { QStringLiteral("未授权"), QStringLiteral("请先在左侧允许系统音频访问"),
            QStringLiteral("lock") };
    if (!facts.routeSelected)
        return Hint { QStringLiteral("未选方向"), QStringLiteral("请在左侧选择翻译方向"),
            QStringLiteral("globe") };
    if (facts.quoteBusy || facts.accountBusy)
        return Hint { QStringLiteral("报价中"), QStringLiteral("正在获取报价"),
            QStringLiteral("hourglass") };
    if (!facts.quote)
        return Hint { QStringLiteral("暂无报价"), QStringLiteral("报价暂不可用，请稍后重试"),
            QStringLiteral("exclamationmark.circle") };
    if (!facts.quote->canStart)
        return Hint { QStringLiteral("积分不足"),
            QStringLiteral("启动至少需要 ") + QString::number(facts.quote->minimum)
                + QStringLiteral(" 积分，请在手机 App 中充值"),
            QStringLiteral("creditcard") };
    return std::nullopt;
}

bool receivingAudio(float level)
{
    return level > receivingThreshold;
}

QString levelHelp(float level, ListeningState state)
{
    if (receivingAudio(level))
        return QStringLiteral("正在接收播放音频");
    if (state == ListeningState::listening)
        return QStringLiteral("等待播放音频");
    return QStringLiteral("未在监听");
}

QString levelValue(float level)
{
    return receivingAudio(level) ? QStringLiteral("正在接收") : QStringLiteral("无声音");
}

std::array<double, 5> meterBarHeights(float level)
{
    std::array<double, 5> heights {};
    for (size_t i = 0; i < heights.size(); ++i)
        heights[i] = std::min(double(level) * barWeights[i] * 1.6, 1.0) * 14 + 4;
    return heights;
}

Usage usage(const Facts &facts)
{
    Usage usage;
    usage.remaining = QStringLiteral("剩余 %1 积分").arg(facts.remaining);
    if (facts.ownsSession || facts.used >= 1) {
        usage.used = QStringLiteral("−%1").arg(facts.used);
        usage.usedHelp = QStringLiteral("本次已用 %1 积分").arg(facts.used);
    }
    return usage;
}

Action action(const Facts &facts)
{
    if (facts.state == ListeningState::pending)
        return { Action::Kind::reconcile, QStringLiteral("确认结算"),
            QStringLiteral("arrow.clockwise"), QStringLiteral("重新向服务端确认本次结算"), true,
            {} };
    if (!facts.ownsSession)
        return { Action::Kind::start, QStringLiteral("开始"), QStringLiteral("play.fill"),
            QStringLiteral("开始监听系统音频"), facts.canStart, QStringLiteral("Ctrl+Return") };
    QString label = QStringLiteral("停止");
    if (facts.state == ListeningState::preparing)
        label = QStringLiteral("取消");
    else if (facts.state == ListeningState::stopping)
        label = QStringLiteral("结算中…");
    const QString help = facts.state == ListeningState::preparing
        ? QStringLiteral("取消准备，不创建翻译会话")
        : QStringLiteral("停止监听并结算");
    return { Action::Kind::stop, label, QStringLiteral("stop.fill"), help, true,
        QStringLiteral("Ctrl+.") };
}

void perform(AppModel &model)
{
    switch (action(Facts::of(model)).kind) {
    case Action::Kind::reconcile:
        model.reconcileFinish();
        break;
    case Action::Kind::start:
        model.start();
        break;
    case Action::Kind::stop:
        model.stop();
        break;
    }
}

QString elapsedText(qint64 seconds)
{
    const qint64 clamped = std::max<qint64>(seconds, 0);
    return QStringLiteral("%1:%2:%3")
        .arg(clamped / 3600, 2, 10, QLatin1Char('0'))
        .arg(clamped / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(clamped % 60, 2, 10, QLatin1Char('0'));
}

} // namespace TranslateMac::TranscriptPresenter
