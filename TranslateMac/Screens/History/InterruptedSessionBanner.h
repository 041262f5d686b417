#pragma once

#include <QWidget>

class QLabel;

namespace TranslateMac {

// The workspace's offer of what an earlier run saved before it was cut off (a crash, a kill, a
// power cut): one line, "查看" to open it in the history, and × to put the offer away.
class InterruptedSessionBanner : public QWidget {
    Q_OBJECT

public:
    explicit InterruptedSessionBanner(QWidget *parent = nullptr);

    // Shows the offer for `savedCaptions` captions of the session with journal id `sessionId`.
    void offer(qint64 sessionId, qint64 savedCaptions);
    QString text() const;

Q_SIGNALS:
    // "查看" was pressed; the banner is gone.
    void viewRequested(qint64 sessionId);

private:
    QLabel *m_text = nullptr;
    qint64 m_sessionId = 0;
};

} // namespace TranslateMac
