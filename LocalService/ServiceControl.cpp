#include "LiveSession.h"
#include "ServiceServer.h"

#include "TranslateCore/Contract/Integer.h"

#include <QJsonArray>

namespace LocalService {

namespace {

Reply failure(const QString &why, int status = 400)
{
    return Reply::json(QJsonObject { { "error", why } }, status);
}

Reply done()
{
    return Reply::json(QJsonObject { { "ok", true } });
}

template <typename T> QJsonArray toArray(const std::deque<T> &list)
{
    QJsonArray array;
    for (const T &item : list)
        array.append(item);
    return array;
}

} // namespace

Reply ServiceServer::dispatchControl(const Request &request)
{
    const QString action = request.path.mid(QStringLiteral("/control/").size());
    if (request.method == "GET") {
        if (action == QLatin1String("requests"))
            return Reply::json(QJsonObject { { "requests", toArray(m_state.requests) } });
        if (action == QLatin1String("socket/received"))
            return receivedFrames();
        if (action == QLatin1String("sessions"))
            return sessionsReadBack();
        if (action == QLatin1String("sms-code")) {
            const QString phone = request.query.queryItemValue("phone", QUrl::FullyDecoded);
            const auto sent = m_state.smsCodes.constFind(phone);
            if (sent == m_state.smsCodes.cend())
                return failure(QStringLiteral("no code was sent to this number"), 404);
            return Reply::json(QJsonObject { { "code", sent->code } });
        }
        return failure(QStringLiteral("unknown control"), 404);
    }
    if (request.method != "POST")
        return failure(QStringLiteral("use GET or POST"), 405);
    const std::optional<QJsonObject> parsed
        = request.body.trimmed().isEmpty() ? QJsonObject() : parseObject(request.body);
    if (!parsed)
        return failure(QStringLiteral("the body must be a JSON object"));
    const QJsonObject &body = *parsed;

    if (action == QLatin1String("reset")) {
        reset();
        return done();
    }
    if (action == QLatin1String("balance")) {
        const QString phone = body.value("phone").toString();
        const std::optional<qint64> points = TranslateCore::integer(body.value("points"));
        if (phone.isEmpty() || !points)
            return failure(QStringLiteral("needs \"phone\" and integer \"points\""));
        account(phone).points = *points;
        return done();
    }
    if (action == QLatin1String("expire-access-tokens")) {
        for (AccessToken &token : m_state.accessTokens)
            token.expiresAtMs = -1;
        return done();
    }
    if (action == QLatin1String("device-login")) {
        if (!decideChallenge(body.value("challengeId").toString(), body.value("action").toString(),
                body.value("phone").toString()))
            return failure(QStringLiteral("no such pending challenge, or unknown action"), 409);
        return done();
    }
    if (action == QLatin1String("fault"))
        return controlFault(body);
    if (action == QLatin1String("update-policy")) {
        m_state.updatePolicy = body;
        return done();
    }
    if (action == QLatin1String("finish-status")) {
        m_state.finishStatus = body.value("status").toString();
        return done();
    }
    if (action == QLatin1String("socket"))
        return controlSocket(body);
    if (action == QLatin1String("session-limit") && body.value("oneSessionPerAccount").isBool()) {
        m_state.oneSessionPerAccount = body.value("oneSessionPerAccount").toBool();
        return done();
    }
    if (action == QLatin1String("session-expiry")) {
        const std::optional<qint64> timeout = TranslateCore::integer(body.value("abandonedMs"));
        if (!timeout || *timeout < 0)
            return failure(QStringLiteral("needs a non-negative integer \"abandonedMs\""));
        setAbandonedSessionMs(*timeout);
        return done();
    }
    return failure(QStringLiteral("unknown control"), 404);
}

Reply ServiceServer::controlFault(const QJsonObject &body)
{
    Fault fault;
    fault.path = body.value("path").toString();
    if (fault.path.startsWith(QLatin1String("/api/")))
        fault.path = fault.path.mid(5);
    fault.count = int(TranslateCore::integer(body.value("count")).value_or(1));
    if (fault.path.isEmpty() || fault.count < 1)
        return failure(QStringLiteral("needs \"path\" and a positive \"count\""));
    if (const auto status = TranslateCore::integer(body.value("httpStatus"))) {
        if (*status < 100 || *status > 599)
            return failure(QStringLiteral("httpStatus must be 100..599"));
        fault.httpStatus = int(*status);
    }
    if (body.value("envelope").isObject())
        fault.envelope = body.value("envelope").toObject();
    if (body.value("rawBody").isString())
        fault.rawBody = body.value("rawBody").toString().toUtf8();
    if (const auto bytes = TranslateCore::integer(body.value("bodyBytes"))) {
        if (*bytes < 0 || *bytes > 64 * 1024 * 1024)
            return failure(QStringLiteral("bodyBytes must be 0..64 MiB"));
        fault.bodyBytes = *bytes;
    }
    fault.delayMs = TranslateCore::integer(body.value("delayMs")).value_or(0);
    if (body.value("redirectTo").isString())
        fault.redirectTo = body.value("redirectTo").toString();
    fault.drop = body.value("drop").toBool();
    fault.deflate = body.value("deflate").toBool();
    m_state.faults.push_back(fault);
    return done();
}

Reply ServiceServer::controlSocket(const QJsonObject &body)
{
    if (const auto delay = TranslateCore::integer(body.value("readyDelayMs")))
        m_state.socket.readyDelayMs = qMax<qint64>(0, *delay);
    if (body.value("withholdReady").isBool())
        m_state.socket.withholdReady = body.value("withholdReady").toBool();
    if (body.value("withholdFinished").isBool())
        m_state.socket.withholdFinished = body.value("withholdFinished").toBool();
    if (body.value("withholdCaptions").isBool())
        m_state.socket.withholdCaptions = body.value("withholdCaptions").toBool();
    const QString action = body.value("action").toString();
    if (action.isEmpty())
        return done();

    m_live.removeIf([](const QPointer<LiveSession> &live) { return live.isNull(); });
    QList<LiveSession *> open;
    for (const QPointer<LiveSession> &live : std::as_const(m_live)) {
        if (live->isOpen())
            open.append(live.data());
    }
    if (open.isEmpty())
        return failure(QStringLiteral("no live socket is open"), 409);
    for (LiveSession *live : open) {
        if (action == QLatin1String("drop"))
            live->drop();
        else if (action == QLatin1String("stopReading"))
            live->setReading(false);
        else if (action == QLatin1String("resumeReading"))
            live->setReading(true);
        else if (action == QLatin1String("send")) {
            if (body.value("event").isObject())
                live->sendEvent(body.value("event").toObject());
            else if (body.value("rawText").isString())
                live->sendRaw(body.value("rawText").toString());
            else if (const auto bytes = TranslateCore::integer(body.value("binaryBytes"));
                     bytes && *bytes >= 0 && *bytes <= 16 * 1024 * 1024)
                live->sendBinary(QByteArray(*bytes, '\0'));
            else
                return failure(
                    QStringLiteral("send needs \"event\", \"rawText\" or \"binaryBytes\""));
        } else
            return failure(QStringLiteral("unknown socket action"));
    }
    return Reply::json(QJsonObject { { "ok", true }, { "sockets", int(open.size()) } });
}

Reply ServiceServer::receivedFrames() const
{
    QJsonArray refused;
    for (const std::shared_ptr<RefusedUpgrade> &connection : m_state.refusedUpgrades)
        refused.append(QJsonObject {
            { "bytesAfterAnswer", connection->bytesAfterAnswer }, { "open", connection->open } });
    return Reply::json(QJsonObject { { "frames", toArray(m_state.frames) },
        { "audioBytes", m_state.receivedAudioBytes }, { "errors", toArray(m_state.socketErrors) },
        { "refusedUpgrades", refused } });
}

Reply ServiceServer::sessionsReadBack() const
{
    QJsonArray sessions;
    for (const auto &[id, session] : m_state.sessions) {
        sessions.append(QJsonObject { { "sessionId", id }, { "phone", session.phone },
            { "settled", session.settled }, { "status", session.settledStatus },
            { "chargedPoints", session.chargedPoints }, { "audioBytes", session.audioBytes } });
    }
    return Reply::json(QJsonObject { { "sessions", sessions } });
}

void ServiceServer::reset()
{
    for (const QPointer<LiveSession> &live : std::as_const(m_live)) {
        if (live)
            live->drop();
    }
    const qint64 nextSessionId = m_state.nextSessionId;
    m_state = ServiceState {};
    // Session ids keep growing so that a socket of the previous run can never meet a new session.
    m_state.nextSessionId = nextSessionId;
    m_state.abandonedSessionMs = m_options.abandonedSessionMs;
}

} // namespace LocalService
