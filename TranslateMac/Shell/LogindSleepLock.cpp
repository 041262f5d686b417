#include "LogindSleepLock.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <unistd.h>

namespace TranslateMac {

const QString LogindSleepLock::service = QStringLiteral("org.freedesktop.login1");
const QString LogindSleepLock::path = QStringLiteral("/org/freedesktop/login1");
const QString LogindSleepLock::interface = QStringLiteral("org.freedesktop.login1.Manager");
const QString LogindSleepLock::who = QStringLiteral("Quorvel");
const QString LogindSleepLock::why = QStringLiteral("正在结束并结算当前翻译");

LogindSleepLock::LogindSleepLock(QObject *parent) : SleepLock(parent) { }

LogindSleepLock::~LogindSleepLock()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

bool LogindSleepLock::reachBus()
{
    if (m_bus == Bus::untried) {
        QDBusConnection bus = QDBusConnection::systemBus();
        const bool subscribed = bus.isConnected()
            && bus.connect(service, path, interface, QStringLiteral("PrepareForSleep"), this,
                SLOT(prepareForSleep(bool)));
        m_bus = subscribed ? Bus::connected : Bus::absent;
    }
    return m_bus == Bus::connected;
}

void LogindSleepLock::acquire()
{
    m_wanted = true;
    if (held() || m_asking || !reachBus())
        return;
    QDBusMessage call
        = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << who << why << QStringLiteral("delay");
    m_asking = true;
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this](QDBusPendingCallWatcher *finished) {
            m_asking = false;
            const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
            // Our own copy: the reply's copy closes with the reply.
            const int descriptor = reply.isValid() && reply.value().isValid()
                ? ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0)
                : -1;
            finished->deleteLater();
            // No logind on this bus (a container, another init system): no lock, and no
            // complaint either.
            if (descriptor >= 0)
                lockGranted(descriptor);
        });
}

void LogindSleepLock::lockGranted(int descriptor)
{
    if (!m_wanted || held()) {
        ::close(descriptor);
        return;
    }
    m_descriptor = descriptor;
}

void LogindSleepLock::release()
{
    m_wanted = false;
    if (m_descriptor < 0)
        return;
    ::close(m_descriptor);
    m_descriptor = -1;
}

void LogindSleepLock::prepareForSleep(bool sleeping)
{
    Q_EMIT sleepAnnounced(sleeping);
}

} // namespace TranslateMac
