#include "support/LocalServiceProcess.h"

#include "TranslateCore/Contract/ProductionEndpoint.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QTimer>

#include <gtest/gtest.h>

namespace {
constexpr int startLimitMs = 10000;
constexpr int controlLimitMs = 10000;
} // namespace

QString LocalServiceProcess::certsDir()
{
#ifdef QUORVEL_TEST_CERTS_DIR
    return TestSupport::buildPath(QUORVEL_TEST_CERTS_DIR);
#else
    return QString();
#endif
}

QString LocalServiceProcess::caPath() const
{
    return certsDir() + QStringLiteral("/test-ca.pem");
}

LocalServiceProcess::LocalServiceProcess(const QStringList &extraArguments)
    : m_failureHandler([](const QString &message) { ADD_FAILURE() << message.toStdString(); })
{
#ifndef QUORVEL_LOCAL_SERVICE_PATH
    Q_UNUSED(extraArguments);
    m_failure = QStringLiteral("this build has no quorvel-local-service");
#else
    const QString program = TestSupport::buildPath(QUORVEL_LOCAL_SERVICE_PATH);
    if (!QFile::exists(program) || !QFile::exists(caPath())) {
        m_failure
            = QStringLiteral("missing %1 or the test certificates in %2").arg(program, certsDir());
        return;
    }
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(program,
        QStringList { QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--cert"),
            certsDir() + QStringLiteral("/server.pem"), QStringLiteral("--key"),
            certsDir() + QStringLiteral("/server.key") }
            + extraArguments);
    static const QRegularExpression secretLine(
        QRegularExpression::anchoredPattern(QStringLiteral("control secret: (\\S+)")));
    static const QRegularExpression line(QRegularExpression::anchoredPattern(
        QStringLiteral("listening on (https://127\\.0\\.0\\.1:([0-9]+))")));
    const QDeadlineTimer deadline(startLimitMs);
    QByteArray output;
    while (!deadline.hasExpired()) {
        if (m_process->state() == QProcess::NotRunning
            && !m_process->waitForStarted(int(deadline.remainingTime())))
            break;
        if (!m_process->canReadLine()
            && !m_process->waitForReadyRead(int(deadline.remainingTime())))
            break;
        while (m_process->canReadLine()) {
            const QString text = QString::fromUtf8(m_process->readLine()).trimmed();
            if (const QRegularExpressionMatch secret = secretLine.match(text); secret.hasMatch())
                m_controlSecret = secret.captured(1).toUtf8();
            const QRegularExpressionMatch match = line.match(text);
            if (match.hasMatch()) {
                m_origin = match.captured(1);
                m_port = quint16(match.captured(2).toUInt());
                m_network = std::make_unique<QNetworkAccessManager>();
                return;
            }
        }
    }
    m_failure = QStringLiteral("quorvel-local-service did not report \"listening on\" within 10 s");
    m_process->kill();
    m_process->waitForFinished(2000);
    m_process.reset();
#endif
}

LocalServiceProcess::~LocalServiceProcess()
{
    m_network.reset();
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(3000)) {
            m_process->kill();
            m_process->waitForFinished(2000);
        }
    }
}

bool LocalServiceProcess::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running && m_port != 0;
}

qint64 LocalServiceProcess::processId() const
{
    return isRunning() ? m_process->processId() : 0;
}

QSslConfiguration LocalServiceProcess::tlsConfiguration() const
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    QFile file(caPath());
    if (file.open(QIODevice::ReadOnly))
        configuration.addCaCertificates(QSslCertificate::fromData(file.readAll()));
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    return configuration;
}

QJsonValue LocalServiceProcess::control(
    const QByteArray &method, const QString &path, const QJsonObject &body)
{
    if (!isRunning()) {
        m_failureHandler(QStringLiteral("the local service is not running: ") + m_failure);
        return {};
    }
    const QString fullPath
        = path.startsWith(QLatin1Char('/')) ? path : QStringLiteral("/control/") + path;
    QNetworkRequest request(QUrl(m_origin + fullPath));
    request.setSslConfiguration(tlsConfiguration());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setRawHeader("X-Control-Secret", m_controlSecret);
    const QByteArray payload
        = method == "GET" ? QByteArray() : QJsonDocument(body).toJson(QJsonDocument::Compact);
    QNetworkReply *reply = m_network->sendCustomRequest(request, method, payload);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(controlLimitMs, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray answer = reply->isFinished() ? reply->readAll() : QByteArray();
    const bool finished = reply->isFinished();
    const QString error = reply->errorString();
    reply->abort();
    reply->deleteLater();
    if (!finished) {
        m_failureHandler(QStringLiteral("control %1 %2 got no answer within 10 s")
                             .arg(QString::fromUtf8(method), fullPath));
        return {};
    }
    if (status < 200 || status > 299) {
        m_failureHandler(QStringLiteral("control %1 %2 answered %3: %4 %5")
                             .arg(QString::fromUtf8(method), fullPath, QString::number(status),
                                 QString::fromUtf8(answer), error));
    }
    const QJsonDocument document = QJsonDocument::fromJson(answer);
    return document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
}

void LocalServiceProcess::reset()
{
    control("POST", QStringLiteral("/control/reset"));
}

void LocalServiceProcess::fault(const QString &path, QJsonObject answer)
{
    answer.insert(QStringLiteral("path"), path);
    control("POST", QStringLiteral("fault"), answer);
}

QList<QJsonObject> LocalServiceProcess::requestsTo(const QString &path)
{
    QList<QJsonObject> found;
    for (const QJsonValue &request :
        control("GET", QStringLiteral("requests"))["requests"].toArray())
        if (request[QStringLiteral("path")] == path)
            found.append(request.toObject());
    return found;
}

void LocalServiceProcess::setFailureHandler(std::function<void(const QString &)> handler)
{
    m_failureHandler = std::move(handler);
}

QUrl LocalServiceProcess::base() const
{
    return TranslateCore::ProductionEndpoint::baseForOrigin(m_origin).value_or(QUrl());
}

void LocalServiceProcess::exportEndpoint() const
{
    qputenv("QUORVEL_SERVICE_ORIGIN", m_origin.toUtf8());
    qputenv("QUORVEL_SERVICE_CA", caPath().toUtf8());
}
