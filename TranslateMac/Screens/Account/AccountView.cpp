#include "TranslateMac/Screens/Account/AccountView.h"

#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Screens/Common/Avatar.h"
#include "TranslateMac/Screens/Common/Controls.h"
#include "TranslateMac/Screens/Common/PrivacyPage.h"
#include "TranslateMac/Screens/Common/StatusPill.h"
#include "TranslateMac/Screens/Common/Theme.h"
#include "TranslateMac/Screens/Update/AppUpdateCheckRow.h"
#include "TranslateMac/Screens/Workspace/TranscriptPresenter.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace TranslateMac {

namespace {
QWidget *card(QWidget *parent)
{
    auto *card = new QWidget(parent);
    card->setObjectName(QStringLiteral("card"));
    card->setAttribute(Qt::WA_StyledBackground);
    return card;
}

QPushButton *settingsRow(const QString &symbol, const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(Theme::icon(symbol), text, parent);
    button->setStyleSheet(
        QStringLiteral("QPushButton { text-align: left; border: none; padding: 10px 4px; }"
                       "QPushButton:hover { background: #F1F3F6; }"));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}
} // namespace

AccountView::AccountView(AppModel &model, std::function<void()> returnToWorkspace, QWidget *parent)
    : QWidget(parent), m_model(model), m_returnToWorkspace(std::move(returnToWorkspace))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(28, 16, 28, 20);
    column->setSpacing(12);

    auto *header = new QHBoxLayout;
    auto *back = new QPushButton(
        Theme::icon(QStringLiteral("chevron.left")), QStringLiteral("返回字幕"), this);
    back->setFlat(true);
    back->setCursor(Qt::PointingHandCursor);
    connect(back, &QPushButton::clicked, this, [this] { m_returnToWorkspace(); });
    auto *title = Controls::label(QStringLiteral("账户"), this);
    title->setFont(Theme::font(15, QFont::DemiBold));
    header->addWidget(back);
    header->addStretch(1);
    header->addWidget(title);
    header->addStretch(1);
    header->addSpacing(back->sizeHint().width());
    column->addLayout(header);

    auto *profile = new QHBoxLayout;
    m_avatar = new QLabel(this);
    m_nickname = Controls::label(QString(), this);
    m_nickname->setFont(Theme::font(15, QFont::DemiBold));
    auto *profileTexts = new QVBoxLayout;
    profileTexts->addWidget(m_nickname);
    profileTexts->addWidget(
        Controls::label(QStringLiteral("与手机端同一账号"), this, QStringLiteral("secondary")));
    profile->addWidget(m_avatar);
    profile->addLayout(profileTexts, 1);
    column->addLayout(profile);

    column->addWidget(buildBalance());
    column->addWidget(buildSessionRow());
    auto *updates = card(this);
    auto *updatesLayout = new QVBoxLayout(updates);
    updatesLayout->setContentsMargins(14, 12, 14, 12);
    m_updateRow = new AppUpdateCheckRow(m_model.appUpdates(), updates);
    updatesLayout->addWidget(m_updateRow);
    column->addWidget(updates);
    column->addWidget(buildSettings());
    column->addStretch(1);

    for (auto signal : { &AppModel::ownsSessionChanged, &AppModel::stateChanged,
             &AppModel::nicknameChanged, &AppModel::walletChanged, &AppModel::accountBusyChanged })
        connect(&m_model, signal, this, &AccountView::refresh);
    refresh();
}

QWidget *AccountView::buildBalance()
{
    auto *balance = card(this);
    auto *grid = new QHBoxLayout(balance);
    grid->setContentsMargins(16, 14, 16, 14);
    auto *texts = new QVBoxLayout;
    texts->addWidget(
        Controls::label(QStringLiteral("可用积分"), balance, QStringLiteral("secondary")));
    auto *amount = new QHBoxLayout;
    m_wallet = Controls::label(QString(), balance);
    m_wallet->setFont(Theme::monospacedDigits(24, QFont::Bold));
    amount->addWidget(m_wallet);
    amount->addWidget(Controls::label(QStringLiteral("积分"), balance), 0, Qt::AlignBottom);
    amount->addStretch(1);
    texts->addLayout(amount);
    texts->addWidget(Controls::label(
        QStringLiteral("在手机 App 充值或管理套餐"), balance, QStringLiteral("secondary")));
    m_refresh = new QPushButton(
        Theme::icon(QStringLiteral("arrow.clockwise")), QStringLiteral("刷新账户"), balance);
    connect(m_refresh, &QPushButton::clicked, this, [this] { m_model.refreshAccount(); });
    grid->addLayout(texts, 1);
    grid->addWidget(m_refresh, 0, Qt::AlignTop);
    return balance;
}

QWidget *AccountView::buildSessionRow()
{
    m_sessionRow = card(this);
    auto *column = new QVBoxLayout(m_sessionRow);
    column->setContentsMargins(14, 12, 14, 12);
    auto *row = new QHBoxLayout;
    row->addWidget(Controls::iconLabel(QStringLiteral("waveform"), m_sessionRow, 18));
    m_sessionState = new StatusPill(m_sessionRow);
    m_sessionButton = new QPushButton(m_sessionRow);
    row->addWidget(m_sessionState);
    row->addStretch(1);
    row->addWidget(m_sessionButton);
    column->addLayout(row);
    column->addWidget(Controls::label(QStringLiteral("结束当前翻译后可刷新账户或退出登录"),
        m_sessionRow, QStringLiteral("secondary")));
    connect(m_sessionButton, &QPushButton::clicked, this,
        [this] { TranscriptPresenter::perform(m_model); });
    return m_sessionRow;
}

QWidget *AccountView::buildSettings()
{
    auto *settings = card(this);
    auto *column = new QVBoxLayout(settings);
    column->setContentsMargins(10, 4, 10, 4);
    column->setSpacing(0);
    auto *privacy
        = settingsRow(QStringLiteral("hand.raised"), QStringLiteral("隐私政策"), settings);
    auto *trailing = Controls::iconLabel(QStringLiteral("arrow.up.right"), privacy, 12);
    auto *privacyLayout = new QHBoxLayout(privacy);
    privacyLayout->setContentsMargins(0, 0, 8, 0);
    privacyLayout->addStretch(1);
    privacyLayout->addWidget(trailing);
    connect(privacy, &QPushButton::clicked, this, [] { PrivacyPage::open(); });
    m_logout = settingsRow(
        QStringLiteral("rectangle.portrait.and.arrow.right"), QStringLiteral("退出登录"), settings);
    connect(m_logout, &QPushButton::clicked, this, &AccountView::confirmLogout);
    column->addWidget(privacy);
    column->addWidget(m_logout);
    return settings;
}

void AccountView::refresh()
{
    const bool owns = m_model.ownsSession();
    Avatar::show(m_avatar, m_model.nickname(), 48);
    m_nickname->setText(m_model.nickname());
    m_wallet->setText(QString::number(m_model.wallet()));
    // The account cannot change under a running translation.
    m_refresh->setEnabled(!owns && !m_model.accountBusy());
    m_sessionRow->setVisible(owns);
    m_sessionState->setState(m_model.state());
    // The same stop / confirm-settlement decision as the transcript pane's footer.
    const TranscriptPresenter::Action action
        = TranscriptPresenter::action(TranscriptPresenter::Facts::of(m_model));
    m_sessionButton->setText(action.label);
    m_sessionButton->setIcon(Theme::icon(action.icon));
    m_sessionButton->setEnabled(action.enabled);
    m_sessionButton->setToolTip(action.help);
    m_updateRow->setSessionActive(owns);
    m_logout->setEnabled(!owns);
    m_logout->setToolTip(owns ? QStringLiteral("结束当前翻译后才能退出登录") : QString());
    if (owns && m_confirmation)
        m_confirmation->reject();
}

bool AccountView::showsSessionRow() const
{
    return !m_sessionRow->isHidden();
}

void AccountView::confirmLogout()
{
    if (m_model.ownsSession() || m_confirmation)
        return;
    m_confirmation = new QMessageBox(QMessageBox::Warning, QStringLiteral("退出登录？"),
        QStringLiteral("退出后需要重新使用手机验证码登录。"), QMessageBox::NoButton, this);
    QPushButton *confirm
        = m_confirmation->addButton(QStringLiteral("退出登录"), QMessageBox::DestructiveRole);
    m_confirmation->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    m_confirmation->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_confirmation, &QMessageBox::finished, this, [this, confirm] {
        const bool confirmed = m_confirmation->clickedButton() == confirm;
        m_confirmation = nullptr;
        // A translation that started meanwhile keeps the account signed in.
        if (confirmed && !m_model.ownsSession())
            m_model.logout();
    });
    m_confirmation->open();
}

} // namespace TranslateMac
