#pragma once

#include "ClientFrameReader.h"
#include "ConnectionLimits.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QSslSocket>
#include <QTimer>

#include <functional>

namespace LocalService {

// Watches the requests arriving on one connection before the HTTP server reads them: a header
// section or body over the limits is answered with 431 / 413 and the connection closed; a request
// that takes too long to arrive, or a kept-alive connection that stays silent, is closed. Once a
// request asks for a WebSocket upgrade, the guard follows the frames of the upgraded connection
// and fails it (close 1002, then drop) at the first unmasked frame; when the upgrade is refused
// instead, it counts and discards whatever the client still sends.
class ConnectionGuard : public QObject {
    Q_OBJECT
public:
    // Must be installed before the HTTP server connects to `socket`, so that it sees new bytes
    // first; `watchAfterServer()` once the server has connected.
    ConnectionGuard(QSslSocket *socket, const ConnectionLimits &limits);
    void watchAfterServer();

    // The guard of `socket`, if it has one.
    static ConnectionGuard *of(QObject *socket);
    // The service refused the upgrade with an HTTP answer: the connection is not upgraded, every
    // byte the client still sends is reported to `received` and discarded, and after a short
    // grace the connection is closed (`closed` is reported once it has ended).
    void upgradeRefused(std::function<void(qint64 bytes, bool closed)> received);
    // The service lets the WebSocket server upgrade the connection: from then on the client's
    // frames are checked.
    void upgradeAccepted();

private:
    enum class Phase { idle, headers, body, upgrading, frames, refusedUpgrade, refused };

    void arrived();
    void consumedByServer();
    void inspect(const QByteArray &bytes);
    void endOfHeaders();
    void refuse(int status);
    void close();
    // The HTTP server lets go of every connection it upgrades; the guard attaches again.
    void attachAfterUpgrade();
    void arrivedAfterUpgrade();
    QByteArray freshFrameBytes();
    void failUnmasked();

    QPointer<QSslSocket> m_socket;
    ConnectionLimits m_limits;
    QTimer m_deadline;
    Phase m_phase = Phase::idle;
    qint64 m_leftInBuffer = 0; // bytes the server left unread after the last arrival
    QByteArray m_header; // the current request's header section, up to the limit
    qint64 m_bodyLeft = 0;
    qint64 m_upgradeRequestBytes = 0; // the upgrade request's own bytes, still in the buffer
    std::function<void(qint64, bool)> m_refusedUpgradeBytes;
    // Upgraded: an open read transaction keeps every byte in the socket's buffer; `m_held` of them
    // (those the WebSocket had not read at the last arrival) have been followed already.
    qint64 m_held = 0;
    ClientFrameReader m_frames;
};

} // namespace LocalService
