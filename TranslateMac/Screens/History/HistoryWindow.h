#pragma once

#include "TranslateMac/AppModel/TranscriptExport.h"
#include "TranslateMac/Journal/JournalRecords.h"
#include "TranslateMac/Screens/History/HistoryPresenter.h"

#include <QList>
#include <QPointer>
#include <QTimeZone>
#include <QWidget>

#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMessageBox;
class QSpinBox;
class QStackedWidget;
class QTimer;
class QToolButton;

namespace TranslateMac {

class CaptionJournal;
class ExportMenu;
class HistoryCaptionList;

// The local history: past sessions newest first, one of them open with its captions (read-only,
// copied and exported like the live transcript), a search over every session's captions, deleting
// a session or all of them, and the local-history settings.
class HistoryWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int searchLimit = 500;
    static constexpr QSize defaultSize { 1040, 700 };

    // `journal` may be null when it could not be opened; `unavailableReason` then tells the user
    // why. `seams` are the clipboard and the save dialog.
    HistoryWindow(CaptionJournal *journal, TranscriptExport seams,
        const QString &unavailableReason = {}, QWidget *parent = nullptr);
    ~HistoryWindow() override;

    // Shows a session's captions; with `sequence`, scrolled to that caption and marked.
    void openSession(qint64 sessionId, std::optional<qint64> sequence = std::nullopt);
    // Puts the cursor in the search field, its text selected.
    void focusSearch();
    // Searches for `words` at once, as typing them in the search field does after a pause.
    void search(const QString &words);

    std::optional<qint64> openSessionId() const
    {
        return m_open ? std::optional(m_open->id) : std::nullopt;
    }
    bool showsResults() const { return m_showsResults; }
    QLineEdit &searchField() const { return *m_search; }
    QListWidget &list() const { return *m_list; }
    HistoryCaptionList &captions() const { return *m_captions; }
    ExportMenu &sessionExportMenu() const { return *m_sessionExport; }
    ExportMenu &resultsExportMenu() const { return *m_resultsExport; }
    QCheckBox &keepToggle() const { return *m_keep; }
    QSpinBox &retainedField() const { return *m_retained; }
    // The confirmation being asked, if any.
    QMessageBox *confirmation() const;
    QString headingText() const;
    QString titleText() const;
    QString summaryText() const;
    QString placeholderText() const;
    QString statusText() const;
    bool statusIsFailure() const { return m_statusIsFailure; }

private:
    QWidget *buildSidebar();
    QWidget *buildDetail();
    void refresh();
    void readSessions();
    void showList();
    void runSearch();
    void itemChosen();
    void showSession(const JournalSession &session);
    // The open session's title, "中断" mark and summary.
    void showHeader();
    void closeSession();
    void showPlaceholder();
    void copySession();
    void exportSession(const HistoryPresenter::ExportChoice &choice);
    void exportResults(const HistoryPresenter::ExportChoice &choice);
    void save(const QString &proposedName, const QString &content);
    void confirmDelete();
    void confirmClear();
    void retainedChanged(int count);
    void applyRetained(int count);
    void ask(const QString &title, const QString &text, const QString &action,
        std::function<void()> confirmed, std::function<void()> declined = {});
    void setStatus(const QString &text, bool failure);
    // Reads from the journal, telling the user when reading failed.
    template <typename Read> bool reading(const Read &read);

    CaptionJournal *m_journal;
    TranscriptExport m_export;
    const QString m_unavailable;
    const QTimeZone m_zone;
    QList<JournalSession> m_sessions;
    QList<JournalSearchHit> m_hits;
    std::optional<JournalSession> m_open;
    QList<JournalCaption> m_openCaptions;
    bool m_showsResults = false;
    bool m_statusIsFailure = false;

    QLineEdit *m_search = nullptr;
    QTimer *m_searchDelay = nullptr;
    QLabel *m_heading = nullptr;
    QToolButton *m_resultsExportButton = nullptr;
    ExportMenu *m_resultsExport = nullptr;
    QListWidget *m_list = nullptr;
    QCheckBox *m_keep = nullptr;
    QSpinBox *m_retained = nullptr;
    QStackedWidget *m_detail = nullptr;
    QLabel *m_placeholder = nullptr;
    QWidget *m_sessionView = nullptr;
    QLabel *m_title = nullptr;
    QLabel *m_mark = nullptr;
    QLabel *m_summary = nullptr;
    QToolButton *m_copy = nullptr;
    ExportMenu *m_sessionExport = nullptr;
    HistoryCaptionList *m_captions = nullptr;
    QLabel *m_status = nullptr;
    QPointer<QMessageBox> m_confirmation;
};

} // namespace TranslateMac
