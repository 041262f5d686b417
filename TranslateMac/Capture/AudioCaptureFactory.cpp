#include "AudioCaptureFactory.h"

#include "TranslateMac/Capture/CaptureAccess.h"
#include "TranslateMac/Capture/PulseConnection.h"
#include "TranslateMac/Capture/SystemAudioCapture.h"
#include "TranslateMac/Capture/TapAudioCapture.h"

#include <QCollator>
#include <QSet>

#include <algorithm>

#include <unistd.h>

namespace TranslateMac {

namespace {

constexpr std::chrono::seconds serverTimeout(5);

bool isSoundServerService(const SoundServerClient &client)
{
    static const QSet<QString> services { QStringLiteral("pipewire"),
        QStringLiteral("pipewire-pulse"), QStringLiteral("wireplumber"),
        QStringLiteral("pipewire-media-session"), QStringLiteral("pulseaudio") };
    return client.binary && services.contains(*client.binary);
}

} // namespace

std::unique_ptr<AudioCapturing> AudioCaptureFactory::make(TranslateCore::Clock &clock)
{
    if (TapAudioCapture::isAvailable())
        return std::make_unique<TapAudioCapture>(clock);
    return std::make_unique<SystemAudioCapture>();
}

QCoro::Task<QList<AudioSource>> AudioCaptureFactory::runningSources()
{
    std::shared_ptr<PulseConnection> connection;
    try {
        connection = co_await PulseConnection::open(serverTimeout);
    } catch (const SoundServerAccessError &) {
        // Nothing to list; choosing the whole system then reports the missing permission.
        co_return QList<AudioSource> { AudioSource::wholeSystem() };
    }
    const PulseSnapshot snapshot = co_await connection->snapshot();
    co_return sourcesFromClients(snapshot.clients, ::getpid());
}

QList<AudioSource> AudioCaptureFactory::sourcesFromClients(
    const QList<SoundServerClient> &clients, qint64 ownPid)
{
    QList<AudioSource> applications;
    QSet<qint32> pids;
    QSet<QString> applicationIDs;
    for (const SoundServerClient &client : clients) {
        if (!client.pid || *client.pid == ownPid || client.name.trimmed().isEmpty()
            || isSoundServerService(client))
            continue;
        // An application with several connections, or helper processes announcing the same
        // application id, is listed once.
        if (pids.contains(*client.pid)
            || (client.applicationID && applicationIDs.contains(*client.applicationID)))
            continue;
        pids.insert(*client.pid);
        if (client.applicationID)
            applicationIDs.insert(*client.applicationID);
        applications.append({ client.pid, client.name, client.identity() });
    }
    // The C locale's collation compares code points and knows no numeric mode; fall back to a
    // real language's ordering there.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(
        applications.begin(), applications.end(), [&](const AudioSource &a, const AudioSource &b) {
            return collator.compare(a.name, b.name) < 0;
        });
    applications.prepend(AudioSource::wholeSystem());
    return applications;
}

} // namespace TranslateMac
