#pragma once

#include "ConnectionLimits.h"
#include "Recogniser.h"
#include "ServiceState.h"
#include "SpeechRecogniser.h"

#include <QAbstractHttpServer>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QUrlQuery>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace LocalService {

class ApertiumPipeline;
class LiveSession;

// What turns a session's audio into captions: the tone recogniser with the tone routes, or the
// offline English recogniser and translator with the routes they can serve.
enum class RecogniserKind { tone, speech };

struct ServiceOptions {
    qint64 tokenLifetimeMs = 3600000;
    qint64 heartbeatMs = 15000;
    bool demo = false;
    ConnectionLimits limits;
    // Every control call must carry it in the "X-Control-Secret" header.
    QString controlSecret;
    RecogniserKind recogniser = RecogniserKind::tone;
    SpeechModel speechModel;
    QString apertiumModes = QStringLiteral("/usr/share/apertium/modes");
    int translationTimeoutMs = 3000; // longest wait for one sentence's translation
    // A session that has had no socket for this long is ended and charged for what it received,
    // as the real service does once nobody listens; 0 keeps sessions open for ever.
    qint64 abandonedSessionMs = 60000;
};

// One HTTP request as the handlers see it.
struct Request {
    QByteArray method; // "GET", "POST", ...
    QString path; // below "/api/" for the service's own endpoints, else the whole path
    QUrlQuery query;
    QHash<QString, QString> headers; // lower-case names
    QByteArray body;
};

struct Reply {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QList<std::pair<QByteArray, QByteArray>> headers;

    static Reply json(const QJsonObject &object, int status = 200);
    static Reply envelope(
        int code, const QJsonValue &data = QJsonValue::Undefined, int status = 200);
    static Reply ok(const QJsonValue &data = QJsonValue::Undefined);
};

// The local stand-in for the translation service: REST below /api/, the live socket, the
// device-login approval page and the control interface below /control/, all on one TLS port.
class ServiceServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    explicit ServiceServer(ServiceOptions options, QObject *parent = nullptr);
    ~ServiceServer() override;

    // Listens on 127.0.0.1 only; returns the bound port, or 0 on failure.
    quint16 start(const QSslCertificate &certificate, const QSslKey &key, quint16 port);
    QString origin() const;

    ServiceState &state() { return m_state; }
    const ServiceOptions &options() const { return m_options; }

    // Live-session bookkeeping used by LiveSession.
    void recordSocketError(const QJsonObject &error);
    void settle(Session &session, const QString &status, bool announce);
    void forgetLiveSession(LiveSession *live);
    // The recogniser for a new socket of `session`, numbering segments from `firstSequence`.
    std::unique_ptr<Recogniser> makeRecogniser(const Session &session, qint64 firstSequence);
    // Takes back a recogniser no longer used; a few speech recognisers are kept for later sockets.
    void recycleRecogniser(std::unique_ptr<Recogniser> recogniser);
    // The persistent translation pipeline of an Apertium pair ("eng-spa"), started on first use.
    ApertiumPipeline *translator(const QString &pair);

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    static void write(QHttpServerResponder &responder, const Reply &reply);
    void respond(
        const QHttpServerRequest &request, QTcpSocket *socket, const Reply &reply, qint64 delayMs);
    bool handleSocketUpgrade(const Request &request);
    bool controlAllowed(const Request &request) const;
    void acceptWebSockets();

    Reply dispatchApi(const Request &request);
    Reply dispatchControl(const Request &request);
    Reply devicePage(const Request &request);
    Reply faultReply(const Fault &fault) const;

    // Authentication and account endpoints (ServiceAuth.cpp).
    Reply sendCode(const QJsonObject &body);
    Reply loginPhoneCode(const QJsonObject &body);
    Reply refresh(const QJsonObject &body);
    Reply revoke(const QJsonObject &body);
    Reply watchLoginCreate(const QJsonObject &body);
    Reply watchLoginPoll(const QJsonObject &body);
    Reply watchLoginCancel(const QJsonObject &body);
    Reply appUpdateCheck(const Request &request);
    Reply profile(const Account &account);
    Reply wallet(const Account &account);
    QJsonObject issueTokens(const QString &phone);
    Account &account(const QString &phone);
    std::optional<QString> authenticatedPhone(const Request &request);
    bool decideChallenge(const QString &challengeId, const QString &action, const QString &phone);

    // Translation endpoints (ServiceTranslation.cpp).
    Reply routes();
    Reply quote(const Account &account, const QJsonObject &body);
    Reply createSession(const Account &account, const Request &request, const QJsonObject &body);
    Reply wsTicket(const Account &account, qint64 sessionId, const QJsonObject &body);
    Reply finish(const Account &account, qint64 sessionId, const QJsonObject &body);
    QJsonObject newTicket(Session &session, qint64 cursor);

    // Ending abandoned sessions (ServiceExpiry.cpp).
    bool hasOpenSocket(qint64 sessionId) const;
    // From now on the session has no socket: it expires unless one opens in time.
    void watchAbandonment(Session &session);
    void scheduleExpiry(qint64 sessionId, qint64 delayMs);
    void expireIfAbandoned(qint64 sessionId);
    // Applies a changed time-out to every session already without a socket.
    void setAbandonedSessionMs(qint64 timeoutMs);

    // Control actions (ServiceControl.cpp).
    Reply controlSocket(const QJsonObject &body);
    Reply controlFault(const QJsonObject &body);
    Reply receivedFrames() const;
    Reply sessionsReadBack() const;
    void reset();

    ServiceOptions m_options;
    ServiceState m_state;
    quint16 m_port = 0;
    bool m_destroying = false;
    QList<QPointer<LiveSession>> m_live;
    std::map<QString, std::unique_ptr<ApertiumPipeline>> m_translators;
    std::vector<std::unique_ptr<SpeechRecogniser>> m_idleRecognisers;
};

// Helpers shared by the handler files.
QString randomToken(int bytes);
qint64 monotonicMs();
qint64 epochMs();
std::optional<QJsonObject> parseObject(const QByteArray &body);

} // namespace LocalService
