#pragma once

#include "TranslateMac/Directions/DirectionCatalog.h"

#include <QFrame>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QVBoxLayout;

namespace TranslateMac {

// A popover list of languages with search (from nine options on) and Chinese / dialect /
// foreign groups. Picking an option reports it and closes the popover.
class LanguagePicker : public QFrame {
    Q_OBJECT

public:
    using OnPick = std::function<void(const LanguageOption &)>;
    static constexpr int maximumHeight = 460;

    LanguagePicker(const QString &title, QList<LanguageOption> options,
        std::optional<QString> selected, bool accent, OnPick onPick, QWidget *parent = nullptr);

    void setQuery(const QString &query);
    QString query() const;
    bool showsSearch() const;
    // The names of the options listed now, in order.
    QStringList listedNames() const;
    QStringList sectionTitles() const;
    bool showsNoMatch() const;
    // The height the options ask for (before the popover's cap).
    int preferredHeight() const { return m_preferredHeight; }
    void pick(const QString &name);

Q_SIGNALS:
    // The popover closed, with or without a pick.
    void dismissed();

protected:
    void hideEvent(QHideEvent *event) override;

private:
    void rebuild();

    QList<LanguageOption> m_options;
    std::optional<QString> m_selected;
    OnPick m_onPick;
    QLineEdit *m_search = nullptr;
    QVBoxLayout *m_list = nullptr;
    QLabel *m_noMatch = nullptr;
    QStringList m_listed;
    QStringList m_titles;
    int m_preferredHeight = 0;
};

} // namespace TranslateMac
