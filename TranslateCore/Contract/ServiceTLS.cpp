#include "ServiceTLS.h"

#include <QFile>
#include <QSslCertificate>

namespace TranslateCore {

namespace {

QSslConfiguration makeConfiguration()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
#ifdef QUORVEL_DEVELOPMENT_ENDPOINT
    const QString path = qEnvironmentVariable("QUORVEL_SERVICE_CA");
    if (!path.isEmpty()) {
        const QList<QSslCertificate> certificates = QSslCertificate::fromPath(path, QSsl::Pem);
        if (certificates.isEmpty())
            qFatal("QUORVEL_SERVICE_CA names no readable PEM certificate: %s", qPrintable(path));
        configuration.addCaCertificates(certificates);
    }
#endif
    return configuration;
}

} // namespace

const QSslConfiguration &serviceTLSConfiguration()
{
    static const QSslConfiguration configuration = makeConfiguration();
    return configuration;
}

} // namespace TranslateCore
