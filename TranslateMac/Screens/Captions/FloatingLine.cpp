#include "TranslateMac/Screens/Captions/FloatingLine.h"

#include "TranslateMac/Screens/Captions/CaptionText.h"
#include "TranslateMac/Screens/Common/Controls.h"
#include "TranslateMac/Screens/Common/Motion.h"
#include "TranslateMac/Screens/Common/Theme.h"

#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>

#include <QLabel>
#include <QPalette>
#include <QVBoxLayout>

namespace TranslateMac {

FloatingLine::FloatingLine(const FloatingLineStyle &style, QWidget *parent)
    : CaptionRowView(parent), m_style(style)
{
    m_target = new QLabel(this);
    m_source = new QLabel(this);
    for (QLabel *label : { m_target, m_source }) {
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setTextFormat(Qt::RichText);
    }
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 2, 14, 2);
    layout->setSpacing(2);
    layout->addWidget(m_target);
    layout->addWidget(m_source);
    QPalette dim = m_source->palette();
    dim.setColor(QPalette::WindowText, QColor(255, 255, 255, 150));
    m_source->setPalette(dim);
}

void FloatingLine::showCaption(const TranslateCore::Caption &caption, bool latest)
{
    const CaptionText::Block target
        = CaptionText::floatingTarget(caption, latest, m_style.owningSession);
    const QString before = std::exchange(m_plainTarget, CaptionText::plain(target));
    if (!before.isEmpty() && before != m_plainTarget)
        easeInChange();
    m_target->setText(CaptionText::html(target, Theme::accent().lighter(130)));
    m_target->setFont(Theme::font(m_style.size, QFont::DemiBold));
    QPalette palette = m_target->palette();
    palette.setColor(
        QPalette::WindowText, target.placeholder ? QColor(255, 255, 255, 140) : Qt::white);
    m_target->setPalette(palette);
    Controls::setRightToLeft(m_target, m_style.rightToLeft);

    m_source->setVisible(m_style.showSource);
    m_sourcePlain = caption.source;
    m_source->setText(caption.source.toHtmlEscaped());
    m_source->setFont(Theme::font(qMax(11.0, m_style.size * 0.55)));
}

void FloatingLine::easeInChange()
{
    if (Motion::reduceMotion() || !isVisible() || m_target->graphicsEffect())
        return;
    auto *opacity = new QGraphicsOpacityEffect(m_target);
    m_target->setGraphicsEffect(opacity);
    auto *fade = new QPropertyAnimation(opacity, "opacity", m_target);
    fade->setDuration(300);
    fade->setEasingCurve(Motion::easeOut);
    fade->setStartValue(0.55);
    fade->setEndValue(1.0);
    // The effect costs a render pass per frame: drop it once the text is in place.
    connect(fade, &QPropertyAnimation::finished, m_target,
        [this] { m_target->setGraphicsEffect(nullptr); });
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

QString FloatingLine::targetText() const
{
    return m_plainTarget;
}
QString FloatingLine::sourceText() const
{
    return m_source->isHidden() ? QString() : m_sourcePlain;
}
bool FloatingLine::sourceShown() const
{
    return !m_source->isHidden();
}

} // namespace TranslateMac
