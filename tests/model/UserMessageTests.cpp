#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/DeviceLogin/DeviceLoginFailure.h"
#include "TranslateMac/Account/QRLoginModel.h"
#include "TranslateMac/Account/SessionStorageFailure.h"
#include "TranslateMac/Update/AppUpdateModel.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace TranslateCore;
using namespace TranslateMac;

namespace {

struct Message {
    const char *situation;
    QString shown;
    QString expected;
};

template <typename Failure>
Message described(const char *situation, const Failure &failure, const char *expected)
{
    // The exception's own text is the user message too, so that nothing shows a second wording.
    EXPECT_EQ(QString::fromUtf8(failure.what()), failure.errorDescription()) << situation;
    return { situation, failure.errorDescription(), QString::fromUtf8(expected) };
}

// Every text a failure puts in front of the user, against the wording the product specifies.
TEST(UserMessages, EveryFailureShowsItsExactText)
{
    using F = TranslationFailure;
    const Message messages[] = {
        described("rejected 429", F::rejected(429), "操作太频繁，请稍后再试。"),
        described("rejected 1009", F::rejected(1009), "验证码不正确，请检查最新收到的验证码。"),
        described("rejected 1010", F::rejected(1010), "验证码已过期或已使用，请重新获取。"),
        described("rejected 2003", F::rejected(2003), "请求太频繁，请稍后再获取验证码。"),
        described("rejected 3010", F::rejected(3010), "积分不足，请在Quorvel手机 App 中充值。"),
        described("rejected 3011", F::rejected(3011), "已有正在进行的翻译，请先结束该会话。"),
        described("rejected 3013", F::rejected(3013), "这次翻译连接已过期，请重新开始。"),
        described("rejected 3015", F::rejected(3015), "这次翻译连接已过期，请重新开始。"),
        described("rejected 3014", F::rejected(3014),
            "当前翻译方向暂时不可用，请选择其他方向或稍后重试。"),
        described("rejected 3016", F::rejected(3016),
            "此功能需要高级订阅。当前 Linux 版本使用纯字幕模式。"),
        described(
            "rejected 3017", F::rejected(3017), "高级订阅已到期。当前 Linux 版本使用纯字幕模式。"),
        described(
            "rejected 4002", F::rejected(4002), "提交的信息有误，请检查手机号、验证码或翻译方向。"),
        described("rejected 500", F::rejected(500), "请求未能完成（500），请稍后重试。"),
        described("rejected 3012", F::rejected(3012), "请求未能完成（3012），请稍后重试。"),
        described("rejected -1", F::rejected(-1), "请求未能完成（-1），请稍后重试。"),
        described("invalidCreatedSession 7", F::invalidCreatedSession(7),
            "翻译连接配置无效，已停止启动并请求取消本次会话。"),
        described("invalidCreatedSession 77", F::invalidCreatedSession(77),
            "翻译连接配置无效，已停止启动并请求取消本次会话。"),
        described(
            "server BALANCE_EXHAUSTED", F::server("BALANCE_EXHAUSTED"), "积分已用完，翻译已结束。"),
        described("server INSUFFICIENT_POINTS", F::server("INSUFFICIENT_POINTS"),
            "积分已用完，翻译已结束。"),
        described(
            "server SESSION_EXPIRED", F::server("SESSION_EXPIRED"), "这次翻译已结束，请重新开始。"),
        described("server SESSION_NOT_ACTIVE", F::server("SESSION_NOT_ACTIVE"),
            "这次翻译已结束，请重新开始。"),
        described("server PREMIUM_ENTITLEMENT_REQUIRED", F::server("PREMIUM_ENTITLEMENT_REQUIRED"),
            "此功能需要高级订阅。"),
        described(
            "server SUBSCRIPTION_EXPIRED", F::server("SUBSCRIPTION_EXPIRED"), "高级订阅已到期。"),
        described("server PROVIDER_TIMEOUT", F::server("PROVIDER_TIMEOUT"),
            "翻译服务暂时无法处理音频，已停止监听。"),
        described("server PROVIDER_UNAVAILABLE", F::server("PROVIDER_UNAVAILABLE"),
            "翻译服务暂时无法处理音频，已停止监听。"),
        described("server ASR_PROVIDER_UNAVAILABLE", F::server("ASR_PROVIDER_UNAVAILABLE"),
            "翻译服务暂时无法处理音频，已停止监听。"),
        described(
            "server MOCK_REJECTED", F::server("MOCK_REJECTED"), "翻译连接遇到错误，已停止监听。"),
        described("server balance_exhausted", F::server("balance_exhausted"),
            "翻译连接遇到错误，已停止监听。"),
        described("server empty", F::server(""), "翻译连接遇到错误，已停止监听。"),
        described(
            "invalidResponse", F::invalidResponse(), "翻译服务返回了无法识别的数据，请重试。"),
        described("unsafeAddress", F::unsafeAddress(), "翻译连接地址不符合安全要求。"),
        described("signedOut", F::signedOut(), "登录已过期，请重新登录。"),
        described("audioFormat", F::audioFormat(), "系统音频格式无法转换，请重新选择音源。"),
        described("queueFull", F::queueFull(), "上传速度跟不上播放速度，监听已停止，请检查网络。"),
        described("connectionLost", F::connectionLost(), "网络连接已中断，正在尝试恢复。"),
        described("timeout", F::timeout(), "翻译服务没有及时响应，请重试。"),
        described("permission", F::permission(),
            "系统没有允许音频访问。请允许Quorvel采集播放声音后重试。"),
        described("noDisplay", F::noDisplay(), "没有找到可用显示器，请连接显示器后重试。"),
        described("sourceUnavailable", F::sourceUnavailable(),
            "所选应用已退出或无法采集，请重新选择音源。"),
        described("noPlayingAudio", F::noPlayingAudio(),
            "没有检测到所选音源的播放声音，请播放音频后再点击开始。"),
        described("device login upgradeRequired", DeviceLoginFailure::upgradeRequired(),
            "扫码登录服务尚未升级，请先使用验证码登录。"),
        described("storage database", SessionStorageFailure::database(5),
            "暂时无法保存本机登录状态，下次打开时请重新登录。"),
        described("storage unavailable", SessionStorageFailure::unavailable(),
            "暂时无法保存本机登录状态，下次打开时请重新登录。"),
        described("storage invalidCredentials", SessionStorageFailure::invalidCredentials(),
            "暂时无法保存本机登录状态，下次打开时请重新登录。"),
        described("storage unsupportedSchema", SessionStorageFailure::unsupportedSchema(),
            "暂时无法保存本机登录状态，下次打开时请重新登录。"),
        { "network failure", NetworkError::userMessage(), "网络请求失败，请检查网络后重试。" },
        { "QR login, transient failure", QRLoginModel::retryMessage, "连接暂时中断，正在重试" },
        { "QR login, service without QR login",
            QRLoginModel::failureMessage(
                std::make_exception_ptr(DeviceLoginFailure::upgradeRequired())),
            "扫码登录服务尚未升级，请先使用验证码登录。" },
        { "QR login, failure without a message",
            QRLoginModel::failureMessage(std::make_exception_ptr(std::runtime_error("x"))),
            "暂时无法生成二维码，请重试或使用验证码登录。" },
        { "update check failed", AppUpdateModel::checkFailedMessage,
            "检查更新失败，请检查网络后重试" },
        { "update page did not open", AppUpdateModel::openFailedMessage,
            "无法打开更新页面，请重试" },
    };
    for (const Message &message : messages)
        EXPECT_EQ(message.shown, message.expected) << message.situation;
}

} // namespace
