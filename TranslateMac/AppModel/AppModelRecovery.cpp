#include "AppModel.h"
#include "AppModelSupport.h"

#include "TranslateCore/API/TranslationAPI.h"

#include <QPointer>

using namespace TranslateCore;
using namespace TranslateMac::AppModelSupport;

namespace TranslateMac {

namespace {

// Service answers after which another attempt cannot succeed.
bool endsRecovery(std::exception_ptr error)
{
    const auto failure = translationFailure(error);
    if (!failure)
        return false;
    return failure->kind() == TranslationFailure::Case::signedOut
        || (failure->kind() == TranslationFailure::Case::rejected
            && (failure->number() == 3013 || failure->number() == 3015));
}

} // namespace

QCoro::Task<> AppModel::connectionFailed(const LiveConnection *from)
{
    if (m_connection.get() != from || m_recovering || !m_sessionID)
        co_return; // stale or duplicate report
    if (m_state == ListeningState::stopping) {
        co_await reconcileFinish(); // the stop cannot end over a dead socket
        co_return;
    }
    if (m_state != ListeningState::listening && m_state != ListeningState::reconnecting)
        co_return;
    m_recovering = true;
    setState(ListeningState::reconnecting);
    m_recoveryTask = TaskHandle::start(
        [this](CancellationToken token) { return recoverConnection(token); }, lifetime());
}

QCoro::Task<> AppModel::recoverConnection(CancellationToken token)
{
    QPointer<AppModel> self(this);
    const Generation operation = m_operationGeneration;
    if (!co_await stopStreaming())
        co_return;

    while (true) {
        setLevel(0);
        if (!recoveryCurrent(operation) || !m_sessionID || m_reconnectAttempts > 2)
            break;
        const int attempt = ++m_reconnectAttempts;
        setNotice(QStringLiteral("连接已中断，正在重连，第") + QString::number(attempt)
            + QStringLiteral(" 次。"));
        std::exception_ptr failure;
        bool ended = false;
        try {
            co_await m_clock.sleep(std::chrono::milliseconds(500 << (attempt - 1)), token);
            ended = co_await recoveryAttempt(operation, token);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self)
            co_return;
        if (ended)
            co_return;
        if (!failure)
            break; // superseded: give up quietly
        co_await closeConnection();
        if (!self)
            co_return;
        if (endsRecovery(failure))
            break;
    }
    m_recovering = false;
    if (!recoveryCurrent(operation))
        co_return; // the user stopped or the session ended meanwhile: no text
    setError(QStringLiteral("连接没能恢复，监听已停止。已产生的用量会按后端实际结算。"));
    co_await failAndSettle();
}

QCoro::Task<bool> AppModel::recoveryAttempt(Generation operation, CancellationToken token)
{
    QPointer<AppModel> self(this);
    const auto stillCurrent = [&] {
        if (!self)
            throw CancellationError();
        return recoveryCurrent(operation) && m_sessionID.has_value();
    };
    if (!stillCurrent())
        co_return false;
    co_await m_capture->prepare(m_selectedSource, token);
    if (!stillCurrent())
        co_return false;
    const QUrl url = co_await m_api->ticket(*m_sessionID, m_transcript.replayCursor(), token);
    if (!stillCurrent())
        co_return false;
    co_await connect(url);
    if (!stillCurrent())
        co_return false;
    co_await beginCapture(operation);
    if (!self)
        throw CancellationError();
    if (!recoveryCurrent(operation)) {
        try {
            co_await m_capture->stop(false);
        } catch (...) {
        }
        if (self)
            m_recovering = false;
        co_return true;
    }
    setState(ListeningState::listening);
    setNotice(QStringLiteral("连接已恢复，中断期间的音频没有上传。"));
    m_recovering = false;
    co_return true;
}

} // namespace TranslateMac
