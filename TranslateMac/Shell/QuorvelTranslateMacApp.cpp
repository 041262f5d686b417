#include "QuorvelTranslateMacApp.h"

#include "AppDelegate.h"
#include "DisplayPlatform.h"
#include "FloatingSubtitlePanel.h"
#include "LogindSleepLock.h"
#include "MenuBarControls.h"
#include "WorkspaceWindow.h"

#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/AppModel/SessionRecorder.h"
#include "TranslateMac/Journal/JournalExport.h"
#include "TranslateMac/Journal/JournalOpening.h"
#include "TranslateMac/Screens/Common/Theme.h"
#include "TranslateMac/Screens/History/ExportSaving.h"
#include "TranslateMac/Screens/History/HistorySettings.h"
#include "TranslateMac/Screens/History/HistoryWindow.h"
#include "TranslateMac/Screens/Root/AppContentView.h"
#include "TranslateMac/Screens/Workspace/TranscriptPane.h"
#include "TranslateMac/Screens/Workspace/WorkspaceView.h"

#include "BuildInfo.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QSessionManager>

namespace TranslateMac {

const QString QuorvelTranslateMacApp::desktopName = QStringLiteral("com.quorvel.translate");
const QString QuorvelTranslateMacApp::liveExportUnavailable
    = QStringLiteral("这次翻译没有保存在本地字幕记录中，只能导出纯文本。");

void QuorvelTranslateMacApp::prepareProcess()
{
    choosePreferredDisplayPlatform();
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    // On X11 the application name is the window class, by which task bars and docks match the
    // windows to the desktop file; Wayland uses the desktop file name. Both are the one identity.
    // (The settings and the credential store name their own places.)
    QCoreApplication::setApplicationName(desktopName);
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION_STRING));
    QGuiApplication::setDesktopFileName(desktopName);
}

QuorvelTranslateMacApp::QuorvelTranslateMacApp(TranslateCore::Clock &clock, QObject *parent)
    : QuorvelTranslateMacApp(std::make_unique<AppModel>(), clock, parent)
{
}

QuorvelTranslateMacApp::QuorvelTranslateMacApp(
    std::unique_ptr<AppModel> builtModel, TranslateCore::Clock &clock, QObject *parent)
    : QObject(parent), m_model(std::move(builtModel)),
      m_delegate(std::make_unique<AppDelegate>(clock))
{
    // The installed icon when there is one; the drawn captions symbol otherwise.
    QGuiApplication::setWindowIcon(
        QIcon::fromTheme(desktopName, Theme::icon(QStringLiteral("captions.bubble"))));
    AppModel &model = *m_model;
    openJournal();
    auto *content = new AppContentView(model);
    m_window = std::make_unique<WorkspaceWindow>(model, content, [this] { requestQuit(); });
    TranscriptPane &transcript = content->workspace().transcript();
    connect(&transcript, &TranscriptPane::historyRequested, this,
        [this](std::optional<qint64> session) { openHistory(session); });
    connect(&transcript, &TranscriptPane::historySearchRequested, this,
        &QuorvelTranslateMacApp::searchHistory);
    connect(&transcript, &TranscriptPane::exportRequested, this,
        &QuorvelTranslateMacApp::exportLiveSession);
    if (m_interruptedSession)
        transcript.offerInterruptedSession(*m_interruptedSession, m_interruptedCaptions);
    m_menuBar = std::make_unique<MenuBarControls>(
        model, [this] { openWorkspace(); }, [this] { openHistory(); }, [this] { requestQuit(); });

    // The delegate serves the model for the application's whole life: the floating subtitles
    // and the guarded quit work from the start, not only once the window has appeared.
    m_delegate->attach(model);
    connect(
        m_delegate.get(), &AppDelegate::panelCreated, m_menuBar.get(), &MenuBarControls::setPanel);
    connect(
        m_delegate.get(), &AppDelegate::panelCreated, m_window.get(), &WorkspaceWindow::setPanel);
    connect(m_delegate.get(), &AppDelegate::quitAnswered, this, [this](bool quit) {
        if (quit)
            Q_EMIT terminate();
    });
    m_sleepLock = std::make_unique<LogindSleepLock>();
    m_sleepGuard = std::make_unique<SleepGuard>(*m_sleepLock, clock);
    m_sleepGuard->setTarget(SleepGuard::Target::from(model));
    connect(
        &model, &AppModel::ownsSessionChanged, m_sleepGuard.get(), &SleepGuard::ownershipChanged);

    // Logging out asks the application to save its work before it is ended: the running
    // translation is ended and settled the way a signal ends it. The request itself returns at
    // once, so the session manager is never held up.
    QCoreApplication::instance()->installEventFilter(this);
    if (auto *application = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(
            application, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager &) { requestEnd(); }, Qt::DirectConnection);
        connect(
            application, &QGuiApplication::saveStateRequest, this,
            [this](QSessionManager &) { requestEnd(); }, Qt::DirectConnection);
    }
    m_window->show();
}

QuorvelTranslateMacApp::~QuorvelTranslateMacApp()
{
    // Views observe the model: they go first.
    m_sleepGuard.reset();
    m_sleepLock.reset();
    m_menuBar.reset();
    m_history.reset();
    m_window.reset();
    m_delegate.reset();
    // The recorder writes while the model announces its last changes; the journal then writes
    // what is still queued before it closes.
    m_recorder.reset();
    m_journal.reset();
}

void QuorvelTranslateMacApp::openJournal()
{
    CaptionJournal::Options options;
    options.retainedSessions = HistorySettings::retainedSessions();
    JournalOpening opening = openJournalForUse(CaptionJournal::defaultPath(), options);
    m_journal = std::move(opening.journal);
    if (opening.problem)
        m_model->reportNotice(*opening.problem);
    if (!m_journal) {
        m_journalProblem = opening.problem.value_or(QString());
        return;
    }
    try {
        // What an earlier run left unended was cut off: nothing more of it will come.
        const QList<JournalSession> leftOpen = m_journal->sessionsLeftOpen();
        for (const JournalSession &session : leftOpen) {
            m_journal->markInterrupted(session.id);
            if (!m_interruptedSession && session.captionCount > 0) {
                m_interruptedSession = session.id;
                m_interruptedCaptions = session.captionCount;
            }
        }
    } catch (const JournalFailure &failure) {
        m_model->reportNotice(failure.errorDescription());
    }
    connect(m_journal.get(), &CaptionJournal::writeFailed, m_model.get(), [this] {
        if (const auto failure = m_journal->writeFailure())
            m_model->reportNotice(failure->errorDescription());
    });
    m_recorder = std::make_unique<SessionRecorder>(
        *m_model, *m_journal, [] { return HistorySettings::keepsLocalHistory(); });
}

void QuorvelTranslateMacApp::openWorkspace()
{
    m_window->open();
}

void QuorvelTranslateMacApp::openHistory(std::optional<qint64> session)
{
    if (!m_history) {
        m_history = std::make_unique<HistoryWindow>(
            m_journal.get(), TranscriptExport::desktop(), m_journalProblem);
    }
    if (session)
        m_history->openSession(*session);
    m_history->show();
    m_history->raise();
    m_history->activateWindow();
}

void QuorvelTranslateMacApp::searchHistory()
{
    openHistory();
    m_history->focusSearch();
}

void QuorvelTranslateMacApp::exportLiveSession(const HistoryPresenter::ExportChoice &choice)
{
    QList<JournalCaption> captions;
    try {
        // What the recorder queued a moment ago is read too.
        if (m_journal && m_journal->flush(std::chrono::seconds(2))) {
            if (const std::optional<qint64> session
                = m_recorder ? m_recorder->journalSession() : std::nullopt)
                captions = m_journal->captions(*session);
        }
    } catch (const JournalFailure &failure) {
        return m_model->reportNotice(failure.errorDescription());
    }
    if (captions.isEmpty())
        return m_model->reportNotice(liveExportUnavailable);
    const QString content = exportJournalCaptions(captions, choice.format, choice.text);
    saveExport(TranscriptExport::desktop().chooseSaveLocation,
        HistoryPresenter::exportFileName(QStringLiteral("Quorvel字幕"), choice), content, this,
        [this](const QString &, std::optional<ExportWriteFailure> failure) {
            if (failure)
                m_model->reportNotice(exportWriteFailureText(*failure));
        });
}

void QuorvelTranslateMacApp::requestQuit()
{
    if (m_delegate->shouldTerminate() == QuitReply::now)
        Q_EMIT terminate();
}

void QuorvelTranslateMacApp::requestEnd()
{
    if (m_delegate->shouldEnd() == QuitReply::now)
        Q_EMIT terminate();
}

bool QuorvelTranslateMacApp::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != QCoreApplication::instance() || event->type() != QEvent::Quit)
        return QObject::eventFilter(watched, event);
    requestEnd();
    return true;
}

void QuorvelTranslateMacApp::signalReceived()
{
    // Whoever sends a second signal will not wait any longer (and a session manager follows
    // with SIGKILL anyway): what is not settled stays on record for the next launch.
    if (++m_signals > 1)
        Q_EMIT terminate();
    else
        requestEnd();
}

} // namespace TranslateMac
