#include "ServiceServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "quorvel-local-service: %s\n", qPrintable(message));
    std::exit(2);
}

qint64 number(const QCommandLineParser &parser, const QString &name, qint64 fallback)
{
    if (!parser.isSet(name))
        return fallback;
    bool ok = false;
    const qint64 value = parser.value(name).toLongLong(&ok);
    if (!ok || value < 0)
        fail(QStringLiteral("--%1 needs a non-negative number").arg(name));
    return value;
}

// Replaces the file's content; created with mode 0600, and a link in its place is refused.
void writeSecret(const QString &path, const QString &secret)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd
        = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    const QByteArray text = secret.toUtf8() + '\n';
    const bool written = fd >= 0 && ::fchmod(fd, 0600) == 0
        && ::write(fd, text.constData(), size_t(text.size())) == text.size();
    if (fd >= 0)
        ::close(fd);
    if (!written)
        fail(QStringLiteral("cannot write the control secret to %1").arg(path));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorvel-local-service"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Local stand-in for the Quorvel translation service (loopback only)."));
    parser.addHelpOption();
    parser.addOptions({
        { "port", "TCP port on 127.0.0.1 (0 = any free port).", "N", "0" },
        { "cert", "Server certificate (PEM).", "PEM" },
        { "key", "Server private key (PEM).", "PEM" },
        { "token-lifetime-ms", "Access-token lifetime.", "N", "3600000" },
        { "heartbeat-ms", "heartbeatIntervalMs sent in session.ready.", "N", "15000" },
        { "demo", "Print every SMS code on stdout." },
        { "handshake-timeout-ms", "Longest TLS handshake.", "N", "10000" },
        { "request-timeout-ms", "Longest time for one request to arrive.", "N", "10000" },
        { "idle-timeout-ms", "Longest silence of a kept-alive connection.", "N", "60000" },
        { "control-secret-file", "Also write the control secret to this file (mode 0600).",
            "PATH" },
        { "recogniser",
            "tone (tone captions on every route) or speech (offline English recognition and "
            "translation on the routes the installed Apertium pairs serve).",
            "KIND", "tone" },
        { "speech-grammar", "Recognise only the sentences of this JSGF grammar (speech).", "PATH" },
        { "apertium-modes", "Folder of the Apertium mode files (speech).", "DIR",
            "/usr/share/apertium/modes" },
        { "translation-timeout-ms", "Longest wait for one sentence's translation (speech).", "N",
            "3000" },
        { "abandoned-session-ms",
            "End and charge a session that has had no socket for this long (0 = never).", "N",
            "60000" },
    });
    parser.process(app);

    if (!parser.isSet("cert") || !parser.isSet("key"))
        fail(QStringLiteral("--cert and --key are required"));
    const QSslCertificate certificate(readFile(parser.value("cert")));
    QSslKey key(readFile(parser.value("key")), QSsl::Ec);
    if (key.isNull())
        key = QSslKey(readFile(parser.value("key")), QSsl::Rsa);
    if (certificate.isNull() || key.isNull())
        fail(QStringLiteral("cannot read the certificate or the key"));

    LocalService::ServiceOptions options;
    options.tokenLifetimeMs = number(parser, "token-lifetime-ms", options.tokenLifetimeMs);
    options.heartbeatMs = number(parser, "heartbeat-ms", options.heartbeatMs);
    options.demo = parser.isSet("demo");
    options.limits.handshakeTimeoutMs
        = number(parser, "handshake-timeout-ms", options.limits.handshakeTimeoutMs);
    options.limits.requestTimeoutMs
        = number(parser, "request-timeout-ms", options.limits.requestTimeoutMs);
    options.limits.idleTimeoutMs = number(parser, "idle-timeout-ms", options.limits.idleTimeoutMs);
    options.abandonedSessionMs = number(parser, "abandoned-session-ms", options.abandonedSessionMs);
    std::unique_ptr<LocalService::SpeechRecogniser> loaded;
    const QString recogniser = parser.value("recogniser");
    if (recogniser != QLatin1String("tone") && recogniser != QLatin1String("speech"))
        fail(QStringLiteral("--recogniser must be tone or speech"));
    if (recogniser == QLatin1String("speech")) {
        options.recogniser = LocalService::RecogniserKind::speech;
        options.speechModel.grammar = parser.value("speech-grammar");
        options.apertiumModes = parser.value("apertium-modes");
        options.translationTimeoutMs = int(qMin<qint64>(
            number(parser, "translation-timeout-ms", options.translationTimeoutMs), 600000));
        // A model that does not load is reported now rather than at the first session, and the
        // recogniser loaded serves the first socket without a wait.
        loaded = LocalService::SpeechRecogniser::create(options.speechModel, 1);
        if (!loaded)
            fail(QStringLiteral("cannot load the speech recogniser's models"));
    }
    options.controlSecret = LocalService::randomToken(24);
    if (parser.isSet("control-secret-file"))
        writeSecret(parser.value("control-secret-file"), options.controlSecret);
    const qint64 port = number(parser, "port", 0);
    if (port > 65535)
        fail(QStringLiteral("--port must be 0..65535"));

    LocalService::ServiceServer server(options);
    server.recycleRecogniser(std::move(loaded));
    if (server.start(certificate, key, quint16(port)) == 0)
        fail(QStringLiteral("cannot listen on 127.0.0.1:%1").arg(port));
    // Only who can read this output (or the 0600 file) may use the control interface.
    std::printf("control secret: %s\n", qPrintable(options.controlSecret));
    std::printf("listening on %s\n", qPrintable(server.origin()));
    std::fflush(stdout);
    return app.exec();
}
