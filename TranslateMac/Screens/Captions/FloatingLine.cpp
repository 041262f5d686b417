#include "TranslateMac/Screens/Captions/FloatingLine.h"

#include "TranslateMac/Screens/Captions/CaptionText.h"
#include "TranslateMac/Screens/Captions/CaptionTextView.h"
#include "TranslateMac/Screens/Common/Theme.h"

#include <QVBoxLayout>

namespace TranslateMac {

namespace {

constexpr QMargins lineMargins(14, 2, 14, 2);
constexpr int languageSpacing = 2;

// How the translation is drawn; `placeholder` while it has no text yet.
CaptionTextView::Look translationLook(const FloatingLineStyle &style, bool placeholder)
{
    const FloatingPalette &palette = style.palette;
    CaptionTextView::Look look;
    look.font = Theme::font(style.settings.translationSize, QFont::DemiBold);
    look.text = placeholder ? palette.placeholder : palette.text;
    look.changing = palette.changingText;
    look.cursor = palette.cursor;
    look.outline = palette.outline;
    look.maxLines = style.settings.translationLines;
    look.rightToLeft = style.rightToLeft;
    return look;
}

// How the source is drawn: smaller and quieter under the translation; alone, it stands in for
// the translation in its weight and colour.
CaptionTextView::Look sourceLook(const FloatingLineStyle &style, bool placeholder)
{
    const FloatingSettings &settings = style.settings;
    const bool alone = !settings.showTranslation;
    CaptionTextView::Look look = translationLook(style, placeholder);
    look.font = Theme::font(settings.sourceSize, alone ? QFont::DemiBold : QFont::Normal);
    if (!placeholder)
        look.text = alone ? style.palette.text : style.palette.sourceText;
    look.maxLines = settings.sourceLines;
    look.rightToLeft = false;
    return look;
}

} // namespace

FloatingLine::FloatingLine(const FloatingLineStyle &style, QWidget *parent)
    : CaptionRowView(parent), m_style(style)
{
    m_target = new CaptionTextView(this);
    m_source = new CaptionTextView(this);
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(lineMargins);
    m_layout->setSpacing(languageSpacing);
    m_layout->addWidget(m_target);
    m_layout->addWidget(m_source);
}

int FloatingLine::tallestHeight(const FloatingLineStyle &style)
{
    const FloatingSettings &settings = style.settings;
    int height = lineMargins.top() + lineMargins.bottom();
    if (settings.showTranslation)
        height += CaptionTextView::heightOfLines(
            translationLook(style, false), settings.translationLines);
    if (settings.showSource)
        height += CaptionTextView::heightOfLines(sourceLook(style, false), settings.sourceLines);
    if (settings.showTranslation && settings.showSource)
        height += languageSpacing;
    return height;
}

void FloatingLine::showCaption(const ShownCaption &caption, bool latest)
{
    const FloatingSettings &settings = m_style.settings;
    CaptionText::Block target = CaptionText::floatingTarget(caption, latest, m_style.owningSession);
    if (!target.placeholder)
        target.settled = caption.targetSettled;
    m_target->setLook(translationLook(m_style, target.placeholder));
    m_target->setContent(target.text, target.settled, target.cursor);

    // Alone, the source stands in for the translation: its placeholder and cursor.
    CaptionText::Block source = !settings.showTranslation
        ? CaptionText::source(caption, latest && m_style.owningSession)
        : CaptionText::Block { caption.source, false, false };
    if (!source.placeholder)
        source.settled = caption.sourceSettled;
    m_source->setLook(sourceLook(m_style, source.placeholder));
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
