#include "TranslateMac/Screens/Update/AppUpdatePanel.h"

#include "TranslateMac/Screens/Common/Controls.h"
#include "TranslateMac/Screens/Common/Theme.h"
#include "TranslateMac/Screens/Update/UpdatePresenter.h"
#include "TranslateMac/Update/AppUpdateModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace TranslateMac {

AppUpdatePanel::AppUpdatePanel(AppUpdateModel &updates, QWidget *parent)
    : QFrame(parent), m_updates(updates)
{
    setObjectName(QStringLiteral("updatePanel"));
    setStyleSheet(QStringLiteral(
        "#updatePanel { background: white; border-radius: 14px; border: 1px solid #E1E4E9; }"));
    setFixedWidth(panelWidth);
    m_title = Controls::label(QString(), this);
    m_title->setFont(Theme::font(17, QFont::DemiBold));
    m_version = Controls::label(QString(), this);
    m_version->setFont(Theme::font(11, QFont::DemiBold));
    m_text = Controls::label(QString(), this, QStringLiteral("secondary"));
    m_notes = Controls::label(QString(), this);
    for (QLabel *label : { m_text, m_notes })
        label->setWordWrap(true);
    m_update = Controls::primaryButton(QStringLiteral("去更新"), this);
    m_secondary = new QPushButton(this);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_secondary);
    buttons->addWidget(m_update);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(24, 22, 24, 20);
    column->setSpacing(8);
    column->addWidget(m_title);
    column->addWidget(m_version);
    column->addWidget(m_text);
    column->addWidget(m_notes);
    column->addSpacing(8);
    column->addLayout(buttons);

    connect(m_update, &QPushButton::clicked, this, [this] { m_updates.openUpdate(); });
    connect(m_secondary, &QPushButton::clicked, this, [this] {
        if (m_updates.result() && m_updates.result()->forceUpdate)
            m_updates.check(true);
        else
            m_updates.dismiss();
    });
    connect(&m_updates, &AppUpdateModel::resultChanged, this, &AppUpdatePanel::refresh);
    connect(&m_updates, &AppUpdateModel::checkingChanged, this, &AppUpdatePanel::refresh);
    refresh();
}

void AppUpdatePanel::refresh()
{
    if (!m_updates.result())
        return;
    const UpdatePresenter::Panel shown
        = UpdatePresenter::panel(*m_updates.result(), m_updates.checking());
    m_title->setText(shown.title);
    m_version->setText(shown.version);
    m_text->setText(shown.text);
    m_notes->setText(shown.releaseNotes);
    m_notes->setVisible(!shown.releaseNotes.isEmpty());
    m_secondary->setText(shown.secondary);
    m_secondary->setEnabled(shown.secondaryEnabled);
    adjustSize();
}

QString AppUpdatePanel::titleText() const
{
    return m_title->text();
}

} // namespace TranslateMac
