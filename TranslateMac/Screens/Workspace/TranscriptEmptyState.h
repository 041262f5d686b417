#pragma once

#include <QWidget>

class QLabel;

namespace TranslateMac {

// What the transcript pane shows before the first caption: the three steps to a translation,
// or, once a translation runs, that it waits for sound.
class TranscriptEmptyState : public QWidget {
    Q_OBJECT

public:
    explicit TranscriptEmptyState(QWidget *parent = nullptr);
    void show(bool owningSession, bool accessConfirmed, bool routeSelected);
    bool showsWaiting() const;

private:
    QWidget *m_waiting = nullptr;
    QWidget *m_steps = nullptr;
    QLabel *m_sourceDone = nullptr;
    QLabel *m_routeDone = nullptr;
};

} // namespace TranslateMac
