#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QToolButton;
class QGridLayout;

namespace TranslateMac {

class AppModel;
class LanguagePicker;

// The top of the sidebar: source and target language with swap, the price of the direction
// and the recently used directions.
class DirectionSection : public QWidget {
    Q_OBJECT

public:
    explicit DirectionSection(AppModel &model, QWidget *parent = nullptr);

    // Opens the source or target language picker; returns it while it is open.
    LanguagePicker *openSourcePicker();
    LanguagePicker *openTargetPicker();
    bool pickingSource() const { return m_pickingSource; }
    bool pickingTarget() const { return m_pickingTarget; }
    // The stored recent codes ("recentRouteCodes").
    static QString recentCodes();
    QStringList recentChipTexts() const;
    QToolButton &swapButton() const { return *m_swap; }
    QString quoteText() const;
    QString minimumText() const;
    QString emptyText() const;
    bool showsCard() const;

private:
    void refresh();
    void refreshRecent();
    void choose(const QString &routeCode);
    LanguagePicker *openPicker(bool source);

    AppModel &m_model;
    bool m_pickingSource = false;
    bool m_pickingTarget = false;
    QStackedWidget *m_body = nullptr;
    QLabel *m_emptyIcon = nullptr;
    QLabel *m_empty = nullptr;
    QProgressBar *m_loading = nullptr;
    QWidget *m_card = nullptr;
    QPushButton *m_source = nullptr;
    QPushButton *m_target = nullptr;
    QToolButton *m_swap = nullptr;
    QWidget *m_quoteRow = nullptr;
    QLabel *m_quote = nullptr;
    QLabel *m_minimum = nullptr;
    QWidget *m_recent = nullptr;
    QGridLayout *m_chips = nullptr;
    QStringList m_chipTexts;
};

} // namespace TranslateMac
