#include "AppModel.h"
#include "AppModelSupport.h"

#include "TranslateCore/API/TranslationAPI.h"
#include "TranslateCore/Contract/Integer.h"
#include "TranslateCore/Subtitles/ServerEvent.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>

using namespace TranslateCore;

namespace TranslateMac {

namespace {

const QString settledNotice = QStringLiteral("已结束并完成结算。");
const QString pendingError
    = QStringLiteral("系统音频监听已停止。暂时无法确认结算结果，请恢复网络后点击“确认结算”。");
// The same while the sign-in is lost: the login screen shows, without that button.
const QString signInToSettleError
    = QStringLiteral("系统音频监听已停止。登录已失效，重新登录后将自动完成结算。");

bool isPendingText(const std::optional<QString> &text)
{
    return text == pendingError || text == signInToSettleError;
}

bool isFinalStatus(const QJsonValue &status)
{
    static const QStringList finals { "COMPLETED", "EXPIRED", "FAILED", "BALANCE_EXHAUSTED",
        "CANCELLED" };
    return status.isString() && finals.contains(status.toString());
}

ServerEvent eventFrom(const QJsonObject &json)
{
    return ServerEvent::fromData(QJsonDocument(json).toJson(QJsonDocument::Compact));
}

// The captions the finish answer holds, as the events the socket would have delivered: finals
// the socket never brought (for example during an outage) still reach the transcript.
QList<ServerEvent> backFill(const QJsonObject &answer)
{
    QList<ServerEvent> events;
    const QJsonValue list = answer.value("segments");
    if (!list.isArray())
        return events;
    const QJsonArray segments = list.toArray();
    for (const QJsonValue &segment : segments) {
        if (!segment.isObject())
            return {};
    }
    static const std::pair<const char *, const char *> pairs[] { { "asr.final", "sourceText" },
        { "translation.final", "targetText" } };
    for (const QJsonValue &value : segments) {
        const QJsonObject segment = value.toObject();
        const std::optional<qint64> seq = integer(segment.value("segmentSeq"));
        if (!seq || *seq < 1)
            continue;
        for (const auto &[type, key] : pairs) {
            const QJsonValue text = segment.value(key);
            if (text.isString() && !text.toString().isEmpty())
                events.append(eventFrom(
                    QJsonObject { { "type", type }, { "segmentSeq", *seq }, { "text", text } }));
        }
    }
    return events;
}

} // namespace

void AppModel::stop()
{
    if (!ownsSession() || m_state == ListeningState::stopping)
        return;
    m_operationGeneration = QUuid::createUuid();
    setState(ListeningState::stopping);
    m_recoveryTask = {};
    m_endTask = TaskHandle::start(
        [this](CancellationToken token) { return stopSequence(token); }, lifetime());
}

QCoro::Task<> AppModel::stopSequence(CancellationToken)
{
    QPointer<AppModel> self(this);
    const Ending ending(this);
    if (m_connection)
        m_connection->stopHeartbeat();
    std::exception_ptr failure;
    try {
        co_await m_capture->stop(true); // what the capture still holds arrives first
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        co_await reconcileFinish();
        co_return;
    }
    if (const std::shared_ptr<LiveConnection> connection = m_connection)
        co_await connection->uploadFinished(); // the flushed packets are sent, then it ends
    if (!self)
        co_return;
    setLevel(0);
    if (!m_sessionID) {
        // With a creation still outstanding, start() settles whatever it returns.
        if (!m_creationInFlight) {
            setState(ListeningState::completed);
            co_await closeConnection();
        }
        co_return;
    }
    if (!m_connection || m_connection->awaitingReady()) {
        co_await reconcileFinish(); // the socket never became ready
        co_return;
    }
    const std::shared_ptr<LiveConnection> connection = m_connection;
    try {
        co_await connection->finish();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        co_await reconcileFinish();
        co_return;
    }
    if (!m_sessionID)
        co_return; // the server's end of session already arrived
    m_finishDeadlineTask = TaskHandle::start(
        [this](CancellationToken token) { return awaitServerFinish(token); }, lifetime());
}

QCoro::Task<> AppModel::awaitServerFinish(CancellationToken token)
{
    QPointer<AppModel> self(this);
    co_await m_clock.sleep(finishDeadline, token);
    if (self && m_sessionID)
        co_await reconcileFinish();
}

QCoro::Task<> AppModel::finishFromServer()
{
    QPointer<AppModel> self(this);
    const Ending ending(this);
    m_operationGeneration = QUuid::createUuid();
    setState(ListeningState::completed);
    if (m_sessionID)
        forgetPendingSession(*m_sessionID);
    setSessionID(std::nullopt);
    if (isPendingText(m_error))
        setError(std::nullopt); // its button is gone
    setNotice(settledNotice);
    if (!co_await stopStreaming())
        co_return;
    m_clockTask = {};
    setLevel(0);
    co_await refreshBalanceAfterFinish();
}

QCoro::Task<> AppModel::failAndSettle()
{
    QPointer<AppModel> self(this);
    const Ending ending(this);
    m_operationGeneration = QUuid::createUuid();
    setState(ListeningState::failed);
    if (!co_await stopStreaming())
        co_return;
    setLevel(0);
    if (m_sessionID)
        co_await reconcileFinish();
    else
        m_clockTask = {};
}

QCoro::Task<bool> AppModel::stopStreaming()
{
    QPointer<AppModel> self(this);
    try {
        co_await m_capture->stop(false);
    } catch (...) {
        // The session ends either way; the capture's own failure changes nothing here.
    }
    if (!self)
        co_return false;
    co_await closeConnection();
    co_return !self.isNull();
}

QCoro::Task<> AppModel::closeConnection()
{
    m_finishDeadlineTask = {};
    // Every loop of the old connection ends with it; nothing it still receives reaches the model.
    if (const std::shared_ptr<LiveConnection> connection = std::exchange(m_connection, nullptr))
        co_await connection->close();
}

QCoro::Task<> AppModel::reconcileFinish()
{
    if (!m_sessionID || m_settlementInFlight)
        co_return;
    const qint64 id = *m_sessionID;
    m_settlementInFlight = true;
    // A task of its own: cancelling whoever asked (the finish deadline, which the settlement's
    // own closeConnection() cancels) does not cancel the settlement.
    m_settlementTask
        = TaskHandle::start([this, id](CancellationToken) { return settle(id); }, lifetime());
    co_await m_settlementTask.finished();
}

QCoro::Task<> AppModel::settle(qint64 id)
{
    QPointer<AppModel> self(this);
    const Ending ending(this);
    if (m_sessionID == id) {
        setState(ListeningState::stopping);
        co_await closeConnection();
        if (!self)
            co_return;
        QJsonObject answer;
        bool confirmed = false;
        try {
            answer = co_await m_api->finish(id, lifetime());
            confirmed = self && confirmSettlement(answer);
        } catch (...) {
        }
        if (!self)
            co_return;
        if (confirmed) {
            co_await refreshBalanceAfterFinish();
            if (!self)
                co_return;
        } else if (m_sessionID == id) {
            // A settlement refused because the client lost its sign-in must let the user sign
            // in again to confirm it; a model still claiming to be signed in would hide the login.
            syncSignIn();
            setState(ListeningState::pending);
            m_clockTask = {};
            setLevel(0);
            setError(m_loggedIn ? pendingError : signInToSettleError);
        }
    }
    m_settlementInFlight = false;
}

bool AppModel::confirmSettlement(const QJsonObject &answer)
{
    if (!isFinalStatus(answer.value("status")))
        return false;
    Transcript next = m_transcript;
    try {
        if (!answer.isEmpty()) {
            for (const ServerEvent &event : backFill(answer))
                next.apply(event);
        }
        QJsonObject finished = answer;
        finished.insert("type", "session.finished");
        next.apply(eventFrom(finished));
    } catch (...) {
        return false; // the answer could not be applied: not confirmed
    }
    setTranscript(std::move(next));
    if (m_sessionID)
        forgetPendingSession(*m_sessionID);
    setSessionID(std::nullopt);
    setState(ListeningState::completed);
    if (isPendingText(m_error))
        setError(std::nullopt); // its button is gone
    m_clockTask = {};
    setLevel(0);
    setNotice(settledNotice);
    return true;
}

QCoro::Task<> AppModel::refreshBalanceAfterFinish()
{
    QPointer<AppModel> self(this);
    std::optional<qint64> balance;
    try {
        balance = co_await m_api->wallet(lifetime());
    } catch (...) {
    }
    if (!self)
        co_return;
    if (!balance) {
        setNotice(QStringLiteral("翻译已结束，账户余额暂未刷新。"));
        co_return;
    }
    assign(m_wallet, *balance, &AppModel::walletChanged);
    co_await refreshQuote();
}

} // namespace TranslateMac
