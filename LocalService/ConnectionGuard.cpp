#include "ConnectionGuard.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

namespace LocalService {

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 411:
        return "Length Required";
    case 413:
        return "Payload Too Large";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Bad Request";
    }
}

// The value of header `name` (lower case) in a raw header section, or nothing.
std::optional<QByteArray> headerValue(const QByteArray &section, const QByteArray &name)
{
    const QList<QByteArray> lines = section.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0 && lines[i].left(colon).trimmed().toLower() == name)
            return lines[i].mid(colon + 1).trimmed();
    }
    return std::nullopt;
}

} // namespace

ConnectionGuard::ConnectionGuard(QSslSocket *socket, const ConnectionLimits &limits)
    : QObject(socket), m_socket(socket), m_limits(limits)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &ConnectionGuard::close);
    connect(socket, &QIODevice::readyRead, this, &ConnectionGuard::arrived);
    m_deadline.start(int(m_limits.idleTimeoutMs));
}

void ConnectionGuard::watchAfterServer()
{
    if (m_socket)
        connect(m_socket, &QIODevice::readyRead, this, &ConnectionGuard::consumedByServer);
}

void ConnectionGuard::arrived()
{
    if (!m_socket || !m_socket->isOpen() || m_phase == Phase::upgraded)
        return;
    const qint64 available = m_socket->bytesAvailable();
    const qint64 fresh = available - m_leftInBuffer;
    if (m_phase == Phase::refused) {
        m_socket->read(available); // nothing more reaches the server
        return;
    }
    if (fresh > 0)
        inspect(m_socket->peek(available).right(fresh));
}

void ConnectionGuard::consumedByServer()
{
    if (m_socket && m_phase != Phase::upgraded)
        m_leftInBuffer = m_socket->bytesAvailable();
}

void ConnectionGuard::inspect(const QByteArray &bytes)
{
    qsizetype at = 0;
    while (at < bytes.size() && m_phase != Phase::refused && m_phase != Phase::upgraded) {
        if (m_phase == Phase::idle) {
            m_phase = Phase::headers;
            m_header.clear();
            m_deadline.start(int(m_limits.requestTimeoutMs));
        }
        if (m_phase == Phase::headers) {
            // Look for the blank line from where the previous chunk ended (it may span both).
            const qsizetype before = m_header.size();
            const qsizetype room = m_limits.headerBytes + 4 - before;
            m_header.append(bytes.mid(at, room));
            const qsizetype end = m_header.indexOf("\r\n\r\n", qMax<qsizetype>(0, before - 3));
            if (end < 0) {
                if (m_header.size() > m_limits.headerBytes)
                    return refuse(431);
                return; // everything consumed, still in the header section
            }
            if (end + 4 > m_limits.headerBytes)
                return refuse(431);
            at += end + 4 - before;
            m_header.truncate(end);
            endOfHeaders();
            continue;
        }
        const qint64 take = qMin<qint64>(m_bodyLeft, bytes.size() - at);
        m_bodyLeft -= take;
        at += take;
        if (m_bodyLeft == 0) {
            m_phase = Phase::idle;
            m_deadline.start(int(m_limits.idleTimeoutMs));
        }
    }
}

void ConnectionGuard::endOfHeaders()
{
    const QByteArray upgrade = headerValue(m_header, "upgrade").value_or(QByteArray());
    if (upgrade.toLower() == "websocket") {
        m_phase = Phase::upgraded;
        m_deadline.stop();
        return;
    }
    if (headerValue(m_header, "transfer-encoding"))
        return refuse(411);
    bool numeric = true;
    const qint64 length
        = headerValue(m_header, "content-length").value_or("0").toLongLong(&numeric);
    if (!numeric || length < 0)
        return refuse(400);
    if (length > m_limits.bodyBytes)
        return refuse(413);
    m_bodyLeft = length;
    m_phase = Phase::body;
    if (m_bodyLeft == 0) {
        m_phase = Phase::idle;
        m_deadline.start(int(m_limits.idleTimeoutMs));
    }
}

void ConnectionGuard::refuse(int status)
{
    m_phase = Phase::refused;
    m_deadline.start(int(m_limits.requestTimeoutMs));
    m_socket->read(m_socket->bytesAvailable()); // the server never sees this request
    const QByteArray body
        = QJsonDocument(QJsonObject { { "code", status } }).toJson(QJsonDocument::Compact);
    m_socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status)
        + "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\nConnection: close\r\n\r\n" + body);
    m_socket->disconnectFromHost();
}

void ConnectionGuard::close()
{
    if (m_socket)
        m_socket->abort();
}

} // namespace LocalService
