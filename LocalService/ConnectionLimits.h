#pragma once

#include <QtGlobal>

namespace LocalService {

// What one local client may cost the service. The service serves tests and the demo on a shared
// machine, so a careless or hostile client must not stall it or grow it without bound.
struct ConnectionLimits {
    qint64 handshakeTimeoutMs = 10000; // TLS handshake
    qint64 requestTimeoutMs = 10000; // from a request's first byte to its last
    qint64 idleTimeoutMs = 60000; // a kept-alive connection without a request
    // A refused socket upgrade stays open this long, so that whatever the client still sends in
    // reply to the refusal arrives and is recorded; then it is closed.
    qint64 refusedUpgradeGraceMs = 1000;
    qsizetype headerBytes = 16 * 1024; // request line and headers (431 beyond)
    qsizetype bodyBytes = 1024 * 1024; // request body (413 beyond)
    // Connections still in their TLS handshake; one more drops the oldest, so new clients are
    // always accepted.
    qsizetype handshakingConnections = 256;
};

} // namespace LocalService
