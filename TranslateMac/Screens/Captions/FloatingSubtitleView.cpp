#include "TranslateMac/Screens/Captions/FloatingSubtitleView.h"

#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Screens/Captions/FollowingCaptions.h"
#include "TranslateMac/Screens/Common/Controls.h"
#include "TranslateMac/Screens/Common/Motion.h"
#include "TranslateMac/Screens/Common/StatusPill.h"
#include "TranslateMac/Screens/Common/SymbolIcons.h"
#include "TranslateMac/Screens/Common/Theme.h"
#include "TranslateMac/Screens/Common/WindowDragArea.h"

#include <QActionGroup>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>

namespace TranslateMac {

namespace {
constexpr int headerFadeMilliseconds = 180;
constexpr int fadeHeight = 24;
constexpr int endPadding = 2;
constexpr int bottomMargin = 8;
} // namespace

FloatingSubtitleView::FloatingSubtitleView(AppModel &model, QWidget *parent)
    : QWidget(parent), m_model(model)
{
    m_style.settings = FloatingSettings::load();
    setAttribute(Qt::WA_TranslucentBackground);
    setMinimumSize(400, 160);

    m_background = new WindowDragArea(this);
    m_background->setObjectName(QStringLiteral("floatingBackground"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(m_background);

    m_header = new QWidget(m_background);
    auto *headerRow = new QHBoxLayout(m_header);
    headerRow->setContentsMargins(10, 8, 8, 0);
    headerRow->setSpacing(2);
    m_status = new StatusPill(m_header);
    auto headerButton = [&](const QString &symbol, const QString &help) {
        QToolButton *button = Controls::toolButton(symbol, help, m_header, Theme::secondaryText());
        m_headerIcons.append({ button, symbol });
        return button;
    };
    m_sourceToggle = headerButton(QStringLiteral("character.bubble"), QString());
    m_smaller = headerButton(QStringLiteral("textformat.size.smaller"), QStringLiteral("缩小字幕"));
    m_larger = headerButton(QStringLiteral("textformat.size.larger"), QStringLiteral("放大字幕"));
    m_lookButton = headerButton(QStringLiteral("chevron.down"), QStringLiteral("字幕样式"));
    m_lookButton->setPopupMode(QToolButton::InstantPopup);
    m_stop = Controls::toolButton(
        QStringLiteral("stop.fill"), QStringLiteral("停止并结算"), m_header, Theme::danger());
    m_close = headerButton(QStringLiteral("xmark"), QStringLiteral("关闭悬浮窗"));
    // Reading back, the way to the newest takes the status's place: the window is too small to
    // give it a place over the lines, and the header stays shown while it is there.
    m_return = FollowingCaptions::makeReturnButton(m_header);
    m_return->hide();
    headerRow->addWidget(m_status);
    headerRow->addWidget(m_return);
    headerRow->addStretch(1);
    for (QToolButton *button :
        { m_sourceToggle, m_smaller, m_larger, m_lookButton, m_stop, m_close })
        headerRow->addWidget(button);
    m_headerOpacity = new QGraphicsOpacityEffect(m_header);
    m_headerOpacity->setOpacity(0);
    m_header->setGraphicsEffect(m_headerOpacity);
    buildLookMenu();

    m_emptyPage = new QWidget(m_background);
    m_placeholder = new QLabel(m_emptyPage);
    m_placeholder->setAlignment(Qt::AlignCenter);
    m_placeholder->setWordWrap(true);
    m_placeholder->setFont(Theme::font(15));
    auto *emptyLayout = new QVBoxLayout(m_emptyPage);
    emptyLayout->addWidget(m_placeholder);
    FollowingCaptions::Options options;
    options.fade = fadeHeight;
    options.endPadding = endPadding;
    options.pauseOnDrag = false;
    options.showsScrollBar = false;
    options.onlyWholeRows = true;
    options.showsReturnButton = false;
    m_captions = new FollowingCaptions(
        options, [this] { return new FloatingLine(m_style); }, m_background);
    auto *bodyHost = new QWidget(m_background);
    m_body = new QStackedLayout(bodyHost);
    m_body->addWidget(m_emptyPage);
    m_body->addWidget(m_captions);

    auto *column = new QVBoxLayout(m_background);
    column->setContentsMargins(0, 0, 0, bottomMargin);
    column->setSpacing(0);
    column->addWidget(m_header);
    column->addWidget(bodyHost, 1);

    connect(m_sourceToggle, &QToolButton::clicked, this, &FloatingSubtitleView::toggleSource);
    connect(m_smaller, &QToolButton::clicked, this, [this] {
        FloatingSettings next = m_style.settings;
        next.translationSize = floatingSubtitleBounds.smaller(next.translationSize);
        setSettings(next);
    });
    connect(m_larger, &QToolButton::clicked, this, [this] {
        FloatingSettings next = m_style.settings;
        next.translationSize = floatingSubtitleBounds.larger(next.translationSize);
        setSettings(next);
    });
    connect(m_stop, &QToolButton::clicked, this, [this] { m_model.stop(); });
    connect(m_return, &QPushButton::clicked, this, [this] { m_captions->setFollowing(true); });
    connect(
        m_captions, &FollowingCaptions::returnChanged, this, &FloatingSubtitleView::refreshReturn);
    connect(m_close, &QToolButton::clicked, this, [this] { m_model.setOverlayVisible(false); });
    for (auto signal :
        { &AppModel::stateChanged, &AppModel::ownsSessionChanged, &AppModel::routeChanged })
        connect(&m_model, signal, this, &FloatingSubtitleView::refresh);
    connect(&m_model, &AppModel::transcriptChanged, this, &FloatingSubtitleView::refreshLines);
    applyLook();
    refresh();
    refreshLines();
}

void FloatingSubtitleView::buildLookMenu()
{
    m_lookMenu = new QMenu(this);
    m_lookButton->setMenu(m_lookMenu);
    using Change = std::function<void(FloatingSettings &)>;
    using Test = std::function<bool(const FloatingSettings &)>;
    auto choice
        = [this](QMenu *menu, QActionGroup *group, const QString &title, Change change, Test test) {
              QAction *action = menu->addAction(title, this, [this, change] {
                  FloatingSettings next = m_style.settings;
                  change(next);
                  setSettings(next);
              });
              action->setCheckable(true);
              group->addAction(action);
              m_choices.append({ action, test });
          };

    QMenu *styles = m_lookMenu->addMenu(QStringLiteral("样式"));
    auto *styleGroup = new QActionGroup(styles);
    const std::pair<FloatingStyle, QString> styleNames[] = {
        { FloatingStyle::light, QStringLiteral("浅色") },
        { FloatingStyle::dark, QStringLiteral("深色") },
        { FloatingStyle::outline, QStringLiteral("透明描边（适合视频）") },
    };
    for (const auto &[style, title] : styleNames)
        choice(
            styles, styleGroup, title, [style](FloatingSettings &s) { s.style = style; },
            [style](const FloatingSettings &s) { return s.style == style; });

    QMenu *languages = m_lookMenu->addMenu(QStringLiteral("语言"));
    auto *languageGroup = new QActionGroup(languages);
    choice(
        languages, languageGroup, QStringLiteral("译文在上"),
        [](FloatingSettings &s) { s.showTranslation = s.showSource = true, s.sourceOnTop = false; },
        [](const FloatingSettings &s) {
            return s.showTranslation && s.showSource && !s.sourceOnTop;
        });
    choice(
        languages, languageGroup, QStringLiteral("原文在上"),
        [](FloatingSettings &s) { s.showTranslation = s.showSource = true, s.sourceOnTop = true; },
        [](const FloatingSettings &s) {
            return s.showTranslation && s.showSource && s.sourceOnTop;
        });
    choice(
        languages, languageGroup, QStringLiteral("只显示译文"),
        [](FloatingSettings &s) { s.showTranslation = true, s.showSource = false; },
        [](const FloatingSettings &s) { return !s.showSource; });
    choice(
        languages, languageGroup, QStringLiteral("只显示原文"),
        [](FloatingSettings &s) { s.showTranslation = false, s.showSource = true; },
        [](const FloatingSettings &s) { return !s.showTranslation; });

    auto sizes = [&](const QString &title, QList<double> steps, double FloatingSettings::*field) {
        QMenu *menu = m_lookMenu->addMenu(title);
        auto *group = new QActionGroup(menu);
        for (const double size : steps)
            choice(
                menu, group, QString::number(size),
                [field, size](FloatingSettings &s) { s.*field = size; },
                [field, size](const FloatingSettings &s) { return s.*field == size; });
    };
    sizes(QStringLiteral("译文字号"), { 16, 20, 24, 28, 32, 36, 40 },
        &FloatingSettings::translationSize);
    sizes(
        QStringLiteral("原文字号"), { 12, 14, 16, 20, 24, 28, 32 }, &FloatingSettings::sourceSize);
    auto lines = [&](const QString &title, int FloatingSettings::*field) {
        QMenu *menu = m_lookMenu->addMenu(title);
        auto *group = new QActionGroup(menu);
        for (int count = FloatingSettings::minimumLines; count <= FloatingSettings::maximumLines;
             ++count)
            choice(
                menu, group, QStringLiteral("%1 行").arg(count),
                [field, count](FloatingSettings &s) { s.*field = count; },
                [field, count](const FloatingSettings &s) { return s.*field == count; });
    };
    lines(QStringLiteral("译文行数"), &FloatingSettings::translationLines);
    lines(QStringLiteral("原文行数"), &FloatingSettings::sourceLines);
}

void FloatingSubtitleView::refreshLookMenu()
{
    for (const auto &[action, test] : std::as_const(m_choices))
        action->setChecked(test(m_style.settings));
}

void FloatingSubtitleView::setSettings(const FloatingSettings &settings)
{
    const FloatingSettings next = settings.normalised();
    if (next == m_style.settings)
        return;
    m_style.settings = next;
    next.store();
    applyLook();
    refresh();
    Q_EMIT settingsChanged();
}

void FloatingSubtitleView::setBackgroundOpacity(int percent)
{
    if (percent == m_opacity)
        return;
    m_opacity = percent;
    applyLook();
}

void FloatingSubtitleView::setCompositing(bool compositing)
{
    if (compositing == m_compositing)
        return;
    m_compositing = compositing;
    applyLook();
}

void FloatingSubtitleView::applyLook()
{
    m_style.palette = FloatingPalette::of(m_style.settings.style, m_opacity, m_compositing);
    const FloatingPalette &palette = m_style.palette;
    QColor background = palette.background;
    // A window with nothing behind its text still shows where it is while the pointer is over
    // it, so it can be found, moved and resized.
    if (m_hovering && palette.style == FloatingStyle::outline)
        background = QColor(0, 0, 0, 90);
    const QString border = palette.style == FloatingStyle::light && palette.rounded
        ? QStringLiteral("border: 1px solid rgba(0, 0, 0, 28);")
        : QString();
    setStyleSheet(Theme::styleSheet()
        + QStringLiteral("#floatingBackground { background: rgba(%1, %2, %3, %4); "
                         "border-radius: %5px; %6 }"
                         "QToolButton:hover { background: %7; }")
              .arg(background.red())
              .arg(background.green())
              .arg(background.blue())
              .arg(background.alpha())
              .arg(palette.rounded ? 14 : 0)
              .arg(border,
                  palette.darkSurface ? QStringLiteral("rgba(255, 255, 255, 0.14)")
                                      : QStringLiteral("rgba(0, 0, 0, 0.07)")));
    for (const auto &[button, symbol] : std::as_const(m_headerIcons))
        button->setIcon(SymbolIcons::drawn(symbol, palette.icon));
    m_status->setOnDark(palette.darkSurface);
    m_placeholder->setStyleSheet(QStringLiteral("color: %1;").arg(palette.placeholder.name()));
    m_captions->setFadeColour(background);
    setMinimumHeight(std::max(160, fittingHeight()));
    refreshLookMenu();
    m_captions->refreshRows();
}

int FloatingSubtitleView::fittingHeight() const
{
    // The newest caption at its tallest, below the band where older lines fade out.
    return m_header->sizeHint().height() + fadeHeight + FloatingLine::tallestHeight(m_style)
        + endPadding + bottomMargin;
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
        = m_style.settings.showSource ? QStringLiteral("隐藏原文") : QStringLiteral("显示原文");
    Controls::setHelp(m_sourceToggle, sourceHelp);
    const bool owning = m_model.ownsSession();
    m_stop->setVisible(owning);
    m_placeholder->setText(
        owning ? QStringLiteral("等待播放声音…") : QStringLiteral("开始监听后，字幕会显示在这里"));
    const auto route = m_model.route();
    const bool rightToLeft = route && route->isTargetRTL();
    if (rightToLeft != m_style.rightToLeft || owning != m_style.owningSession) {
        m_style.rightToLeft = rightToLeft;
        m_style.owningSession = owning;
        m_captions->refreshRows();
    }
}

void FloatingSubtitleView::refreshLines()
{
    const auto &captions = m_model.transcript().captions();
    m_captions->setCaptions(captions);
    m_body->setCurrentWidget(captions.isEmpty() ? m_emptyPage : static_cast<QWidget *>(m_captions));
}

void FloatingSubtitleView::toggleSource()
{
    FloatingSettings next = m_style.settings;
    next.showSource = !next.showSource;
    if (!next.showSource)
        next.showTranslation = true;
    setSettings(next);
}

void FloatingSubtitleView::setHovering(bool hovering)
{
    if (hovering == m_hovering)
        return;
    m_hovering = hovering;
    if (m_style.palette.style == FloatingStyle::outline)
        applyLook();
    fadeHeader();
}

void FloatingSubtitleView::refreshReturn()
{
    const bool readingBack = !m_captions->following();
    m_return->setText(m_captions->returnLabel());
    m_return->setVisible(readingBack);
    m_status->setVisible(!readingBack);
    fadeHeader();
}

void FloatingSubtitleView::fadeHeader()
{
    const double target = m_hovering || !m_captions->following() ? 1.0 : 0.0;
    if (qFuzzyCompare(m_headerOpacity->opacity(), target))
        return;
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
