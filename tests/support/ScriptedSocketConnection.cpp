#include "ScriptedSocketConnection.h"

#include <QJsonDocument>

using namespace TranslateCore;

namespace TestSupport {

ScriptedSocketConnection::ScriptedSocketConnection()
{
    auto [sender, receiver] = makeChannel<SocketMessage>(256);
    m_inbox.emplace(std::move(sender));
    m_frames = std::make_shared<ChannelReceiver<SocketMessage>>(std::move(receiver));
}

QCoro::Task<> ScriptedSocketConnection::send(SocketMessage message)
{
    if (sendFailure)
        std::rethrow_exception(sendFailure);
    sent.append(message);
    co_return;
}

QCoro::Task<SocketMessage> ScriptedSocketConnection::receive()
{
    const auto frames = m_frames; // the connection may go while we wait
    std::optional<SocketMessage> message = co_await frames->next();
    if (!message)
        throw std::runtime_error("the scripted socket ended");
    co_return std::move(*message);
}

QCoro::Task<> ScriptedSocketConnection::close()
{
    // As a real socket's: a receive that waits ends once the socket is closed.
    closed = true;
    m_inbox->close();
    co_return;
}

void ScriptedSocketConnection::deliver(const QJsonObject &event)
{
    m_inbox->push(SocketMessage::text(QString::fromUtf8(QJsonDocument(event).toJson())));
}

void ScriptedSocketConnection::breakWith(std::exception_ptr error)
{
    m_inbox->closeWithError(error);
}

QStringList ScriptedSocketConnection::sentTypes() const
{
    QStringList types;
    for (const SocketMessage &message : sent) {
        if (message.kind == SocketMessage::Kind::text)
            types << QJsonDocument::fromJson(message.textPayload.toUtf8())["type"].toString();
    }
    return types;
}

} // namespace TestSupport
