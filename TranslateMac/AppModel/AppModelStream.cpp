#include "AppModel.h"
#include "AppModelSupport.h"

#include "TranslateCore/Contract/Integer.h"
#include "TranslateCore/Subtitles/ServerEvent.h"

#include <QPointer>

using namespace TranslateCore;
using namespace TranslateMac::AppModelSupport;
using namespace std::chrono_literals;

namespace TranslateMac {

QCoro::Task<> AppModel::connect(QUrl url)
{
    const auto connection = std::make_shared<LiveConnection>(
        m_socketFactory(url), m_sessionID.value_or(0), m_clock,
        // The connection's loops end with the model's lifetime, before the model is gone.
        [this](ServerEvent event) { return received(std::move(event)); }, lifetime());
    QObject::connect(connection.get(), &LiveConnection::lost, this,
        [this, from = connection.get()](std::exception_ptr reason) {
            streamFailed(reason, from); // runs on by itself; it never fails
        });
    m_connection = connection;
    co_await connection->ready();
}

QCoro::Task<bool> AppModel::received(ServerEvent event)
{
    QPointer<AppModel> self(this);
    co_await handle(std::move(event));
    co_return self && !m_transcript.finished();
}

QCoro::Task<> AppModel::streamFailed(std::exception_ptr error, const LiveConnection *from)
{
    if (m_connection.get() != from)
        co_return; // a connection the model already let go
    const auto failure = translationFailure(error);
    if (failure && failure->kind() != TranslationFailure::Case::connectionLost
        && failure->kind() != TranslationFailure::Case::timeout) {
        show(error);
        co_await failAndSettle();
        co_return;
    }
    co_await connectionFailed(from);
}

QCoro::Task<> AppModel::handle(ServerEvent event)
{
    // "session.ready" and the heartbeat's timing belong to the connection.
    const QString &type = event.type;
    const QJsonObject &json = event.json;
    if (type == u"server.pong") {
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
    if (!m_connection)
        throw TranslationFailure::connectionLost();
    QPointer<AppModel> self(this);
    const std::shared_ptr<LiveConnection> connection = m_connection;
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
    connection->upload(stream, [this, operation](const CapturedPacket &packet) {
        // While stopping, the packets the capture flushes are still uploaded.
        if (m_operationGeneration != operation && m_state != ListeningState::stopping)
            return false;
        setLevel(packet.level());
        return true;
    });
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

} // namespace TranslateMac
