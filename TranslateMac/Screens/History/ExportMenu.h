#pragma once

#include "TranslateMac/Screens/History/HistoryPresenter.h"

#include <QMenu>

class QToolButton;

namespace TranslateMac {

// The choice of an export format: plain text and JSON lines at once, the timed text and the
// subtitle formats in a submenu each, for both languages, the source only or the translation only.
class ExportMenu : public QMenu {
    Q_OBJECT

public:
    explicit ExportMenu(QWidget *parent = nullptr);
    // A menu that drops down from `button` when it is pressed.
    static ExportMenu *attachTo(QToolButton *button);

    // The action that chooses `choice` (tests and the screenshots pick through it).
    QAction *action(const HistoryPresenter::ExportChoice &choice) const;

Q_SIGNALS:
    void chosen(const HistoryPresenter::ExportChoice &choice);

private:
    void add(QMenu &menu, const QString &title, const HistoryPresenter::ExportChoice &choice);

    QList<std::pair<HistoryPresenter::ExportChoice, QAction *>> m_actions;
};

} // namespace TranslateMac
