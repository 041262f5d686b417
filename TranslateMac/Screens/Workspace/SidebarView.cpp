#include "TranslateMac/Screens/Workspace/SidebarView.h"

#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Screens/Common/Avatar.h"
#include "TranslateMac/Screens/Common/Controls.h"
#include "TranslateMac/Screens/Common/SymbolIcons.h"
#include "TranslateMac/Screens/Common/Theme.h"
#include "TranslateMac/Screens/Directions/DirectionSection.h"
#include "TranslateMac/Screens/Workspace/SourcePresenter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace TranslateMac {

SidebarView::SidebarView(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("sidebar"));
    setAttribute(Qt::WA_StyledBackground);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(12);

    auto *brand = new QHBoxLayout;
    auto *mark = new QLabel(this);
    mark->setPixmap(
        SymbolIcons::drawn(QStringLiteral("captions.bubble"), Theme::accent()).pixmap(26, 26));
    auto *name = Controls::label(QStringLiteral("Quorvel"), this);
    name->setFont(Theme::font(15, QFont::Bold));
    brand->addWidget(mark);
    brand->addWidget(name);
    brand->addStretch(1);
    column->addLayout(brand);

    m_directions = new DirectionSection(model, this);
    column->addWidget(m_directions);
    column->addWidget(buildSourceSection());

    m_history = new QCheckBox(QStringLiteral("云端历史"), this);
    Controls::setHelp(m_history, QStringLiteral("开启后本次字幕保存到Quorvel历史"));
    connect(m_history, &QCheckBox::toggled, this, [this](bool on) { m_model.setHistory(on); });
    column->addWidget(m_history);
    column->addStretch(1);
    column->addWidget(buildAccountButton());

    for (auto signal : { &AppModel::selectedSourceChanged, &AppModel::ownsSessionChanged,
             &AppModel::sourcesRefreshingChanged, &AppModel::sourceCheckFailureChanged,
             &AppModel::accessConfirmedChanged, &AppModel::historyChanged,
             &AppModel::nicknameChanged, &AppModel::remainingChanged })
        connect(&m_model, signal, this, &SidebarView::refresh);
    connect(&m_model, &AppModel::sourcesChanged, this, &SidebarView::refreshSources);
    refreshSources();
    refresh();
}

QWidget *SidebarView::buildSourceSection()
{
    m_sourceSection = new QWidget(this);
    m_sourceSection->setAccessibleName(QStringLiteral("音源"));
    auto *grid = new QGridLayout(m_sourceSection);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(6);
    grid->addWidget(
        Controls::label(QStringLiteral("音源"), m_sourceSection, QStringLiteral("sectionTitle")), 0,
        0, 1, 2);
    m_sources = new QComboBox(m_sourceSection);
    m_sources->setIconSize(QSize(16, 16));
    auto *refresh = Controls::toolButton(
        QStringLiteral("arrow.clockwise"), QStringLiteral("刷新正在运行的应用"), m_sourceSection);
    refresh->setAccessibleName(QStringLiteral("刷新应用列表"));
    grid->addWidget(m_sources, 1, 0);
    grid->addWidget(refresh, 1, 1);
    auto *hint = Controls::label(QStringLiteral("选择单个应用可避免其他声音混入"), m_sourceSection,
        QStringLiteral("secondary"));
    hint->setWordWrap(true);
    grid->addWidget(hint, 2, 0, 1, 2);

    auto *access = new QHBoxLayout;
    access->setSpacing(6);
    m_accessIcon = new QLabel(m_sourceSection);
    m_access = Controls::label(QString(), m_sourceSection);
    m_accessDetail = Controls::label(QString(), m_sourceSection, QStringLiteral("secondary"));
    m_accessDetail->setWordWrap(true);
    m_retry = new QPushButton(QStringLiteral("重试"), m_sourceSection);
    Controls::setHelp(m_retry, QStringLiteral("重新检查音源"));
    access->addWidget(m_accessIcon);
    access->addWidget(m_access, 1);
    access->addWidget(m_retry);
    grid->addLayout(access, 3, 0, 1, 2);
    grid->addWidget(m_accessDetail, 4, 0, 1, 2);
    grid->setColumnStretch(0, 1);

    connect(refresh, &QToolButton::clicked, this, [this] { m_model.refreshSources(); });
    connect(m_retry, &QPushButton::clicked, this, [this] { m_model.refreshSources(); });
    connect(m_sources, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < m_model.sources().size())
            m_model.setSelectedSource(m_model.sources().at(index));
    });
    return m_sourceSection;
}

QWidget *SidebarView::buildAccountButton()
{
    m_account = new QPushButton(this);
    m_account->setObjectName(QStringLiteral("accountButton"));
    m_account->setCursor(Qt::PointingHandCursor);
    m_account->setMinimumHeight(64);
    auto *row = new QHBoxLayout(m_account);
    row->setContentsMargins(10, 8, 10, 8);
    m_avatar = new QLabel(m_account);
    m_avatar->setFixedSize(36, 36);
    m_nickname = Controls::label(QString(), m_account);
    m_nickname->setFont(Theme::font(11, QFont::DemiBold));
    m_balance = Controls::label(QString(), m_account, QStringLiteral("secondary"));
    m_accountLabel = Controls::label(QString(), m_account, QStringLiteral("secondary"));
    auto *texts = new QVBoxLayout;
    texts->setSpacing(1);
    texts->addWidget(m_nickname);
    auto *balanceRow = new QHBoxLayout;
    balanceRow->setSpacing(4);
    balanceRow->addWidget(Controls::iconLabel(QStringLiteral("creditcard"), m_account, 12));
    balanceRow->addWidget(m_balance);
    balanceRow->addStretch(1);
    texts->addLayout(balanceRow);
    row->addWidget(m_avatar);
    row->addLayout(texts, 1);
    row->addWidget(m_accountLabel);
    for (QLabel *label : m_account->findChildren<QLabel *>())
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
    connect(m_account, &QPushButton::clicked, this, &SidebarView::accountToggled);
    return m_account;
}

void SidebarView::setShowingAccount(bool showing)
{
    m_showingAccount = showing;
    refresh();
}

void SidebarView::refreshSources()
{
    m_sources->clear();
    for (const AudioSource &source : m_model.sources())
        m_sources->addItem(SourcePresenter::icon(source), source.name);
    refresh();
}

void SidebarView::refresh()
{
    const int selected = int(m_model.sources().indexOf(m_model.selectedSource()));
    if (selected >= 0 && m_sources->currentIndex() != selected)
        m_sources->setCurrentIndex(selected);
    m_sources->setEnabled(!m_model.ownsSession());
    m_sourceSection->setAccessibleDescription(
        QStringLiteral("监听音源：") + m_model.selectedSource().name);

    const SourcePresenter::Access access
        = SourcePresenter::access(m_model.sourcesRefreshing(), m_model.sourceCheckFailure(),
            m_model.accessConfirmed(), !m_model.selectedSource().pid.has_value());
    m_accessIcon->setPixmap(Theme::icon(access.icon).pixmap(16, 16));
    m_access->setText(access.title);
    m_accessDetail->setText(access.detail);
    m_accessDetail->setVisible(!access.detail.isEmpty());
    m_retry->setVisible(access.offersRetry);

    const QSignalBlocker blocker(m_history);
    m_history->setChecked(m_model.history());

    Avatar::show(m_avatar, m_model.nickname(), 36);
    m_nickname->setText(m_model.nickname());
    m_balance->setText(QString::number(m_model.remaining()));
    m_accountLabel->setText(
        m_showingAccount ? QStringLiteral("返回字幕") : QStringLiteral("账户与积分"));
    m_account->setAccessibleName(QStringLiteral("账户：") + m_model.nickname()
        + QStringLiteral("，剩余 ") + QString::number(m_model.remaining())
        + QStringLiteral(" 积分"));
}

QString SidebarView::accessText() const
{
    return m_access->text();
}

} // namespace TranslateMac
