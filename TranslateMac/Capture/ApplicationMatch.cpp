#include "ApplicationMatch.h"

#include <QFile>
#include <QSet>

#include <cerrno>
#include <csignal>

#include <unistd.h>

namespace TranslateMac::ApplicationMatch {

bool isHelperIdentity(const QString &helper, const QString &identity)
{
    if (identity.isEmpty() || helper.isEmpty())
        return false;
    return helper == identity
        || (helper.size() > identity.size() + 1 && helper.startsWith(identity)
            && helper.at(identity.size()) == u'.');
}

bool belongsTo(const std::optional<qint32> &pid, const QString &identity, const AudioSource &source)
{
    if (!source.pid || isOwnProcess(pid))
        return false;
    if (pid == source.pid)
        return true;
    return source.bundleID && isHelperIdentity(identity, *source.bundleID);
}

bool isOwnProcess(const std::optional<qint32> &pid)
{
    return pid && *pid == qint32(::getpid());
}

bool isSoundServerService(const QString &binary)
{
    static const QSet<QString> services { QStringLiteral("pipewire"),
        QStringLiteral("pipewire-pulse"), QStringLiteral("wireplumber"),
        QStringLiteral("pipewire-media-session"), QStringLiteral("pulseaudio") };
    return services.contains(binary);
}

ProcessState processState(qint32 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return ::kill(pid, 0) == 0 || errno == EPERM ? ProcessState::running : ProcessState::gone;
    // "pid (command) S ...": the state follows the last closing parenthesis.
    const QByteArray line = stat.readAll();
    const qsizetype end = line.lastIndexOf(')');
    if (end < 0 || end + 2 >= line.size())
        return ProcessState::running;
    switch (line[end + 2]) {
    case 'Z':
    case 'X':
        return ProcessState::gone;
    case 'T':
    case 't':
        return ProcessState::stopped;
    default:
        return ProcessState::running;
    }
}

} // namespace TranslateMac::ApplicationMatch
