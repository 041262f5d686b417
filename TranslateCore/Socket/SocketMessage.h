#pragma once

#include <QByteArray>
#include <QString>

#include <utility>

namespace TranslateCore {

// One WebSocket frame: a text frame, or a binary frame of upload audio.
struct SocketMessage {
    enum class Kind { text, audio };

    static SocketMessage text(QString text) { return { Kind::text, std::move(text), {} }; }
    static SocketMessage audio(QByteArray bytes) { return { Kind::audio, {}, std::move(bytes) }; }

    Kind kind;
    QString textPayload;
    QByteArray audioPayload;

    friend bool operator==(const SocketMessage &, const SocketMessage &) = default;
};

} // namespace TranslateCore
