#include "TranslateMac/Screens/Captions/FloatingLine.h"

#include "TranslateMac/Screens/Captions/CaptionText.h"
#include "TranslateMac/Screens/Common/Theme.h"

#include <QLabel>
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
}

void FloatingLine::showCaption(const TranslateCore::Caption &caption, bool latest)
{
    const CaptionText::Block target
        = CaptionText::floatingTarget(caption, latest, m_style.owningSession);
    m_plainTarget = target.text + (target.cursor ? CaptionText::cursor : QString());
    QString html = target.text.toHtmlEscaped();
    if (target.cursor)
        html += QStringLiteral("<span style=\"color:%1\">%2</span>")
                    .arg(Theme::accent().lighter(130).name(), CaptionText::cursor);
    m_target->setText(html);
    m_target->setFont(Theme::font(m_style.size, QFont::DemiBold));
    m_target->setStyleSheet(target.placeholder ? QStringLiteral("color: rgba(255,255,255,140);")
                                               : QStringLiteral("color: white;"));
    const Qt::LayoutDirection direction = m_style.rightToLeft ? Qt::RightToLeft : Qt::LeftToRight;
    m_target->setLayoutDirection(direction);
    m_target->setAlignment(
        (m_style.rightToLeft ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);

    m_source->setVisible(m_style.showSource);
    m_sourcePlain = caption.source;
    m_source->setText(caption.source.toHtmlEscaped());
    m_source->setFont(Theme::font(qMax(11.0, m_style.size * 0.55)));
    m_source->setStyleSheet(QStringLiteral("color: rgba(255,255,255,150);"));
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
