#pragma once

#include "TranslateMac/Screens/History/HistoryPresenter.h"

#include "TranslateCore/Async/Clock.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace TranslateMac {

class AppDelegate;
class AppModel;
class CaptionJournal;
class HistoryWindow;
class MenuBarControls;
class SessionRecorder;
class SleepGuard;
class SleepLock;
class WorkspaceWindow;

// The application: the one model, the workspace window, the tray menu and the delegate that
// owns the floating subtitles and the guarded quit.
class QuorvelTranslateMacApp : public QObject {
    Q_OBJECT

public:
    // The name the desktop knows the application by: its .desktop file, icon, metainfo and window
    // class.
    static const QString desktopName;
    // Told when a format with times is asked for a session the journal holds nothing of (the
    // local history was off, or could not be opened).
    static const QString liveExportUnavailable;
    // Before the application object exists: the display platform and the names the settings
    // and the desktop use.
    static void prepareProcess();

    // Builds the model (restoring the saved sign-in), the window and the tray, and shows the
    // window.
    explicit QuorvelTranslateMacApp(
        TranslateCore::Clock &clock = TranslateCore::SystemClock::shared(),
        QObject *parent = nullptr);
    // The same around a model built elsewhere (one talking to another service).
    explicit QuorvelTranslateMacApp(std::unique_ptr<AppModel> model,
        TranslateCore::Clock &clock = TranslateCore::SystemClock::shared(),
        QObject *parent = nullptr);
    ~QuorvelTranslateMacApp() override;

    AppModel &model() const { return *m_model; }
    AppDelegate &delegate() const { return *m_delegate; }
    WorkspaceWindow &window() const { return *m_window; }
    MenuBarControls &menuBarControls() const { return *m_menuBar; }
    // The local history; nothing when it could not be opened this time (the user was told).
    CaptionJournal *journal() const { return m_journal.get(); }
    // The newest session an earlier run left unended (a crash, a kill, a power cut), offered to
    // the user at launch; its journal id.
    std::optional<qint64> interruptedSession() const { return m_interruptedSession; }

    // Brings the workspace window forward, showing it again after it was closed.
    void openWorkspace();
    // Brings the history window forward (made on first use), opened at `session` when given.
    void openHistory(std::optional<qint64> session = {});
    // The history with the cursor in its search field.
    void searchHistory();
    // The history window, once it was opened.
    HistoryWindow *historyWindow() const { return m_history.get(); }

    // Asks to quit; `terminate` follows at once or after the running translation has settled.
    void requestQuit();
    // The desktop ends the program (logout): `terminate` follows once the running translation
    // has settled, or at the latest after the guarded quit's bound.
    void requestEnd();
    // A termination signal arrived: the first one is a bounded end, another one ends at once.
    void signalReceived();

Q_SIGNALS:
    // The application may end now.
    void terminate();

protected:
    // The session manager's "die" (and any other request to quit the application object) is a
    // bounded end too, never a quit that closes the windows and skips the settlement.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void openJournal();
    // The live session in a format with times, from what the journal recorded of it.
    void exportLiveSession(const HistoryPresenter::ExportChoice &choice);

    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<CaptionJournal> m_journal;
    std::unique_ptr<SessionRecorder> m_recorder;
    // Why there is no journal this time, for the history window.
    QString m_journalProblem;
    std::optional<qint64> m_interruptedSession;
    qint64 m_interruptedCaptions = 0;
    std::unique_ptr<AppDelegate> m_delegate;
    std::unique_ptr<WorkspaceWindow> m_window;
    std::unique_ptr<HistoryWindow> m_history;
    std::unique_ptr<MenuBarControls> m_menuBar;
    std::unique_ptr<SleepLock> m_sleepLock;
    std::unique_ptr<SleepGuard> m_sleepGuard;
    int m_signals = 0;
};

} // namespace TranslateMac
