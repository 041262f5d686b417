#include "AppModel.h"
#include "AppModelSupport.h"

#include "TranslateCore/Contract/Integer.h"
#include "TranslateCore/Socket/OrderedSocketWriter.h"
#include "TranslateCore/Subtitles/ServerEvent.h"

#include <QPointer>

using namespace TranslateCore;
using namespace TranslateMac::AppModelSupport;
using namespace std::chrono_literals;

namespace TranslateMac {

QCoro::Task<> AppModel::connect(QUrl url)
{
    const Generation generation = QUuid::createUuid();
    m_socketGeneration = generation;
    std::shared_ptr<SocketConnection> socket = m_socketFactory(url);
    m_socket = socket;
    QPointer<AppModel> self(this);
    m_writer = std::make_shared<OrderedSocketWriter>(socket, [self, generation] {
        if (self)
            self->connectionFailed(generation); // runs on by itself; it never fails
    });
    OneShot<> ready;
    m_ready = ready;
    m_deadlineTask = TaskHandle::start(
        [this, socket, generation](
            CancellationToken token) { return awaitReady(socket, generation, token); },
        lifetime());
    m_receiveTask = TaskHandle::start(
        [this, socket, generation](
            CancellationToken token) { return receiveLoop(socket, generation, token); },
        lifetime());
    co_await ready.wait();
}

QCoro::Task<> AppModel::awaitReady(
    std::shared_ptr<SocketConnection> socket, Generation generation, CancellationToken token)
{
    QPointer<AppModel> self(this);
    co_await m_clock.sleep(readyDeadline, token);
    if (!self || m_socketGeneration != generation)
        co_return;
    completeReady(std::make_exception_ptr(TranslationFailure::timeout()));
    co_await socket->close();
}

void AppModel::completeReady(std::exception_ptr failure)
{
    m_deadlineTask = {};
    std::optional<OneShot<>> ready = std::exchange(m_ready, std::nullopt);
    if (!ready)
        return;
    if (failure)
        ready->fail(failure);
    else
        ready->resolve();
}

QCoro::Task<> AppModel::receiveLoop(
    std::shared_ptr<SocketConnection> socket, Generation generation, CancellationToken token)
{
    QPointer<AppModel> self(this);
    std::exception_ptr failure;
    try {
        while (!token.isCancelled()) {
            const SocketMessage message = co_await socket->receive();
            if (!self || m_socketGeneration != generation)
                co_return; // a late frame of a closed socket changes nothing
            if (message.kind == SocketMessage::Kind::audio)
                throw TranslationFailure::audioFormat();
            co_await handle(ServerEvent::fromText(message.textPayload), generation);
            if (!self || m_transcript.finished())
                co_return;
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || !failure || m_socketGeneration != generation || token.isCancelled())
        co_return;
    if (m_ready) {
        completeReady(failure); // the socket never became ready: connect() fails with it
        co_return;
    }
    co_await streamFailed(failure, generation);
}

QCoro::Task<> AppModel::streamFailed(std::exception_ptr error, Generation generation)
{
    const auto failure = translationFailure(error);
    if (failure && failure->kind() != TranslationFailure::Case::connectionLost
        && failure->kind() != TranslationFailure::Case::timeout) {
        show(error);
        co_await failAndSettle();
        co_return;
    }
    co_await connectionFailed(generation);
}

QCoro::Task<> AppModel::handle(ServerEvent event, Generation generation)
{
    const QString &type = event.type;
    const QJsonObject &json = event.json;
    if (type == u"session.ready") {
        if (integer(json.value("sessionId")) != m_sessionID)
            throw TranslationFailure::invalidResponse();
        const std::optional<qint64> interval = integer(json.value("heartbeatIntervalMs"));
        if (!interval || *interval < 1 || *interval > 60000)
            throw TranslationFailure::invalidResponse();
        m_lastPong = m_clock.now();
        startHeartbeat(*interval, generation);
        completeReady(nullptr);
    } else if (type == u"server.pong") {
        m_lastPong = m_clock.now();
        m_reconnectAttempts = 0;
    } else if (type == u"balance.warning") {
        setNotice(QStringLiteral("积分即将用完，请及时在手机 App 中充值。"));
    } else if (type == u"provider.reconnecting") {
        setNotice(QStringLiteral("翻译服务正在恢复，字幕可能稍有延迟。"));
    } else if (type == u"provider.reconnected") {
        setNotice(std::nullopt);
    } else if (type == u"provider.fallback") {
        const QJsonValue provider = json.value("toProvider");
        if (provider.isString() && provider.toString().toUpper().contains(u"MOCK"))
            throw TranslationFailure::server(QStringLiteral("MOCK_REJECTED"));
        setNotice(QStringLiteral("翻译服务已切换到备用线路。"));
    } else if (type == u"server.busy") {
        setNotice(QStringLiteral("翻译服务正在处理积压音频，请放慢播放速度。"));
    } else if (type == u"error") {
        const QJsonValue code = json.value("code");
        const QString name = code.isString() ? code.toString() : QStringLiteral("UNKNOWN");
        if (name != u"TTS_PROVIDER_UNAVAILABLE")
            throw TranslationFailure::server(name);
    } else if (type == u"session.finished") {
        applyToTranscript(event);
        co_await finishFromServer();
    } else if (type == u"tts.start" || type == u"tts.end") {
        throw TranslationFailure::audioFormat(); // spoken output is not supported
    } else {
        applyToTranscript(event);
    }
}

QCoro::Task<> AppModel::beginCapture(Generation operation)
{
    if (!m_writer)
        throw TranslationFailure::connectionLost();
    QPointer<AppModel> self(this);
    const Generation generation = m_socketGeneration;
    auto stream = std::make_shared<PacketStream>(co_await m_capture->start());
    if (!self)
        throw CancellationError();
    if (m_operationGeneration != operation
        || (m_state != ListeningState::connecting && m_state != ListeningState::reconnecting)
        || !m_sessionID) {
        try {
            co_await m_capture->stop(false);
        } catch (...) {
        }
        throw CancellationError();
    }
    m_audioTask = TaskHandle::start(
        [this, stream, operation, generation](
            CancellationToken token) { return uploadLoop(stream, operation, generation, token); },
        lifetime());
}

QCoro::Task<> AppModel::uploadLoop(std::shared_ptr<PacketStream> stream, Generation operation,
    Generation generation, CancellationToken token)
{
    QPointer<AppModel> self(this);
    std::exception_ptr failure;
    try {
        while (true) {
            std::optional<CapturedPacket> packet = co_await stream->next(token);
            if (!packet || !self || m_socketGeneration != generation || token.isCancelled())
                co_return;
            // While stopping, the packets the capture flushes are still uploaded.
            if (m_operationGeneration != operation && m_state != ListeningState::stopping)
                co_return;
            setLevel(packet->level());
            m_writer->audio(packet->pcm);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || !failure || isCancellation(failure) || m_socketGeneration != generation
        || token.isCancelled())
        co_return;
    co_await streamFailed(failure, generation);
}

void AppModel::startClock()
{
    m_clockTask = TaskHandle::start(
        [this](CancellationToken token) { return clockLoop(token); }, lifetime());
}

QCoro::Task<> AppModel::clockLoop(CancellationToken token)
{
    QPointer<AppModel> self(this);
    while (!token.isCancelled()) {
        co_await m_clock.sleep(1s, token);
        if (!self || !m_startTime)
            co_return;
        const auto seconds
            = std::chrono::duration_cast<std::chrono::seconds>(m_clock.now() - *m_startTime);
        assign(m_elapsed, qint64(seconds.count()), &AppModel::elapsedChanged);
    }
}

void AppModel::startHeartbeat(qint64 intervalMs, Generation generation)
{
    m_heartbeatTask = TaskHandle::start(
        [this, intervalMs, generation](
            CancellationToken token) { return heartbeatLoop(intervalMs, generation, token); },
        lifetime());
}

QCoro::Task<> AppModel::heartbeatLoop(
    qint64 intervalMs, Generation generation, CancellationToken token)
{
    QPointer<AppModel> self(this);
    const std::chrono::milliseconds interval(intervalMs);
    while (!token.isCancelled()) {
        co_await m_clock.sleep(interval, token);
        if (!self || m_socketGeneration != generation || !m_writer)
            co_return;
        bool lost = m_clock.now() - m_lastPong > 3 * interval;
        if (!lost) {
            try {
                m_writer->control(clientPingText(m_clock.now()));
            } catch (...) {
                lost = true; // the writer refused: the connection is as good as gone
            }
        }
        if (lost) {
            co_await connectionFailed(generation);
            co_return;
        }
    }
}

} // namespace TranslateMac
