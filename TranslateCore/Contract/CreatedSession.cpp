#include "CreatedSession.h"

#include "Integer.h"
#include "ProductionEndpoint.h"
#include "TranslationFailure.h"

#include <QJsonValue>

#include <optional>

namespace TranslateCore {

namespace {

bool expectsUploadFormat(const QJsonValue &inputAudio)
{
    if (!inputAudio.isObject())
        return false;
    const QJsonObject audio = inputAudio.toObject();
    const QJsonValue encoding = audio.value(QLatin1String("encoding"));
    return encoding.isString() && encoding.toString() == u"PCM_S16LE"
        && integer(audio.value(QLatin1String("sampleRate"))) == 16000
        && integer(audio.value(QLatin1String("channels"))) == 1;
}

} // namespace

CreatedSession CreatedSession::fromJson(const QJsonObject &json, const QUrl &base)
{
    const std::optional<qint64> id = integer(json.value(QLatin1String("sessionId")));
    const QJsonValue wsURL = json.value(QLatin1String("wsUrl"));
    const QJsonValue ticket = json.value(QLatin1String("wsTicket"));
    const std::optional<qint64> available = integer(json.value(QLatin1String("availablePoints")));
    const std::optional<qint64> reserved = integer(json.value(QLatin1String("reservedPoints")));
    if (!id || *id < 1 || !wsURL.isString() || !ticket.isString() || ticket.toString().isEmpty()
        || !available || !reserved)
        throw TranslationFailure::invalidResponse();

    CreatedSession session { *id, wsURL.toString(), ticket.toString(), *available, *reserved };
    // Only checked here; the address is rebuilt from the raw string when the socket connects.
    ProductionEndpoint::socketURL(base, session.wsURL, session.ticket, session.id);

    if (!expectsUploadFormat(json.value(QLatin1String("inputAudio"))))
        throw TranslationFailure::audioFormat();
    return session;
}

} // namespace TranslateCore
