#include "TranslateMac/Screens/Workspace/LevelMeter.h"

#include "TranslateMac/Screens/Common/Motion.h"
#include "TranslateMac/Screens/Common/Theme.h"
#include "TranslateMac/Screens/Workspace/TranscriptPresenter.h"

#include <QPainter>
#include <QVariantAnimation>

namespace TranslateMac {

namespace {
constexpr double barWidth = 3;
constexpr double barGap = 2.5;
constexpr double tallest = 18;
} // namespace

LevelMeter::LevelMeter(QWidget *parent) : QWidget(parent)
{
    m_shown = m_from = m_target = TranscriptPresenter::meterBarHeights(0);
    m_animation = new QVariantAnimation(this);
    m_animation->setDuration(120);
    m_animation->setEasingCurve(Motion::easeOut);
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        const double progress = value.toDouble();
        for (size_t i = 0; i < m_shown.size(); ++i)
            m_shown[i] = m_from[i] + (m_target[i] - m_from[i]) * progress;
        update();
    });
    setAccessibleName(QStringLiteral("系统音频音量"));
    setLevel(0);
}

void LevelMeter::setLevel(float level)
{
    m_level = level;
    setAccessibleDescription(TranscriptPresenter::levelValue(level));
    const auto target = TranscriptPresenter::meterBarHeights(level);
    if (target == m_target)
        return;
    m_target = target;
    if (Motion::reduceMotion() || !isVisible()) {
        m_shown = m_target;
        update();
        return;
    }
    m_from = m_shown;
    m_animation->stop();
    m_animation->start();
}

QSize LevelMeter::sizeHint() const
{
    return QSize(int(5 * barWidth + 4 * barGap) + 2, int(tallest) + 2);
}

void LevelMeter::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(
        TranscriptPresenter::receivingAudio(m_level) ? Theme::accent() : Theme::mutedBorder());
    const double middle = height() / 2.0;
    for (size_t i = 0; i < m_shown.size(); ++i) {
        const QRectF bar(
            1 + i * (barWidth + barGap), middle - m_shown[i] / 2, barWidth, m_shown[i]);
        painter.drawRoundedRect(bar, barWidth / 2, barWidth / 2);
    }
}

} // namespace TranslateMac
