#pragma once

#include <QSslConfiguration>

namespace TranslateCore {

// The TLS settings of every connection to the service: the system's trust store with peer
// verification always on. Development builds also trust the one CA certificate named by
// QUORVEL_SERVICE_CA (the local service's); an unreadable file stops the program rather than
// silently connecting without it.
const QSslConfiguration &serviceTLSConfiguration();

} // namespace TranslateCore
