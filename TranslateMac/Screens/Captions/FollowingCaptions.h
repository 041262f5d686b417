#pragma once

#include "TranslateMac/Screens/Captions/CaptionRowView.h"
#include "TranslateMac/Screens/Captions/FollowState.h"
#include "TranslateMac/Screens/Captions/SteadyText.h"

#include "TranslateCore/Subtitles/Caption.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QWidget>

#include <optional>

class QGraphicsOpacityEffect;
class QPropertyAnimation;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace TranslateMac {

// A scrolling caption list that keeps the newest caption in view while following. Scrolling
// back (or, where asked, dragging inside the list) stops following; changes of the newest
// caption are then counted and a button over the list returns to the latest.
class FollowingCaptions : public QWidget {
    Q_OBJECT

public:
    struct Options {
        int fade = 32; // height of the fade band at the top
        int endPadding = 18; // space below the last row
        bool pauseOnDrag = true;
        QColor fadeColour; // the background the band fades into
        bool showsScrollBar = true;
        // Rows the list's edges would cut are left out (all but the latest, and rows taller
        // than the list): subtitles show whole lines or none.
        bool onlyWholeRows = false;
        // Whether the way back to the newest shows under the list; without, its owner shows
        // returnLabel() where it has room, on returnChanged().
        bool showsReturnButton = true;
    };

    FollowingCaptions(Options options, CaptionRowFactory row, QWidget *parent = nullptr);
    ~FollowingCaptions() override;

    // An empty list clears the list and its state: following again, nothing unseen.
    void setCaptions(const QList<TranslateCore::Caption> &captions);
    // The background under the list, which the fade at the top blends into.
    void setFadeColour(const QColor &background);
    // Shows every row again (after a change of text size or style).
    void refreshRows();

    const Options &options() const { return m_options; }
    bool following() const { return m_state.following(); }
    void setFollowing(bool following);
    int unseen() const { return m_state.unseen(); }
    qint64 lastSequence() const { return m_state.lastSequence(); }

    // The caption with that sequence as shown (held steady), if the list holds it.
    std::optional<ShownCaption> shownCaption(qint64 sequence) const;

    int rowCount() const { return int(m_rows.size()); }
    CaptionRowView *rowAt(int index) const;
    QScrollArea &scrollArea() const { return *m_scroll; }
    QPushButton &returnButton() const { return *m_return; }
    QString returnLabel() const;
    // A button in the look of the way back to the newest, for an owner that shows it itself.
    static QPushButton *makeReturnButton(QWidget *parent);
    // Whether the list shows its bottom end.
    bool showsLatest() const;

Q_SIGNALS:
    void followingChanged(bool following);
    // Following or the count of new captions changed.
    void returnChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void clear();
    void reconcileRows(const QList<TranslateCore::Caption> &previous);
    void animateIn(CaptionRowView *row);
    void animateOut(CaptionRowView *row);
    void scrollToLatest();
    void placeOverlays();
    void refreshReturnButton();
    void leaveOutCutRows();
    void installMonitor();
    void removeMonitor();

    Options m_options;
    CaptionRowFactory m_makeRow;
    FollowState m_state;
    QList<TranslateCore::Caption> m_captions;
    QList<CaptionRowView *> m_rows;
    QHash<qint64, CaptionRowView *> m_rowsBySequence;
    // Each caption's two texts held steady, and the caption as shown.
    struct Steady {
        SteadyText source;
        SteadyText target;
        ShownCaption shown;
    };
    QHash<qint64, Steady> m_steady;
    bool m_hasShownCaptions = false;
    QScrollArea *m_scroll = nullptr;
    QVBoxLayout *m_rowsLayout = nullptr;
    QWidget *m_fadeBand = nullptr;
    QGraphicsOpacityEffect *m_fadeMask = nullptr;
    QWidget *m_returnRow = nullptr;
    QPushButton *m_return = nullptr;
    QPointer<QWidget> m_region; // the list's viewport, for hit-testing pointer events
    QPropertyAnimation *m_scrollAnimation = nullptr;
    bool m_monitoring = false;
};

} // namespace TranslateMac
