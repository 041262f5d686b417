#include "TranslationFailure.h"

namespace TranslateCore {

namespace {

QString rejectedMessage(qint64 code)
{
    switch (code) {
    case 429:
        return QStringLiteral("操作太频繁，请稍后再试。");
    case 1009:
        return QStringLiteral("验证码不正确，请检查最新收到的验证码。");
    case 1010:
        return QStringLiteral("验证码已过期或已使用，请重新获取。");
    case 2003:
        return QStringLiteral("请求太频繁，请稍后再获取验证码。");
    case 3010:
        return QStringLiteral("积分不足，请在Quorvel手机 App 中充值。");
    case 3011:
        return QStringLiteral("已有正在进行的翻译，请先结束该会话。");
    case 3013:
    case 3015:
        return QStringLiteral("这次翻译连接已过期，请重新开始。");
    case 3014:
        return QStringLiteral("当前翻译方向暂时不可用，请选择其他方向或稍后重试。");
    case 3016:
        return QStringLiteral("此功能需要高级订阅。当前 Linux 版本使用纯字幕模式。");
    case 3017:
        return QStringLiteral("高级订阅已到期。当前 Linux 版本使用纯字幕模式。");
    case 4002:
        return QStringLiteral("提交的信息有误，请检查手机号、验证码或翻译方向。");
    default:
        return QStringLiteral("请求未能完成（") + QString::number(code)
            + QStringLiteral("），请稍后重试。");
    }
}

QString serverMessage(const QString &code)
{
    if (code == u"BALANCE_EXHAUSTED" || code == u"INSUFFICIENT_POINTS")
        return QStringLiteral("积分已用完，翻译已结束。");
    if (code == u"SESSION_EXPIRED" || code == u"SESSION_NOT_ACTIVE")
        return QStringLiteral("这次翻译已结束，请重新开始。");
    if (code == u"PREMIUM_ENTITLEMENT_REQUIRED")
        return QStringLiteral("此功能需要高级订阅。");
    if (code == u"SUBSCRIPTION_EXPIRED")
        return QStringLiteral("高级订阅已到期。");
    if (code == u"PROVIDER_TIMEOUT" || code == u"PROVIDER_UNAVAILABLE"
        || code == u"ASR_PROVIDER_UNAVAILABLE")
        return QStringLiteral("翻译服务暂时无法处理音频，已停止监听。");
    return QStringLiteral("翻译连接遇到错误，已停止监听。");
}

} // namespace

TranslationFailure::TranslationFailure(Case c, qint64 number, QString serverCode)
    : m_case(c), m_number(number), m_serverCode(std::move(serverCode))
{
    m_what = errorDescription().toStdString();
}

TranslationFailure TranslationFailure::rejected(qint64 code)
{
    return TranslationFailure(Case::rejected, code);
}

TranslationFailure TranslationFailure::invalidCreatedSession(qint64 sessionID)
{
    return TranslationFailure(Case::invalidCreatedSession, sessionID);
}

TranslationFailure TranslationFailure::server(const QString &code)
{
    return TranslationFailure(Case::server, 0, code);
}

QString TranslationFailure::errorDescription() const
{
    switch (m_case) {
    case Case::rejected:
        return rejectedMessage(m_number);
    case Case::invalidCreatedSession:
        return QStringLiteral("翻译连接配置无效，已停止启动并请求取消本次会话。");
    case Case::server:
        return serverMessage(m_serverCode);
    case Case::invalidResponse:
        return QStringLiteral("翻译服务返回了无法识别的数据，请重试。");
    case Case::unsafeAddress:
        return QStringLiteral("翻译连接地址不符合安全要求。");
    case Case::signedOut:
        return QStringLiteral("登录已过期，请重新登录。");
    case Case::audioFormat:
        return QStringLiteral("系统音频格式无法转换，请重新选择音源。");
    case Case::queueFull:
        return QStringLiteral("上传速度跟不上播放速度，监听已停止，请检查网络。");
    case Case::connectionLost:
        return QStringLiteral("网络连接已中断，正在尝试恢复。");
    case Case::timeout:
        return QStringLiteral("翻译服务没有及时响应，请重试。");
    case Case::permission:
        return QStringLiteral("系统没有允许音频访问。请允许Quorvel采集播放声音后重试。");
    case Case::noDisplay:
        return QStringLiteral("没有找到可用显示器，请连接显示器后重试。");
    case Case::sourceUnavailable:
        return QStringLiteral("所选应用已退出或无法采集，请重新选择音源。");
    case Case::noPlayingAudio:
        return QStringLiteral("没有检测到所选音源的播放声音，请播放音频后再点击开始。");
    }
    Q_UNREACHABLE();
}

} // namespace TranslateCore
