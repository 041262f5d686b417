#include "TranslateMac/Screens/History/ExportMenu.h"

#include <QToolButton>

namespace TranslateMac {

using TranslateCore::ExportFormat;
using TranslateCore::ExportText;

ExportMenu::ExportMenu(QWidget *parent) : QMenu(parent)
{
    setTitle(QStringLiteral("导出格式"));
    for (const ExportFormat format : { ExportFormat::text, ExportFormat::timedText,
             ExportFormat::srt, ExportFormat::webVtt, ExportFormat::jsonLines }) {
        const QString title = HistoryPresenter::formatTitle(format);
        if (!HistoryPresenter::choosesLanguages(format)) {
            add(*this, title, { format, ExportText::both });
            continue;
        }
        QMenu *languages = addMenu(title);
        for (const ExportText text : { ExportText::both, ExportText::source, ExportText::target })
            add(*languages, HistoryPresenter::languagesTitle(text), { format, text });
    }
}

ExportMenu *ExportMenu::attachTo(QToolButton *button)
{
    auto *menu = new ExportMenu(button);
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
    // The button keeps its plain icon look; the menu is what it does.
    button->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    return menu;
}

QAction *ExportMenu::action(const HistoryPresenter::ExportChoice &choice) const
{
    for (const auto &[offered, action] : m_actions) {
        if (offered == choice)
            return action;
    }
    return nullptr;
}

void ExportMenu::add(
    QMenu &menu, const QString &title, const HistoryPresenter::ExportChoice &choice)
{
    QAction *action = menu.addAction(title, this, [this, choice] { Q_EMIT chosen(choice); });
    m_actions.append({ choice, action });
}

} // namespace TranslateMac
