#include "TranslateMac/Screens/Directions/DirectionSection.h"

#include "TranslateMac/Account/UserDefaultsKeys.h"
#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Directions/DirectionCatalog.h"
#include "TranslateMac/Screens/Common/Controls.h"
#include "TranslateMac/Screens/Common/Theme.h"
#include "TranslateMac/Screens/Common/UserDefaults.h"
#include "TranslateMac/Screens/Directions/DirectionPresenter.h"
#include "TranslateMac/Screens/Directions/LanguagePicker.h"
#include "TranslateMac/Screens/Directions/RecentRoutes.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace TranslateMac {

namespace {
QPushButton *languageButton(QWidget *parent)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QStringLiteral("languageButton"));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

QWidget *labelled(const QString &caption, QPushButton *button, QWidget *parent)
{
    auto *box = new QWidget(parent);
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(3);
    column->addWidget(Controls::label(caption, box, QStringLiteral("secondary")));
    column->addWidget(button);
    return box;
}
} // namespace

DirectionSection::DirectionSection(AppModel &model, QWidget *parent)
    : QWidget(parent), m_model(model)
{
    m_body = new QStackedWidget(this);
    auto *emptyPage = new QWidget(m_body);
    auto *emptyRow = new QHBoxLayout(emptyPage);
    m_emptyIcon = Controls::iconLabel(QStringLiteral("exclamationmark.circle"), emptyPage, 16);
    m_empty = Controls::label(QString(), emptyPage, QStringLiteral("secondary"));
    m_loading = new QProgressBar(emptyPage);
    m_loading->setRange(0, 0); // busy, no known end
    m_loading->setTextVisible(false);
    m_loading->setFixedSize(40, 4);
    emptyRow->addWidget(m_loading);
    emptyRow->addWidget(m_emptyIcon);
    emptyRow->addWidget(m_empty, 1);

    m_card = new QWidget(m_body);
    m_card->setObjectName(QStringLiteral("card"));
    m_card->setAttribute(Qt::WA_StyledBackground);
    auto *card = new QVBoxLayout(m_card);
    card->setContentsMargins(12, 10, 12, 12);
    card->setSpacing(6);
    m_source = languageButton(m_card);
    m_target = languageButton(m_card);
    m_swap = Controls::toolButton(QStringLiteral("arrow.up.arrow.down"), QString(), m_card);
    card->addWidget(labelled(QStringLiteral("源语言"), m_source, m_card));
    card->addWidget(m_swap, 0, Qt::AlignHCenter);
    card->addWidget(labelled(QStringLiteral("目标语言"), m_target, m_card));
    m_quoteRow = new QWidget(m_card);
    auto *quoteRow = new QHBoxLayout(m_quoteRow);
    quoteRow->setContentsMargins(0, 4, 0, 0);
    quoteRow->setSpacing(4);
    m_quote = Controls::label(QString(), m_quoteRow);
    auto *info = Controls::iconLabel(QStringLiteral("info.circle"), m_quoteRow, 13);
    info->setToolTip(QStringLiteral("预计每分钟消耗，按实际用量结算"));
    quoteRow->addWidget(m_quote);
    quoteRow->addWidget(info);
    quoteRow->addStretch(1);
    card->addWidget(m_quoteRow);
    m_minimum = Controls::label(QString(), m_card);
    m_minimum->setWordWrap(true);
    m_minimum->setStyleSheet(QStringLiteral("color: %1;").arg(Theme::warning().darker(120).name()));
    card->addWidget(m_minimum);
    m_body->addWidget(emptyPage);
    m_body->addWidget(m_card);

    m_recent = new QWidget(this);
    auto *recent = new QVBoxLayout(m_recent);
    recent->setContentsMargins(0, 4, 0, 0);
    auto *recentTitle = new QHBoxLayout;
    recentTitle->addWidget(
        Controls::iconLabel(QStringLiteral("clock.arrow.circlepath"), m_recent, 13));
    recentTitle->addWidget(
        Controls::label(QStringLiteral("最近使用"), m_recent, QStringLiteral("sectionTitle")));
    recentTitle->addStretch(1);
    recent->addLayout(recentTitle);
    m_chips = new QGridLayout;
    m_chips->setSpacing(6);
    recent->addLayout(m_chips);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(m_body);
    column->addWidget(m_recent);

    connect(m_source, &QPushButton::clicked, this, [this] { openSourcePicker(); });
    connect(m_target, &QPushButton::clicked, this, [this] { openTargetPicker(); });
    connect(m_swap, &QToolButton::clicked, this, [this] {
        m_model.swapDirection();
        UserDefaults::setValue(UserDefaultsKeys::recentRouteCodes,
            RecentRoutes::remember(recentCodes(), m_model.selectedRoute()));
        refreshRecent();
    });
    // Not `changed`: that also fires for every level update while listening.
    for (auto signal : { &AppModel::routesChanged, &AppModel::selectedRouteChanged,
             &AppModel::quoteChanged, &AppModel::quoteBusyChanged, &AppModel::accountBusyChanged,
             &AppModel::stateChanged, &AppModel::sessionIDChanged })
        connect(&m_model, signal, this, &DirectionSection::refresh);
    refresh();
}

QString DirectionSection::recentCodes()
{
    return UserDefaults::value(UserDefaultsKeys::recentRouteCodes, QString()).toString();
}

void DirectionSection::refresh()
{
    const bool hasRoutes = !m_model.routes().isEmpty();
    m_body->setCurrentIndex(hasRoutes ? 1 : 0);
    const bool loading = m_model.accountBusy();
    m_empty->setText(loading ? QStringLiteral("加载中…") : QStringLiteral("暂无可用方向"));
    m_emptyIcon->setVisible(!loading);
    m_loading->setVisible(loading);

    const DirectionCatalog catalog { m_model.routes() };
    const auto route = m_model.route();
    // A running translation keeps its direction.
    m_card->setEnabled(!m_model.ownsSession());
    m_recent->setEnabled(!m_model.ownsSession());
    m_source->setText(route ? route->sourceName() : QStringLiteral("选择语言"));
    m_target->setText(route ? route->targetName() : QStringLiteral("选择语言"));
    const bool swappable = DirectionPresenter::canSwap(catalog, route);
    m_swap->setEnabled(swappable);
    Controls::setHelp(m_swap, DirectionPresenter::swapHelp(swappable));
    const auto quote = DirectionPresenter::quoteLine(m_model.quoteBusy(), m_model.quote());
    m_quoteRow->setVisible(route && quote);
    m_quote->setText(quote.value_or(QString()));
    const auto minimum = DirectionPresenter::minimumLine(m_model.quote());
    m_minimum->setVisible(route && !m_model.quoteBusy() && minimum);
    m_minimum->setText(minimum.value_or(QString()));
    refreshRecent();
}

void DirectionSection::refreshRecent()
{
    const auto routes = RecentRoutes::routes(recentCodes(), m_model.routes());
    QStringList texts;
    for (const auto &route : routes)
        texts.append(RecentRoutes::chipText(route));
    m_recent->setVisible(!routes.isEmpty());
    if (texts == m_chipTexts && m_chips->count() == routes.size())
        return;
    m_chipTexts = texts;
    while (QLayoutItem *item = m_chips->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (int i = 0; i < routes.size(); ++i) {
        auto *chip = new QPushButton(texts[i], m_recent);
        chip->setObjectName(QStringLiteral("chip"));
        chip->setCursor(Qt::PointingHandCursor);
        Controls::setHelp(chip, QStringLiteral("切换到 ") + texts[i]);
        const QString code = routes[i].code;
        connect(chip, &QPushButton::clicked, this, [this, code] { choose(code); });
        m_chips->addWidget(chip, i / 2, i % 2);
    }
    m_recent->setVisible(!routes.isEmpty());
}

void DirectionSection::choose(const QString &routeCode)
{
    if (routeCode.isEmpty() || m_model.ownsSession())
        return;
    m_model.setSelectedRoute(routeCode);
    UserDefaults::setValue(
        UserDefaultsKeys::recentRouteCodes, RecentRoutes::remember(recentCodes(), routeCode));
    refreshRecent();
}

LanguagePicker *DirectionSection::openSourcePicker()
{
    return openPicker(true);
}

LanguagePicker *DirectionSection::openTargetPicker()
{
    return openPicker(false);
}

LanguagePicker *DirectionSection::openPicker(bool source)
{
    const DirectionCatalog catalog { m_model.routes() };
    const auto route = m_model.route();
    const QString currentSource = route ? route->sourceName() : QString();
    QList<LanguageOption> options = source ? catalog.sources() : catalog.targets(currentSource);
    std::optional<QString> selected;
    if (route)
        selected = source ? route->sourceName() : route->targetName();
    auto onPick = [this, source, currentSource](const LanguageOption &option) {
        const DirectionCatalog catalog { m_model.routes() };
        const auto chosen = source ? catalog.routeAfterChoosing(option.name, m_model.route())
                                   : catalog.route(currentSource, option.name);
        if (chosen)
            choose(chosen->code);
    };
    auto *picker
        = new LanguagePicker(source ? QStringLiteral("源语言") : QStringLiteral("目标语言"),
            options, selected, !source, onPick, this);
    picker->setAttribute(Qt::WA_DeleteOnClose);
    bool &picking = source ? m_pickingSource : m_pickingTarget;
    picking = true;
    connect(picker, &LanguagePicker::dismissed, this, [&picking] { picking = false; });
    QPushButton *anchor = source ? m_source : m_target;
    picker->move(anchor->mapToGlobal(QPoint(0, anchor->height() + 4)));
    picker->show();
    return picker;
}

QStringList DirectionSection::recentChipTexts() const
{
    return m_chipTexts;
}

QString DirectionSection::quoteText() const
{
    return m_quoteRow->isHidden() ? QString() : m_quote->text();
}

QString DirectionSection::minimumText() const
{
    return m_minimum->isHidden() ? QString() : m_minimum->text();
}

QString DirectionSection::emptyText() const
{
    return m_empty->text();
}

bool DirectionSection::showsCard() const
{
    return m_body->currentWidget() == m_card;
}

} // namespace TranslateMac
