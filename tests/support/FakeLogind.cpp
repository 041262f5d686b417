#include "support/FakeLogind.h"

#include "support/TestSupport.h"

#include <QSocketNotifier>
#include <QUuid>

#include <fcntl.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace TestSupport {

PrivateBus::PrivateBus()
{
    if (!m_folder.isValid()) {
        m_failure = QStringLiteral("no temporary folder");
        return;
    }
    m_address = QStringLiteral("unix:path=") + m_folder.filePath(QStringLiteral("bus"));
    m_daemon.start(QStringLiteral("dbus-daemon"),
        { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
            QStringLiteral("--print-address=1"), QStringLiteral("--address=") + m_address });
    if (!m_daemon.waitForStarted(5000)) {
        m_failure = QStringLiteral("dbus-daemon did not start (Debian package dbus)");
        return;
    }
    // It prints its address once it listens.
    if (!spinUntil([&] { return m_daemon.canReadLine(); }, 10s)) {
        m_failure = QStringLiteral("dbus-daemon did not print its address: ")
            + QString::fromLocal8Bit(m_daemon.readAllStandardError());
        return;
    }
}

PrivateBus::~PrivateBus()
{
    if (m_daemon.state() == QProcess::NotRunning)
        return;
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(5000)) {
        m_daemon.kill();
        m_daemon.waitForFinished();
    }
}

FakeLogind::FakeLogind(const QString &busAddress)
    : m_connectionName(QStringLiteral("fake-logind-") + QUuid::createUuid().toString())
{
    QDBusConnection bus = QDBusConnection::connectToBus(busAddress, m_connectionName);
    m_serving = bus.isConnected() && bus.registerService(QStringLiteral("org.freedesktop.login1"))
        && bus.registerObject(QStringLiteral("/org/freedesktop/login1"), this,
            QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableSignals);
}

FakeLogind::~FakeLogind()
{
    for (QSocketNotifier *notifier : std::as_const(m_locks))
        ::close(int(notifier->socket()));
    QDBusConnection::disconnectFromBus(m_connectionName);
}

QDBusUnixFileDescriptor FakeLogind::Inhibit(
    const QString &what, const QString &who, const QString &why, const QString &mode)
{
    m_inhibitions.append({ what, who, why, mode });
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return {};
    // The read end sees the end of the file once every copy of the write end is closed.
    auto *notifier = new QSocketNotifier(ends[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier] { lockEnded(notifier); });
    m_locks.append(notifier);
    // The answer carries its own copy; ours goes at once.
    QDBusUnixFileDescriptor lock(ends[1]);
    ::close(ends[1]);
    return lock;
}

void FakeLogind::lockEnded(QSocketNotifier *notifier)
{
    char byte;
    if (::read(int(notifier->socket()), &byte, 1) != 0)
        return;
    notifier->setEnabled(false);
    ::close(int(notifier->socket()));
    m_locks.removeOne(notifier);
    notifier->deleteLater();
    if (m_onRelease)
        m_onRelease();
}

} // namespace TestSupport
