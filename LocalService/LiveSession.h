#pragma once

#include "Recogniser.h"
#include "ServiceState.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QWebSocket>

#include <memory>

namespace LocalService {

class ServiceServer;

// The service's end of one live translation socket: readiness, ping/pong, audio validation,
// captions from the session's recogniser (translated by its pair's pipeline where the recogniser
// does not translate), usage and balance events, and the orderly finish.
class LiveSession : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 bytesPerMinute = 16000 * 2 * 60;
    static constexpr qsizetype smallestAudio = 2;
    static constexpr qsizetype largestAudio = 3200;
    static constexpr qint64 largestIncomingMessage = 1 << 20;

    LiveSession(ServiceServer *server, std::unique_ptr<QWebSocket> socket, Ticket ticket);
    ~LiveSession() override;

    void start();
    bool isOpen() const { return m_open; }
    qint64 sessionId() const { return m_ticket.sessionId; }

    // Control actions.
    void drop();
    // A newer socket took over the session: keep what is open and close with 1001.
    void replace();
    void setReading(bool reading);
    void sendEvent(const QJsonObject &event);
    void sendRaw(const QString &text);
    void sendBinary(const QByteArray &bytes);

    // Settlement: first the open segment is closed, then the socket is ended with 1000, after a
    // "session.finished" when `announce` holds.
    void flushCaptions();
    void closeSettled(const Session &session, bool announce);

private:
    void onText(const QString &text);
    void onBinary(const QByteArray &bytes);
    void onDisconnected();
    void sendReady();
    void sendError(const QString &code, const QString &message);
    void publish(const std::vector<Caption> &captions, bool send);
    void store(const Caption &caption, const std::optional<QString> &target);
    void requestTranslation(const Caption &caption, bool send);
    void translationArrived(const Caption &caption, const QString &text, bool send);
    void sendCaptionEvent(const Caption &caption, bool translation, const QString &text);
    void chargeUsage(Session &session);
    void finishSession();
    void close(QWebSocketProtocol::CloseCode code);
    Session *session();

    ServiceServer *m_server;
    std::unique_ptr<QWebSocket> m_socket;
    QPointer<QTcpSocket> m_tcp;
    Ticket m_ticket;
    std::unique_ptr<Recogniser> m_segmenter;
    QString m_translationPair;
    int m_pendingTranslations = 0;
    // A settlement waits for the translations still under way before the socket is closed.
    std::optional<bool> m_closeWhenTranslated; // the `announce` of that settlement
    bool m_open = true;
    bool m_readySent = false;
    bool m_reading = true;
};

} // namespace LocalService
