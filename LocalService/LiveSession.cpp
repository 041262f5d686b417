#include "LiveSession.h"

#include "ApertiumPipeline.h"
#include "Capitalisation.h"
#include "ServiceServer.h"

#include "TranslateCore/Contract/Integer.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QTimer>

namespace LocalService {

namespace {
constexpr qint64 pausedReadBuffer = 16 * 1024;
constexpr qsizetype recordedTextLimit = 16 * 1024;
} // namespace

LiveSession::LiveSession(ServiceServer *server, std::unique_ptr<QWebSocket> socket, Ticket ticket)
    : QObject(server), m_server(server), m_socket(std::move(socket)), m_ticket(ticket)
{
    const Session *s = session();
    m_segmenter = m_server->makeRecogniser(s ? *s : Session {}, s ? s->lastSegmentSeq + 1 : 1);
    if (s)
        m_translationPair = s->translationPair;
    // The upgraded connection stays owned by the HTTP server; it is the one with our peer's port.
    const QList<QTcpSocket *> connections = server->findChildren<QTcpSocket *>();
    for (QTcpSocket *connection : connections) {
        // A TLS connection holds a plain socket of its own with the same peer; the outer one
        // is the one the WebSocket reads from.
        if (connection->peerPort() == m_socket->peerPort()
            && connection->peerAddress() == m_socket->peerAddress() && !m_tcp)
            m_tcp = connection;
    }
    m_socket->setMaxAllowedIncomingMessageSize(largestIncomingMessage);
    m_socket->setMaxAllowedIncomingFrameSize(largestIncomingMessage);
}

LiveSession::~LiveSession()
{
    m_server->forgetLiveSession(this);
    m_server->recycleRecogniser(std::move(m_segmenter));
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

Session *LiveSession::session()
{
    auto &sessions = m_server->state().sessions;
    const auto found = sessions.find(m_ticket.sessionId);
    return found == sessions.end() ? nullptr : &found->second;
}

void LiveSession::start()
{
    connect(m_socket.get(), &QWebSocket::textMessageReceived, this, &LiveSession::onText);
    connect(m_socket.get(), &QWebSocket::binaryMessageReceived, this, &LiveSession::onBinary);
    connect(m_socket.get(), &QWebSocket::disconnected, this, &LiveSession::onDisconnected);
    const SocketSettings settings = m_server->state().socket;
    if (settings.withholdReady)
        return;
    if (settings.readyDelayMs > 0)
        QTimer::singleShot(
            std::chrono::milliseconds(settings.readyDelayMs), this, &LiveSession::sendReady);
    else
        sendReady();
}

void LiveSession::sendReady()
{
    if (!m_open || m_readySent)
        return;
    m_readySent = true;
    sendEvent(QJsonObject { { "type", "session.ready" }, { "sessionId", m_ticket.sessionId },
        { "heartbeatIntervalMs", m_server->options().heartbeatMs } });
    // Finals the client missed while it was away are sent again after the resume point.
    if (Session *s = session()) {
        for (const auto &[seq, segment] : s->segments) {
            if (seq <= m_ticket.cursor || !segment.final)
                continue;
            sendEvent(QJsonObject {
                { "type", "asr.final" }, { "segmentSeq", seq }, { "text", segment.sourceText } });
            sendEvent(QJsonObject { { "type", "translation.final" }, { "segmentSeq", seq },
                { "text", segment.targetText } });
        }
    }
}

void LiveSession::sendEvent(const QJsonObject &event)
{
    if (!m_open)
        return;
    m_socket->sendTextMessage(
        QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact)));
}

void LiveSession::sendRaw(const QString &text)
{
    if (m_open)
        m_socket->sendTextMessage(text);
}

void LiveSession::sendBinary(const QByteArray &bytes)
{
    if (m_open)
        m_socket->sendBinaryMessage(bytes);
}

void LiveSession::sendError(const QString &code, const QString &message)
{
    const QJsonObject error { { "type", "error" }, { "code", code }, { "message", message } };
    m_server->recordSocketError(error);
    sendEvent(error);
}

void LiveSession::onText(const QString &text)
{
    if (!m_open)
        return;
    ServiceState &state = m_server->state();
    appendCapped(
        state.frames, QJsonObject { { "kind", "text" }, { "text", text.left(recordedTextLimit) } });
    const std::optional<QJsonObject> message = parseObject(text.toUtf8());
    if (!message || !message->value("type").isString()) {
        sendError(QStringLiteral("INVALID_MESSAGE"),
            QStringLiteral("a text frame must be a JSON object with a string \"type\""));
        return;
    }
    const QString type = message->value("type").toString();
    if (type == QLatin1String("client.ping")) {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        sendEvent(QJsonObject { { "type", "server.pong" },
            { "ts", TranslateCore::integer(message->value("ts")).value_or(now) },
            { "serverTs", now } });
    } else if (type == QLatin1String("input.flush")) {
        publish(m_segmenter->flush(), true);
    } else if (type == QLatin1String("session.finish")) {
        publish(m_segmenter->flush(), true);
        finishSession();
    } else {
        sendError(QStringLiteral("UNSUPPORTED_MESSAGE"),
            QStringLiteral("unknown message type: ") + type.left(100));
    }
}

void LiveSession::onBinary(const QByteArray &bytes)
{
    if (!m_open)
        return;
    ServiceState &state = m_server->state();
    appendCapped(state.frames, QJsonObject { { "kind", "binary" }, { "size", bytes.size() } });
    if (bytes.size() < smallestAudio || bytes.size() > largestAudio || bytes.size() % 2 != 0) {
        sendError(QStringLiteral("INVALID_AUDIO"),
            QStringLiteral("audio frames carry 2 to 3200 bytes of 16-bit PCM"));
        return;
    }
    state.receivedAudioBytes += bytes.size();
    Session *s = session();
    if (!s || s->settled) {
        sendError(QStringLiteral("SESSION_NOT_ACTIVE"), QStringLiteral("the session has ended"));
        return;
    }
    s->audioBytes += bytes.size();
    const std::vector<Caption> heard = m_segmenter->feed(bytes);
    if (!state.socket.withholdCaptions)
        publish(heard, true);
    if (Session *again = session())
        chargeUsage(*again);
}

void LiveSession::publish(const std::vector<Caption> &captions, bool send)
{
    for (const Caption &caption : captions) {
        store(caption, caption.targetText);
        if (send)
            sendCaptionEvent(caption, false, caption.sourceText);
        if (caption.targetText) {
            if (send)
                sendCaptionEvent(caption, true, *caption.targetText);
        } else {
            requestTranslation(caption, send);
        }
    }
}

void LiveSession::store(const Caption &caption, const std::optional<QString> &target)
{
    Session *s = session();
    if (!s)
        return;
    Segment &segment = s->segments[caption.segmentSeq];
    segment.sourceText = caption.sourceText;
    segment.final = caption.final;
    if (target)
        segment.targetText = *target;
    s->lastSegmentSeq = qMax(s->lastSegmentSeq, caption.segmentSeq);
    while (qsizetype(s->segments.size()) > recordLimit)
        s->segments.erase(s->segments.begin());
}

void LiveSession::requestTranslation(const Caption &caption, bool send)
{
    if (m_translationPair.isEmpty()) {
        translationArrived(caption, caption.sourceText, send);
        return;
    }
    // Partials are translated while the translator keeps up; a slow one skips them, so that a
    // final never waits behind a queue of stale partials.
    if (!caption.final && m_pendingTranslations > 0)
        return;
    ++m_pendingTranslations;
    const QPointer<LiveSession> self(this);
    ServiceServer *server = m_server;
    const qint64 sessionId = m_ticket.sessionId;
    server->translator(m_translationPair)
        ->translate(capitaliseEnglish(caption.sourceText), [=](const QString &text) {
            if (self) {
                --self->m_pendingTranslations;
                self->translationArrived(caption, text, send);
                return;
            }
            // The socket went away meanwhile; the session's record still gets the text.
            auto &sessions = server->state().sessions;
            const auto found = sessions.find(sessionId);
            if (found != sessions.end() && found->second.segments.count(caption.segmentSeq))
                found->second.segments[caption.segmentSeq].targetText = text;
        });
}

void LiveSession::translationArrived(const Caption &caption, const QString &text, bool send)
{
    Session *s = session();
    if (s && s->segments.count(caption.segmentSeq)) {
        Segment &segment = s->segments[caption.segmentSeq];
        // A partial's late translation never replaces a final one.
        if (caption.final || !segment.final || segment.targetText.isEmpty())
            segment.targetText = text;
    }
    if (send)
        sendCaptionEvent(caption, true, text);
    if (m_pendingTranslations == 0 && m_closeWhenTranslated) {
        if (Session *settled = session())
            closeSettled(*settled, *m_closeWhenTranslated);
        else
            close(QWebSocketProtocol::CloseCodeNormal);
    }
}

void LiveSession::sendCaptionEvent(const Caption &caption, bool translation, const QString &text)
{
    const char *type = translation ? (caption.final ? "translation.final" : "translation.partial")
                                   : (caption.final ? "asr.final" : "asr.partial");
    sendEvent(
        QJsonObject { { "type", type }, { "segmentSeq", caption.segmentSeq }, { "text", text } });
}

void LiveSession::chargeUsage(Session &s)
{
    Account &user = m_server->state().accounts[s.phone];
    const qint64 minutes = s.audioBytes / bytesPerMinute;
    while (s.chargedMinutes < minutes && !s.settled) {
        ++s.chargedMinutes;
        const qint64 charge = qMin(s.pointsPerMinute, qMax<qint64>(0, user.points));
        user.points -= charge;
        s.chargedPoints += charge;
        sendEvent(QJsonObject { { "type", "usage.update" }, { "sessionId", s.id },
            { "chargedPoints", s.chargedPoints }, { "accruedPoints", s.chargedPoints },
            { "remainingPoints", user.points } });
        if (user.points <= 0) {
            sendError(
                QStringLiteral("BALANCE_EXHAUSTED"), QStringLiteral("the balance is used up"));
            m_server->settle(s, QStringLiteral("BALANCE_EXHAUSTED"), false);
            return;
        }
        if (user.points < s.pointsPerMinute && !s.warned) {
            s.warned = true;
            sendEvent(
                QJsonObject { { "type", "balance.warning" }, { "remainingPoints", user.points } });
        }
    }
}

void LiveSession::finishSession()
{
    if (m_server->state().socket.withholdFinished)
        return;
    Session *s = session();
    if (!s) {
        sendError(QStringLiteral("SESSION_NOT_ACTIVE"), QStringLiteral("the session is unknown"));
        return;
    }
    m_server->settle(*s, QStringLiteral("COMPLETED"), true); // ends this socket too
}

void LiveSession::flushCaptions()
{
    publish(m_segmenter->flush(), m_open);
}

void LiveSession::closeSettled(const Session &s, bool announce)
{
    if (!m_open)
        return;
    if (m_pendingTranslations > 0) {
        m_closeWhenTranslated = announce;
        return;
    }
    if (announce) {
        sendEvent(QJsonObject { { "type", "session.finished" }, { "sessionId", s.id },
            { "status", s.settledStatus }, { "chargedPoints", s.chargedPoints },
            { "remainingPoints", m_server->state().accounts.value(s.phone).points } });
    }
    close(QWebSocketProtocol::CloseCodeNormal);
}

void LiveSession::close(QWebSocketProtocol::CloseCode code)
{
    if (!m_open)
        return;
    m_open = false;
    setReading(true);
    m_socket->close(code);
}

void LiveSession::replace()
{
    if (!m_open)
        return;
    publish(m_segmenter->flush(), false);
    close(QWebSocketProtocol::CloseCodeGoingAway);
}

void LiveSession::drop()
{
    if (!m_open)
        return;
    publish(m_segmenter->flush(), false);
    m_open = false;
    setReading(true);
    m_socket->abort();
}

void LiveSession::setReading(bool reading)
{
    if (!m_tcp || reading == m_reading)
        return;
    m_reading = reading;
    if (!reading) {
        // The WebSocket reads whatever the socket announces; keeping the announcements back and
        // capping the socket's buffer leaves the rest in the kernel, so the peer's sends back up.
        m_tcp->setReadBufferSize(pausedReadBuffer);
        m_tcp->blockSignals(true);
        return;
    }
    m_tcp->blockSignals(false);
    m_tcp->setReadBufferSize(0);
    if (m_tcp->bytesAvailable() > 0)
        Q_EMIT m_tcp->readyRead();
    if (m_tcp->state() != QAbstractSocket::ConnectedState)
        Q_EMIT m_tcp->disconnected();
}

void LiveSession::onDisconnected()
{
    if (m_open) {
        // Whatever was still open is kept as final text for the settlement.
        publish(m_segmenter->flush(), false);
        m_open = false;
    }
    deleteLater();
}

} // namespace LocalService
