#pragma once

#include "ConnectionLimits.h"

#include <QList>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>

namespace LocalService {

// The listening TLS port. It runs the TLS handshakes itself, each bounded in time and their number
// bounded (the oldest gives way to a new one), and hands only encrypted connections to the HTTP
// server, each under a ConnectionGuard. Qt's own TLS server keeps at most 30 connections waiting
// and never gives up on a handshake, so 30 silent clients would stop it accepting for good.
class GuardedListener : public QTcpServer {
public:
    GuardedListener(QSslConfiguration tls, ConnectionLimits limits, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void encrypted(QSslSocket *socket);
    void forget(QSslSocket *socket);

    QSslConfiguration m_tls;
    ConnectionLimits m_limits;
    QList<QPointer<QSslSocket>> m_handshaking; // oldest first
};

} // namespace LocalService
