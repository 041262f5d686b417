#include "DeviceLoginFailure.h"

namespace TranslateCore {

DeviceLoginFailure::DeviceLoginFailure(Case c) : m_case(c), m_what(errorDescription().toStdString())
{
}

QString DeviceLoginFailure::errorDescription() const
{
    switch (m_case) {
    case Case::upgradeRequired:
        return QStringLiteral("扫码登录服务尚未升级，请先使用验证码登录。");
    }
    Q_UNREACHABLE();
}

} // namespace TranslateCore
