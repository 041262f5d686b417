#include "TranslateMac/Screens/Captions/FloatingLine.h"

#include "TranslateMac/Screens/Captions/CaptionText.h"
#include "TranslateMac/Screens/Captions/CaptionTextView.h"
#include "TranslateMac/Screens/Common/Theme.h"

#include <QVBoxLayout>

namespace TranslateMac {

FloatingLine::FloatingLine(const FloatingLineStyle &style, QWidget *parent)
    : CaptionRowView(parent), m_style(style)
{
    m_target = new CaptionTextView(this);
    m_source = new CaptionTextView(this);
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(14, 2, 14, 2);
    m_layout->setSpacing(2);
    m_layout->addWidget(m_target);
    m_layout->addWidget(m_source);
}

void FloatingLine::showCaption(const ShownCaption &caption, bool latest)
{
    const FloatingSettings &settings = m_style.settings;
    const FloatingPalette &palette = m_style.palette;
    CaptionText::Block target = CaptionText::floatingTarget(caption, latest, m_style.owningSession);
    if (!target.placeholder)
        target.settled = caption.targetSettled;

    CaptionTextView::Look targetLook;
    targetLook.font = Theme::font(settings.translationSize, QFont::DemiBold);
    targetLook.text = target.placeholder ? palette.placeholder : palette.text;
    targetLook.changing = palette.changingText;
    targetLook.cursor = palette.cursor;
    targetLook.outline = palette.outline;
    targetLook.maxLines = settings.translationLines;
    targetLook.rightToLeft = m_style.rightToLeft;
    m_target->setLook(targetLook);
    m_target->setContent(target.text, target.settled, target.cursor);

    // Alone, the source stands in for the translation: its placeholder and cursor.
    const bool sourceAlone = !settings.showTranslation;
    CaptionText::Block source = sourceAlone
        ? CaptionText::source(caption, latest && m_style.owningSession)
        : CaptionText::Block { caption.source, false, false };
    if (!source.placeholder)
        source.settled = caption.sourceSettled;
    CaptionTextView::Look sourceLook = targetLook;
    sourceLook.font
        = Theme::font(settings.sourceSize, sourceAlone ? QFont::DemiBold : QFont::Normal);
    sourceLook.text = source.placeholder ? palette.placeholder
        : sourceAlone                    ? palette.text
                                         : palette.sourceText;
    sourceLook.maxLines = settings.sourceLines;
    sourceLook.rightToLeft = false;
    m_source->setLook(sourceLook);
    m_source->setContent(source.text, source.settled, source.cursor);

    m_target->setVisible(settings.showTranslation);
    m_source->setVisible(settings.showSource && !source.text.isEmpty());
    // The first of the two in the column is the one on top.
    if ((m_layout->indexOf(m_source) == 0) != settings.sourceOnTop) {
        m_layout->removeWidget(m_source);
        m_layout->insertWidget(settings.sourceOnTop ? 0 : 1, m_source);
    }
}

QString FloatingLine::targetText() const
{
    return m_target->isHidden() ? QString() : m_target->shownText();
}
QString FloatingLine::sourceText() const
{
    return m_source->isHidden() ? QString() : m_source->text();
}
bool FloatingLine::sourceShown() const
{
    return !m_source->isHidden();
}

} // namespace TranslateMac
