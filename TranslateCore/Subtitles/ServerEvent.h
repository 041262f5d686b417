#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace TranslateCore {

// One text frame of the live socket: a JSON object whose "type" member names the event.
struct ServerEvent {
    QString type;
    QJsonObject json; // the whole decoded object, "type" included

    // Throws JsonParseError for bytes that are not JSON, and TranslationFailure::invalidResponse
    // when the value is not an object with a string "type".
    static ServerEvent fromData(const QByteArray &data);
    static ServerEvent fromText(const QString &text);

    friend bool operator==(const ServerEvent &, const ServerEvent &) = default;
};

} // namespace TranslateCore
