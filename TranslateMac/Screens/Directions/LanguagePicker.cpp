#include "TranslateMac/Screens/Directions/LanguagePicker.h"

#include "TranslateMac/Screens/Common/Controls.h"
#include "TranslateMac/Screens/Common/Theme.h"
#include "TranslateMac/Screens/Directions/LanguagePickerModel.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace TranslateMac {

LanguagePicker::LanguagePicker(const QString &title, QList<LanguageOption> options,
    std::optional<QString> selected, bool accent, OnPick onPick, QWidget *parent)
    : QFrame(parent, Qt::Popup), m_options(std::move(options)), m_selected(std::move(selected)),
      m_onPick(std::move(onPick))
{
    setObjectName(QStringLiteral("languagePicker"));
    setStyleSheet(Theme::styleSheet()
        + QStringLiteral("#languagePicker { background: white; border: 1px solid #D7DBE2;"
                         " border-radius: 10px; }"
                         "QPushButton#option { text-align: left; border: none; padding: 6px 10px;"
                         " border-radius: 6px; }"
                         "QPushButton#option:hover { background: #EEF2FA; }"));
    setFixedWidth(260);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(6);
    auto *heading = Controls::label(title, this);
    heading->setFont(Theme::font(12, QFont::DemiBold));
    if (accent)
        heading->setStyleSheet(QStringLiteral("color: %1;").arg(Theme::accent().name()));
    column->addWidget(heading);

    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(QStringLiteral("搜索"));
    m_search->addAction(Theme::icon(QStringLiteral("magnifyingglass")), QLineEdit::LeadingPosition);
    QAction *clear = m_search->addAction(
        Theme::icon(QStringLiteral("xmark.circle.fill")), QLineEdit::TrailingPosition);
    clear->setToolTip(QStringLiteral("清除搜索"));
    clear->setText(QStringLiteral("清除搜索"));
    clear->setVisible(false);
    connect(clear, &QAction::triggered, m_search, &QLineEdit::clear);
    connect(m_search, &QLineEdit::textChanged, this, [this, clear](const QString &text) {
        clear->setVisible(!text.isEmpty());
        rebuild();
    });
    m_search->setVisible(LanguagePickerModel::showsSearch(m_options));
    column->addWidget(m_search);

    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("pickerList"));
    content->setStyleSheet(QStringLiteral("#pickerList { background: white; }"));
    m_list = new QVBoxLayout(content);
    m_list->setContentsMargins(0, 0, 0, 0);
    m_list->setSpacing(0);
    scroll->setWidget(content);
    column->addWidget(scroll, 1);
    m_noMatch
        = Controls::label(QStringLiteral("没有匹配的语言"), this, QStringLiteral("secondary"));
    m_noMatch->setAlignment(Qt::AlignCenter);
    column->addWidget(m_noMatch);
    rebuild();
}

void LanguagePicker::setQuery(const QString &query)
{
    m_search->setText(query);
}

QString LanguagePicker::query() const
{
    return m_search->text();
}

bool LanguagePicker::showsSearch() const
{
    return !m_search->isHidden();
}

QStringList LanguagePicker::listedNames() const
{
    return m_listed;
}

QStringList LanguagePicker::sectionTitles() const
{
    return m_titles;
}

bool LanguagePicker::showsNoMatch() const
{
    return !m_noMatch->isHidden();
}

void LanguagePicker::pick(const QString &name)
{
    for (const LanguageOption &option : std::as_const(m_options)) {
        if (option.name == name) {
            close();
            m_onPick(option);
            return;
        }
    }
}

void LanguagePicker::hideEvent(QHideEvent *event)
{
    QFrame::hideEvent(event);
    Q_EMIT dismissed();
}

void LanguagePicker::rebuild()
{
    while (QLayoutItem *item = m_list->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const auto shown
        = LanguagePickerModel::sections(LanguagePickerModel::filter(m_options, m_search->text()));
    m_listed.clear();
    m_titles.clear();
    for (const LanguageSection &section : shown) {
        if (shown.size() > 1) {
            auto *header = new QWidget;
            auto *row = new QHBoxLayout(header);
            row->setContentsMargins(10, 6, 10, 2);
            row->addWidget(
                Controls::label(section.title(), header, QStringLiteral("sectionTitle")));
            row->addStretch(1);
            row->addWidget(
                Controls::label(section.countText(), header, QStringLiteral("secondary")));
            m_list->addWidget(header);
            m_titles.append(section.title());
        }
        for (const LanguageOption &option : section.items) {
            auto *button = new QPushButton(option.name);
            button->setObjectName(QStringLiteral("option"));
            button->setCursor(Qt::PointingHandCursor);
            // Unselected names keep the checkmark's room so all names line up.
            QPixmap blank(16, 16);
            blank.fill(Qt::transparent);
            button->setIcon(m_selected == option.name ? Theme::icon(QStringLiteral("checkmark"))
                                                      : QIcon(blank));
            const QString name = option.name;
            connect(button, &QPushButton::clicked, this, [this, name] { pick(name); });
            m_list->addWidget(button);
            m_listed.append(option.name);
        }
    }
    m_list->addStretch(1);
    m_noMatch->setVisible(shown.isEmpty());
    m_preferredHeight = LanguagePickerModel::height(m_options, shown);
    setFixedHeight(std::min(m_preferredHeight, maximumHeight));
}

} // namespace TranslateMac
