#include "TranslateMac/Screens/Account/QRLoginPane.h"

#include "TranslateMac/Account/QRLoginModel.h"
#include "TranslateMac/Screens/Account/LoginPresenter.h"
#include "TranslateMac/Screens/Account/LoginQRCode.h"
#include "TranslateMac/Screens/Common/Controls.h"
#include "TranslateMac/Screens/Common/Theme.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>

namespace TranslateMac {

QRLoginPane::QRLoginPane(QRLoginModel &login, QWidget *parent) : QWidget(parent), m_login(login)
{
    auto *instructions = Controls::label(
        QStringLiteral(
            "打开手机Quorvel「我的」→「扫码登录设备」\n扫码后核对确认码，在手机上确认登录"),
        this, QStringLiteral("secondary"));
    instructions->setAlignment(Qt::AlignCenter);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 0);
    m_progress->setTextVisible(false);
    m_progress->setFixedSize(120, 4);
    m_headline = Controls::label(QString(), this);
    m_headline->setFont(Theme::font(13, QFont::DemiBold));
    // The white margin around the code is the quiet zone scanners need to find it.
    m_quietZone = new QWidget(this);
    m_quietZone->setObjectName(QStringLiteral("quietZone"));
    m_quietZone->setAttribute(Qt::WA_StyledBackground);
    m_quietZone->setStyleSheet(
        QStringLiteral("#quietZone { background: white; border-radius: 8px; }"));
    m_code = new LoginQRCode(m_quietZone);
    m_code->setFixedSize(184, 184);
    auto *quiet = new QVBoxLayout(m_quietZone);
    quiet->setContentsMargins(14, 14, 14, 14);
    quiet->addWidget(m_code);
    m_countdown = Controls::label(QString(), this, QStringLiteral("secondary"));
    m_countdown->setFont(Theme::monospacedDigits(10));
    m_confirmation = Controls::label(QString(), this);
    // Monospaced, so 0 and O or 1 and I are told apart when comparing with the phone.
    m_confirmation->setFont(Theme::monospacedDigits(13, QFont::DemiBold));
    m_message = Controls::label(QString(), this, QStringLiteral("secondary"));
    m_message->setWordWrap(true);
    m_message->setAlignment(Qt::AlignCenter);
    m_refresh = new QPushButton(QStringLiteral("刷新二维码"), this);
    m_refresh->setIcon(Theme::icon(QStringLiteral("arrow.clockwise")));

    auto *column = new QVBoxLayout(this);
    column->setSpacing(8);
    column->addWidget(instructions, 0, Qt::AlignHCenter);
    column->addSpacing(6);
    for (QWidget *widget : std::initializer_list<QWidget *> {
             m_progress, m_headline, m_quietZone, m_countdown, m_confirmation })
        column->addWidget(widget, 0, Qt::AlignHCenter);
    // The full width, centred by its own alignment: a wrapping label placed by the layout's
    // alignment keeps its one-line height and cuts the lines it wraps into.
    column->addWidget(m_message);
    column->addWidget(m_refresh, 0, Qt::AlignHCenter);
    column->addStretch(1);

    connect(m_refresh, &QPushButton::clicked, this, [this] {
        // A new revision restarts the sign-in task of the login screen.
        m_login.cancel();
        m_login.setRevision(m_login.revision() + 1);
    });
    m_tick = new QTimer(this);
    m_tick->setInterval(1000);
    connect(m_tick, &QTimer::timeout, this, &QRLoginPane::refresh);
    m_tick->start();
    for (auto signal : { &QRLoginModel::phaseChanged, &QRLoginModel::challengeChanged,
             &QRLoginModel::messageChanged })
        connect(&m_login, signal, this, &QRLoginPane::refresh);
    refresh();
}

void QRLoginPane::refresh()
{
    using namespace LoginPresenter;
    const QRLoginModel::Phase phase = m_login.phase();
    const bool code = qrShowsCode(phase) && m_login.challenge().has_value();
    const bool loading
        = phase == QRLoginModel::Phase::idle || phase == QRLoginModel::Phase::loading;
    m_progress->setVisible(loading);
    m_headline->setText(qrHeadline(phase));
    m_headline->setVisible(!code);
    m_quietZone->setVisible(code);
    m_countdown->setVisible(code);
    m_confirmation->setVisible(code);
    if (code) {
        const auto &challenge = *m_login.challenge();
        m_code->setRows(challenge.rows);
        m_confirmation->setText(QStringLiteral("确认码：") + challenge.userCode);
        m_countdown->setText(qrCountdown(challenge.expiresAt, std::chrono::system_clock::now()));
        m_message->setText(qrWaitingLine(m_login.message()));
    } else {
        m_message->setText(
            qrOffersRefresh(phase) ? m_login.message().value_or(QString()) : QString());
    }
    m_message->setVisible(!m_message->text().isEmpty());
    m_refresh->setVisible(qrOffersRefresh(phase));
}

QString QRLoginPane::headline() const
{
    return m_headline->isHidden() ? QString() : m_headline->text();
}
QString QRLoginPane::confirmationText() const
{
    return m_confirmation->isHidden() ? QString() : m_confirmation->text();
}
QString QRLoginPane::messageText() const
{
    return m_message->isHidden() ? QString() : m_message->text();
}
bool QRLoginPane::showsCode() const
{
    return !m_quietZone->isHidden();
}

} // namespace TranslateMac
