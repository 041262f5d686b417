#include "AppModel.h"
#include "AppModelSupport.h"

#include "TranslateCore/API/TranslationAPI.h"
#include "TranslateCore/Contract/ProductionEndpoint.h"

#include <QPointer>

using namespace TranslateCore;
using namespace TranslateMac::AppModelSupport;

namespace TranslateMac {

namespace {

// The points a created session leaves available: the sum cannot overflow on hostile numbers.
qint64 startingBalance(const CreatedSession &created)
{
    qint64 sum = 0;
    if (__builtin_add_overflow(created.available, created.reserved, &sum))
        return created.available > 0 ? std::numeric_limits<qint64>::max()
                                     : std::numeric_limits<qint64>::min();
    return sum;
}

} // namespace

QCoro::Task<> AppModel::start()
{
    if (!canStart())
        co_return;
    QPointer<AppModel> self(this);
    const Generation operation = QUuid::createUuid();
    m_operationGeneration = operation;
    const AudioSource source = m_selectedSource;
    setState(ListeningState::preparing);
    setError(std::nullopt);
    setNotice(std::nullopt);
    m_reconnectAttempts = 0;
    if (m_capture->authorizesOnStart())
        setNotice(QStringLiteral("请播放需要翻译的声音；首次使用时允许系统音频访问。"));
    m_recovering = false;
    setTranscript(Transcript(m_wallet));
    assign(m_elapsed, qint64(0), &AppModel::elapsedChanged);
    setStartTime(std::nullopt);

    std::exception_ptr failure;
    try {
        co_await m_capture->prepare(source, lifetime());
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        co_await startFailed(failure, operation);
        co_return;
    }
    if (!operationCurrent(operation, ListeningState::preparing))
        co_return; // nothing was created: nothing to undo

    assign(m_permission, true, &AppModel::permissionChanged);
    setNotice(std::nullopt);
    m_creationInFlight = true;
    CreatedSession created;
    const QString routeCode = m_selectedRoute;
    try {
        const bool history = m_history;
        const QString key = QUuid::createUuid().toString(QUuid::WithoutBraces);
        created = co_await m_api->create(routeCode, history, key, lifetime());
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        co_await startFailed(failure, operation);
        co_return;
    }
    m_creationInFlight = false;
    // The session is ours to finish from here on, whatever happened meanwhile, and stays so
    // across a restart: it is recorded before anything else is done with it.
    setSessionID(created.id);
    try {
        recordPendingSession(created.id, routeCode);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        co_await startFailed(failure, operation); // a session no launch could settle goes now
        co_return;
    }
    if (!operationCurrent(operation, ListeningState::preparing)) {
        co_await reconcileFinish();
        co_return;
    }
    setTranscript(Transcript(startingBalance(created)));
    setState(ListeningState::connecting);

    try {
        const QUrl url = ProductionEndpoint::socketURL(
            m_api->baseURL(), created.wsURL, created.ticket, created.id);
        co_await connect(url);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        co_await startFailed(failure, operation);
        co_return;
    }
    if (!operationCurrent(operation, ListeningState::connecting))
        co_return; // whoever superseded the start owns the clean-up

    try {
        co_await beginCapture(operation);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        co_await startFailed(failure, operation);
        co_return;
    }
    if (m_operationGeneration != operation) {
        try {
            co_await m_capture->stop(false);
        } catch (...) {
        }
        co_return;
    }
    setState(ListeningState::listening);
    setStartTime(m_clock.now());
    startClock();
}

QCoro::Task<> AppModel::startFailed(std::exception_ptr error, Generation operation)
{
    m_creationInFlight = false;
    if (m_operationGeneration == operation) {
        if (isFailure(error, TranslationFailure::Case::permission))
            assign(m_permission, false, &AppModel::permissionChanged);
        else if (m_capture->authorizesOnStart() && !m_sessionID)
            assign(m_permission, m_capture->hasPermission(), &AppModel::permissionChanged);
    }
    if (const auto failure = translationFailure(error);
        failure && failure->kind() == TranslationFailure::Case::invalidCreatedSession)
        setSessionID(failure->number()); // created but unusable: still ours to finish
    // A cancelled step means the start was superseded, even when the operation looks current.
    if (m_operationGeneration == operation && !isCancellation(error)) {
        show(error);
        co_await failAndSettle();
        co_return;
    }
    if (m_state != ListeningState::stopping)
        co_return;
    if (m_sessionID)
        co_await reconcileFinish();
    else
        setState(ListeningState::completed);
}

} // namespace TranslateMac
