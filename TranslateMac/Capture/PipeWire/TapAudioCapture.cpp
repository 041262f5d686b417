#include "TranslateMac/Capture/PipeWire/TapAudioCapture.h"

#include "TranslateMac/Capture/CaptureAccess.h"
#include "TranslateMac/Capture/PipeWire/TapHardware.h"
#include "TranslateMac/Capture/PipeWire/TapRecording.h"
#include "TranslateMac/Capture/PlaybackProbe.h"
#include "TranslateMac/Capture/RunningApplications.h"

#include "TranslateCore/Contract/TranslationFailure.h"

#include <unistd.h>

namespace TranslateMac {

using TranslateCore::CancellationError;
using TranslateCore::TranslationFailure;

TapAudioCapture::TapAudioCapture(
    TranslateCore::Clock &clock, std::chrono::nanoseconds probeTimeout, MakeRecording makeRecording)
    : m_makeRecording(
        makeRecording ? std::move(makeRecording) : MakeRecording(&TapRecording::make)),
      m_probeTimeout(probeTimeout), m_clock(clock)
{
}

bool TapAudioCapture::isAvailable()
{
    return TapHardware::isReachable();
}

QCoro::Task<QList<AudioSource>> TapAudioCapture::sources()
{
    co_return co_await runningApplications();
}

QCoro::Task<QList<AudioSource>> TapAudioCapture::runningApplications()
{
    QList<SoundServerClient> clients;
    try {
        clients = co_await TapHardware::clients();
    } catch (const SoundServerAccessError &) {
        // Nothing to list; choosing the whole system then reports the missing permission.
        co_return QList<AudioSource> { AudioSource::wholeSystem() };
    }
    co_return RunningApplications::sources(clients, ::getpid());
}

QCoro::Task<> TapAudioCapture::prepare(AudioSource source, TranslateCore::CancellationToken token)
{
    if (m_recording)
        throw TranslationFailure::sourceUnavailable();
    const QUuid generation = QUuid::createUuid();
    m_generation = generation;
    m_preparedSource.reset();
    m_hasPermission = false;

    std::shared_ptr<TapSession> recording = co_await makeRecording(source, generation);

    m_recording = recording;
    std::exception_ptr failure;
    try {
        co_await recording->start();
        if (m_generation != generation)
            throw CancellationError();
        co_await PlaybackProbe::confirm(recording->packets(), m_probeTimeout, m_clock, token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        co_await endRecordingQuietly(recording.get());
        std::rethrow_exception(failure);
    }

    // What the probe heard is discarded: nothing of it is uploaded.
    co_await endRecording(false, recording.get());
    if (m_generation != generation || token.isCancelled())
        throw CancellationError();
    m_preparedSource = std::move(source);
    m_hasPermission = true;
}

QCoro::Task<PacketStream> TapAudioCapture::start()
{
    if (m_recording || !m_preparedSource)
        throw TranslationFailure::sourceUnavailable();
    const QUuid generation = QUuid::createUuid();
    m_generation = generation;

    std::shared_ptr<TapSession> recording = co_await makeRecording(*m_preparedSource, generation);

    m_recording = recording;
    std::exception_ptr failure;
    try {
        co_await recording->start();
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        co_await endRecordingQuietly(recording.get());
        std::rethrow_exception(failure);
    }
    co_return std::move(recording->packets());
}

QCoro::Task<std::shared_ptr<TapSession>> TapAudioCapture::makeRecording(
    AudioSource source, QUuid generation)
{
    std::shared_ptr<TapSession> recording;
    try {
        recording = co_await m_makeRecording(std::move(source));
    } catch (...) {
        std::rethrow_exception(CaptureAccess::failure(std::current_exception()));
    }
    if (m_generation != generation) {
        try {
            co_await recording->stop(false);
        } catch (...) {
        }
        throw CancellationError();
    }
    co_return recording;
}

QCoro::Task<> TapAudioCapture::stop(bool flush)
{
    m_generation = QUuid::createUuid();
    m_preparedSource.reset();
    co_await endRecording(flush);
}

QCoro::Task<> TapAudioCapture::endRecording(bool flush, const TapSession *expected)
{
    if (!m_recording || (expected && expected != m_recording.get()))
        co_return;
    std::shared_ptr<TapSession> recording = std::exchange(m_recording, nullptr);
    co_await recording->stop(flush);
}

QCoro::Task<> TapAudioCapture::endRecordingQuietly(const TapSession *expected)
{
    try {
        co_await endRecording(false, expected);
    } catch (...) {
    }
}

} // namespace TranslateMac
