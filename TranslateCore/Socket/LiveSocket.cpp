#include "LiveSocket.h"

#include "TranslateCore/Async/OneShot.h"
#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/ServiceTLS.h"

#include <QPointer>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <deque>
#include <optional>

namespace TranslateCore {

namespace {

// How long a closed socket may take for its closing handshake before it is torn down anyway.
constexpr int closingGrace = 5000;

std::exception_ptr networkError(QNetworkReply::NetworkError code, const QString &message)
{
    return std::make_exception_ptr(NetworkError(code, message));
}

// The transport error of a QAbstractSocket, as the HTTP stack would name it.
QNetworkReply::NetworkError networkErrorFor(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return QNetworkReply::SslHandshakeFailedError;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case QAbstractSocket::ProxyConnectionRefusedError:
        return QNetworkReply::ProxyConnectionRefusedError;
    case QAbstractSocket::ProxyConnectionClosedError:
        return QNetworkReply::ProxyConnectionClosedError;
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return QNetworkReply::ProxyTimeoutError;
    case QAbstractSocket::ProxyNotFoundError:
        return QNetworkReply::ProxyNotFoundError;
    case QAbstractSocket::ProxyProtocolError:
        return QNetworkReply::UnknownProxyError;
    case QAbstractSocket::NetworkError:
    case QAbstractSocket::TemporaryError:
        return QNetworkReply::TemporaryNetworkFailureError;
    case QAbstractSocket::OperationError:
    case QAbstractSocket::UnsupportedSocketOperationError:
        return QNetworkReply::ProtocolInvalidOperationError;
    case QAbstractSocket::DatagramTooLargeError:
    case QAbstractSocket::AddressInUseError:
    case QAbstractSocket::SocketAccessError:
    case QAbstractSocket::SocketResourceError:
    case QAbstractSocket::SocketAddressNotAvailableError:
    case QAbstractSocket::UnfinishedSocketOperationError:
    case QAbstractSocket::UnknownSocketError:
        break;
    }
    return QNetworkReply::UnknownNetworkError;
}

// QWebSocket names the status of a refused opening handshake only in its error text
// ("... Unhandled http status code: 403 (Forbidden).").
std::optional<int> refusedHandshakeStatus(const QString &errorText)
{
    static const QRegularExpression pattern(QStringLiteral("http status code: ([1-5][0-9][0-9])"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(errorText);
    return match.hasMatch() ? std::optional(match.captured(1).toInt()) : std::nullopt;
}

} // namespace

struct LiveSocket::State {
    QWebSocket *socket = nullptr; // ours until close() hands it over to its closing handshake
    QPointer<QTcpSocket> transport; // the TCP (or TLS) socket the WebSocket writes through
    QObject *context = nullptr; // scopes every connection made here
    OneShot<> opened;
    std::deque<SocketMessage> inbox;
    std::optional<OneShot<>> receiveWaker;
    std::deque<OneShot<>> sendWaiters;
    std::exception_ptr failure; // why the connection ended; set once
    bool inboxEnded = false; // true once receive() may report `failure`
    bool refused = false; // the service answered the opening handshake with an HTTP refusal

    void start(const QUrl &url);
    void deliver(SocketMessage message);
    void fail(std::exception_ptr error);
    void endInbox();
    void wakeReceiver();
    void checkWritten();
    void applySendBuffer();
    void release();
};

void LiveSocket::State::start(const QUrl &url)
{
    socket = new QWebSocket;
    context = new QObject;
    socket->setMaxAllowedIncomingMessageSize(maxIncomingMessageSize);
    socket->setMaxAllowedIncomingFrameSize(maxIncomingMessageSize);
    socket->setSslConfiguration(serviceTLSConfiguration());

    QObject::connect(socket, &QWebSocket::connected, context, [this] { opened.resolve(); });
    QObject::connect(socket, &QWebSocket::textMessageReceived, context,
        [this](const QString &text) { deliver(SocketMessage::text(text)); });
    QObject::connect(socket, &QWebSocket::binaryMessageReceived, context,
        [this](const QByteArray &bytes) { deliver(SocketMessage::audio(bytes)); });
    QObject::connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), context,
        [this](QAbstractSocket::SocketError e) {
            NetworkError error(networkErrorFor(e), socket->errorString());
            if (const std::optional<int> status = refusedHandshakeStatus(socket->errorString())) {
                error = error.withHandshakeStatus(*status);
                // The connection was never upgraded: nothing more may be written onto it.
                refused = true;
            }
            fail(std::make_exception_ptr(error));
        });
    QObject::connect(socket, &QWebSocket::disconnected, context, [this] {
        const int code = int(socket->closeCode());
        fail(std::make_exception_ptr(NetworkError(QNetworkReply::RemoteHostClosedError,
            QStringLiteral("The connection was closed (code %1%2)")
                .arg(code)
                .arg(socket->closeReason().isEmpty()
                        ? QString()
                        : QStringLiteral(": ") + socket->closeReason()))
                                         .withCloseCode(code)));
    });

    // Redirects are not followed: a handshake answered with anything but 101 fails the connection.
    socket->open(url);

    // QWebSocket creates its transport inside open() and does not expose it; its send buffer is
    // the only way to feel a stalled network, and its write buffers tell when a frame has left.
    transport = socket->findChild<QTcpSocket *>(QString(), Qt::FindDirectChildrenOnly);
    if (!transport)
        return;
    QObject::connect(
        transport, &QAbstractSocket::connected, context, [this] { applySendBuffer(); });
    QObject::connect(
        transport, &QAbstractSocket::bytesWritten, context, [this] { checkWritten(); });
    if (auto *tls = qobject_cast<QSslSocket *>(transport.data()))
        QObject::connect(
            tls, &QSslSocket::encryptedBytesWritten, context, [this] { checkWritten(); });
    applySendBuffer();
}

void LiveSocket::State::applySendBuffer()
{
    if (transport && transport->state() == QAbstractSocket::ConnectedState)
        transport->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, sendBufferSize);
}

void LiveSocket::State::deliver(SocketMessage message)
{
    if (failure)
        return;
    if (inbox.size() >= std::size_t(inboxCapacity)) {
        fail(networkError(QNetworkReply::ProtocolFailure,
            QStringLiteral("Incoming messages were not read in time")));
        socket->close(
            QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("client too slow"));
        return;
    }
    inbox.push_back(std::move(message));
    wakeReceiver();
}

void LiveSocket::State::fail(std::exception_ptr error)
{
    if (failure)
        return;
    failure = std::move(error);
    opened.fail(failure);
    for (auto &waiter : std::exchange(sendWaiters, {}))
        waiter.fail(failure);
    // Frames of the last read are handed to us from a queued call that may still be pending: end
    // the inbox after it, so they are delivered before the failure.
    QMetaObject::invokeMethod(
        context, [this] { endInbox(); }, Qt::QueuedConnection);
}

void LiveSocket::State::endInbox()
{
    inboxEnded = true;
    wakeReceiver();
}

void LiveSocket::State::wakeReceiver()
{
    if (receiveWaker) {
        receiveWaker->resolve();
        receiveWaker.reset();
    }
}

void LiveSocket::State::checkWritten()
{
    if (sendWaiters.empty())
        return;
    // Without a transport to ask (a QWebSocket that no longer keeps it as a child), a frame counts
    // as written once QWebSocket accepted it.
    if (transport) {
        qint64 unsent = transport->bytesToWrite();
        if (auto *tls = qobject_cast<QSslSocket *>(transport.data()))
            unsent += tls->encryptedBytesToWrite(); // TLS records not yet taken by the kernel
        if (unsent > 0)
            return;
    }
    for (auto &waiter : std::exchange(sendWaiters, {}))
        waiter.resolve();
}

void LiveSocket::State::release()
{
    delete std::exchange(context, nullptr); // no more callbacks into this state
    if (!socket)
        return;
    QWebSocket *closing = std::exchange(socket, nullptr);
    transport.clear();
    // The socket lives on for its closing handshake, then frees itself.
    QObject::connect(closing, &QWebSocket::disconnected, closing, &QObject::deleteLater);
    QTimer::singleShot(closingGrace, closing, &QObject::deleteLater);
    if (refused)
        closing->abort();
    if (refused || closing->state() == QAbstractSocket::UnconnectedState)
        closing->deleteLater();
    else
        closing->close(QWebSocketProtocol::CloseCodeNormal);
}

LiveSocket::LiveSocket(const QUrl &url) : m_state(std::make_shared<State>())
{
    m_state->start(url);
}

LiveSocket::~LiveSocket()
{
    m_state->fail(networkError(
        QNetworkReply::OperationCanceledError, QStringLiteral("The socket was closed")));
    m_state->inboxEnded = true;
    m_state->wakeReceiver();
    m_state->release();
}

QCoro::Task<> LiveSocket::send(SocketMessage message)
{
    auto state = m_state; // a waiting send outlives the socket object if need be
    if (state->failure)
        std::rethrow_exception(state->failure);
    co_await state->opened.wait();
    if (state->failure)
        std::rethrow_exception(state->failure);

    const bool isText = message.kind == SocketMessage::Kind::text;
    const QByteArray utf8 = isText ? message.textPayload.toUtf8() : QByteArray();
    const qint64 expected = isText ? utf8.size() : message.audioPayload.size();
    const qint64 written = isText ? state->socket->sendTextMessage(message.textPayload)
                                  : state->socket->sendBinaryMessage(message.audioPayload);
    if (written != expected) {
        // QWebSocket reports the cause through its error signal as well; take that if present.
        if (!state->failure)
            state->fail(networkError(QNetworkReply::UnknownNetworkError,
                QStringLiteral("The message could not be written: %1")
                    .arg(state->socket->errorString())));
        std::rethrow_exception(state->failure);
    }
    OneShot<> done;
    state->sendWaiters.push_back(done);
    // Nothing may be left to wait for if the frame went out at once.
    QMetaObject::invokeMethod(
        state->context, [raw = state.get()] { raw->checkWritten(); }, Qt::QueuedConnection);
    co_await done.wait();
}

QCoro::Task<SocketMessage> LiveSocket::receive()
{
    auto state = m_state;
    for (;;) {
        if (!state->inbox.empty()) {
            SocketMessage message = std::move(state->inbox.front());
            state->inbox.pop_front();
            co_return message;
        }
        if (state->inboxEnded)
            std::rethrow_exception(state->failure);
        Q_ASSERT_X(!state->receiveWaker, "LiveSocket::receive", "one receive at a time");
        OneShot<> waker;
        state->receiveWaker = waker;
        co_await waker.wait();
    }
}

QCoro::Task<> LiveSocket::close()
{
    m_state->fail(networkError(
        QNetworkReply::OperationCanceledError, QStringLiteral("The socket was closed")));
    // Whatever is still buffered is not wanted any more: wake a waiting receive() now.
    m_state->inbox.clear();
    m_state->inboxEnded = true;
    m_state->wakeReceiver();
    m_state->release();
    co_return;
}

} // namespace TranslateCore
