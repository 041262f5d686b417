#include "TranslateMac/Screens/Workspace/LagIndicator.h"

#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Screens/Common/Controls.h"
#include "TranslateMac/Screens/Common/Theme.h"
#include "TranslateMac/Screens/Workspace/TranscriptPresenter.h"

#include "TranslateCore/Async/Clock.h"

#include <QHBoxLayout>
#include <QLabel>

namespace TranslateMac {

LagIndicator::LagIndicator(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(6, 0, 0, 0);
    row->setSpacing(5);
    m_dot = new QLabel(this);
    m_dot->setFixedSize(8, 8);
    m_text = Controls::label(QString(), this, QStringLiteral("secondary"));
    m_text->setFont(Theme::monospacedDigits(10));
    row->addWidget(m_dot);
    row->addWidget(m_text);
    setToolTip(QStringLiteral("最新字幕落后于声音的时间"));
    // The level comes with every captured packet; the elapsed time ticks each second, so the
    // lag grows on screen even while nothing else happens.
    connect(&m_model, &AppModel::levelChanged, this, &LagIndicator::soundChanged);
    connect(&m_model, &AppModel::elapsedChanged, this, &LagIndicator::soundChanged);
    connect(&m_model, &AppModel::transcriptChanged, this, &LagIndicator::captionsChanged);
    connect(&m_model, &AppModel::stateChanged, this, &LagIndicator::refresh);
    refresh();
}

QString LagIndicator::text() const
{
    return isHidden() ? QString() : m_text->text();
}

void LagIndicator::soundChanged()
{
    m_lag.noteSound(
        m_model.clock().now(), TranscriptPresenter::receivingAudio(float(m_model.level())));
    refresh();
}

void LagIndicator::captionsChanged()
{
    if (m_model.transcript().captions().isEmpty())
        m_lag.reset(); // a new session
    else
        m_lag.noteCaptions(m_model.clock().now());
    m_waiting = CaptionLag::waitingTranslations(m_model.transcript().captions());
    refresh();
}

void LagIndicator::refresh()
{
    const bool listening = m_model.state() == ListeningState::listening;
    if (!listening)
        m_lag.reset();
    setVisible(listening);
    m_seconds = m_lag.seconds(m_model.clock().now());
    const QColor colour = CaptionLag::colour(level());
    m_dot->setStyleSheet(QStringLiteral("background: %1; border-radius: 4px;").arg(colour.name()));
    m_text->setText(CaptionLag::text(m_seconds, m_waiting));
}

} // namespace TranslateMac
