#include "TranslateMac/Screens/History/InterruptedSessionBanner.h"

#include "TranslateMac/Screens/Common/Controls.h"
#include "TranslateMac/Screens/Common/SymbolIcons.h"
#include "TranslateMac/Screens/Common/Theme.h"
#include "TranslateMac/Screens/History/HistoryPresenter.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

namespace TranslateMac {

InterruptedSessionBanner::InterruptedSessionBanner(QWidget *parent) : QWidget(parent)
{
    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(20, 2, 16, 8);
    auto *card = new QWidget(this);
    card->setObjectName(QStringLiteral("interruptedBanner"));
    card->setAttribute(Qt::WA_StyledBackground);
    card->setStyleSheet(QStringLiteral(
        "#interruptedBanner { background: #FFF6E5; border: 1px solid #F1D7A4; border-radius: 8px; }"
        "QPushButton#viewInterrupted { background: transparent; border: none; color: #2F6FEB;"
        " font-weight: 600; padding: 2px 6px; }"
        "QPushButton#viewInterrupted:hover { text-decoration: underline; }"));
    outer->addWidget(card);

    auto *row = new QHBoxLayout(card);
    row->setContentsMargins(12, 6, 6, 6);
    row->setSpacing(8);
    auto *icon = new QLabel(card);
    icon->setPixmap(
        SymbolIcons::drawn(QStringLiteral("clock.arrow.circlepath"), Theme::warning().darker(115))
            .pixmap(16, 16));
    m_text = Controls::label(QString(), card);
    m_text->setWordWrap(true);
    auto *view = new QPushButton(QStringLiteral("查看"), card);
    view->setObjectName(QStringLiteral("viewInterrupted"));
    view->setCursor(Qt::PointingHandCursor);
    Controls::setHelp(view, QStringLiteral("在历史记录中查看上次中断的翻译"));
    auto *close = Controls::toolButton(QStringLiteral("xmark"), QStringLiteral("关闭提示"), card);
    close->setIconSize(QSize(12, 12));
    row->addWidget(icon);
    row->addWidget(m_text, 1);
    row->addWidget(view);
    row->addWidget(close);

    connect(view, &QPushButton::clicked, this, [this] {
        hide();
        Q_EMIT viewRequested(m_sessionId);
    });
    connect(close, &QToolButton::clicked, this, &QWidget::hide);
    hide();
}

void InterruptedSessionBanner::offer(qint64 sessionId, qint64 savedCaptions)
{
    m_sessionId = sessionId;
    m_text->setText(HistoryPresenter::interruptedOffer(savedCaptions));
    show();
}

QString InterruptedSessionBanner::text() const
{
    return isHidden() ? QString() : m_text->text();
}

} // namespace TranslateMac
