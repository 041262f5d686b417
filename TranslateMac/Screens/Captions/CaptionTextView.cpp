#include "TranslateMac/Screens/Captions/CaptionTextView.h"

#include "TranslateMac/Screens/Captions/CaptionText.h"

#include <QGlyphRun>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>
#include <QTextOption>

#include <cmath>

namespace TranslateMac {

namespace {

// Text in the scripts captions come in, with the cursor: Latin with accents and descenders,
// Chinese, Korean and Arabic, whose fallback fonts are taller.
const QString scriptsSample = QStringLiteral("Ágy永한ع▏");

} // namespace

CaptionTextView::CaptionTextView(QWidget *parent) : QWidget(parent)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    m_look.font = font();
    m_look.text = palette().color(QPalette::WindowText);
}

void CaptionTextView::setLook(const Look &look)
{
    if (look == m_look)
        return;
    m_look = look;
    changed();
}

void CaptionTextView::setContent(const QString &text, qsizetype settled, bool cursor)
{
    if (settled < 0 || settled > text.size())
        settled = text.size();
    if (text == m_text && settled == m_settled && cursor == m_cursor)
        return;
    m_text = text;
    m_settled = settled;
    m_cursor = cursor;
    changed();
}

void CaptionTextView::changed()
{
    m_laidOutWidth = -1;
    updateGeometry();
    update();
}

QString CaptionTextView::shownText() const
{
    return m_text + (m_cursor ? CaptionText::cursor : QString());
}

QList<QTextLayout::FormatRange> CaptionTextView::formats() const
{
    QList<QTextLayout::FormatRange> ranges;
    auto add = [&](qsizetype start, qsizetype length, const QColor &colour) {
        if (length <= 0)
            return;
        QTextLayout::FormatRange range;
        range.start = int(start);
        range.length = int(length);
        range.format.setForeground(colour);
        ranges.append(range);
    };
    add(0, m_settled, m_look.text);
    add(m_settled, m_text.size() - m_settled,
        m_look.changing.isValid() ? m_look.changing : m_look.text);
    add(m_text.size(), m_cursor ? CaptionText::cursor.size() : 0, m_look.cursor);
    return ranges;
}

void CaptionTextView::layOut(int width) const
{
    width = std::max(width, 1);
    if (width == m_laidOutWidth)
        return;
    m_laidOutWidth = width;
    m_layout.setText(shownText());
    m_layout.setFont(m_look.font);
    QTextOption option(m_look.rightToLeft ? Qt::AlignRight : Qt::AlignLeft);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTextDirection(m_look.rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    m_layout.setTextOption(option);
    m_layout.setFormats(formats());
    m_layout.beginLayout();
    qreal y = 0;
    for (QTextLine line = m_layout.createLine(); line.isValid(); line = m_layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    m_layout.endLayout();
}

int CaptionTextView::lineCount() const
{
    layOut(width());
    return m_layout.lineCount();
}

int CaptionTextView::shownLineCount() const
{
    layOut(width());
    return m_layout.lineCount() - firstShownLine();
}

int CaptionTextView::firstShownLine() const
{
    const int lines = m_layout.lineCount();
    return m_look.maxLines > 0 ? std::max(0, lines - m_look.maxLines) : 0;
}

int CaptionTextView::shownHeight() const
{
    const int lines = m_layout.lineCount();
    if (lines == 0)
        return QFontMetrics(m_look.font).height();
    const QTextLine first = m_layout.lineAt(firstShownLine());
    const QTextLine last = m_layout.lineAt(lines - 1);
    return int(std::ceil(last.y() + last.height() - first.y()));
}

qreal CaptionTextView::outlineWidth() const
{
    return m_look.outline.isValid() ? std::max(2.0, m_look.font.pointSizeF() * 0.14) : 0;
}

int CaptionTextView::outlineMargin() const
{
    // Half the outline's stroke lies outside the glyphs.
    return int(std::ceil(outlineWidth() / 2));
}

int CaptionTextView::heightForWidth(int width) const
{
    layOut(width);
    return shownHeight() + 2 * outlineMargin();
}

int CaptionTextView::heightOfLines(const Look &look, int lines)
{
    CaptionTextView sample;
    sample.setLook(look);
    sample.setContent(scriptsSample);
    // Wide enough for one line; shownHeight() rounds a whole line up, as the layout places them.
    sample.layOut(1 << 20);
    return lines * sample.shownHeight() + 2 * sample.outlineMargin();
}

QSize CaptionTextView::sizeHint() const
{
    return QSize(200, heightForWidth(width() > 0 ? width() : 200));
}

QSize CaptionTextView::minimumSizeHint() const
{
    return QSize(40, QFontMetrics(m_look.font).height());
}

void CaptionTextView::paintEvent(QPaintEvent *)
{
    layOut(width());
    const int lines = m_layout.lineCount();
    if (lines == 0)
        return;
    // The lines above the shown ones are laid out (so the shown ones wrap as in the whole text)
    // but never drawn: their descenders and outline would reach into the first shown line.
    const int first = firstShownLine();
    const QPointF origin(0, -m_layout.lineAt(first).y() + outlineMargin());
    QPainter painter(this);
    if (!m_look.outline.isValid()) {
        for (int line = first; line < lines; ++line)
            m_layout.lineAt(line).draw(&painter, origin);
        return;
    }
    // Outlined text: the glyph outlines of each coloured range, stroked under their fill.
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(origin);
    const int shownFrom = m_layout.lineAt(first).textStart();
    QList<std::pair<QPainterPath, QColor>> paths;
    for (const QTextLayout::FormatRange &range : formats()) {
        const int from = std::max(range.start, shownFrom);
        const int to = range.start + range.length;
        if (to <= from)
            continue;
        QPainterPath path;
        for (const QGlyphRun &run : m_layout.glyphRuns(from, to - from)) {
            const QRawFont font = run.rawFont();
            const QList<quint32> glyphs = run.glyphIndexes();
            const QList<QPointF> positions = run.positions();
            for (qsizetype i = 0; i < glyphs.size(); ++i)
                path.addPath(font.pathForGlyph(glyphs[i]).translated(positions[i]));
        }
        paths.append({ path, range.format.foreground().color() });
    }
    const QPen pen(m_look.outline, outlineWidth(), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    for (const auto &[path, colour] : paths)
        painter.strokePath(path, pen);
    for (const auto &[path, colour] : paths)
        painter.fillPath(path, colour);
}

} // namespace TranslateMac
