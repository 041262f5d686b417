#pragma once

#include "TranslateMac/Journal/JournalRecords.h"
#include "TranslateMac/Screens/Workspace/TranscriptCaptionRow.h"

#include <QList>
#include <QScrollArea>

#include <optional>

class QVBoxLayout;

namespace TranslateMac {

// A past session's captions, read-only, in the rows of the live transcript. Only a window of
// rows around what is read is made, growing a page at a time as the reader scrolls either way,
// so that a session of thousands of captions opens at once, at its start or at any caption.
class HistoryCaptionList : public QScrollArea {
    Q_OBJECT

public:
    static constexpr int pageSize = 60;

    explicit HistoryCaptionList(QWidget *parent = nullptr);

    // Shows `captions` from the top, unmarked.
    void showSession(const QList<JournalCaption> &captions);
    // The same session with new or revised captions: the rows and the place stay.
    void updateCaptions(const QList<JournalCaption> &captions);
    // Marks the caption with `sequence` and scrolls it into view; false when it is not there.
    bool reveal(qint64 sequence);

    std::optional<qint64> markedSequence() const { return m_marked; }
    qsizetype captionCount() const { return m_captions.size(); }
    // The captions that have rows: from `firstRowCaption()` on, `rowCount()` of them.
    qsizetype firstRowCaption() const { return m_first; }
    int rowCount() const { return int(m_rows.size()); }
    // The row of the caption at `index` in the session, if it has one.
    TranscriptCaptionRow *rowOf(qsizetype index) const;
    // Whether the caption at `index` in the session shows in the visible part of the list.
    bool shows(qsizetype index) const;

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Rows for the captions from `first` to before `end`, replacing all others.
    void makeWindow(qsizetype first, qsizetype end);
    void addRowsAtEnd(qsizetype count);
    void addRowsAtStart(qsizetype count);
    TranscriptCaptionRow *makeRow(int layoutIndex);
    void clearRows();
    void showRow(int row);
    void setMarked(std::optional<qint64> sequence);
    std::optional<qsizetype> indexOf(qint64 sequence) const;
    // Brings the marked row into view, again after each layout until the reader scrolls.
    void scrollToMarked();
    void scrolled(int value);
    // Lays the rows out now (wrapped texts take their heights), as the next paint would.
    void layOutNow();

    TranscriptRowStyle m_style;
    QList<JournalCaption> m_captions;
    qsizetype m_first = 0;
    QList<TranscriptCaptionRow *> m_rows;
    QVBoxLayout *m_rowsLayout = nullptr;
    std::optional<qint64> m_marked;
    bool m_keepMarkedInView = false;
    bool m_scrollingItself = false;
};

} // namespace TranslateMac
