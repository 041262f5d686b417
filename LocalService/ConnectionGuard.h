#pragma once

#include "ConnectionLimits.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QSslSocket>
#include <QTimer>

namespace LocalService {

// Watches the requests arriving on one connection before the HTTP server reads them: a header
// section or body over the limits is answered with 431 / 413 and the connection closed; a request
// that takes too long to arrive, or a kept-alive connection that stays silent, is closed. Once a
// request asks for a WebSocket upgrade the connection belongs to the live session and is no
// longer watched.
class ConnectionGuard : public QObject {
public:
    // Must be installed before the HTTP server connects to `socket`, so that it sees new bytes
    // first; `watchAfterServer()` once the server has connected.
    ConnectionGuard(QSslSocket *socket, const ConnectionLimits &limits);
    void watchAfterServer();

private:
    enum class Phase { idle, headers, body, upgraded, refused };

    void arrived();
    void consumedByServer();
    void inspect(const QByteArray &bytes);
    void endOfHeaders();
    void refuse(int status);
    void close();

    QPointer<QSslSocket> m_socket;
    ConnectionLimits m_limits;
    QTimer m_deadline;
    Phase m_phase = Phase::idle;
    qint64 m_leftInBuffer = 0; // bytes the server left unread after the last arrival
    QByteArray m_header; // the current request's header section, up to the limit
    qint64 m_bodyLeft = 0;
};

} // namespace LocalService
