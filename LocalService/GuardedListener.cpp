#include "GuardedListener.h"

#include "ConnectionGuard.h"

#include <QTimer>

namespace LocalService {

GuardedListener::GuardedListener(QSslConfiguration tls, ConnectionLimits limits, QObject *parent)
    : QTcpServer(parent), m_tls(std::move(tls)), m_limits(limits)
{
}

void GuardedListener::incomingConnection(qintptr descriptor)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    m_handshaking.removeIf([](const QPointer<QSslSocket> &s) { return s.isNull(); });
    while (m_handshaking.size() >= m_limits.handshakingConnections) {
        QSslSocket *oldest = m_handshaking.takeFirst();
        oldest->abort();
        oldest->deleteLater();
    }
    m_handshaking.append(socket);

    socket->setSslConfiguration(m_tls);
    auto *timeout = new QTimer(socket);
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, socket, [this, socket] {
        forget(socket);
        socket->abort();
        socket->deleteLater();
    });
    timeout->start(int(m_limits.handshakeTimeoutMs));
    connect(socket, &QSslSocket::encrypted, this, [this, socket, timeout] {
        timeout->deleteLater();
        encrypted(socket);
    });
    connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
        if (m_handshaking.contains(socket)) {
            forget(socket);
            socket->deleteLater();
        }
    });
    // A failed handshake ends in `disconnected`; its errors need no answer.
    connect(socket, &QSslSocket::sslErrors, socket, [] {});
    socket->startServerEncryption();
}

void GuardedListener::encrypted(QSslSocket *socket)
{
    forget(socket);
    auto *guard = new ConnectionGuard(socket, m_limits);
    addPendingConnection(socket); // the HTTP server takes it and connects to it right away
    guard->watchAfterServer();
}

void GuardedListener::forget(QSslSocket *socket)
{
    m_handshaking.removeIf([socket](const QPointer<QSslSocket> &s) { return s == socket; });
}

} // namespace LocalService
