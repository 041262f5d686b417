#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

// A running quorvel-local-service on an ephemeral loopback port, stopped on destruction.
class LocalServiceProcess {
public:
    // Starts the executable with the test certificates and `extraArguments`, and waits (10 s at
    // most) for its "listening on" line. Check isRunning(); failure() tells why it did not start.
    explicit LocalServiceProcess(const QStringList &extraArguments = {});
    ~LocalServiceProcess();
    LocalServiceProcess(const LocalServiceProcess &) = delete;
    LocalServiceProcess &operator=(const LocalServiceProcess &) = delete;

    bool isRunning() const;
    // The service's process id (0 when it is not running); its child processes are its own.
    qint64 processId() const;
    QString failure() const { return m_failure; }

    QString origin() const { return m_origin; } // "https://127.0.0.1:PORT"
    QUrl base() const; // the REST root a client is built with: "https://127.0.0.1:PORT/api/"
    quint16 port() const { return m_port; }
    // What the service printed at start; control() sends it in the "X-Control-Secret" header.
    QByteArray controlSecret() const { return m_controlSecret; }
    static QString certsDir();
    QString caPath() const; // the CA that signed the service's certificate
    // TLS settings that trust the service's CA (for tests that talk to it directly).
    QSslConfiguration tlsConfiguration() const;

    // Points the client at this service: QUORVEL_SERVICE_ORIGIN and QUORVEL_SERVICE_CA.
    void exportEndpoint() const;

    // Calls the control interface ("/control/..." or just "reset") and returns the JSON answer.
    // Runs a nested event loop; a transport error or a non-2xx answer is handed to the failure
    // handler, which by default fails the current test.
    QJsonValue control(const QByteArray &method, const QString &path, const QJsonObject &body = {});
    void reset();
    // Makes the next answer(s) for `path` (below "/api/") follow `answer` (status, body, delay...).
    void fault(const QString &path, QJsonObject answer);
    // The requests received for `path` (below "/api/") since the last reset, oldest first.
    QList<QJsonObject> requestsTo(const QString &path);
    // Replaces how control() reports a failed call (for programs that run outside a test).
    void setFailureHandler(std::function<void(const QString &)> handler);

private:
    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<QNetworkAccessManager> m_network;
    QString m_origin;
    quint16 m_port = 0;
    QByteArray m_controlSecret;
    QString m_failure;
    std::function<void(const QString &)> m_failureHandler;
};
