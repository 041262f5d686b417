#include "TranslateMac/Capture/AudioCaptureFactory.h"

#include "TranslateMac/Capture/PipeWire/TapAudioCapture.h"
#include "TranslateMac/Capture/PulseAudio/SystemAudioCapture.h"
#include "TranslateMac/Capture/RunningApplications.h"

namespace TranslateMac {

namespace {

constexpr std::chrono::seconds serverTimeout(5);

} // namespace

std::unique_ptr<AudioCapturing> AudioCaptureFactory::make(TranslateCore::Clock &clock)
{
    if (TapAudioCapture::isAvailable())
        return std::make_unique<TapAudioCapture>(clock);
    return std::make_unique<SystemAudioCapture>(serverTimeout);
}

QCoro::Task<QList<AudioSource>> AudioCaptureFactory::runningSources()
{
    // Listed by the backend make() chooses, so the list shows what that backend captures.
    if (TapAudioCapture::isAvailable())
        co_return co_await TapAudioCapture::runningApplications();
    co_return co_await SystemAudioCapture::runningApplications(serverTimeout);
}

QList<AudioSource> AudioCaptureFactory::sourcesFromClients(
    const QList<SoundServerClient> &clients, qint64 ownPid)
{
    return RunningApplications::sources(clients, ownPid);
}

} // namespace TranslateMac
