#include "ServerEvent.h"

#include "TranslateCore/Contract/PlatformErrors.h"
#include "TranslateCore/Contract/TranslationFailure.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace TranslateCore {

namespace {

// The parser only takes objects and arrays at the top level; a lone number, string, Boolean or
// null is still JSON, just not an event.
bool isJsonScalar(const QByteArray &data)
{
    QJsonParseError error;
    const QJsonDocument wrapped = QJsonDocument::fromJson('[' + data + ']', &error);
    return error.error == QJsonParseError::NoError && wrapped.array().size() == 1;
}

} // namespace

ServerEvent ServerEvent::fromData(const QByteArray &data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError) {
        if (isJsonScalar(data))
            throw TranslationFailure::invalidResponse();
        throw JsonParseError(error);
    }
    if (!document.isObject())
        throw TranslationFailure::invalidResponse();
    QJsonObject json = document.object();
    const QJsonValue type = json.value(QLatin1String("type"));
    if (!type.isString())
        throw TranslationFailure::invalidResponse();
    return ServerEvent { type.toString(), std::move(json) };
}

ServerEvent ServerEvent::fromText(const QString &text)
{
    return fromData(text.toUtf8());
}

} // namespace TranslateCore
