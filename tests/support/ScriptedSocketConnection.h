#pragma once

#include "TranslateCore/Async/Channel.h"
#include "TranslateCore/Socket/SocketConnection.h"

#include <QJsonObject>
#include <QList>

#include <exception>
#include <memory>

namespace TestSupport {

// A live socket the test plays the service on: it records what the client sends and delivers
// exactly the frames the test hands it, even after the client closed it (a frame in flight).
class ScriptedSocketConnection final : public TranslateCore::SocketConnection {
public:
    ScriptedSocketConnection();

    QList<TranslateCore::SocketMessage> sent;
    bool closed = false;
    // Sends fail with this transport error once set.
    std::exception_ptr sendFailure;

    QCoro::Task<> send(TranslateCore::SocketMessage message) override;
    QCoro::Task<TranslateCore::SocketMessage> receive() override;
    QCoro::Task<> close() override;

    void deliver(const QJsonObject &event);
    // The connection breaks: the receiver gets what was delivered, then `error`.
    void breakWith(std::exception_ptr error);
    // The types of the text frames sent, in order.
    QStringList sentTypes() const;

private:
    std::optional<TranslateCore::ChannelSender<TranslateCore::SocketMessage>> m_inbox;
    std::shared_ptr<TranslateCore::ChannelReceiver<TranslateCore::SocketMessage>> m_frames;
};

} // namespace TestSupport
