#pragma once

#include "TranslateMac/Screens/History/HistoryPresenter.h"
#include "TranslateMac/Screens/Workspace/TranscriptCaptionRow.h"

#include "TranslateCore/Async/TaskHandle.h"

#include <QCoroTask>
#include <QWidget>

#include <optional>

class QLabel;
class QPushButton;
class QStackedWidget;
class QToolButton;

namespace TranslateMac {

class AppModel;
class ExportMenu;
class FollowingCaptions;
class InterruptedSessionBanner;
class LagIndicator;
class LevelMeter;
class StatusPill;
class TranscriptEmptyState;

// The workspace's right side: state and direction, the captions, one message, and the footer
// with the level, the points and the start/stop button.
class TranscriptPane : public QWidget {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds copiedDuration { 1500 };

    explicit TranscriptPane(AppModel &model, QWidget *parent = nullptr);

    double subtitleSize() const { return m_rowStyle.size; }
    bool followLatest() const { return m_followLatest; }
    bool copied() const { return m_copied; }
    bool showsCaptions() const;
    FollowingCaptions &captions() const { return *m_captions; }
    TranscriptEmptyState &emptyState() const { return *m_empty; }
    QPushButton &actionButton() const { return *m_action; }
    LevelMeter &levelMeter() const { return *m_meter; }
    LagIndicator &lagIndicator() const { return *m_lag; }
    InterruptedSessionBanner &interruptedBanner() const { return *m_interrupted; }
    ExportMenu &exportMenu() const { return *m_exportMenu; }
    // Offers the session an earlier run left cut off, with `savedCaptions` captions, until the
    // user opens or closes the offer.
    void offerInterruptedSession(qint64 sessionId, qint64 savedCaptions);
    // The texts currently shown.
    QString hintText() const;
    QString hintHelp() const;
    QString messageText() const;
    QString usageText() const;
    QString usedText() const;
    QString elapsedText() const;
    QString levelHelpText() const;

Q_SIGNALS:
    // The user asked for the history: opened at a session, or with its search field (Ctrl+F).
    void historyRequested(std::optional<qint64> session);
    void historySearchRequested();
    // A format other than the plain text was chosen for this session: those are written from
    // the journal's record of it, which has the captions' times (the plain text is the model's).
    void exportRequested(const HistoryPresenter::ExportChoice &choice);

private:
    QWidget *buildHeader();
    QWidget *buildFooter();
    bool eventFilter(QObject *watched, QEvent *event) override;
    void fitFooter();
    void refresh();
    void refreshLevel();
    void refreshElapsed();
    void refreshCaptions();
    void setSubtitleSize(double size);
    void setFollowLatest(bool following);
    void copy();
    QCoro::Task<> clearCopiedLater(TranslateCore::CancellationToken token);
    void runAction();
    // Ctrl+Return / Ctrl+.: the footer button's action when it shows that key and is enabled.
    void runShortcut(const QString &keys);

    AppModel &m_model;
    bool m_followLatest = true;
    bool m_copied = false;
    TranscriptRowStyle m_rowStyle;
    TranslateCore::TaskHandle m_copiedReset;
    StatusPill *m_status = nullptr;
    QLabel *m_route = nullptr;
    QWidget *m_clock = nullptr;
    QWidget *m_footer = nullptr;
    QLabel *m_elapsed = nullptr;
    LagIndicator *m_lag = nullptr;
    QToolButton *m_follow = nullptr;
    QToolButton *m_copy = nullptr;
    ExportMenu *m_exportMenu = nullptr;
    QToolButton *m_overlay = nullptr;
    InterruptedSessionBanner *m_interrupted = nullptr;
    QStackedWidget *m_body = nullptr;
    TranscriptEmptyState *m_empty = nullptr;
    FollowingCaptions *m_captions = nullptr;
    QLabel *m_message = nullptr;
    LevelMeter *m_meter = nullptr;
    QLabel *m_levelHelp = nullptr;
    QLabel *m_usage = nullptr;
    QLabel *m_used = nullptr;
    QWidget *m_hint = nullptr;
    QLabel *m_hintIcon = nullptr;
    QLabel *m_hintText = nullptr;
    QPushButton *m_action = nullptr;
};

} // namespace TranslateMac
