#pragma once

#include "TranslateMac/Screens/History/HistoryPresenter.h"

#include <QStyledItemDelegate>

class QListWidgetItem;

namespace TranslateMac {

// Draws the history's list items: a past session (its start, the "中断" mark and its duration over
// its direction, source and counts) or a found caption (its session and time over its two texts).
// Drawn rather than built from widgets, so that hundreds of results appear as fast as one types.
class HistoryListDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    enum Role {
        kindRole = Qt::UserRole + 1, // Kind
        sessionRole, // the journal's session id
        sequenceRole, // a found caption's sequence
        titleRole,
        markRole, // a session's "中断", else empty
        trailingRole,
        detailRole,
        detailTrailingRole,
        sourceRole, // a found caption's source
    };
    enum class Kind { session, hit };

    using QStyledItemDelegate::QStyledItemDelegate;

    static void describe(QListWidgetItem &item, const HistoryPresenter::SessionEntry &entry);
    static void describe(QListWidgetItem &item, const HistoryPresenter::HitEntry &entry);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

} // namespace TranslateMac
