#include "TranslateMac/Screens/History/HistoryWindow.h"

#include "TranslateMac/Journal/CaptionJournal.h"
#include "TranslateMac/Journal/JournalExport.h"
#include "TranslateMac/Screens/Common/Controls.h"
#include "TranslateMac/Screens/Common/Theme.h"
#include "TranslateMac/Screens/History/ExportMenu.h"
#include "TranslateMac/Screens/History/ExportSaving.h"
#include "TranslateMac/Screens/History/HistoryCaptionList.h"
#include "TranslateMac/Screens/History/HistoryListDelegate.h"
#include "TranslateMac/Screens/History/HistorySettings.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace TranslateMac {

namespace {

using HistoryPresenter::ExportChoice;

constexpr int largestRetained = 10000;
constexpr std::chrono::milliseconds typingPause { 200 };

QFrame *separatorLine(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setStyleSheet(QStringLiteral("color: #E1E4E9;"));
    return line;
}

QList<qint64> idsOf(const QList<JournalSession> &sessions)
{
    QList<qint64> ids;
    for (const JournalSession &session : sessions)
        ids.append(session.id);
    return ids;
}

} // namespace

HistoryWindow::HistoryWindow(CaptionJournal *journal, TranscriptExport seams,
    const QString &unavailableReason, QWidget *parent)
    : QWidget(parent, Qt::Window), m_journal(journal), m_export(std::move(seams)),
      m_unavailable(unavailableReason), m_zone(QTimeZone::systemTimeZone())
{
    setWindowTitle(QStringLiteral("历史记录 · Quorvel"));
    setObjectName(QStringLiteral("historyWindow"));
    setStyleSheet(Theme::styleSheet()
        + QStringLiteral(
            "#historySidebar { background: #F4F5F7; border-right: 1px solid #E6E8EC; }"
            "#historyDetail { background: white; }"
            "QListWidget { background: transparent; border: none; outline: none; }"
            "QLineEdit#historySearch { background: white; border: 1px solid #D7DBE2;"
            " border-radius: 8px; padding: 6px 8px; }"
            "QLineEdit#historySearch:focus { border-color: #2F6FEB; }"
            "QLabel#interruptedMark { color: #D63B3B; background: rgba(214, 59, 59, 0.11);"
            " border-radius: 9px; padding: 1px 8px; font-weight: 600; }"
            "QPushButton#clearHistory { background: transparent; border: 1px solid #E3B3B3;"
            " border-radius: 8px; padding: 5px 12px; color: #D63B3B; }"
            "QPushButton#clearHistory:hover:!disabled { background: rgba(214, 59, 59, 0.08); }"
            "QPushButton#clearHistory:disabled { color: #C9CED6; border-color: #E1E4E9; }"));
    resize(defaultSize);
    setMinimumSize(820, 520);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(buildSidebar());
    row->addWidget(buildDetail(), 1);

    auto *find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, &HistoryWindow::focusSearch);

    if (m_journal)
        connect(m_journal, &CaptionJournal::written, this, &HistoryWindow::refresh);
    readSessions();
    showList();
    showPlaceholder();
}

HistoryWindow::~HistoryWindow() = default;

QWidget *HistoryWindow::buildSidebar()
{
    auto *sidebar = new QWidget(this);
    sidebar->setObjectName(QStringLiteral("historySidebar"));
    sidebar->setAttribute(Qt::WA_StyledBackground);
    sidebar->setFixedWidth(350);
    auto *column = new QVBoxLayout(sidebar);
    column->setContentsMargins(12, 16, 12, 14);
    column->setSpacing(8);

    auto *title = Controls::label(QStringLiteral("历史记录"), sidebar);
    title->setFont(Theme::font(15, QFont::DemiBold));
    title->setContentsMargins(4, 0, 0, 2);

    m_search = new QLineEdit(sidebar);
    m_search->setObjectName(QStringLiteral("historySearch"));
    m_search->setPlaceholderText(
        QStringLiteral("搜索全部字幕（%1）")
            .arg(QKeySequence(QKeySequence::Find).toString(QKeySequence::NativeText)));
    m_search->setAccessibleName(QStringLiteral("搜索全部字幕"));
    m_search->setClearButtonEnabled(true);
    m_search->addAction(Theme::icon(QStringLiteral("magnifyingglass")), QLineEdit::LeadingPosition);
    m_searchDelay = new QTimer(this);
    m_searchDelay->setSingleShot(true);
    m_searchDelay->setInterval(typingPause);
    connect(m_searchDelay, &QTimer::timeout, this, &HistoryWindow::runSearch);
    connect(m_search, &QLineEdit::textChanged, this, [this] { m_searchDelay->start(); });
    connect(m_search, &QLineEdit::returnPressed, this, &HistoryWindow::runSearch);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), m_search);
    escape->setContext(Qt::WidgetShortcut);
    connect(escape, &QShortcut::activated, this, [this] { search(QString()); });

    auto *headingRow = new QHBoxLayout;
    headingRow->setContentsMargins(4, 4, 0, 0);
    m_heading = Controls::label(QString(), sidebar, QStringLiteral("secondary"));
    m_resultsExportButton = Controls::toolButton(
        QStringLiteral("square.and.arrow.up"), QStringLiteral("导出搜索结果…"), sidebar);
    m_resultsExport = ExportMenu::attachTo(m_resultsExportButton);
    connect(m_resultsExport, &ExportMenu::chosen, this, &HistoryWindow::exportResults);
    headingRow->addWidget(m_heading, 1);
    headingRow->addWidget(m_resultsExportButton);

    m_list = new QListWidget(sidebar);
    m_list->setItemDelegate(new HistoryListDelegate(m_list));
    m_list->setUniformItemSizes(true);
    m_list->setMouseTracking(true);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setAccessibleName(QStringLiteral("历史记录列表"));
    connect(m_list, &QListWidget::currentItemChanged, this, &HistoryWindow::itemChosen);

    m_keep = new QCheckBox(QStringLiteral("保存本地字幕记录"), sidebar);
    Controls::setHelp(
        m_keep, QStringLiteral("开启后，每次翻译的字幕都保存在这台电脑上；关闭不影响已保存的记录"));
    m_keep->setChecked(HistorySettings::keepsLocalHistory());
    connect(m_keep, &QCheckBox::toggled, this, [this](bool keep) {
        HistorySettings::setKeepsLocalHistory(keep);
        showPlaceholder();
    });

    auto *retainedRow = new QHBoxLayout;
    retainedRow->setSpacing(6);
    m_retained = new QSpinBox(sidebar);
    m_retained->setRange(1, largestRetained);
    m_retained->setValue(HistorySettings::retainedSessions());
    // Typing "100" must not pass through 1 and 10, which would delete sessions on the way.
    m_retained->setKeyboardTracking(false);
    m_retained->setAccessibleName(QStringLiteral("保留的翻译次数"));
    connect(m_retained, &QSpinBox::valueChanged, this, &HistoryWindow::retainedChanged);
    retainedRow->addWidget(Controls::label(QStringLiteral("保留最近"), sidebar));
    retainedRow->addWidget(m_retained);
    retainedRow->addWidget(Controls::label(QStringLiteral("次翻译的字幕"), sidebar));
    retainedRow->addStretch(1);

    auto *clear = new QPushButton(QStringLiteral("清空历史…"), sidebar);
    clear->setObjectName(QStringLiteral("clearHistory"));
    clear->setCursor(Qt::PointingHandCursor);
    clear->setEnabled(m_journal != nullptr);
    connect(clear, &QPushButton::clicked, this, &HistoryWindow::confirmClear);

    column->addWidget(title);
    column->addWidget(m_search);
    column->addLayout(headingRow);
    column->addWidget(m_list, 1);
    column->addWidget(separatorLine(sidebar));
    column->addWidget(m_keep);
    column->addLayout(retainedRow);
    column->addWidget(clear, 0, Qt::AlignLeft);

    m_search->setEnabled(m_journal != nullptr);
    m_list->setEnabled(m_journal != nullptr);
    return sidebar;
}

QWidget *HistoryWindow::buildDetail()
{
    auto *detail = new QWidget(this);
    detail->setObjectName(QStringLiteral("historyDetail"));
    detail->setAttribute(Qt::WA_StyledBackground);
    auto *column = new QVBoxLayout(detail);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_detail = new QStackedWidget(detail);
    m_placeholder = Controls::label(QString(), m_detail, QStringLiteral("secondary"));
    m_placeholder->setAlignment(Qt::AlignCenter);
    m_placeholder->setWordWrap(true);
    m_placeholder->setContentsMargins(40, 0, 40, 40);
    m_placeholder->setFont(Theme::font(11));

    m_sessionView = new QWidget(m_detail);
    auto *sessionColumn = new QVBoxLayout(m_sessionView);
    sessionColumn->setContentsMargins(0, 0, 0, 0);
    sessionColumn->setSpacing(0);
    auto *header = new QWidget(m_sessionView);
    auto *headerColumn = new QVBoxLayout(header);
    headerColumn->setContentsMargins(24, 16, 16, 12);
    headerColumn->setSpacing(4);
    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    m_title = Controls::label(QString(), header);
    m_title->setFont(Theme::font(14, QFont::DemiBold));
    m_mark = Controls::label(HistoryPresenter::interruptedMark, header);
    m_mark->setObjectName(QStringLiteral("interruptedMark"));
    m_mark->setFont(Theme::font(9, QFont::DemiBold));
    Controls::setHelp(m_mark, QStringLiteral("这次翻译意外中断，未完成的最后几句可能没有保存"));
    m_copy = Controls::toolButton(
        QStringLiteral("doc.on.doc"), QStringLiteral("复制全部字幕"), header);
    auto *exportButton = Controls::toolButton(
        QStringLiteral("square.and.arrow.up"), QStringLiteral("导出字幕…"), header);
    m_sessionExport = ExportMenu::attachTo(exportButton);
    auto *remove = Controls::toolButton(
        QStringLiteral("trash"), QStringLiteral("删除这次翻译的记录…"), header);
    connect(m_copy, &QToolButton::clicked, this, &HistoryWindow::copySession);
    connect(m_sessionExport, &ExportMenu::chosen, this, &HistoryWindow::exportSession);
    connect(remove, &QToolButton::clicked, this, &HistoryWindow::confirmDelete);
    titleRow->addWidget(m_title);
    titleRow->addWidget(m_mark);
    titleRow->addStretch(1);
    titleRow->addWidget(m_copy);
    titleRow->addWidget(exportButton);
    titleRow->addWidget(remove);
    m_summary = Controls::label(QString(), header, QStringLiteral("secondary"));
    headerColumn->addLayout(titleRow);
    headerColumn->addWidget(m_summary);

    m_captions = new HistoryCaptionList(m_sessionView);
    sessionColumn->addWidget(header);
    sessionColumn->addWidget(separatorLine(m_sessionView));
    sessionColumn->addWidget(m_captions, 1);

    m_detail->addWidget(m_placeholder);
    m_detail->addWidget(m_sessionView);

    m_status = new QLabel(detail);
    m_status->setWordWrap(true);
    m_status->setContentsMargins(24, 8, 24, 10);
    m_status->hide();
    column->addWidget(m_detail, 1);
    column->addWidget(m_status);
    return detail;
}

template <typename Read> bool HistoryWindow::reading(const Read &read)
{
    try {
        read();
        return true;
    } catch (const JournalFailure &failure) {
        setStatus(failure.errorDescription(), true);
        return false;
    }
}

void HistoryWindow::readSessions()
{
    if (m_journal)
        reading([this] { m_sessions = m_journal->sessions(); });
}

void HistoryWindow::refresh()
{
    const QList<qint64> before = idsOf(m_sessions);
    readSessions();
    // A result list is a search's answer: it is asked again only when sessions came or went (a
    // deleted session's captions must not stay clickable).
    if (m_showsResults && idsOf(m_sessions) != before)
        runSearch();
    else if (!m_showsResults)
        showList();
    if (!m_open)
        return showPlaceholder();
    const auto found = std::find_if(m_sessions.begin(), m_sessions.end(),
        [this](const JournalSession &session) { return session.id == m_open->id; });
    if (found == m_sessions.end())
        return closeSession();
    if (*found == *m_open)
        return;
    m_open = *found;
    reading([this] { m_openCaptions = m_journal->captions(m_open->id); });
    showHeader();
    m_captions->updateCaptions(m_openCaptions);
}

void HistoryWindow::showList()
{
    const int scrolled = m_list->verticalScrollBar()->value();
    const QSignalBlocker blocker(m_list);
    m_list->clear();
    QListWidgetItem *current = nullptr;
    if (m_showsResults) {
        m_heading->setText(HistoryPresenter::resultsHeading(m_hits.size(), searchLimit));
        for (const JournalSearchHit &hit : std::as_const(m_hits)) {
            auto *item = new QListWidgetItem(m_list);
            HistoryListDelegate::describe(*item, HistoryPresenter::hitEntry(hit, m_zone));
            if (m_open && hit.caption.sessionId == m_open->id
                && m_captions->markedSequence() == hit.caption.sequence)
                current = item;
        }
    } else {
        m_heading->setText(HistoryPresenter::sessionsHeading(m_sessions.size()));
        for (const JournalSession &session : std::as_const(m_sessions)) {
            auto *item = new QListWidgetItem(m_list);
            HistoryListDelegate::describe(*item, HistoryPresenter::sessionEntry(session, m_zone));
            if (m_open && session.id == m_open->id)
                current = item;
        }
    }
    m_resultsExportButton->setVisible(m_showsResults && !m_hits.isEmpty());
    if (current)
        m_list->setCurrentItem(current);
    m_list->verticalScrollBar()->setValue(scrolled);
}

void HistoryWindow::search(const QString &words)
{
    {
        const QSignalBlocker blocker(m_search);
        m_search->setText(words);
    }
    runSearch();
}

void HistoryWindow::runSearch()
{
    m_searchDelay->stop();
    const QString words = m_search->text().trimmed();
    const bool wasResults = std::exchange(m_showsResults, !words.isEmpty());
    m_hits.clear();
    if (m_showsResults && m_journal)
        reading([&] { m_hits = m_journal->search(words, searchLimit); });
    showList();
    if (m_showsResults || wasResults)
        m_list->scrollToTop();
    if (!m_showsResults && m_list->currentItem())
        m_list->scrollToItem(m_list->currentItem());
}

void HistoryWindow::focusSearch()
{
    m_search->setFocus(Qt::ShortcutFocusReason);
    m_search->selectAll();
}

void HistoryWindow::itemChosen()
{
    const QListWidgetItem *item = m_list->currentItem();
    if (!item)
        return;
    const qint64 session = item->data(HistoryListDelegate::sessionRole).toLongLong();
    if (HistoryListDelegate::Kind(item->data(HistoryListDelegate::kindRole).toInt())
        == HistoryListDelegate::Kind::hit)
        openSession(session, item->data(HistoryListDelegate::sequenceRole).toLongLong());
    else
        openSession(session);
}

void HistoryWindow::openSession(qint64 sessionId, std::optional<qint64> sequence)
{
    std::optional<JournalSession> found;
    for (const JournalSession &session : std::as_const(m_sessions)) {
        if (session.id == sessionId)
            found = session;
    }
    if (!found && m_journal)
        reading([&] { found = m_journal->session(sessionId); });
    if (!found) {
        closeSession();
        return setStatus(QStringLiteral("这次翻译的记录已不存在。"), true);
    }
    if (!m_open || m_open->id != sessionId)
        showSession(*found);
    if (sequence)
        m_captions->reveal(*sequence);
    // The list shows which session (or which found caption) is open.
    const QSignalBlocker blocker(m_list);
    for (int i = 0; i < m_list->count(); ++i) {
        QListWidgetItem *item = m_list->item(i);
        const bool sameSession
            = item->data(HistoryListDelegate::sessionRole).toLongLong() == sessionId;
        const bool sameCaption = !m_showsResults
            || item->data(HistoryListDelegate::sequenceRole).toLongLong() == sequence;
        if (sameSession && sameCaption) {
            m_list->setCurrentItem(item);
            m_list->scrollToItem(item);
            break;
        }
    }
}

void HistoryWindow::showSession(const JournalSession &session)
{
    m_open = session;
    m_openCaptions.clear();
    reading([&] { m_openCaptions = m_journal->captions(session.id); });
    showHeader();
    m_copy->setIcon(Theme::icon(QStringLiteral("doc.on.doc")));
    Controls::setHelp(m_copy, QStringLiteral("复制全部字幕"));
    m_captions->showSession(m_openCaptions);
    m_detail->setCurrentWidget(m_sessionView);
}

void HistoryWindow::showHeader()
{
    const HistoryPresenter::SessionEntry entry = HistoryPresenter::sessionEntry(*m_open, m_zone);
    m_title->setText(entry.started);
    m_mark->setVisible(entry.interrupted);
    m_summary->setText(HistoryPresenter::sessionSummary(entry));
}

void HistoryWindow::closeSession()
{
    m_open.reset();
    m_openCaptions.clear();
    m_captions->showSession({});
    const QSignalBlocker blocker(m_list);
    m_list->setCurrentItem(nullptr);
    showPlaceholder();
}

void HistoryWindow::showPlaceholder()
{
    QString text;
    if (!m_journal)
        text = QStringLiteral("历史记录暂不可用。\n") + m_unavailable;
    else if (!m_sessions.isEmpty())
        text = QStringLiteral("选择左侧的一次翻译，查看它的字幕。");
    else if (HistorySettings::keepsLocalHistory())
        text = QStringLiteral("还没有字幕记录。\n开始翻译后，字幕会自动保存在这台电脑上。");
    else
        text = QStringLiteral(
            "本地字幕记录已关闭。\n打开左下角的“保存本地字幕记录”后，新的翻译会保存"
            "在这台电脑上。");
    m_placeholder->setText(text.trimmed());
    if (!m_open)
        m_detail->setCurrentWidget(m_placeholder);
}

void HistoryWindow::copySession()
{
    if (!m_open)
        return;
    m_export.copy(exportJournalCaptions(m_openCaptions, TranslateCore::ExportFormat::text));
    m_copy->setIcon(Theme::icon(QStringLiteral("checkmark")));
    Controls::setHelp(m_copy, QStringLiteral("已复制全部字幕"));
}

void HistoryWindow::exportSession(const ExportChoice &choice)
{
    if (!m_open)
        return;
    save(HistoryPresenter::exportFileName(
             HistoryPresenter::sessionFileBase(*m_open, m_zone), choice),
        exportJournalCaptions(m_openCaptions, choice.format, choice.text));
}

void HistoryWindow::exportResults(const ExportChoice &choice)
{
    // Found newest first; a file reads from the oldest.
    QList<JournalCaption> captions;
    for (auto hit = m_hits.crbegin(); hit != m_hits.crend(); ++hit)
        captions.append(hit->caption);
    save(HistoryPresenter::exportFileName(HistoryPresenter::searchFileBase, choice),
        exportJournalCaptions(captions, choice.format, choice.text));
}

void HistoryWindow::save(const QString &proposedName, const QString &content)
{
    saveExport(m_export.chooseSaveLocation, proposedName, content, this,
        [this](const QString &path, std::optional<ExportWriteFailure> failure) {
            if (failure)
                setStatus(exportWriteFailureText(*failure), true);
            else
                setStatus(QStringLiteral("已导出：") + QFileInfo(path).fileName(), false);
        });
}

void HistoryWindow::confirmDelete()
{
    if (!m_open || !m_journal)
        return;
    const qint64 id = m_open->id;
    ask(QStringLiteral("删除这次翻译的记录？"),
        QStringLiteral("%1 的 %2 句字幕将被删除，无法恢复。")
            .arg(HistoryPresenter::startedText(m_open->startedAtMs, m_zone))
            .arg(m_open->captionCount),
        QStringLiteral("删除"), [this, id] {
            m_journal->deleteSession(id);
            if (m_open && m_open->id == id)
                closeSession();
        });
}

void HistoryWindow::confirmClear()
{
    if (!m_journal)
        return;
    ask(QStringLiteral("清空全部历史记录？"),
        QStringLiteral("这台电脑上保存的全部 %1 次翻译的字幕都将删除，无法恢复。")
            .arg(m_sessions.size()),
        QStringLiteral("清空历史"), [this] {
            m_journal->clearHistory();
            closeSession();
        });
}

void HistoryWindow::retainedChanged(int count)
{
    if (count == HistorySettings::retainedSessions())
        return;
    const qsizetype dropped = m_sessions.size() - count;
    if (!m_journal || dropped <= 0)
        return applyRetained(count);
    ask(
        QStringLiteral("只保留最近 %1 次翻译？").arg(count),
        QStringLiteral("较早的 %1 次翻译的字幕将从这台电脑上删除，无法恢复。").arg(dropped),
        QStringLiteral("删除较早的记录"), [this, count] { applyRetained(count); },
        [this] {
            const QSignalBlocker blocker(m_retained);
            m_retained->setValue(HistorySettings::retainedSessions());
        });
}

void HistoryWindow::applyRetained(int count)
{
    HistorySettings::setRetainedSessions(count);
    if (m_journal)
        m_journal->setRetainedSessions(count);
}

void HistoryWindow::ask(const QString &title, const QString &text, const QString &action,
    std::function<void()> confirmed, std::function<void()> declined)
{
    if (m_confirmation)
        m_confirmation->reject();
    // The question is the box's headline too: many desktops show no title on a dialog.
    m_confirmation
        = new QMessageBox(QMessageBox::Warning, title, title, QMessageBox::NoButton, this);
    m_confirmation->setInformativeText(text);
    m_confirmation->setStyleSheet(
        QStringLiteral("QLabel#qt_msgbox_label { font-weight: 600; }"
                       "QLabel#qt_msgbox_informativelabel { min-width: 400px; }"));
    QPushButton *confirm = m_confirmation->addButton(action, QMessageBox::DestructiveRole);
    m_confirmation->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    m_confirmation->setAttribute(Qt::WA_DeleteOnClose);
    QMessageBox *box = m_confirmation;
    connect(box, &QMessageBox::finished, this,
        [box, confirm, confirmed = std::move(confirmed), declined = std::move(declined)] {
            if (box->clickedButton() == confirm)
                confirmed();
            else if (declined)
                declined();
        });
    m_confirmation->open();
}

void HistoryWindow::setStatus(const QString &text, bool failure)
{
    m_statusIsFailure = failure;
    m_status->setText(text);
    m_status->setVisible(!text.isEmpty());
    m_status->setStyleSheet(QStringLiteral("color: %1;")
                                .arg((failure ? Theme::danger() : Theme::secondaryText()).name()));
}

QMessageBox *HistoryWindow::confirmation() const
{
    return m_confirmation;
}

QString HistoryWindow::headingText() const
{
    return m_heading->text();
}

QString HistoryWindow::titleText() const
{
    return m_open ? m_title->text() : QString();
}

QString HistoryWindow::summaryText() const
{
    return m_open ? m_summary->text() : QString();
}

QString HistoryWindow::placeholderText() const
{
    return m_detail->currentWidget() == m_placeholder ? m_placeholder->text() : QString();
}

QString HistoryWindow::statusText() const
{
    return m_status->isHidden() ? QString() : m_status->text();
}

} // namespace TranslateMac
