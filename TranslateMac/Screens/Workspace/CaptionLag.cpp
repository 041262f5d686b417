#include "TranslateMac/Screens/Workspace/CaptionLag.h"

#include "TranslateMac/Screens/Common/Theme.h"

#include <algorithm>
#include <chrono>

namespace TranslateMac {

void CaptionLag::noteSound(TranslateCore::Instant now, bool heard)
{
    if (heard && !m_unanswered)
        m_unanswered = now;
}

void CaptionLag::noteCaptions(TranslateCore::Instant)
{
    m_unanswered.reset();
}

double CaptionLag::seconds(TranslateCore::Instant now) const
{
    if (!m_unanswered)
        return 0;
    return std::max(0.0, std::chrono::duration<double>(now - *m_unanswered).count());
}

CaptionLag::Level CaptionLag::levelOf(double seconds)
{
    if (seconds < lateSeconds)
        return Level::onTime;
    if (seconds < behindSeconds)
        return Level::late;
    return Level::behind;
}

QColor CaptionLag::colour(Level level)
{
    switch (level) {
    case Level::late:
        return Theme::warning();
    case Level::behind:
        return Theme::danger();
    case Level::onTime:
        break;
    }
    return Theme::success();
}

QString CaptionLag::text(double seconds, int waiting)
{
    QString text = QStringLiteral("字幕延迟 %1 秒").arg(seconds, 0, 'f', 1);
    if (waiting > 0)
        text += QStringLiteral(" · %1 句待翻译").arg(waiting);
    return text;
}

int CaptionLag::waitingTranslations(const QList<TranslateCore::Caption> &captions)
{
    return int(std::count_if(captions.begin(), captions.end(), [](const auto &caption) {
        return !caption.source.trimmed().isEmpty() && !caption.targetFinal;
    }));
}

} // namespace TranslateMac
