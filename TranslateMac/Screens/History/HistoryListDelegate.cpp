#include "TranslateMac/Screens/History/HistoryListDelegate.h"

#include "TranslateMac/Screens/Common/Theme.h"

#include <QListWidgetItem>
#include <QPainter>
#include <QPainterPath>

namespace TranslateMac {

namespace {

constexpr int horizontalPadding = 14;
constexpr int sessionHeight = 58;
constexpr int hitHeight = 76;

HistoryListDelegate::Kind kindOf(const QModelIndex &index)
{
    return HistoryListDelegate::Kind(index.data(HistoryListDelegate::kindRole).toInt());
}

QString textOf(const QModelIndex &index, int role)
{
    return index.data(role).toString();
}

// Draws `text` left in `area` on one line, cut with an ellipsis where it does not fit; returns the
// width it took.
int drawLine(QPainter &painter, const QRect &area, const QString &text, const QFont &font,
    const QColor &colour, Qt::Alignment alignment = Qt::AlignLeft)
{
    painter.setFont(font);
    painter.setPen(colour);
    const QFontMetrics metrics(font);
    // One line: line breaks in a caption would otherwise spill over the next item.
    QString single = text;
    single.replace(u'\n', u' ');
    const QString shown = metrics.elidedText(single, Qt::ElideRight, area.width());
    painter.drawText(area, int(alignment | Qt::AlignVCenter), shown);
    return metrics.horizontalAdvance(shown);
}

void drawMark(QPainter &painter, QPoint at, int height, const QString &mark)
{
    const QFont font = Theme::font(8, QFont::DemiBold);
    const int width = QFontMetrics(font).horizontalAdvance(mark) + 10;
    const QRect capsule(at, QSize(width, height));
    QColor fill = Theme::danger();
    fill.setAlpha(28);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(capsule, height / 2.0, height / 2.0);
    painter.setFont(font);
    painter.setPen(Theme::danger());
    painter.drawText(capsule, Qt::AlignCenter, mark);
}

} // namespace

void HistoryListDelegate::describe(
    QListWidgetItem &item, const HistoryPresenter::SessionEntry &entry)
{
    item.setData(kindRole, int(Kind::session));
    item.setData(sessionRole, entry.id);
    item.setData(titleRole, entry.started);
    item.setData(markRole, entry.interrupted ? HistoryPresenter::interruptedMark : QString());
    item.setData(trailingRole, entry.duration);
    item.setData(detailRole, entry.origin);
    item.setData(detailTrailingRole, entry.counts);
    QString accessible = entry.started;
    if (entry.interrupted)
        accessible += u' ' + HistoryPresenter::interruptedMark;
    item.setData(
        Qt::AccessibleTextRole, accessible + u' ' + HistoryPresenter::sessionSummary(entry));
}

void HistoryListDelegate::describe(QListWidgetItem &item, const HistoryPresenter::HitEntry &entry)
{
    item.setData(kindRole, int(Kind::hit));
    item.setData(sessionRole, entry.sessionId);
    item.setData(sequenceRole, entry.sequence);
    item.setData(titleRole, entry.session);
    item.setData(trailingRole, entry.time);
    item.setData(detailRole, entry.target);
    item.setData(sourceRole, entry.source);
    item.setData(Qt::AccessibleTextRole,
        QStringList { entry.session, entry.time, entry.source, entry.target }.join(u' '));
}

QSize HistoryListDelegate::sizeHint(
    const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    return QSize(option.rect.width(), kindOf(index) == Kind::hit ? hitHeight : sessionHeight);
}

void HistoryListDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRect card = option.rect.adjusted(6, 2, -6, -2);
    if (option.state & QStyle::State_Selected) {
        QColor fill = Theme::accent();
        fill.setAlpha(30);
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawRoundedRect(card, 8, 8);
    } else if (option.state & QStyle::State_MouseOver) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(0, 0, 0, 12));
        painter->drawRoundedRect(card, 8, 8);
    }
    const QRect inner = card.adjusted(horizontalPadding - 6, 6, -(horizontalPadding - 6), -6);
    const QFont bold = Theme::font(10, QFont::DemiBold);
    const QFont body = Theme::font(10);
    const QFont small = Theme::font(9);
    const QColor secondary = Theme::secondaryText();
    const int lineHeight = 20;

    if (kindOf(index) == Kind::session) {
        QRect first(inner.left(), inner.top(), inner.width(), lineHeight);
        const QString trailing = textOf(index, trailingRole);
        const int trailingWidth = QFontMetrics(small).horizontalAdvance(trailing);
        drawLine(*painter, first, trailing, small, secondary, Qt::AlignRight);
        first.setRight(first.right() - trailingWidth - 8);
        const int titleWidth
            = drawLine(*painter, first, textOf(index, titleRole), bold, Theme::text());
        if (const QString mark = textOf(index, markRole); !mark.isEmpty())
            drawMark(*painter, QPoint(first.left() + titleWidth + 6, first.top() + 2),
                lineHeight - 4, mark);
        QRect second(inner.left(), first.bottom() + 4, inner.width(), lineHeight);
        const QString counts = textOf(index, detailTrailingRole);
        const int countsWidth = QFontMetrics(small).horizontalAdvance(counts);
        drawLine(*painter, second, counts, small, secondary, Qt::AlignRight);
        second.setRight(second.right() - countsWidth - 8);
        drawLine(*painter, second, textOf(index, detailRole), small, secondary);
    } else {
        QRect first(inner.left(), inner.top(), inner.width(), lineHeight - 2);
        const QString time = textOf(index, trailingRole);
        const QFont digits = Theme::monospacedDigits(9);
        const int timeWidth = QFontMetrics(digits).horizontalAdvance(time);
        drawLine(*painter, first, time, digits, secondary, Qt::AlignRight);
        first.setRight(first.right() - timeWidth - 8);
        drawLine(*painter, first, textOf(index, titleRole), small, secondary);
        const QRect target(inner.left(), first.bottom() + 2, inner.width(), lineHeight + 2);
        drawLine(*painter, target, textOf(index, detailRole), body, Theme::text());
        const QRect source(inner.left(), target.bottom() + 1, inner.width(), lineHeight - 2);
        drawLine(*painter, source, textOf(index, sourceRole), small, secondary);
    }
    painter->restore();
}

} // namespace TranslateMac
