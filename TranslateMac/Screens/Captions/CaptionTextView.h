#pragma once

#include <QColor>
#include <QFont>
#include <QTextLayout>
#include <QWidget>

namespace TranslateMac {

// One caption text, wrapped to the width and drawn by itself: the words the service has settled
// in the text colour, the tail it may still rewrite in a quieter colour, an optional trailing
// cursor, an optional outline (for text over video), and at most `maxLines` lines — the newest
// ones, so a long caption shows its end. Laying out plain text once per change and width is
// also much cheaper than a rich-text label.
class CaptionTextView : public QWidget {
    Q_OBJECT

public:
    struct Look {
        QFont font;
        QColor text;
        QColor changing; // the unsettled tail; the text colour when invalid
        QColor cursor;
        QColor outline; // invalid: none
        int maxLines = 0; // 0: every line
        bool rightToLeft = false;
        friend bool operator==(const Look &, const Look &) = default;
    };

    explicit CaptionTextView(QWidget *parent = nullptr);

    // The height `lines` lines take in `look`, whatever script they are in: a line is as tall as
    // the tallest font its text falls back to, so a window sized by this never cuts a line.
    static int heightOfLines(const Look &look, int lines);

    void setLook(const Look &look);
    // `settled` characters from the start are settled (all of them when negative or beyond the
    // text); the cursor " ▏" follows the text when `cursor` is set.
    void setContent(const QString &text, qsizetype settled = -1, bool cursor = false);

    // The text with its cursor, as shown.
    QString shownText() const;
    QString text() const { return m_text; }
    qsizetype settledLength() const { return m_settled; }
    const Look &look() const { return m_look; }
    // Lines of the whole text at the current width, and how many of them are shown.
    int lineCount() const;
    int shownLineCount() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void layOut(int width) const;
    // The first shown line and the height of the shown lines, for the last layout.
    int firstShownLine() const;
    int shownHeight() const;
    QList<QTextLayout::FormatRange> formats() const;
    qreal outlineWidth() const;
    int outlineMargin() const;
    void changed();

    Look m_look;
    QString m_text;
    qsizetype m_settled = -1;
    bool m_cursor = false;
    mutable QTextLayout m_layout;
    mutable int m_laidOutWidth = -1;
};

} // namespace TranslateMac
