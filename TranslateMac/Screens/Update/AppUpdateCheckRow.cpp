#include "TranslateMac/Screens/Update/AppUpdateCheckRow.h"

#include "TranslateMac/Screens/Common/Controls.h"
#include "TranslateMac/Screens/Common/Theme.h"
#include "TranslateMac/Screens/Update/UpdatePresenter.h"
#include "TranslateMac/Update/AppUpdateModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace TranslateMac {

AppUpdateCheckRow::AppUpdateCheckRow(AppUpdateModel &updates, QWidget *parent)
    : QWidget(parent), m_updates(updates)
{
    m_label = Controls::label(QString(), this);
    m_label->setFont(Theme::font(11, QFont::DemiBold));
    m_status = Controls::label(QString(), this, QStringLiteral("secondary"));
    m_check = new QPushButton(this);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(m_label);
    texts->addWidget(m_status);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addLayout(texts, 1);
    row->addWidget(m_check);
    connect(m_check, &QPushButton::clicked, this, [this] { m_updates.check(true); });
    for (auto signal : { &AppUpdateModel::statusChanged, &AppUpdateModel::checkingChanged,
             &AppUpdateModel::installationChanged })
        connect(&m_updates, signal, this, &AppUpdateCheckRow::refresh);
    refresh();
}

void AppUpdateCheckRow::setSessionActive(bool active)
{
    m_sessionActive = active;
    refresh();
}

void AppUpdateCheckRow::refresh()
{
    const UpdatePresenter::Row shown = UpdatePresenter::row(
        // Before the first check the model has not read the installation yet: this build's.
        m_updates.installation().value_or(TranslateCore::AppInstallation::current()),
        m_updates.status(), m_updates.checking(), m_sessionActive);
    m_label->setText(shown.label);
    m_status->setText(shown.status);
    m_check->setText(shown.button);
    m_check->setEnabled(shown.buttonEnabled);
}

QString AppUpdateCheckRow::labelText() const
{
    return m_label->text();
}
QString AppUpdateCheckRow::statusText() const
{
    return m_status->text();
}

} // namespace TranslateMac
