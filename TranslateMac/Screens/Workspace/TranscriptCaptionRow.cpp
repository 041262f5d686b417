#include "TranslateMac/Screens/Workspace/TranscriptCaptionRow.h"

#include "TranslateMac/Screens/Captions/CaptionText.h"
#include "TranslateMac/Screens/Common/Controls.h"
#include "TranslateMac/Screens/Common/Theme.h"

#include <QGridLayout>
#include <QLabel>
#include <QPalette>

namespace TranslateMac {

TranscriptCaptionRow::TranscriptCaptionRow(const TranscriptRowStyle &style, QWidget *parent)
    : CaptionRowView(parent), m_style(style)
{
    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(24, 8, 24, 8);
    layout->setHorizontalSpacing(12);
    layout->setVerticalSpacing(6);
    auto *sourceTag = Controls::label(QStringLiteral("原文"), this, QStringLiteral("secondary"));
    auto *targetTag = Controls::label(QStringLiteral("译文"), this, QStringLiteral("secondary"));
    m_source = new QLabel(this);
    m_target = new QLabel(this);
    for (QLabel *label : { m_source, m_target }) {
        label->setWordWrap(true);
        label->setTextFormat(Qt::RichText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    for (QLabel *tag : { sourceTag, targetTag }) {
        tag->setFont(Theme::font(9, QFont::DemiBold));
        tag->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    QPalette dim = m_source->palette();
    dim.setColor(QPalette::WindowText, Theme::secondaryText());
    m_source->setPalette(dim);
    layout->addWidget(sourceTag, 0, 0, Qt::AlignTop);
    layout->addWidget(m_source, 0, 1);
    layout->addWidget(targetTag, 1, 0, Qt::AlignTop);
    layout->addWidget(m_target, 1, 1);
    layout->setColumnStretch(1, 1);
}

void TranscriptCaptionRow::showCaption(const ShownCaption &caption, bool latest)
{
    CaptionText::Block source = CaptionText::source(caption, latest);
    CaptionText::Block target = CaptionText::target(caption, latest);
    source.settled = caption.sourceSettled;
    target.settled = caption.targetSettled;
    if (m_style.recorded) {
        for (CaptionText::Block *block : { &source, &target }) {
            if (block->placeholder)
                block->text = QStringLiteral("—");
        }
    }
    m_sourcePlain = CaptionText::plain(source);
    m_targetPlain = CaptionText::plain(target);
    m_source->setText(CaptionText::html(
        source, Theme::accent(), Theme::secondaryText(), Theme::secondaryText().lighter(135)));
    m_target->setText(
        CaptionText::html(target, Theme::accent(), Theme::secondaryText(), Theme::secondaryText()));
    m_source->setFont(Theme::font(std::max(10.0, m_style.size * 0.62)));
    m_target->setFont(Theme::font(m_style.size, QFont::DemiBold));
    Controls::setRightToLeft(m_target, m_style.targetRightToLeft);
}

bool TranscriptCaptionRow::targetIsRightToLeft() const
{
    return m_target->layoutDirection() == Qt::RightToLeft;
}

double TranscriptCaptionRow::targetPointSize() const
{
    return m_target->font().pointSizeF();
}

} // namespace TranslateMac
