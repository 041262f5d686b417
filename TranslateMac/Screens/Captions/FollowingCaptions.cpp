#include "TranslateMac/Screens/Captions/FollowingCaptions.h"

#include "TranslateMac/Screens/Common/Motion.h"
#include "TranslateMac/Screens/Common/Theme.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <QWheelEvent>

#include <functional>

namespace TranslateMac {

namespace {

constexpr int slideDistance = 14;
constexpr int scrollMilliseconds = 300;

// The band at the top of the list where older captions fade out.
class FadeBand : public QWidget {
public:
    FadeBand(QColor colour, QWidget *parent) : QWidget(parent), m_colour(colour)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setColour(const QColor &colour)
    {
        m_colour = colour;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QLinearGradient gradient(0, 0, 0, height());
        gradient.setColorAt(0, m_colour);
        QColor clear = m_colour;
        clear.setAlpha(0);
        gradient.setColorAt(1, clear);
        QPainter(this).fillRect(rect(), gradient);
    }

private:
    QColor m_colour;
};

// The list's column of rows, telling the list each time its rows have been placed.
class RowColumn : public QWidget {
public:
    explicit RowColumn(std::function<void()> placed) : m_placed(std::move(placed)) { }
    // Stops telling the list, which is going.
    void forget() { m_placed = nullptr; }

    // The rows' heights depend on the width. Measured at the column's preferred width as well
    // as at the width it has, every row would be measured at two widths on each change, and a
    // row keeps only its last measure: each event would lay out the text of every caption held.
    // The scroll area asks for the hint only for the height at the column's own width.
    QSize sizeHint() const override
    {
        return QSize(layout()->sizeHint().width(), heightForWidth(width()));
    }

protected:
    bool event(QEvent *event) override
    {
        // The column's layout has placed the rows before the column itself sees the event.
        const bool handled = QWidget::event(event);
        if (m_placed && (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Resize))
            m_placed();
        return handled;
    }

private:
    std::function<void()> m_placed;
};

// Lines of scrolling: a wheel notch is one; touchpads report pixels.
double verticalDelta(const QWheelEvent &event)
{
    if (!event.pixelDelta().isNull())
        return event.pixelDelta().y();
    return event.angleDelta().y() / 120.0;
}

} // namespace

FollowingCaptions::FollowingCaptions(Options options, CaptionRowFactory row, QWidget *parent)
    : QWidget(parent), m_options(options), m_makeRow(std::move(row))
{
    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->viewport()->setAutoFillBackground(false);
    auto *content = new RowColumn([this] { leaveOutCutRows(); });
    content->setAutoFillBackground(false);
    m_rowsLayout = new QVBoxLayout(content);
    m_rowsLayout->setContentsMargins(0, options.fade / 2, 0, options.endPadding);
    m_rowsLayout->setSpacing(6);
    m_rowsLayout->addStretch(1); // keeps few rows at the top
    m_scroll->setWidget(content);
    content->setAutoFillBackground(
        false); // setWidget() turned it on; the caller's background shows
    m_scroll->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    if (!options.showsScrollBar)
        m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_region = m_scroll->viewport();

    // The way back to the newest captions takes its own strip under the list while reading back,
    // never a place over the lines being read.
    m_returnRow = new QWidget(this);
    auto *returnLayout = new QHBoxLayout(m_returnRow);
    returnLayout->setContentsMargins(0, 4, 0, 8);
    m_return = makeReturnButton(m_returnRow);
    returnLayout->addWidget(m_return, 0, Qt::AlignHCenter);
    m_returnRow->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_scroll, 1);
    layout->addWidget(m_returnRow);

    m_fadeBand = new FadeBand(options.fadeColour, this);
    connect(m_return, &QPushButton::clicked, this, [this] { setFollowing(true); });
    setFadeColour(options.fadeColour);

    m_scrollAnimation = new QPropertyAnimation(m_scroll->verticalScrollBar(), "value", this);
    m_scrollAnimation->setDuration(scrollMilliseconds);
    m_scrollAnimation->setEasingCurve(Motion::easeOut);
    connect(m_scroll->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] {
        if (following())
            scrollToLatest();
        leaveOutCutRows(); // the list may have lost the return strip's height
    });
    connect(m_scroll->verticalScrollBar(), &QScrollBar::valueChanged, this,
        &FollowingCaptions::leaveOutCutRows);
    // The scroll bar is beside the list, not in it: dragging its handle or paging with it
    // towards older captions stops following as scrolling the list does (a wheel over it is
    // judged with the list's wheels, below). Only the user's actions trigger actions; following's
    // own scrolling sets the value directly.
    QScrollBar *bar = m_scroll->verticalScrollBar();
    connect(bar, &QScrollBar::actionTriggered, this, [this, bar](int action) {
        const bool wheel = action == QAbstractSlider::SliderMove && !bar->isSliderDown();
        if (following() && !wheel && bar->sliderPosition() < bar->value())
            setFollowing(false);
    });
}

FollowingCaptions::~FollowingCaptions()
{
    removeMonitor();
    // The scroll area and its rows go after the list's own state: what they report while they
    // go must not reach it.
    m_scroll->verticalScrollBar()->disconnect(this);
    static_cast<RowColumn *>(m_scroll->widget())->forget();
}

void FollowingCaptions::setCaptions(const QList<TranslateCore::Caption> &captions)
{
    if (captions.isEmpty()) {
        clear();
        return;
    }
    if (m_hasShownCaptions && captions == m_captions)
        return;
    const QList<TranslateCore::Caption> previous = std::exchange(m_captions, captions);
    reconcileRows(previous);
    const qint64 last = captions.isEmpty() ? 0 : captions.last().sequence;
    bool scroll = following();
    if (m_hasShownCaptions)
        scroll = m_state.captionsChanged(last);
    else
        m_state.open(last);
    m_hasShownCaptions = true;
    refreshReturnButton();
    if (scroll)
        QTimer::singleShot(0, this, [this] { scrollToLatest(); });
}

void FollowingCaptions::setFadeColour(const QColor &background)
{
    m_options.fadeColour = background;
    const bool translucent = background.isValid() && background.alpha() < 255;
    // Over a translucent background a band would add its colour to the background's, a darker
    // stripe over the oldest line; a mask fades the lines themselves instead. It costs a render
    // pass of the list per paint, so an opaque background keeps the band.
    m_fadeBand->setVisible(!translucent);
    static_cast<FadeBand *>(m_fadeBand)->setColour(background);
    if (translucent && !m_fadeMask) {
        m_fadeMask = new QGraphicsOpacityEffect(m_scroll->viewport());
        m_scroll->viewport()->setGraphicsEffect(m_fadeMask); // owns it
    } else if (!translucent && m_fadeMask) {
        m_scroll->viewport()->setGraphicsEffect(nullptr); // deletes it
        m_fadeMask = nullptr;
    }
    placeOverlays();
}

void FollowingCaptions::clear()
{
    // An empty list is a new session (the model replaces the transcript at each start): what
    // the last one left unread is not news in the next, and the new one opens at its latest.
    for (CaptionRowView *row : std::as_const(m_rows)) {
        m_rowsLayout->removeWidget(row);
        row->deleteLater();
    }
    m_rows.clear();
    m_rowsBySequence.clear();
    m_steady.clear();
    m_captions.clear();
    m_hasShownCaptions = false;
    const bool wasFollowing = following();
    m_state = FollowState();
    if (!wasFollowing)
        Q_EMIT followingChanged(true);
    refreshReturnButton();
}

void FollowingCaptions::refreshRows()
{
    for (int i = 0; i < m_rows.size(); ++i)
        m_rows[i]->showCaption(m_steady[m_captions[i].sequence].shown, i == m_rows.size() - 1);
}

std::optional<ShownCaption> FollowingCaptions::shownCaption(qint64 sequence) const
{
    const auto found = m_steady.constFind(sequence);
    if (found == m_steady.constEnd())
        return std::nullopt;
    return found->shown;
}

CaptionRowView *FollowingCaptions::rowAt(int index) const
{
    return index >= 0 && index < m_rows.size() ? m_rows[index] : nullptr;
}

void FollowingCaptions::reconcileRows(const QList<TranslateCore::Caption> &previous)
{
    QHash<qint64, TranslateCore::Caption> shown;
    for (const TranslateCore::Caption &caption : previous)
        shown.insert(caption.sequence, caption);
    const qint64 previousLast = previous.isEmpty() ? 0 : previous.last().sequence;
    QHash<qint64, CaptionRowView *> kept;
    QList<CaptionRowView *> rows;
    rows.reserve(m_captions.size());
    for (const TranslateCore::Caption &caption : std::as_const(m_captions)) {
        CaptionRowView *row = m_rowsBySequence.take(caption.sequence);
        const bool added = row == nullptr;
        if (added) {
            row = m_makeRow();
            // A row left out keeps its place, so the rows around it stay where they are.
            QSizePolicy policy = row->sizePolicy();
            policy.setRetainSizeWhenHidden(true);
            row->setSizePolicy(policy);
        }
        rows.append(row);
        kept.insert(caption.sequence, row);
        if (added)
            animateIn(row);
    }
    for (auto gone = m_rowsBySequence.keyBegin(); gone != m_rowsBySequence.keyEnd(); ++gone)
        m_steady.remove(*gone);
    for (CaptionRowView *gone : std::as_const(m_rowsBySequence)) {
        animateOut(gone);
        m_rowsLayout->removeWidget(gone);
        gone->deleteLater();
    }
    m_rowsBySequence = std::move(kept);
    m_rows = std::move(rows);
    // Rows are in sequence order; the trailing stretch stays last.
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rowsLayout->itemAt(i) == nullptr || m_rowsLayout->itemAt(i)->widget() != m_rows[i])
            m_rowsLayout->insertWidget(i, m_rows[i]);
    }
    // Only new or changed rows, and the rows gaining or losing "latest", are shown again: with
    // hundreds of captions held, one event must not redraw them all.
    for (int i = 0; i < m_rows.size(); ++i) {
        const TranslateCore::Caption &caption = m_captions[i];
        const bool latest = i == m_rows.size() - 1;
        const auto before = shown.constFind(caption.sequence);
        const bool added = before == shown.constEnd();
        if (!added && *before == caption && !latest && caption.sequence != previousLast)
            continue;
        Steady &steady = m_steady[caption.sequence];
        if (added || before->source != caption.source || before->sourceFinal != caption.sourceFinal)
            steady.source.update(caption.source, caption.sourceFinal);
        if (added || before->target != caption.target || before->targetFinal != caption.targetFinal)
            steady.target.update(caption.target, caption.targetFinal);
        steady.shown = ShownCaption { caption, steady.source.shown().settled,
            steady.target.shown().settled };
        steady.shown.source = steady.source.shown().text;
        steady.shown.target = steady.target.shown().text;
        m_rows[i]->showCaption(steady.shown, latest);
    }
}

void FollowingCaptions::animateIn(CaptionRowView *row)
{
    if (Motion::reduceMotion() || !isVisible())
        return;
    auto *opacity = new QGraphicsOpacityEffect(row);
    opacity->setOpacity(0);
    row->setGraphicsEffect(opacity);
    auto *appear = new QVariantAnimation(row);
    appear->setDuration(scrollMilliseconds);
    appear->setEasingCurve(Motion::easeOut);
    appear->setStartValue(0.0);
    appear->setEndValue(1.0);
    const QMargins margins = row->contentsMargins();
    connect(appear, &QVariantAnimation::valueChanged, row,
        [row, opacity, margins](const QVariant &value) {
            const double progress = value.toDouble();
            opacity->setOpacity(progress);
            row->setContentsMargins(
                margins + QMargins(0, int((1 - progress) * slideDistance), 0, 0));
        });
    // The effect costs a render pass per frame: drop it once the row is in place.
    connect(appear, &QVariantAnimation::finished, row, [row, margins] {
        row->setGraphicsEffect(nullptr);
        row->setContentsMargins(margins);
    });
    appear->start(QAbstractAnimation::DeleteWhenStopped);
}

void FollowingCaptions::animateOut(CaptionRowView *row)
{
    QWidget *viewport = m_scroll->viewport();
    const QRect shown(row->mapTo(viewport, QPoint(0, 0)), row->size());
    if (Motion::reduceMotion() || !isVisible() || row->isHidden()
        || !viewport->rect().intersects(shown))
        return;
    // The row leaves the layout at once; a picture of it fades where it was.
    auto *ghost = new QLabel(viewport);
    ghost->setPixmap(row->grab());
    ghost->setGeometry(shown);
    ghost->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *opacity = new QGraphicsOpacityEffect(ghost);
    ghost->setGraphicsEffect(opacity);
    ghost->show();
    auto *fade = new QPropertyAnimation(opacity, "opacity", ghost);
    fade->setDuration(scrollMilliseconds);
    fade->setEasingCurve(Motion::easeOut);
    fade->setStartValue(1.0);
    fade->setEndValue(0.0);
    connect(fade, &QPropertyAnimation::finished, ghost, &QObject::deleteLater);
    fade->start();
}

void FollowingCaptions::setFollowing(bool following)
{
    if (following == m_state.following())
        return;
    const bool scroll = m_state.setFollowing(following);
    Q_EMIT followingChanged(following);
    refreshReturnButton();
    if (scroll)
        scrollToLatest();
}

bool FollowingCaptions::showsLatest() const
{
    const QScrollBar *bar = m_scroll->verticalScrollBar();
    return bar->value() == bar->maximum();
}

void FollowingCaptions::scrollToLatest()
{
    QScrollBar *bar = m_scroll->verticalScrollBar();
    if (!following() || bar->value() == bar->maximum())
        return;
    if (Motion::reduceMotion() || !isVisible()) {
        m_scrollAnimation->stop();
        bar->setValue(bar->maximum());
        return;
    }
    if (m_scrollAnimation->state() == QAbstractAnimation::Running) {
        m_scrollAnimation->setEndValue(bar->maximum());
        return;
    }
    m_scrollAnimation->setStartValue(bar->value());
    m_scrollAnimation->setEndValue(bar->maximum());
    m_scrollAnimation->start();
}

void FollowingCaptions::refreshReturnButton()
{
    m_return->setText(returnLabel());
    m_returnRow->setVisible(m_options.showsReturnButton && !following());
    Q_EMIT returnChanged();
}

QPushButton *FollowingCaptions::makeReturnButton(QWidget *parent)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QStringLiteral("floatingReturn"));
    button->setIcon(Theme::icon(QStringLiteral("arrow.down")));
    button->setToolTip(FollowState::returnHelp());
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

QString FollowingCaptions::returnLabel() const
{
    return m_state.returnLabel();
}

void FollowingCaptions::placeOverlays()
{
    m_fadeBand->setGeometry(0, 0, width(), m_options.fade);
    m_fadeBand->raise();
    if (m_fadeMask) {
        QLinearGradient gradient(0, 0, 0, m_options.fade);
        gradient.setColorAt(0, QColor(0, 0, 0, 0));
        gradient.setColorAt(1, QColor(0, 0, 0, 255));
        m_fadeMask->setOpacityMask(gradient);
    }
}

void FollowingCaptions::leaveOutCutRows()
{
    if (!m_options.onlyWholeRows)
        return;
    const QRect list = m_scroll->viewport()->rect();
    const QPoint scrolled = m_scroll->widget()->pos();
    for (int i = 0; i < m_rows.size(); ++i) {
        CaptionRowView *row = m_rows[i];
        const QRect place = row->geometry().translated(scrolled);
        const bool latest = i == m_rows.size() - 1;
        row->setVisible(list.contains(place) || latest || place.height() > list.height());
    }
}

void FollowingCaptions::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeOverlays();
}

void FollowingCaptions::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    installMonitor();
    if (following())
        QTimer::singleShot(0, this, [this] { scrollToLatest(); });
}

void FollowingCaptions::hideEvent(QHideEvent *event)
{
    removeMonitor();
    QWidget::hideEvent(event);
}

void FollowingCaptions::installMonitor()
{
    if (m_monitoring)
        return;
    qApp->installEventFilter(this);
    m_monitoring = true;
}

void FollowingCaptions::removeMonitor()
{
    if (!m_monitoring)
        return;
    qApp->removeEventFilter(this);
    m_monitoring = false;
}

bool FollowingCaptions::eventFilter(QObject *watched, QEvent *event)
{
    const bool wheel = event->type() == QEvent::Wheel;
    if (!following() || (!wheel && event->type() != QEvent::MouseMove))
        return false;
    auto *target = qobject_cast<QWidget *>(watched);
    if (m_region.isNull() || target == nullptr || target->window() != m_region->window())
        return false;
    const QPointF global = wheel ? static_cast<QWheelEvent *>(event)->globalPosition()
                                 : static_cast<QMouseEvent *>(event)->globalPosition();
    const QScrollBar *bar = m_scroll->verticalScrollBar();
    const bool overList = m_region->rect().contains(m_region->mapFromGlobal(global).toPoint());
    const bool overBar
        = bar->isVisible() && bar->rect().contains(bar->mapFromGlobal(global).toPoint());
    if (!overList && !(wheel && overBar))
        return false;
    if (wheel) {
        if (FollowState::stopsFollowingOnScroll(verticalDelta(*static_cast<QWheelEvent *>(event))))
            setFollowing(false);
    } else if (m_options.pauseOnDrag
        && (static_cast<QMouseEvent *>(event)->buttons() & Qt::LeftButton)) {
        setFollowing(false);
    }
    return false; // the event always reaches its target
}

} // namespace TranslateMac
