#include "TranslateMac/Screens/Account/LoginView.h"

#include "TranslateMac/Account/QRLoginModel.h"
#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Screens/Account/LoginPresenter.h"
#include "TranslateMac/Screens/Account/QRLoginPane.h"
#include "TranslateMac/Screens/Common/Controls.h"
#include "TranslateMac/Screens/Common/PrivacyPage.h"
#include "TranslateMac/Screens/Common/SymbolIcons.h"
#include "TranslateMac/Screens/Common/Theme.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace TranslateMac {

using Method = AppModel::LoginMethod;

LoginView::LoginView(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(buildIntroduction(), 5);
    row->addWidget(buildForm(), 6);

    m_cooldownTick = new QTimer(this);
    m_cooldownTick->setInterval(1000);
    connect(m_cooldownTick, &QTimer::timeout, this, &LoginView::refresh);
    for (auto signal : { &AppModel::loginMethodChanged, &AppModel::cooldownUntilChanged,
             &AppModel::accountBusyChanged, &AppModel::messageChanged })
        connect(&m_model, signal, this, &LoginView::refresh);
    refresh();
}

QWidget *LoginView::buildIntroduction()
{
    auto *intro = new QWidget(this);
    intro->setObjectName(QStringLiteral("sidebar"));
    intro->setAttribute(Qt::WA_StyledBackground);
    auto *column = new QVBoxLayout(intro);
    column->setContentsMargins(56, 0, 40, 0);
    column->setSpacing(10);
    auto *brand = new QHBoxLayout;
    auto *mark = new QLabel(intro);
    mark->setPixmap(
        SymbolIcons::drawn(QStringLiteral("captions.bubble"), Theme::accent()).pixmap(36, 36));
    auto *name = Controls::label(QStringLiteral("Quorvel"), intro);
    name->setFont(Theme::font(20, QFont::Bold));
    auto *edition = Controls::label(QStringLiteral("Linux 版"), intro, QStringLiteral("secondary"));
    brand->addWidget(mark);
    brand->addWidget(name);
    brand->addWidget(edition, 0, Qt::AlignBottom);
    brand->addStretch(1);
    auto *slogan = Controls::label(QStringLiteral("电脑里播放的声音\n实时变成双语字幕"), intro);
    slogan->setFont(Theme::font(22, QFont::DemiBold));
    column->addStretch(2);
    column->addLayout(brand);
    column->addSpacing(8);
    column->addWidget(slogan);
    column->addSpacing(14);
    const std::pair<const char *, const char *> features[] = {
        { "speaker.wave.2.fill", "识别系统音频" },
        { "text.bubble.fill", "原文译文对照" },
        { "mic.slash.fill", "不使用麦克风" },
        { "pip.fill", "悬浮字幕窗" },
    };
    for (const auto &[symbol, text] : features) {
        auto *line = new QHBoxLayout;
        line->setSpacing(10);
        line->addWidget(Controls::iconLabel(QString::fromUtf8(symbol), intro, 18));
        auto *label = Controls::label(QString::fromUtf8(text), intro);
        label->setFont(Theme::font(12));
        line->addWidget(label);
        line->addStretch(1);
        column->addLayout(line);
    }
    column->addSpacing(14);
    column->addWidget(
        Controls::label(QStringLiteral("自动记住登录状态"), intro, QStringLiteral("secondary")));
    column->addStretch(3);
    return intro;
}

QWidget *LoginView::buildForm()
{
    auto *form = new QWidget(this);
    auto *column = new QVBoxLayout(form);
    column->setContentsMargins(56, 40, 56, 28);
    column->setSpacing(10);
    auto *title = Controls::label(QStringLiteral("登录"), form, QStringLiteral("title"));
    auto *methods = new QWidget(form);
    methods->setAccessibleName(QStringLiteral("登录方式"));
    auto *methodRow = new QHBoxLayout(methods);
    methodRow->setContentsMargins(0, 0, 0, 0);
    methodRow->setSpacing(0);
    m_methods = new QButtonGroup(methods);
    for (Method method : AppModel::allLoginMethods) {
        auto *segment = new QPushButton(AppModel::rawValue(method), methods);
        segment->setCheckable(true);
        segment->setObjectName(QStringLiteral("segment"));
        segment->setStyleSheet(QStringLiteral(
            "QPushButton { border: 1px solid #D7DBE2; padding: 6px 18px; background: white; }"
            "QPushButton:checked { background: #2F6FEB; color: white; border-color: #2F6FEB; }"));
        m_methods->addButton(segment, int(method));
        methodRow->addWidget(segment);
    }
    methodRow->addStretch(1);
    connect(m_methods, &QButtonGroup::idClicked, this,
        [this](int id) { m_model.setLoginMethod(Method(id)); });

    m_forms = new QStackedWidget(form);
    m_qrPane = new QRLoginPane(m_model.qrLogin(), m_forms);
    m_phoneForm = buildPhoneForm();
    m_forms->addWidget(m_qrPane);
    m_forms->addWidget(m_phoneForm);
    m_message = Controls::label(QString(), form, QStringLiteral("errorText"));
    m_message->setWordWrap(true);

    auto *footer = new QHBoxLayout;
    footer->addWidget(
        Controls::label(QStringLiteral("与手机端同一账号"), form, QStringLiteral("secondary")));
    footer->addStretch(1);
    auto *privacy = new QPushButton(QStringLiteral("隐私政策"), form);
    privacy->setFlat(true);
    privacy->setCursor(Qt::PointingHandCursor);
    privacy->setStyleSheet(QStringLiteral("color: %1; border: none;").arg(Theme::accent().name()));
    connect(privacy, &QPushButton::clicked, this, [] { PrivacyPage::open(); });
    footer->addWidget(privacy);

    column->addWidget(title);
    column->addWidget(methods);
    column->addLayout(footer);
    column->addSpacing(6);
    column->addWidget(m_forms, 1);
    column->addWidget(m_message);
    return form;
}

QWidget *LoginView::buildPhoneForm()
{
    auto *page = new QWidget(this);
    auto *column = new QVBoxLayout(page);
    column->setContentsMargins(0, 8, 0, 0);
    column->setSpacing(10);
    m_country = new QLineEdit(QStringLiteral("+86"), page);
    m_country->setAccessibleName(QStringLiteral("国家或地区电话区号"));
    m_country->setFixedWidth(72);
    m_phone = new QLineEdit(page);
    m_phone->setPlaceholderText(QStringLiteral("手机号"));
    m_phone->setAccessibleName(QStringLiteral("请输入手机号"));
    m_phone->addAction(Theme::icon(QStringLiteral("iphone")), QLineEdit::LeadingPosition);
    m_code = new QLineEdit(page);
    m_code->setPlaceholderText(QStringLiteral("6 位验证码"));
    m_code->setAccessibleName(QStringLiteral("短信验证码，6 位数字"));
    m_sendCode = new QPushButton(page);
    m_submit = Controls::primaryButton(QStringLiteral("登录"), page);
    m_submit->setIcon(SymbolIcons::drawn(QStringLiteral("arrow.right.circle.fill"), Qt::white));
    for (QLineEdit *field : { m_country, m_phone, m_code })
        field->setMinimumHeight(34);

    auto *phoneRow = new QHBoxLayout;
    phoneRow->addWidget(m_country);
    phoneRow->addWidget(m_phone, 1);
    auto *codeRow = new QHBoxLayout;
    codeRow->addWidget(m_code, 1);
    codeRow->addWidget(m_sendCode);
    column->addLayout(phoneRow);
    column->addLayout(codeRow);
    column->addWidget(
        Controls::label(QStringLiteral("新号码自动注册"), page, QStringLiteral("secondary")));
    column->addWidget(
        Controls::label(QStringLiteral("确认后自动登录此电脑"), page, QStringLiteral("secondary")));
    column->addWidget(m_submit);
    column->addStretch(1);

    for (QLineEdit *field : { m_country, m_phone, m_code })
        connect(field, &QLineEdit::textChanged, this, &LoginView::refresh);
    connect(m_code, &QLineEdit::returnPressed, this, &LoginView::submit);
    connect(m_submit, &QPushButton::clicked, this, &LoginView::submit);
    connect(m_sendCode, &QPushButton::clicked, this,
        [this] { m_model.sendCode(m_country->text(), m_phone->text()); });
    return page;
}

bool LoginView::showsQRForm() const
{
    return m_forms->currentWidget() == m_qrPane;
}

void LoginView::refresh()
{
    const Method method = m_model.loginMethod();
    m_methods->button(int(method))->setChecked(true);
    m_forms->setCurrentWidget(
        method == Method::qr ? static_cast<QWidget *>(m_qrPane) : m_phoneForm);
    const qint64 left
        = LoginPresenter::cooldownSeconds(m_model.cooldownUntil(), m_model.clock().now());
    m_sendCode->setText(LoginPresenter::sendCodeLabel(left));
    m_sendCode->setEnabled(left == 0 && !m_model.accountBusy());
    if (left > 0 && !m_cooldownTick->isActive())
        m_cooldownTick->start();
    else if (left == 0)
        m_cooldownTick->stop();
    m_submit->setEnabled(
        LoginPresenter::canSubmit(m_model.accountBusy(), m_phone->text(), m_code->text()));
    const auto message = m_model.message();
    m_message->setText(message.value_or(QString()));
    m_message->setVisible(message.has_value());
}

void LoginView::submit()
{
    if (!LoginPresenter::canSubmit(m_model.accountBusy(), m_phone->text(), m_code->text()))
        return;
    m_model.login(m_country->text(), m_phone->text(), m_code->text());
}

void LoginView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_model.setLoginScreenShown(isVisible());
}

void LoginView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_model.setLoginScreenShown(isVisible());
}

} // namespace TranslateMac
