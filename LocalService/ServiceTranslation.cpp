#include "LiveSession.h"
#include "ServiceServer.h"

#include "TranslateCore/Contract/Integer.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

#include <algorithm>

namespace LocalService {

namespace {

struct RouteInfo {
    QJsonObject json;
    qint64 pointsPerMinute;
    QString translationPair; // the Apertium pair of an offline speech route
};

QJsonObject route(const char *code, const QString &name, const char *source, const char *target,
    const QJsonValue &modes)
{
    QJsonObject json { { "routeCode", code }, { "displayName", name }, { "sourceLanguage", source },
        { "targetLanguage", target } };
    if (!modes.isUndefined())
        json.insert("supportedOutputModes", modes);
    return json;
}

// The tone recogniser's routes: every direction the real service knows, captioned with tones.
const std::vector<RouteInfo> &toneCatalog()
{
    static const std::vector<RouteInfo> catalog = [] {
        const QJsonValue none = QJsonValue::Undefined;
        return std::vector<RouteInfo> {
            { route("EN_ZH", QStringLiteral("English → 中文"), "en", "zh-CN", none), 10, {} },
            { route("ZH_EN", QStringLiteral("中文 → English"), "zh-CN", "en",
                  QJsonArray { "TEXT_ONLY", "TEXT_AND_SPEECH" }),
                10, {} },
            { route("JA_ZH", QStringLiteral("日本語 → 中文"), "ja", "zh-CN",
                  QJsonArray { "TEXT_ONLY" }),
                12, {} },
            { route("YUE_ZH", QStringLiteral("粤语 → 中文"), "yue", "zh-CN", none), 10, {} },
            { route("ZH_AR", QStringLiteral("中文 → العربية"), "zh-CN", "ar-EG",
                  QJsonArray { "TEXT_ONLY" }),
                15, {} },
            // Offered to speech clients only; a text client leaves it out.
            { route("KO_ZH", QStringLiteral("한국어 → 中文"), "ko", "zh-CN",
                  QJsonArray { "TEXT_AND_SPEECH" }),
                10, {} },
        };
    }();
    return catalog;
}

// The offline speech routes: English speech translated by the Apertium pairs installed.
std::vector<RouteInfo> speechCatalog(const QString &modes)
{
    const QJsonValue textOnly = QJsonArray { "TEXT_ONLY" };
    const std::vector<RouteInfo> known {
        { route("EN_ES", QStringLiteral("English → Español"), "en", "es", textOnly), 10,
            QStringLiteral("eng-spa") },
        { route("EN_CA", QStringLiteral("English → Català"), "en", "ca", textOnly), 10,
            QStringLiteral("eng-cat") },
    };
    std::vector<RouteInfo> installed;
    for (const RouteInfo &info : known) {
        if (QFileInfo::exists(QDir(modes).filePath(info.translationPair + ".mode")))
            installed.push_back(info);
    }
    return installed;
}

std::vector<RouteInfo> routeCatalog(const ServiceOptions &options)
{
    return options.recogniser == RecogniserKind::speech ? speechCatalog(options.apertiumModes)
                                                        : toneCatalog();
}

std::optional<RouteInfo> findRoute(const ServiceOptions &options, const QJsonValue &code)
{
    for (const RouteInfo &route : routeCatalog(options)) {
        if (code.isString() && route.json.value("routeCode") == code)
            return route;
    }
    return std::nullopt;
}

constexpr qint64 minimumStartPoints = 20;
constexpr qint64 reservedMinutes = 5;

Reply rejected(int code, int status = 400)
{
    return Reply::envelope(code, QJsonValue::Undefined, status);
}

QJsonObject inputAudio()
{
    return { { "encoding", "PCM_S16LE" }, { "sampleRate", 16000 }, { "channels", 1 } };
}

} // namespace

Reply ServiceServer::routes()
{
    QJsonArray list;
    for (const RouteInfo &route : routeCatalog(m_options))
        list.append(route.json);
    return Reply::ok(list);
}

Reply ServiceServer::quote(const Account &user, const QJsonObject &body)
{
    const std::optional<RouteInfo> route = findRoute(m_options, body.value("routeCode"));
    if (!route)
        return rejected(3014);
    if (body.value("outputMode") != QLatin1String("TEXT_ONLY"))
        return rejected(3016);
    return Reply::ok(QJsonObject { { "routeCode", route->json.value("routeCode") },
        { "canStart", user.points >= minimumStartPoints },
        { "estimatedPointsPerMinute", route->pointsPerMinute }, { "availablePoints", user.points },
        { "minimumStartPoints", minimumStartPoints } });
}

QJsonObject ServiceServer::newTicket(Session &session, qint64 cursor)
{
    makeRoom(m_state.tickets);
    const QString ticket = QStringLiteral("tk_") + randomToken(24);
    m_state.tickets.insert(ticket, Ticket { session.id, cursor });
    const QString url = QStringLiteral("wss://127.0.0.1:%1/api/ws/v1/translation/%2?ticket=%3")
                            .arg(m_port)
                            .arg(session.id)
                            .arg(ticket);
    return { { "wsUrl", url }, { "wsTicket", ticket } };
}

Reply ServiceServer::createSession(
    const Account &user, const Request &request, const QJsonObject &body)
{
    const QString key = request.headers.value(QStringLiteral("idempotency-key"));
    const QString scopedKey = user.phone + QLatin1Char('\n') + key;
    if (!key.isEmpty()) {
        const auto known = m_state.idempotencyKeys.constFind(scopedKey);
        if (known != m_state.idempotencyKeys.cend()) {
            const auto session = m_state.sessions.find(*known);
            if (session != m_state.sessions.end())
                return Reply::ok(session->second.created);
        }
    }
    const std::optional<RouteInfo> route = findRoute(m_options, body.value("routeCode"));
    if (!route)
        return rejected(3014);
    if (body.value("outputMode") != QLatin1String("TEXT_ONLY"))
        return rejected(3016);
    const QJsonObject audio = body.value("audio").toObject();
    if (audio.value("encoding") != QLatin1String("PCM_S16LE")
        || TranslateCore::integer(audio.value("sampleRate")) != 16000
        || TranslateCore::integer(audio.value("channels")) != 1
        || !body.value("historyEnabled").isBool())
        return rejected(4002);
    if (m_state.oneSessionPerAccount
        && std::any_of(m_state.sessions.begin(), m_state.sessions.end(), [&](const auto &entry) {
               return entry.second.phone == user.phone && !entry.second.settled;
           }))
        return rejected(3011);
    if (user.points < minimumStartPoints)
        return rejected(3010);

    if (m_state.sessions.size() >= size_t(recordLimit)) {
        // The keys of a forgotten session go with it, so that they stay bounded too.
        const qint64 oldest = m_state.sessions.begin()->first;
        m_state.sessions.erase(m_state.sessions.begin());
        m_state.idempotencyKeys.removeIf(
            [oldest](const auto &entry) { return entry.value() == oldest; });
    }
    Session session;
    session.id = m_state.nextSessionId++;
    session.phone = user.phone;
    session.pointsPerMinute = route->pointsPerMinute;
    session.translationPair = route->translationPair;
    session.reservedPoints = qMin(user.points, route->pointsPerMinute * reservedMinutes);
    QJsonObject created = newTicket(session, 0);
    created.insert("sessionId", session.id);
    created.insert("availablePoints", user.points - session.reservedPoints);
    created.insert("reservedPoints", session.reservedPoints);
    created.insert("inputAudio", inputAudio());
    session.created = created;
    Session &stored = m_state.sessions.emplace(session.id, session).first->second;
    watchAbandonment(stored);
    if (!key.isEmpty())
        m_state.idempotencyKeys.insert(scopedKey, session.id);
    return Reply::ok(created);
}

Reply ServiceServer::wsTicket(const Account &user, qint64 sessionId, const QJsonObject &body)
{
    const auto found = m_state.sessions.find(sessionId);
    if (found == m_state.sessions.end() || found->second.phone != user.phone)
        return rejected(3012, 404);
    const std::optional<qint64> cursor
        = TranslateCore::integer(body.value("lastReceivedSegmentSeq"));
    if (!cursor || *cursor < 0)
        return rejected(4002);
    if (found->second.settled)
        return rejected(3013);
    return Reply::ok(newTicket(found->second, *cursor));
}

void ServiceServer::settle(Session &session, const QString &status, bool announce)
{
    if (session.settled)
        return;
    const QList<QPointer<LiveSession>> live = m_live;
    for (const QPointer<LiveSession> &socket : live) {
        if (socket && socket->sessionId() == session.id)
            socket->flushCaptions();
    }
    // Every started minute is paid for, as far as the balance reaches.
    Account &user = account(session.phone);
    const qint64 minutes
        = (session.audioBytes + LiveSession::bytesPerMinute - 1) / LiveSession::bytesPerMinute;
    const qint64 due = qMax<qint64>(0, minutes - session.chargedMinutes) * session.pointsPerMinute;
    const qint64 charge = qMin(due, qMax<qint64>(0, user.points));
    user.points -= charge;
    session.chargedPoints += charge;
    session.chargedMinutes = qMax(session.chargedMinutes, minutes);
    session.settled = true;
    session.settledStatus = status;
    for (const QPointer<LiveSession> &socket : live) {
        if (socket && socket->sessionId() == session.id)
            socket->closeSettled(session, announce);
    }
}

Reply ServiceServer::finish(const Account &user, qint64 sessionId, const QJsonObject &)
{
    const auto found = m_state.sessions.find(sessionId);
    if (found == m_state.sessions.end() || found->second.phone != user.phone)
        return rejected(3012, 404);
    Session &session = found->second;
    if (!session.settled && !m_state.finishStatus.isEmpty())
        return Reply::ok(
            QJsonObject { { "sessionId", session.id }, { "status", m_state.finishStatus } });
    // A socket told to keep "session.finished" back keeps it back here as well.
    settle(session, QStringLiteral("COMPLETED"), !m_state.socket.withholdFinished);
    QJsonArray segments;
    for (const auto &[seq, segment] : session.segments) {
        segments.append(QJsonObject { { "segmentSeq", seq }, { "type", "FINAL" },
            { "sourceText", segment.sourceText }, { "targetText", segment.targetText } });
    }
    return Reply::ok(QJsonObject { { "sessionId", session.id }, { "status", session.settledStatus },
        { "chargedPoints", session.chargedPoints },
        { "remainingPoints", account(user.phone).points }, { "segments", segments } });
}

} // namespace LocalService
