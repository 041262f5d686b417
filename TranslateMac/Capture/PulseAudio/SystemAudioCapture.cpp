#include "TranslateMac/Capture/PulseAudio/SystemAudioCapture.h"

#include "TranslateMac/Capture/CaptureAccess.h"
#include "TranslateMac/Capture/PulseAudio/CaptureOutput.h"
#include "TranslateMac/Capture/PulseAudio/PulseConnection.h"
#include "TranslateMac/Capture/RunningApplications.h"

#include "TranslateCore/Contract/TranslationFailure.h"

#include <unistd.h>

namespace TranslateMac {

using TranslateCore::TranslationFailure;

SystemAudioCapture::SystemAudioCapture(std::chrono::milliseconds serverTimeout)
    : m_serverTimeout(serverTimeout)
{
}

SystemAudioCapture::~SystemAudioCapture() = default;

bool SystemAudioCapture::hasPermission() const
{
    return CaptureAccess::soundServerReachable();
}

QCoro::Task<QList<AudioSource>> SystemAudioCapture::sources()
{
    co_return co_await runningApplications(m_serverTimeout);
}

QCoro::Task<QList<AudioSource>> SystemAudioCapture::runningApplications(
    std::chrono::milliseconds serverTimeout)
{
    std::shared_ptr<PulseConnection> connection;
    try {
        connection = co_await PulseConnection::open(serverTimeout);
    } catch (const SoundServerAccessError &) {
        // Nothing to list; choosing the whole system then reports the missing permission.
        co_return QList<AudioSource> { AudioSource::wholeSystem() };
    }
    const PulseSnapshot snapshot = co_await connection->snapshot();
    co_return RunningApplications::sources(snapshot.clients, ::getpid());
}

QCoro::Task<std::shared_ptr<PulseConnection>> SystemAudioCapture::connection()
{
    if (!m_connection || !m_connection->isReady()) {
        m_connection.reset();
        try {
            m_connection = co_await PulseConnection::open(m_serverTimeout);
        } catch (...) {
            std::rethrow_exception(CaptureAccess::failure(std::current_exception()));
        }
    }
    std::shared_ptr<PulseConnection> connection = m_connection; // co_return would move the member
    co_return connection;
}

QCoro::Task<> SystemAudioCapture::prepare(
    AudioSource source, TranslateCore::CancellationToken token)
{
    token.throwIfCancelled();
    std::shared_ptr<PulseConnection> connection = co_await this->connection();
    PulseSnapshot snapshot;
    try {
        snapshot = co_await connection->snapshot();
    } catch (...) {
        if (!m_prepared && !m_output)
            m_connection.reset();
        throw;
    }
    token.throwIfCancelled();

    bool capturable = false;
    if (!source.pid) {
        const PulseSink *sink = snapshot.defaultSink();
        capturable = sink && !sink->monitorSource.isEmpty();
    } else {
        capturable = std::any_of(snapshot.clients.begin(), snapshot.clients.end(),
            [&](const auto &client) { return client.belongsTo(source); });
    }
    if (!capturable) {
        if (!m_prepared && !m_output)
            m_connection.reset();
        throw TranslationFailure::sourceUnavailable();
    }
    m_prepared = std::move(source);
}

QCoro::Task<PacketStream> SystemAudioCapture::start()
{
    if (m_output || m_starting || !m_prepared)
        throw TranslationFailure::audioFormat();
    m_starting = true;
    struct Starting {
        bool &flag;
        ~Starting() { flag = false; }
    } starting { m_starting };

    std::shared_ptr<PulseConnection> connection = co_await this->connection();
    const PulseSnapshot snapshot = co_await connection->snapshot();
    auto [sender, receiver] = TranslateCore::makeChannel<CapturedPacket>(packetStreamCapacity);
    auto output = std::make_shared<CaptureOutput>(connection, std::move(sender), *m_prepared);
    TranslateCore::OneShot<> started;
    {
        PulseConnection::Lock lock(*connection);
        output->begin(snapshot, started);
    }
    m_output = output;
    std::exception_ptr failure;
    try {
        co_await started.wait();
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        // Nothing of a failed start stays on the server, and its packet stream has ended.
        if (m_output == output)
            m_output.reset();
        {
            PulseConnection::Lock lock(*connection);
            output->shutdown();
            output->abort();
        }
        co_await connection->roundTrip();
        std::rethrow_exception(failure);
    }
    co_return std::move(receiver);
}

QCoro::Task<> SystemAudioCapture::stop(bool flush)
{
    const std::shared_ptr<CaptureOutput> output = std::exchange(m_output, nullptr);
    if (!output)
        co_return;
    const std::shared_ptr<PulseConnection> connection = output->connection();
    std::exception_ptr failure;
    {
        // Holding the lock keeps the event thread out: ending the stream cannot race a delivery.
        PulseConnection::Lock lock(*connection);
        output->shutdown();
        if (flush)
            failure = output->finish();
        else
            output->abort();
    }
    // When stop returns, the server has let go of the recording.
    co_await connection->roundTrip();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace TranslateMac
