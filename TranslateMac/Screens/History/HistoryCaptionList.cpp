#include "TranslateMac/Screens/History/HistoryCaptionList.h"

#include "TranslateMac/Account/UserDefaultsKeys.h"
#include "TranslateMac/Screens/Common/SubtitleSize.h"
#include "TranslateMac/Screens/Common/UserDefaults.h"
#include "TranslateMac/Screens/History/HistoryPresenter.h"

#include <QCoreApplication>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace TranslateMac {

namespace {

ShownCaption shown(const JournalCaption &caption)
{
    ShownCaption shown;
    shown.sequence = caption.sequence;
    shown.source = caption.source;
    shown.target = caption.target;
    shown.sourceFinal = true;
    shown.targetFinal = true;
    return shown;
}

} // namespace

HistoryCaptionList::HistoryCaptionList(QWidget *parent) : QScrollArea(parent)
{
    setObjectName(QStringLiteral("historyCaptions"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("historyCaptionRows"));
    m_rowsLayout = new QVBoxLayout(content);
    // The marked row's background keeps clear of the edges.
    m_rowsLayout->setContentsMargins(10, 12, 10, 18);
    m_rowsLayout->setSpacing(6);
    m_rowsLayout->addStretch(1);
    setWidget(content);
    setStyleSheet(QStringLiteral("#historyCaptions, #historyCaptionRows { background: white; }"
                                 "#markedCaption { background: #FFF3CC; border-radius: 8px; }"));
    m_style.recorded = true;
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &HistoryCaptionList::scrolled);
    connect(
        verticalScrollBar(), &QScrollBar::rangeChanged, this, &HistoryCaptionList::scrollToMarked);
}

void HistoryCaptionList::showSession(const QList<JournalCaption> &captions)
{
    m_marked.reset();
    m_keepMarkedInView = false;
    // The workspace's size, as the user last chose it there.
    m_style.size = std::clamp(
        UserDefaults::value(UserDefaultsKeys::subtitleSize, UserDefaultsKeys::defaultSubtitleSize)
            .toDouble(),
        workspaceSubtitleBounds.minimum, workspaceSubtitleBounds.maximum);
    m_captions = captions;
    m_style.targetRightToLeft = HistoryPresenter::targetsRightToLeft(captions);
    makeWindow(0, pageSize);
    const QScopedValueRollback own(m_scrollingItself, true);
    verticalScrollBar()->setValue(0);
}

void HistoryCaptionList::updateCaptions(const QList<JournalCaption> &captions)
{
    // A session being recorded grows at its end: a reader who had the last rows gets the new.
    const bool hadEnd = m_first + m_rows.size() == m_captions.size();
    m_captions = captions;
    if (m_first >= captions.size())
        return makeWindow(std::max<qsizetype>(0, captions.size() - pageSize), captions.size());
    while (m_first + m_rows.size() > captions.size())
        delete m_rows.takeLast();
    for (int i = 0; i < m_rows.size(); ++i)
        showRow(i);
    if (hadEnd || m_rows.size() < pageSize)
        addRowsAtEnd(captions.size() - m_first - m_rows.size());
    if (m_marked && !indexOf(*m_marked))
        setMarked(std::nullopt);
}

bool HistoryCaptionList::reveal(qint64 sequence)
{
    const std::optional<qsizetype> index = indexOf(sequence);
    if (!index)
        return false;
    // Half a page each side, so that the caption can sit well inside the view.
    if (*index < m_first || *index >= m_first + m_rows.size())
        makeWindow(*index - pageSize / 2, *index + pageSize / 2);
    else if (*index + pageSize / 2 > m_first + m_rows.size())
        addRowsAtEnd(*index + pageSize / 2 - m_first - m_rows.size());
    setMarked(sequence);
    m_keepMarkedInView = true;
    scrollToMarked();
    return true;
}

TranscriptCaptionRow *HistoryCaptionList::rowOf(qsizetype index) const
{
    const qsizetype row = index - m_first;
    return row >= 0 && row < m_rows.size() ? m_rows[row] : nullptr;
}

bool HistoryCaptionList::shows(qsizetype index) const
{
    const TranscriptCaptionRow *row = rowOf(index);
    if (!row || !row->isVisible())
        return false;
    const QRect area(row->mapTo(viewport(), QPoint(0, 0)), row->size());
    return viewport()->rect().intersects(area);
}

void HistoryCaptionList::makeWindow(qsizetype first, qsizetype end)
{
    clearRows();
    m_first = std::clamp<qsizetype>(first, 0, m_captions.size());
    addRowsAtEnd(std::min(end, m_captions.size()) - m_first);
}

void HistoryCaptionList::addRowsAtEnd(qsizetype count)
{
    count = std::min(count, m_captions.size() - m_first - m_rows.size());
    for (qsizetype i = 0; i < count; ++i) {
        m_rows.append(makeRow(int(m_rows.size())));
        showRow(int(m_rows.size() - 1));
    }
}

void HistoryCaptionList::addRowsAtStart(qsizetype count)
{
    count = std::min(count, m_first);
    if (count <= 0)
        return;
    // What the reader sees stays where it is: the view moves down by what was added above.
    layOutNow();
    const int before = m_rows.isEmpty() ? 0 : m_rows.first()->y();
    m_first -= count;
    for (qsizetype i = 0; i < count; ++i) {
        m_rows.insert(i, makeRow(int(i)));
        showRow(int(i));
    }
    layOutNow();
    const int moved = m_rows[count]->y() - before;
    const QScopedValueRollback own(m_scrollingItself, true);
    verticalScrollBar()->setValue(verticalScrollBar()->value() + moved);
}

TranscriptCaptionRow *HistoryCaptionList::makeRow(int layoutIndex)
{
    auto *row = new TranscriptCaptionRow(m_style);
    m_rowsLayout->insertWidget(layoutIndex, row);
    // Shown now rather than when the event loop comes round, so that it is laid out at once.
    row->show();
    return row;
}

void HistoryCaptionList::clearRows()
{
    for (TranscriptCaptionRow *row : std::as_const(m_rows))
        delete row;
    m_rows.clear();
    m_first = 0;
}

void HistoryCaptionList::showRow(int index)
{
    TranscriptCaptionRow *row = m_rows[index];
    const JournalCaption &caption = m_captions[m_first + index];
    row->showCaption(shown(caption), false);
    const bool marked = m_marked == caption.sequence;
    const QString name = marked ? QStringLiteral("markedCaption") : QString();
    if (row->objectName() != name) {
        row->setObjectName(name);
        row->setAttribute(Qt::WA_StyledBackground, marked);
        // The style sheet's rule follows the name only when the style is applied again.
        row->style()->unpolish(row);
        row->style()->polish(row);
        row->update();
    }
}

void HistoryCaptionList::setMarked(std::optional<qint64> sequence)
{
    const std::optional<qint64> previous = std::exchange(m_marked, sequence);
    for (int i = 0; i < m_rows.size(); ++i) {
        const qint64 shownSequence = m_captions[m_first + i].sequence;
        if (shownSequence == previous || shownSequence == sequence)
            showRow(i);
    }
}

std::optional<qsizetype> HistoryCaptionList::indexOf(qint64 sequence) const
{
    // Captions are in sequence order.
    const auto found = std::lower_bound(m_captions.begin(), m_captions.end(), sequence,
        [](const JournalCaption &caption, qint64 wanted) { return caption.sequence < wanted; });
    if (found == m_captions.end() || found->sequence != sequence)
        return std::nullopt;
    return found - m_captions.begin();
}

void HistoryCaptionList::scrollToMarked()
{
    if (!m_keepMarkedInView || !m_marked || !isVisible())
        return;
    const std::optional<qsizetype> index = indexOf(*m_marked);
    TranscriptCaptionRow *row = index ? rowOf(*index) : nullptr;
    if (!row)
        return;
    layOutNow();
    const QScopedValueRollback own(m_scrollingItself, true);
    ensureWidgetVisible(row, 0, viewport()->height() / 3);
}

void HistoryCaptionList::showEvent(QShowEvent *event)
{
    QScrollArea::showEvent(event);
    // A list opened while hidden gets its size after it is shown.
    QTimer::singleShot(0, this, &HistoryCaptionList::scrollToMarked);
}

void HistoryCaptionList::resizeEvent(QResizeEvent *event)
{
    QScrollArea::resizeEvent(event);
    if (m_keepMarkedInView)
        QTimer::singleShot(0, this, &HistoryCaptionList::scrollToMarked);
}

void HistoryCaptionList::scrolled(int value)
{
    if (m_scrollingItself)
        return;
    // The reader took over: the marked caption stays marked but no longer pulls the view.
    m_keepMarkedInView = false;
    // The next page comes while the end of the rows is still a screen away.
    const int screen = viewport()->height();
    if (value >= verticalScrollBar()->maximum() - screen)
        addRowsAtEnd(pageSize);
    else if (value <= screen && m_first > 0)
        addRowsAtStart(pageSize);
}

void HistoryCaptionList::layOutNow()
{
    widget()->layout()->activate();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

} // namespace TranslateMac
