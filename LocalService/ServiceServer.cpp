#include "ServiceServer.h"

#include "ApertiumPipeline.h"
#include "ConnectionGuard.h"
#include "GuardedListener.h"
#include "LiveSession.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <memory>

namespace LocalService {

QString randomToken(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(raw.begin(), raw.end());
    return QString::fromLatin1(
        raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

qint64 monotonicMs()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer.elapsed();
}

qint64 epochMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

std::optional<QJsonObject> parseObject(const QByteArray &body)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

Reply Reply::json(const QJsonObject &object, int status)
{
    return Reply { status, QJsonDocument(object).toJson(QJsonDocument::Compact), "application/json",
        {} };
}

Reply Reply::envelope(int code, const QJsonValue &data, int status)
{
    QJsonObject object { { "code", code } };
    if (!data.isUndefined())
        object.insert("data", data);
    return json(object, status);
}

Reply Reply::ok(const QJsonValue &data)
{
    return envelope(0, data);
}

namespace {

QByteArray methodName(QHttpServerRequest::Method method)
{
    using M = QHttpServerRequest::Method;
    switch (method) {
    case M::Get:
        return "GET";
    case M::Put:
        return "PUT";
    case M::Delete:
        return "DELETE";
    case M::Post:
        return "POST";
    case M::Head:
        return "HEAD";
    case M::Options:
        return "OPTIONS";
    case M::Patch:
        return "PATCH";
    case M::Connect:
        return "CONNECT";
    case M::Trace:
        return "TRACE";
    default:
        return "UNKNOWN";
    }
}

// Recorded request bodies are cut here, so that the record stays bounded.
constexpr qsizetype recordedBodyLimit = 16 * 1024;

const QRegularExpression &socketPath()
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("ws/v1/translation/([0-9]{1,18})")));
    return pattern;
}

// What the WebSocket server checks before it upgrades a connection.
bool isWellFormedUpgrade(const Request &request)
{
    const QByteArray key = request.headers.value("sec-websocket-key").toLatin1();
    const auto decoded
        = QByteArray::fromBase64Encoding(key, QByteArray::AbortOnBase64DecodingErrors);
    const QStringList connection = request.headers.value("connection").split(QLatin1Char(','));
    const bool upgrades = std::any_of(connection.cbegin(), connection.cend(), [](const QString &t) {
        return t.trimmed().compare(QLatin1String("upgrade"), Qt::CaseInsensitive) == 0;
    });
    return request.method == "GET" && decoded && decoded.decoded.size() == 16
        && request.headers.value("sec-websocket-version") == QLatin1String("13") && upgrades;
}

} // namespace

bool ServiceServer::controlAllowed(const Request &request) const
{
    const QByteArray given = request.headers.value("x-control-secret").toUtf8();
    const QByteArray expected = m_options.controlSecret.toUtf8();
    if (expected.isEmpty() || given.size() != expected.size())
        return false;
    char difference = 0; // compared in full, so timing tells nothing
    for (qsizetype i = 0; i < given.size(); ++i)
        difference |= given[i] ^ expected[i];
    return difference == 0;
}

ServiceServer::ServiceServer(ServiceOptions options, QObject *parent)
    : QAbstractHttpServer(parent), m_options(options)
{
    m_state.abandonedSessionMs = m_options.abandonedSessionMs;
    connect(
        this, &QAbstractHttpServer::newWebSocketConnection, this, &ServiceServer::acceptWebSockets);
}

ServiceServer::~ServiceServer()
{
    m_destroying = true;
    const QList<QPointer<LiveSession>> live = std::exchange(m_live, {});
    for (const QPointer<LiveSession> &socket : live)
        delete socket.data();
}

quint16 ServiceServer::start(const QSslCertificate &certificate, const QSslKey &key, quint16 port)
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(certificate);
    tls.setPrivateKey(key);
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    auto *listener = new GuardedListener(tls, m_options.limits, this);
    // Connections are accepted as they come and handed on once encrypted, so nothing waits in
    // the listener's own queue for long.
    listener->setMaxPendingConnections(1024);
    // The kernel's queue of connections not yet accepted; at Qt's default of 50, a burst of
    // clients is left half-open until the kernel retries.
    listener->setListenBacklogSize(1024);
    if (!listener->listen(QHostAddress::LocalHost, port)) {
        delete listener;
        return 0;
    }
    bind(listener);
    m_port = listener->serverPort();
    return m_port;
}

QString ServiceServer::origin() const
{
    return QStringLiteral("https://127.0.0.1:%1").arg(m_port);
}

bool ServiceServer::handleRequest(const QHttpServerRequest &raw, QTcpSocket *socket)
{
    Request request;
    request.method = methodName(raw.method());
    const QString fullPath = raw.url().path();
    request.query = raw.query();
    for (const auto &[name, value] : raw.headers())
        request.headers.insert(QString::fromLatin1(name).toLower(), QString::fromUtf8(value));
    request.body = raw.body();

    if (fullPath.startsWith(QLatin1String("/control/"))) {
        request.path = fullPath;
        respond(raw, socket,
            controlAllowed(request)
                ? dispatchControl(request)
                : Reply::json(
                    QJsonObject { { "error", "wrong or missing X-Control-Secret" } }, 403),
            0);
        return true;
    }
    if (!fullPath.startsWith(QLatin1String("/api/"))) {
        request.path = fullPath;
        respond(raw, socket, devicePage(request), 0);
        return true;
    }

    request.path = fullPath.mid(5);
    QJsonObject headers;
    for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it)
        headers.insert(it.key(), it.value());
    appendCapped(m_state.requests,
        QJsonObject { { "method", QString::fromLatin1(request.method) }, { "path", request.path },
            { "url", fullPath }, { "query", request.query.toString(QUrl::FullyDecoded) },
            { "headers", headers },
            { "body", QString::fromUtf8(request.body.left(recordedBodyLimit)) } });

    if (socketPath().match(request.path).hasMatch()) {
        if (request.headers.value("upgrade").compare("websocket", Qt::CaseInsensitive) != 0) {
            respond(raw, socket, Reply::envelope(4002, QJsonValue::Undefined, 426), 0);
            return true;
        }
        // A handshake the WebSocket server would refuse must not spend the ticket.
        if (!isWellFormedUpgrade(request)) {
            respond(raw, socket, Reply::envelope(4002, QJsonValue::Undefined, 400), 0);
            return true;
        }
        // Returning true without an answer lets the server upgrade the connection; an unusable
        // ticket is refused with an ordinary HTTP answer instead.
        ConnectionGuard *guard = ConnectionGuard::of(socket);
        if (handleSocketUpgrade(request)) {
            if (guard)
                guard->upgradeAccepted();
            return true;
        }
        respond(raw, socket, Reply::envelope(3013, QJsonValue::Undefined, 403), 0);
        if (guard) {
            auto refused = std::make_shared<RefusedUpgrade>();
            appendCapped(m_state.refusedUpgrades, refused);
            guard->upgradeRefused([refused](qint64 bytes, bool closed) {
                refused->bytesAfterAnswer += bytes;
                refused->open = refused->open && !closed;
            });
        }
        return true;
    }

    for (auto it = m_state.faults.begin(); it != m_state.faults.end(); ++it) {
        if (it->path != request.path || it->count <= 0)
            continue;
        const Fault fault = *it;
        if (--it->count <= 0)
            m_state.faults.erase(it);
        if (fault.drop) {
            // Closed from the event loop, once the server is done with this request.
            QTimer::singleShot(0, socket, [socket] { socket->disconnectFromHost(); });
            return true;
        }
        respond(raw, socket, fault.replacesAnswer() ? faultReply(fault) : dispatchApi(request),
            fault.delayMs);
        return true;
    }
    respond(raw, socket, dispatchApi(request), 0);
    return true;
}

void ServiceServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    respond(request, socket, Reply::envelope(404, QJsonValue::Undefined, 404), 0);
}

void ServiceServer::write(QHttpServerResponder &responder, const Reply &reply)
{
    responder.writeStatusLine(QHttpServerResponder::StatusCode(reply.status));
    if (!reply.contentType.isEmpty())
        responder.writeHeader("Content-Type", reply.contentType);
    for (const auto &[name, value] : reply.headers)
        responder.writeHeader(name, value);
    responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
    responder.writeBody(reply.body);
}

void ServiceServer::respond(
    const QHttpServerRequest &request, QTcpSocket *socket, const Reply &reply, qint64 delayMs)
{
    if (delayMs <= 0) {
        QHttpServerResponder responder = makeResponder(request, socket);
        write(responder, reply);
        return;
    }
    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(std::chrono::milliseconds(delayMs), this, [responder, guard, reply] {
        if (guard && guard->state() == QAbstractSocket::ConnectedState)
            write(*responder, reply);
    });
}

Reply ServiceServer::faultReply(const Fault &fault) const
{
    Reply reply;
    reply.status = fault.httpStatus.value_or(fault.redirectTo ? 302 : 200);
    if (fault.redirectTo)
        reply.headers.append({ "Location", fault.redirectTo->toUtf8() });
    if (fault.rawBody) {
        reply.body = *fault.rawBody;
        reply.contentType = "text/html; charset=utf-8";
    } else {
        reply.body = QJsonDocument(
            fault.envelope.value_or(QJsonObject { { "code",
                0 } })).toJson(QJsonDocument::Compact);
    }
    if (fault.bodyBytes && *fault.bodyBytes > reply.body.size())
        reply.body.append(QByteArray(*fault.bodyBytes - reply.body.size(), ' '));
    if (fault.deflate) {
        // qCompress puts the length in front of a zlib stream; the stream alone is "deflate".
        reply.body = qCompress(reply.body, 9).mid(4);
        reply.headers.append({ QByteArray("Content-Encoding"), QByteArray("deflate") });
    }
    return reply;
}

Reply ServiceServer::dispatchApi(const Request &request)
{
    const QString &path = request.path;
    const QByteArray &method = request.method;
    const Reply badRequest = Reply::envelope(4002, QJsonValue::Undefined, 400);
    const Reply notFound = Reply::envelope(404, QJsonValue::Undefined, 404);

    if (path == QLatin1String("v1/app-updates/check"))
        return method == "GET" ? appUpdateCheck(request) : notFound;

    if (path.startsWith(QLatin1String("v1/auth/"))) {
        if (method != "POST")
            return notFound;
        const std::optional<QJsonObject> body = parseObject(request.body);
        if (!body)
            return badRequest;
        if (path == QLatin1String("v1/auth/send-code"))
            return sendCode(*body);
        if (path == QLatin1String("v1/auth/login/phone-code"))
            return loginPhoneCode(*body);
        if (path == QLatin1String("v1/auth/refresh"))
            return refresh(*body);
        if (path == QLatin1String("v1/auth/revoke"))
            return revoke(*body);
        if (path == QLatin1String("v1/auth/watch-login/create"))
            return watchLoginCreate(*body);
        if (path == QLatin1String("v1/auth/watch-login/poll"))
            return watchLoginPoll(*body);
        if (path == QLatin1String("v1/auth/watch-login/cancel"))
            return watchLoginCancel(*body);
        return notFound;
    }

    static const QRegularExpression sessionAction(QRegularExpression::anchoredPattern(
        QStringLiteral("v1/translation/sessions/([0-9]{1,18})/(ws-ticket|finish)")));
    const bool known = path == QLatin1String("v1/users/me")
        || path == QLatin1String("v1/points/wallet")
        || path == QLatin1String("v1/translation/routes")
        || path == QLatin1String("v1/translation/quote")
        || path == QLatin1String("v1/translation/sessions") || sessionAction.match(path).hasMatch();
    if (!known)
        return notFound;

    const std::optional<QString> phone = authenticatedPhone(request);
    if (!phone)
        return Reply::envelope(1001, QJsonValue::Undefined, 401);
    Account &user = account(*phone);

    if (method == "GET") {
        if (path == QLatin1String("v1/users/me"))
            return profile(user);
        if (path == QLatin1String("v1/points/wallet"))
            return wallet(user);
        if (path == QLatin1String("v1/translation/routes"))
            return routes();
        return notFound;
    }
    if (method != "POST")
        return notFound;
    const std::optional<QJsonObject> body = parseObject(request.body);
    if (!body)
        return badRequest;
    if (path == QLatin1String("v1/translation/quote"))
        return quote(user, *body);
    if (path == QLatin1String("v1/translation/sessions"))
        return createSession(user, request, *body);
    const QRegularExpressionMatch match = sessionAction.match(path);
    if (!match.hasMatch())
        return notFound;
    const qint64 id = match.captured(1).toLongLong();
    return match.captured(2) == QLatin1String("finish") ? finish(user, id, *body)
                                                        : wsTicket(user, id, *body);
}

bool ServiceServer::handleSocketUpgrade(const Request &request)
{
    const qint64 id = socketPath().match(request.path).captured(1).toLongLong();
    const QString ticket
        = request.query.queryItemValue(QStringLiteral("ticket"), QUrl::FullyDecoded);
    const auto found = m_state.tickets.constFind(ticket);
    if (ticket.isEmpty() || found == m_state.tickets.cend() || found->sessionId != id)
        return false;
    const auto session = m_state.sessions.find(id);
    if (session == m_state.sessions.end() || session->second.settled)
        return false;
    // One use only: the ticket is gone the moment a connection presents it.
    m_state.pendingUpgrades.insert(ticket, *found);
    m_state.tickets.remove(ticket);
    return true;
}

void ServiceServer::acceptWebSockets()
{
    while (hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = nextPendingWebSocketConnection();
        if (!socket)
            break;
        const QString ticket = QUrlQuery(socket->requestUrl())
                                   .queryItemValue(QStringLiteral("ticket"), QUrl::FullyDecoded);
        const auto pending = m_state.pendingUpgrades.constFind(ticket);
        if (pending == m_state.pendingUpgrades.cend()) {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
            socket.release()->deleteLater();
            continue;
        }
        const Ticket granted = *pending;
        m_state.pendingUpgrades.remove(ticket);
        // A session streams over one socket at a time: a reconnection replaces the old one, whose
        // open segment is kept so that numbering goes on where it stopped.
        const QList<QPointer<LiveSession>> sockets = m_live;
        for (const QPointer<LiveSession> &previous : sockets) {
            if (previous && previous->sessionId() == granted.sessionId)
                previous->replace();
        }
        auto *live = new LiveSession(this, std::move(socket), granted);
        m_live.append(live);
        live->start();
    }
}

void ServiceServer::forgetLiveSession(LiveSession *live)
{
    m_live.removeIf([live](const QPointer<LiveSession> &p) { return p.isNull() || p == live; });
    if (m_destroying)
        return;
    const auto found = m_state.sessions.find(live->sessionId());
    if (found != m_state.sessions.end() && !hasOpenSocket(found->first))
        watchAbandonment(found->second);
}

void ServiceServer::recordSocketError(const QJsonObject &error)
{
    appendCapped(m_state.socketErrors, error);
}

} // namespace LocalService
