#include "TranslateMac/Screens/Captions/FollowState.h"

namespace TranslateMac {

bool FollowState::captionsChanged(qint64 lastSequence)
{
    const bool changedLast = lastSequence != m_lastSequence;
    m_lastSequence = lastSequence;
    if (!m_following && changedLast)
        ++m_unseen;
    return m_following;
}

bool FollowState::setFollowing(bool following)
{
    if (following == m_following)
        return false;
    m_following = following;
    if (following)
        m_unseen = 0;
    return following;
}

QString FollowState::returnLabel() const
{
    if (m_unseen < 1)
        return QStringLiteral("回到最新");
    return QStringLiteral("%1 句新内容").arg(m_unseen);
}

QString FollowState::returnHelp()
{
    return QStringLiteral("回到最新字幕并继续跟随");
}

} // namespace TranslateMac
