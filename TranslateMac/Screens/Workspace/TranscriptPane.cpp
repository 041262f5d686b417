#include "TranslateMac/Screens/Workspace/TranscriptPane.h"

#include "TranslateMac/Account/UserDefaultsKeys.h"
#include "TranslateMac/AppModel/AppModel.h"

#include "TranslateCore/Async/Clock.h"
#include "TranslateMac/Screens/Captions/FollowingCaptions.h"
#include "TranslateMac/Screens/Common/Controls.h"
#include "TranslateMac/Screens/Common/StatusPill.h"
#include "TranslateMac/Screens/Common/SubtitleSize.h"
#include "TranslateMac/Screens/Common/SymbolIcons.h"
#include "TranslateMac/Screens/Common/Theme.h"
#include "TranslateMac/Screens/Common/UserDefaults.h"
#include "TranslateMac/Screens/History/ExportMenu.h"
#include "TranslateMac/Screens/History/InterruptedSessionBanner.h"
#include "TranslateMac/Screens/Workspace/LagIndicator.h"
#include "TranslateMac/Screens/Workspace/LevelMeter.h"
#include "TranslateMac/Screens/Workspace/TranscriptEmptyState.h"
#include "TranslateMac/Screens/Workspace/TranscriptPresenter.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace TranslateMac {

namespace {
QString nativeShortcut(const QString &portable)
{
    return QKeySequence(portable).toString(QKeySequence::NativeText);
}
} // namespace

TranscriptPane::TranscriptPane(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("transcriptPane"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("#transcriptPane { background: white; }"));
    m_rowStyle.size = std::clamp(
        UserDefaults::value(UserDefaultsKeys::subtitleSize, UserDefaultsKeys::defaultSubtitleSize)
            .toDouble(),
        workspaceSubtitleBounds.minimum, workspaceSubtitleBounds.maximum);

    m_body = new QStackedWidget(this);
    m_empty = new TranscriptEmptyState(m_body);
    m_captions = new FollowingCaptions(
        { 32, 18, true, Theme::background() },
        [this] { return new TranscriptCaptionRow(m_rowStyle); }, m_body);
    m_body->addWidget(m_empty);
    m_body->addWidget(m_captions);
    connect(
        m_captions, &FollowingCaptions::followingChanged, this, &TranscriptPane::setFollowLatest);

    m_message = new QLabel(this);
    m_message->setWordWrap(true);

    m_interrupted = new InterruptedSessionBanner(this);
    connect(m_interrupted, &InterruptedSessionBanner::viewRequested, this,
        [this](qint64 session) { Q_EMIT historyRequested(session); });

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildHeader());
    column->addWidget(m_interrupted);
    column->addWidget(m_body, 1);
    column->addWidget(m_message);
    column->addWidget(buildFooter());

    // Window-wide, so they work wherever the focus is (the sidebar, after a picker closed); no
    // menu action uses these keys. A key only does what the footer button offers under it: in
    // the pending state the button re-checks the settlement, and no key does that.
    for (const QString &keys : { QStringLiteral("Ctrl+Return"), QStringLiteral("Ctrl+.") }) {
        auto *key = new QShortcut(QKeySequence(keys), this);
        key->setContext(Qt::WindowShortcut);
        connect(key, &QShortcut::activated, this, [this, keys] { runShortcut(keys); });
    }
    // The transcript has no find of its own: Ctrl+F searches every session, this one included
    // as far as the journal has it.
    auto *find = new QShortcut(QKeySequence::Find, this);
    find->setContext(Qt::WindowShortcut);
    connect(find, &QShortcut::activated, this, &TranscriptPane::historySearchRequested);

    // The level (ten times a second) and the elapsed time repaint only their own parts.
    connect(&m_model, &AppModel::levelChanged, this, &TranscriptPane::refreshLevel);
    connect(&m_model, &AppModel::elapsedChanged, this, &TranscriptPane::refreshElapsed);
    for (auto signal : { &AppModel::stateChanged, &AppModel::ownsSessionChanged,
             &AppModel::canStartChanged, &AppModel::sourcesRefreshingChanged,
             &AppModel::sourceCheckFailureChanged, &AppModel::accessConfirmedChanged,
             &AppModel::routeChanged, &AppModel::quoteBusyChanged, &AppModel::accountBusyChanged,
             &AppModel::quoteChanged, &AppModel::remainingChanged, &AppModel::transcriptChanged,
             &AppModel::overlayVisibleChanged, &AppModel::messageChanged })
        connect(&m_model, signal, this, &TranscriptPane::refresh);
    connect(&m_model, &AppModel::transcriptChanged, this, &TranscriptPane::refreshCaptions);
    refresh();
    refreshCaptions();
}

QWidget *TranscriptPane::buildHeader()
{
    auto *header = new QWidget(this);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(20, 12, 14, 10);
    row->setSpacing(8);
    m_status = new StatusPill(header);
    m_route = Controls::label(QString(), header);
    m_route->setFont(Theme::font(10, QFont::DemiBold));
    m_clock = new QWidget(header);
    auto *clockRow = new QHBoxLayout(m_clock);
    clockRow->setContentsMargins(6, 0, 0, 0);
    clockRow->setSpacing(4);
    clockRow->addWidget(Controls::iconLabel(QStringLiteral("clock"), m_clock, 14));
    m_elapsed = Controls::label(QString(), m_clock, QStringLiteral("secondary"));
    m_elapsed->setFont(Theme::monospacedDigits(10));
    m_elapsed->setAccessibleName(QStringLiteral("已监听时长"));
    clockRow->addWidget(m_elapsed);

    auto *smaller = Controls::toolButton(
        QStringLiteral("textformat.size.smaller"), QStringLiteral("缩小字幕"), header);
    auto *larger = Controls::toolButton(
        QStringLiteral("textformat.size.larger"), QStringLiteral("放大字幕"), header);
    auto *separator = new QFrame(header);
    separator->setFrameShape(QFrame::VLine);
    separator->setStyleSheet(QStringLiteral("color: #D7DBE2;"));
    m_follow = Controls::toolButton(QStringLiteral("arrow.down.to.line"), QString(), header);
    m_follow->setCheckable(true);
    m_copy = Controls::toolButton(
        QStringLiteral("doc.on.doc"), QStringLiteral("复制全部字幕"), header);
    auto *exportButton = Controls::toolButton(
        QStringLiteral("square.and.arrow.up"), QStringLiteral("导出字幕…"), header);
    auto *history = Controls::toolButton(QStringLiteral("clock.arrow.circlepath"),
        QStringLiteral("历史记录与搜索（%1）")
            .arg(QKeySequence(QKeySequence::Find).toString(QKeySequence::NativeText)),
        header);
    m_overlay = Controls::toolButton(QStringLiteral("pip"),
        QStringLiteral("悬浮字幕（%1）").arg(nativeShortcut(QStringLiteral("Ctrl+Shift+F"))),
        header);
    m_overlay->setCheckable(true);

    row->addWidget(m_status);
    row->addWidget(m_route);
    row->addWidget(m_clock);
    row->addStretch(1);
    for (QWidget *widget : std::initializer_list<QWidget *> {
             smaller, larger, separator, m_follow, m_copy, exportButton, history, m_overlay })
        row->addWidget(widget);

    connect(smaller, &QToolButton::clicked, this,
        [this] { setSubtitleSize(workspaceSubtitleBounds.smaller(m_rowStyle.size)); });
    connect(larger, &QToolButton::clicked, this,
        [this] { setSubtitleSize(workspaceSubtitleBounds.larger(m_rowStyle.size)); });
    connect(m_follow, &QToolButton::clicked, this, [this] { setFollowLatest(!m_followLatest); });
    connect(m_copy, &QToolButton::clicked, this, &TranscriptPane::copy);
    m_exportMenu = ExportMenu::attachTo(exportButton);
    connect(m_exportMenu, &ExportMenu::chosen, this,
        [this](const HistoryPresenter::ExportChoice &choice) {
            if (choice.format == TranslateCore::ExportFormat::text)
                m_model.exportTranscript();
            else
                Q_EMIT exportRequested(choice);
        });
    connect(
        history, &QToolButton::clicked, this, [this] { Q_EMIT historyRequested(std::nullopt); });
    connect(m_overlay, &QToolButton::clicked, this,
        [this] { m_model.setOverlayVisible(!m_model.overlayVisible()); });
    return header;
}

QWidget *TranscriptPane::buildFooter()
{
    auto *footer = new QWidget(this);
    footer->setObjectName(QStringLiteral("paneFooter"));
    footer->setStyleSheet(QStringLiteral("#paneFooter { border-top: 1px solid #E6E8EC; }"));
    auto *row = new QHBoxLayout(footer);
    row->setContentsMargins(20, 10, 16, 12);
    row->setSpacing(8);
    m_meter = new LevelMeter(footer);
    m_levelHelp = Controls::label(QString(), footer, QStringLiteral("secondary"));
    auto *usageIcon = Controls::iconLabel(QStringLiteral("creditcard"), footer, 14);
    m_usage = Controls::label(QString(), footer);
    m_used = Controls::label(QString(), footer, QStringLiteral("secondary"));
    m_used->setFont(Theme::monospacedDigits(10));
    m_hint = new QWidget(footer);
    auto *hintRow = new QHBoxLayout(m_hint);
    hintRow->setContentsMargins(0, 0, 0, 0);
    hintRow->setSpacing(4);
    m_hintIcon = new QLabel(m_hint);
    m_hintText = Controls::label(QString(), m_hint, QStringLiteral("secondary"));
    hintRow->addWidget(m_hintIcon);
    hintRow->addWidget(m_hintText);
    m_action = Controls::primaryButton(QString(), footer);
    m_action->setMinimumWidth(132);
    connect(m_action, &QPushButton::clicked, this, &TranscriptPane::runAction);

    // The lag sits beside the level: what is heard next to how far the captions are behind it.
    m_lag = new LagIndicator(m_model, footer);
    row->addWidget(m_meter);
    row->addWidget(m_levelHelp);
    row->addWidget(m_lag);
    row->addSpacing(12);
    row->addWidget(usageIcon);
    row->addWidget(m_usage);
    row->addWidget(m_used);
    row->addStretch(1);
    row->addWidget(m_hint);
    row->addWidget(m_action);
    m_footer = footer;
    footer->installEventFilter(this);
    return footer;
}

bool TranscriptPane::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_footer
        && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
        fitFooter();
    return QWidget::eventFilter(watched, event);
}

void TranscriptPane::fitFooter()
{
    // At the window's narrowest the listening footer cannot hold every part: the level's words
    // give way first; the meter stays and says the same in its tooltip.
    const QLayout *row = m_footer->layout();
    const int help = m_levelHelp->sizeHint().width() + row->spacing();
    const int others = row->sizeHint().width() - (m_levelHelp->isHidden() ? 0 : help);
    m_levelHelp->setVisible(others + help <= m_footer->width());
}

void TranscriptPane::refreshLevel()
{
    const float level = m_model.level();
    m_meter->setLevel(level);
    const QString help = TranscriptPresenter::levelHelp(level, m_model.state());
    m_meter->setToolTip(help);
    m_levelHelp->setText(help);
}

void TranscriptPane::refreshElapsed()
{
    m_clock->setVisible(m_model.elapsed() > 0);
    m_elapsed->setText(TranscriptPresenter::elapsedText(m_model.elapsed()));
}

void TranscriptPane::refresh()
{
    using namespace TranscriptPresenter;
    const Facts facts = Facts::of(m_model);
    m_status->setState(facts.state);
    const auto route = m_model.route();
    m_route->setVisible(route.has_value());
    if (route) {
        const QString direction = route->sourceName() + QStringLiteral(" → ") + route->targetName();
        m_route->setText(direction);
        m_route->setToolTip(QStringLiteral("翻译方向：") + direction);
    }
    refreshElapsed();

    m_follow->setChecked(m_followLatest);
    Controls::setHelp(m_follow,
        m_followLatest ? QStringLiteral("自动跟随最新字幕：开")
                       : QStringLiteral("自动跟随最新字幕：关"));
    m_copy->setIcon(
        Theme::icon(m_copied ? QStringLiteral("checkmark") : QStringLiteral("doc.on.doc")));
    m_overlay->setChecked(m_model.overlayVisible());

    m_empty->show(facts.ownsSession, facts.accessConfirmed, facts.routeSelected);
    const std::optional<QString> message = m_model.message();
    m_message->setVisible(message.has_value());
    m_message->setText(message.value_or(QString()));
    m_message->setObjectName(
        m_model.error() ? QStringLiteral("errorText") : QStringLiteral("noticeText"));
    // The margins belong in the style sheet: a style sheet replaces the label's own.
    m_message->setStyleSheet(
        QStringLiteral("color: %1; padding: 4px 24px;")
            .arg((m_model.error() ? Theme::danger() : Theme::warning().darker(120)).name()));

    refreshLevel();
    const Usage points = usage(facts);
    m_usage->setText(points.remaining);
    m_used->setVisible(points.used.has_value());
    m_used->setText(points.used.value_or(QString()));
    m_used->setToolTip(points.usedHelp);

    const std::optional<Hint> hint = startHint(facts);
    m_hint->setVisible(hint.has_value());
    if (hint) {
        m_hintText->setText(hint->text);
        m_hint->setToolTip(hint->help);
        m_hintIcon->setVisible(!hint->icon.isEmpty());
        if (!hint->icon.isEmpty())
            m_hintIcon->setPixmap(Theme::icon(hint->icon).pixmap(14, 14));
    }
    const Action button = action(facts);
    QString label = button.label;
    if (!button.shortcut.isEmpty())
        label += QStringLiteral("  ") + nativeShortcut(button.shortcut);
    m_action->setText(label);
    if (m_action->property("symbol").toString() != button.icon) {
        m_action->setIcon(SymbolIcons::drawn(button.icon, Qt::white));
        m_action->setProperty("symbol", button.icon);
    }
    m_action->setEnabled(button.enabled);
    Controls::setHelp(m_action, button.help);
}

void TranscriptPane::refreshCaptions()
{
    const auto &captions = m_model.transcript().captions();
    const auto route = m_model.route();
    m_rowStyle.targetRightToLeft = route && route->isTargetRTL();
    m_captions->setCaptions(captions);
    m_body->setCurrentWidget(captions.isEmpty() ? static_cast<QWidget *>(m_empty) : m_captions);
}

void TranscriptPane::offerInterruptedSession(qint64 sessionId, qint64 savedCaptions)
{
    m_interrupted->offer(sessionId, savedCaptions);
}

bool TranscriptPane::showsCaptions() const
{
    return m_body->currentWidget() == m_captions;
}

void TranscriptPane::setSubtitleSize(double size)
{
    m_rowStyle.size = size;
    UserDefaults::setValue(UserDefaultsKeys::subtitleSize, size);
    m_captions->refreshRows();
}

void TranscriptPane::setFollowLatest(bool following)
{
    m_followLatest = following;
    m_captions->setFollowing(following);
    refresh();
}

void TranscriptPane::copy()
{
    m_model.copyTranscript();
    m_copied = true;
    // Replacing the handle cancels the previous wait: the mark stays 1.5 s after the last copy.
    m_copiedReset = TranslateCore::TaskHandle::start(
        [this](TranslateCore::CancellationToken token) { return clearCopiedLater(token); });
    refresh();
}

QCoro::Task<> TranscriptPane::clearCopiedLater(TranslateCore::CancellationToken token)
{
    // Throws when cancelled (another copy, or the pane went away) before touching the pane.
    co_await m_model.clock().sleep(copiedDuration, token);
    m_copied = false;
    refresh();
}

void TranscriptPane::runShortcut(const QString &keys)
{
    const TranscriptPresenter::Action button
        = TranscriptPresenter::action(TranscriptPresenter::Facts::of(m_model));
    if (button.shortcut == keys && button.enabled)
        runAction();
}

void TranscriptPane::runAction()
{
    TranscriptPresenter::perform(m_model);
}

QString TranscriptPane::hintText() const
{
    return m_hint->isHidden() ? QString() : m_hintText->text();
}
QString TranscriptPane::hintHelp() const
{
    return m_hint->isHidden() ? QString() : m_hint->toolTip();
}
QString TranscriptPane::messageText() const
{
    return m_message->isHidden() ? QString() : m_message->text();
}
QString TranscriptPane::usageText() const
{
    return m_usage->text();
}
QString TranscriptPane::usedText() const
{
    return m_used->isHidden() ? QString() : m_used->text();
}
QString TranscriptPane::elapsedText() const
{
    return m_clock->isHidden() ? QString() : m_elapsed->text();
}
QString TranscriptPane::levelHelpText() const
{
    return m_levelHelp->text();
}

} // namespace TranslateMac
