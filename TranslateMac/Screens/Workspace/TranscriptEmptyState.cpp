#include "TranslateMac/Screens/Workspace/TranscriptEmptyState.h"

#include "TranslateMac/Screens/Common/Controls.h"
#include "TranslateMac/Screens/Common/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace TranslateMac {

namespace {
QLabel *addLine(QVBoxLayout *column, const QString &symbol, const QString &text, QWidget *parent)
{
    auto *row = new QHBoxLayout;
    row->setSpacing(10);
    row->addWidget(Controls::iconLabel(symbol, parent, 18));
    auto *label = Controls::label(text, parent);
    label->setFont(Theme::font(12));
    row->addWidget(label);
    auto *done = Controls::label(QStringLiteral("已完成"), parent, QStringLiteral("doneMark"));
    done->setStyleSheet(
        QStringLiteral("color: %1; font-weight: 600;").arg(Theme::success().name()));
    row->addWidget(done);
    done->hide();
    row->addStretch(1);
    column->addLayout(row);
    return done;
}
} // namespace

TranscriptEmptyState::TranscriptEmptyState(QWidget *parent) : QWidget(parent)
{
    auto *title = Controls::label(QStringLiteral("电脑播放的声音，实时变字幕"), this);
    title->setFont(Theme::font(18, QFont::DemiBold));

    m_waiting = new QWidget(this);
    auto *waiting = new QVBoxLayout(m_waiting);
    waiting->setContentsMargins(0, 0, 0, 0);
    auto *waitingTitle = Controls::label(QStringLiteral("等待播放声音"), m_waiting);
    waitingTitle->setFont(Theme::font(13, QFont::DemiBold));
    waiting->addWidget(waitingTitle);
    waiting->addWidget(Controls::label(
        QStringLiteral("播放音频后自动连接，可随时取消"), m_waiting, QStringLiteral("secondary")));

    m_steps = new QWidget(this);
    auto *steps = new QVBoxLayout(m_steps);
    steps->setContentsMargins(0, 0, 0, 0);
    steps->setSpacing(10);
    m_sourceDone
        = addLine(steps, QStringLiteral("speaker.wave.2.fill"), QStringLiteral("音源"), m_steps);
    m_routeDone = addLine(steps, QStringLiteral("globe"), QStringLiteral("方向"), m_steps);
    addLine(steps, QStringLiteral("play.fill"), QStringLiteral("开始"), m_steps);
    steps->addSpacing(12);
    addLine(steps, QStringLiteral("mic.slash"), QStringLiteral("不使用麦克风"), m_steps);
    steps->addWidget(Controls::label(QStringLiteral("只采集电脑正在播放的音频，原声照常播放"),
        m_steps, QStringLiteral("secondary")));

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(48, 0, 48, 0);
    column->addStretch(2);
    column->addWidget(title);
    column->addSpacing(18);
    column->addWidget(m_waiting);
    column->addWidget(m_steps);
    column->addStretch(3);
}

void TranscriptEmptyState::show(bool owningSession, bool accessConfirmed, bool routeSelected)
{
    m_waiting->setVisible(owningSession);
    m_steps->setVisible(!owningSession);
    m_sourceDone->setVisible(accessConfirmed);
    m_routeDone->setVisible(routeSelected);
}

bool TranscriptEmptyState::showsWaiting() const
{
    return !m_waiting->isHidden();
}

} // namespace TranslateMac
