#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QtGlobal>

#include <deque>
#include <map>
#include <memory>
#include <optional>

namespace LocalService {

// Everything the service remembers, in memory only; /control/reset replaces it with a fresh one.

struct Account {
    QString phone;
    qint64 points = 1000;
};

struct AccessToken {
    QString phone;
    QString refreshToken;
    qint64 expiresAtMs = 0; // monotonic clock
};

struct SmsCode {
    QString code;
    qint64 sentAtMs = 0;
    bool used = false;
};

struct Segment {
    QString sourceText;
    QString targetText;
    bool final = false;
};

struct Session {
    qint64 id = 0;
    QString phone;
    qint64 pointsPerMinute = 10;
    // The Apertium pair that translates the session's speech; empty for the tone routes.
    QString translationPair;
    qint64 reservedPoints = 0;
    qint64 chargedPoints = 0;
    qint64 audioBytes = 0;
    qint64 chargedMinutes = 0;
    bool warned = false;
    bool settled = false;
    QString settledStatus;
    QJsonObject created; // the answer of the creating request, repeated for the same key
    std::map<qint64, Segment> segments;
    qint64 lastSegmentSeq = 0;
    // Monotonic time since which no socket of the session has been open (creation at first).
    qint64 socketlessSinceMs = 0;
};

struct Ticket {
    qint64 sessionId = 0;
    qint64 cursor = 0;
};

struct Challenge {
    QString id;
    QString secret;
    QString userCode;
    qint64 expiresAtEpochMs = 0;
    QString status
        = QStringLiteral("PENDING"); // PENDING, AUTHORIZED, REJECTED, CANCELLED, CONSUMED
    QString phone;
};

struct Fault {
    QString path;
    int count = 0;
    std::optional<int> httpStatus;
    std::optional<QJsonObject> envelope;
    std::optional<QByteArray> rawBody;
    std::optional<qint64> bodyBytes;
    qint64 delayMs = 0;
    std::optional<QString> redirectTo;
    // Reads the request, then closes the connection without answering.
    bool drop = false;
    // The body is sent compressed, announced as "Content-Encoding: deflate".
    bool deflate = false;

    bool replacesAnswer() const
    {
        return httpStatus || envelope || rawBody || bodyBytes || redirectTo || deflate;
    }
};

struct SocketSettings {
    qint64 readyDelayMs = 0;
    bool withholdReady = false;
    bool withholdFinished = false;
    bool withholdCaptions = false; // the recogniser hears the audio and says nothing yet
};

// A connection whose socket upgrade was refused with an HTTP answer: what the client still sent.
struct RefusedUpgrade {
    qint64 bytesAfterAnswer = 0;
    bool open = true;
};

// Recorded observations are capped so that a long run cannot grow memory without bound.
constexpr qsizetype recordLimit = 10000;

template <typename T> void appendCapped(std::deque<T> &list, T value)
{
    list.push_back(std::move(value));
    while (qsizetype(list.size()) > recordLimit)
        list.pop_front();
}

// A record of JSON observations, bounded in bytes as well as in entries: a client can make each
// entry large (long texts, many headers).
struct Record : std::deque<QJsonObject> {
    static constexpr qsizetype byteLimit = 32 * 1024 * 1024;
    qsizetype bytes = 0;
};

inline qsizetype recordedSize(const QJsonObject &value)
{
    return QJsonDocument(value).toJson(QJsonDocument::Compact).size();
}

inline void appendCapped(Record &record, QJsonObject value)
{
    record.bytes += recordedSize(value);
    record.push_back(std::move(value));
    while (qsizetype(record.size()) > recordLimit || record.bytes > Record::byteLimit) {
        record.bytes -= recordedSize(record.front());
        record.pop_front();
    }
}

// Lookup tables whose entries the client may create at will start over once full.
template <typename Table> void makeRoom(Table &table)
{
    if (table.size() >= recordLimit)
        table.clear();
}

struct ServiceState {
    QHash<QString, Account> accounts;
    QHash<QString, SmsCode> smsCodes;
    QHash<QString, AccessToken> accessTokens;
    QHash<QString, QString> refreshTokens; // refresh token -> phone
    std::map<qint64, Session> sessions;
    QHash<QString, qint64> idempotencyKeys; // phone + key -> session id
    QHash<QString, Ticket> tickets;
    QHash<QString, Ticket> pendingUpgrades; // presented, waiting for the upgrade to finish
    QHash<QString, Challenge> challenges;
    std::deque<Fault> faults;
    std::optional<QJsonObject> updatePolicy;
    QString finishStatus;
    SocketSettings socket;
    // An account may run one unsettled session at a time (3011 for another).
    bool oneSessionPerAccount = true;
    // A session without a socket for this long is ended and charged ("EXPIRED"); 0 never.
    qint64 abandonedSessionMs = 0;
    qint64 nextSessionId = 1;

    Record requests;
    Record frames;
    Record socketErrors;
    qint64 receivedAudioBytes = 0;
    std::deque<std::shared_ptr<RefusedUpgrade>> refusedUpgrades;
};

} // namespace LocalService
