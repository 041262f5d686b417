#include "TranslateMac/Screens/Captions/FloatingSubtitleView.h"

#include "TranslateMac/Account/UserDefaultsKeys.h"
#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Screens/Captions/FollowingCaptions.h"
#include "TranslateMac/Screens/Common/Controls.h"
#include "TranslateMac/Screens/Common/Motion.h"
#include "TranslateMac/Screens/Common/StatusPill.h"
#include "TranslateMac/Screens/Common/SubtitleSize.h"
#include "TranslateMac/Screens/Common/Theme.h"
#include "TranslateMac/Screens/Common/UserDefaults.h"
#include "TranslateMac/Screens/Common/WindowDragArea.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPropertyAnimation>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>

namespace TranslateMac {

namespace {
const QColor headerIconColour(0xF2, 0xF4, 0xF7);
constexpr int headerFadeMilliseconds = 180;
} // namespace

FloatingSubtitleView::FloatingSubtitleView(AppModel &model, QWidget *parent)
    : QWidget(parent), m_model(model)
{
    m_style.size = UserDefaults::value(
        UserDefaultsKeys::floatingSubtitleSize, UserDefaultsKeys::defaultFloatingSubtitleSize)
                       .toDouble();
    m_style.size
        = std::clamp(m_style.size, floatingSubtitleBounds.minimum, floatingSubtitleBounds.maximum);
    m_style.showSource = UserDefaults::value(
        UserDefaultsKeys::floatingShowSource, UserDefaultsKeys::defaultFloatingShowSource)
                             .toBool();
    setAttribute(Qt::WA_TranslucentBackground);
    setMinimumSize(400, 160);

    m_background = new WindowDragArea(this);
    m_background->setObjectName(QStringLiteral("floatingBackground"));
    // Its own window: the application's sheet, with hover marks that show on the dark surface.
    setStyleSheet(Theme::styleSheet()
        + QStringLiteral(
            "#floatingBackground { background: rgba(20, 22, 26, 215); border-radius: 14px; }"
            "QToolButton:hover { background: rgba(255, 255, 255, 0.14); }"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(m_background);

    m_header = new QWidget(m_background);
    auto *headerRow = new QHBoxLayout(m_header);
    headerRow->setContentsMargins(10, 8, 8, 0);
    headerRow->setSpacing(2);
    m_status = new StatusPill(m_header);
    m_status->setOnDark(true);
    m_sourceToggle = Controls::toolButton(
        QStringLiteral("character.bubble"), QString(), m_header, headerIconColour);
    m_smaller = Controls::toolButton(QStringLiteral("textformat.size.smaller"),
        QStringLiteral("缩小字幕"), m_header, headerIconColour);
    m_larger = Controls::toolButton(QStringLiteral("textformat.size.larger"),
        QStringLiteral("放大字幕"), m_header, headerIconColour);
    m_stop = Controls::toolButton(
        QStringLiteral("stop.fill"), QStringLiteral("停止并结算"), m_header, Theme::danger());
    m_close = Controls::toolButton(
        QStringLiteral("xmark"), QStringLiteral("关闭悬浮窗"), m_header, headerIconColour);
    headerRow->addWidget(m_status);
    headerRow->addStretch(1);
    for (QToolButton *button : { m_sourceToggle, m_smaller, m_larger, m_stop, m_close })
        headerRow->addWidget(button);
    m_headerOpacity = new QGraphicsOpacityEffect(m_header);
    m_headerOpacity->setOpacity(0);
    m_header->setGraphicsEffect(m_headerOpacity);

    m_emptyPage = new QWidget(m_background);
    m_placeholder = new QLabel(m_emptyPage);
    m_placeholder->setAlignment(Qt::AlignCenter);
    m_placeholder->setWordWrap(true);
    m_placeholder->setFont(Theme::font(15));
    m_placeholder->setStyleSheet(QStringLiteral("color: rgba(255,255,255,170);"));
    auto *emptyLayout = new QVBoxLayout(m_emptyPage);
    emptyLayout->addWidget(m_placeholder);
    m_captions = new FollowingCaptions(
        { 24, 2, false, QColor(20, 22, 26, 215), false },
        [this] { return new FloatingLine(m_style); }, m_background);
    auto *bodyHost = new QWidget(m_background);
    m_body = new QStackedLayout(bodyHost);
    m_body->addWidget(m_emptyPage);
    m_body->addWidget(m_captions);

    auto *column = new QVBoxLayout(m_background);
    column->setContentsMargins(0, 0, 0, 8);
    column->setSpacing(0);
    column->addWidget(m_header);
    column->addWidget(bodyHost, 1);

    connect(m_sourceToggle, &QToolButton::clicked, this, &FloatingSubtitleView::toggleSource);
    connect(m_smaller, &QToolButton::clicked, this,
        [this] { setSubtitleSize(floatingSubtitleBounds.smaller(m_style.size)); });
    connect(m_larger, &QToolButton::clicked, this,
        [this] { setSubtitleSize(floatingSubtitleBounds.larger(m_style.size)); });
    connect(m_stop, &QToolButton::clicked, this, [this] { m_model.stop(); });
    connect(m_close, &QToolButton::clicked, this, [this] { m_model.setOverlayVisible(false); });
    for (auto signal :
        { &AppModel::stateChanged, &AppModel::ownsSessionChanged, &AppModel::routeChanged })
        connect(&m_model, signal, this, &FloatingSubtitleView::refresh);
    connect(&m_model, &AppModel::transcriptChanged, this, &FloatingSubtitleView::refreshLines);
    refresh();
    refreshLines();
}

QString FloatingSubtitleView::placeholderText() const
{
    return m_placeholder->text();
}

bool FloatingSubtitleView::showsCaptions() const
{
    return m_body->currentWidget() == m_captions;
}

void FloatingSubtitleView::refresh()
{
    m_status->setState(m_model.state());
    const QString sourceHelp
        = m_style.showSource ? QStringLiteral("隐藏原文") : QStringLiteral("显示原文");
    Controls::setHelp(m_sourceToggle, sourceHelp);
    m_stop->setVisible(m_model.ownsSession());
    m_placeholder->setText(m_model.ownsSession() ? QStringLiteral("等待播放声音…")
                                                 : QStringLiteral("开始监听后，字幕会显示在这里"));
    const auto route = m_model.route();
    const bool rightToLeft = route && route->isTargetRTL();
    const bool owning = m_model.ownsSession();
    if (rightToLeft != m_style.rightToLeft || owning != m_style.owningSession) {
        m_style.rightToLeft = rightToLeft;
        m_style.owningSession = owning;
        m_captions->refreshRows();
    }
}

void FloatingSubtitleView::refreshLines()
{
    const auto &captions = m_model.transcript().captions();
    m_body->setCurrentWidget(captions.isEmpty() ? m_emptyPage : static_cast<QWidget *>(m_captions));
    if (!captions.isEmpty())
        m_captions->setCaptions(captions);
}

void FloatingSubtitleView::setSubtitleSize(double size)
{
    m_style.size = size;
    UserDefaults::setValue(UserDefaultsKeys::floatingSubtitleSize, size);
    m_captions->refreshRows();
}

void FloatingSubtitleView::toggleSource()
{
    m_style.showSource = !m_style.showSource;
    UserDefaults::setValue(UserDefaultsKeys::floatingShowSource, m_style.showSource);
    m_captions->refreshRows();
    refresh();
}

void FloatingSubtitleView::setHovering(bool hovering)
{
    if (hovering == m_hovering)
        return;
    m_hovering = hovering;
    const double target = hovering ? 1.0 : 0.0;
    if (Motion::reduceMotion()) {
        m_headerOpacity->setOpacity(target);
        return;
    }
    auto *fade = new QPropertyAnimation(m_headerOpacity, "opacity", this);
    fade->setDuration(headerFadeMilliseconds);
    fade->setEasingCurve(Motion::easeOut);
    fade->setEndValue(target);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void FloatingSubtitleView::enterEvent(QEnterEvent *event)
{
    QWidget::enterEvent(event);
    setHovering(true);
}

void FloatingSubtitleView::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    setHovering(false);
}

} // namespace TranslateMac
