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

ConnectionGuard *ConnectionGuard::of(QObject *socket)
{
    return socket ? socket->findChild<ConnectionGuard *>(QString(), Qt::FindDirectChildrenOnly)
                  : nullptr;
}

void ConnectionGuard::arrived()
{
    if (!m_socket || !m_socket->isOpen()
        || (m_phase != Phase::idle && m_phase != Phase::headers && m_phase != Phase::body
            && m_phase != Phase::refused))
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
    if (m_socket)
        m_leftInBuffer = m_socket->bytesAvailable();
}

void ConnectionGuard::inspect(const QByteArray &bytes)
{
    qsizetype at = 0;
    while (at < bytes.size()
        && (m_phase == Phase::idle || m_phase == Phase::headers || m_phase == Phase::body)) {
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
        // The service decides next whether to upgrade; the request stays in the buffer until the
        // WebSocket server has read it.
        m_phase = Phase::upgrading;
        m_upgradeRequestBytes = m_header.size() + 4;
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

void ConnectionGuard::upgradeRefused(std::function<void(qint64 bytes, bool closed)> received)
{
    m_phase = Phase::refusedUpgrade;
    m_refusedUpgradeBytes = std::move(received);
    m_deadline.start(int(m_limits.refusedUpgradeGraceMs));
    // Runs once the HTTP server has let go of the connection, before the WebSocket server looks
    // at the request: taking the request away keeps the refused connection from being upgraded.
    QMetaObject::invokeMethod(this, &ConnectionGuard::attachAfterUpgrade, Qt::QueuedConnection);
}

void ConnectionGuard::upgradeAccepted()
{
    m_phase = Phase::frames;
    QMetaObject::invokeMethod(this, &ConnectionGuard::attachAfterUpgrade, Qt::QueuedConnection);
}

void ConnectionGuard::attachAfterUpgrade()
{
    if (!m_socket || !m_socket->isOpen())
        return;
    // Connected before the WebSocket itself, so that a bad frame is seen before it is read.
    connect(m_socket, &QIODevice::readyRead, this, &ConnectionGuard::arrivedAfterUpgrade);
    if (m_phase == Phase::refusedUpgrade) {
        connect(m_socket, &QAbstractSocket::disconnected, this,
            [this] { m_refusedUpgradeBytes(0, true); });
        const qint64 afterRequest = m_socket->bytesAvailable() - m_upgradeRequestBytes;
        m_socket->read(m_socket->bytesAvailable());
        m_refusedUpgradeBytes(qMax<qint64>(0, afterRequest), false);
        return;
    }
    // Everything read from here on stays buffered until the guard has followed it.
    m_socket->startTransaction();
    m_held = m_socket->bytesAvailable();
    if (!m_frames.follow(m_socket->peek(m_held).mid(m_upgradeRequestBytes)))
        failUnmasked();
}

void ConnectionGuard::arrivedAfterUpgrade()
{
    if (!m_socket || !m_socket->isOpen())
        return;
    if (m_phase == Phase::refusedUpgrade) {
        m_refusedUpgradeBytes(m_socket->read(m_socket->bytesAvailable()).size(), false);
        return;
    }
    if (m_phase == Phase::frames && !m_frames.follow(freshFrameBytes()))
        failUnmasked();
}

QByteArray ConnectionGuard::freshFrameBytes()
{
    // The open transaction keeps every byte since it began: what lies beyond `m_held` arrived
    // since, and what the WebSocket has read since is dropped for good before the next one.
    const qint64 unread = m_socket->bytesAvailable();
    m_socket->rollbackTransaction();
    const qint64 buffered = m_socket->bytesAvailable();
    m_socket->startTransaction();
    m_socket->skip(m_held);
    const QByteArray fresh = m_socket->read(buffered - m_held);
    m_socket->rollbackTransaction();
    m_socket->skip(buffered - unread);
    m_socket->startTransaction();
    m_held = unread;
    return fresh;
}

void ConnectionGuard::failUnmasked()
{
    m_phase = Phase::refused;
    disconnect(m_socket, &QIODevice::readyRead, this, &ConnectionGuard::arrivedAfterUpgrade);
    m_socket->rollbackTransaction();
    m_socket->read(m_socket->bytesAvailable()); // the WebSocket never reads the bad frame
    // A close frame with code 1002 (protocol error), then the connection is dropped.
    static constexpr char protocolErrorClose[] = { '\x88', '\x02', '\x03', '\xea' };
    m_socket->write(protocolErrorClose, sizeof protocolErrorClose);
    m_socket->disconnectFromHost();
    m_deadline.start(int(m_limits.requestTimeoutMs));
}

void ConnectionGuard::close()
{
    if (m_socket)
        m_socket->abort();
}

} // namespace LocalService
