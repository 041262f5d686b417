#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace TestSupport {

// A message bus of its own (dbus-daemon in a temporary folder) that a program under test uses as
// its system bus through DBUS_SYSTEM_BUS_ADDRESS. Stopped on destruction.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    bool isRunning() const { return m_failure.isEmpty(); }
    QString failure() const { return m_failure; }
    QString address() const { return m_address; }

private:
    QTemporaryDir m_folder;
    QProcess m_daemon;
    QString m_address;
    QString m_failure;
};

// systemd-logind's manager as far as sleep goes, on a private bus: records every Inhibit call,
// hands out the write end of a pipe as the lock (as logind does) and notices when every copy of
// it is closed, which is when logind would let the computer sleep; announces sleep and waking.
class FakeLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    struct Inhibition {
        QString what, who, why, mode;
    };

    explicit FakeLogind(const QString &busAddress);
    ~FakeLogind() override;

    // Connected to the bus under logind's name.
    bool isServing() const { return m_serving; }
    const QList<Inhibition> &inhibitions() const { return m_inhibitions; }
    // Locks handed out that are still held by someone.
    int heldLocks() const { return int(m_locks.size()); }
    // Called at the moment a lock is let go (before anything else runs).
    void onRelease(std::function<void()> released) { m_onRelease = std::move(released); }

    void announceSleep(bool sleeping) { Q_EMIT PrepareForSleep(sleeping); }

public Q_SLOTS:
    Q_SCRIPTABLE QDBusUnixFileDescriptor Inhibit(
        const QString &what, const QString &who, const QString &why, const QString &mode);

Q_SIGNALS:
    Q_SCRIPTABLE void PrepareForSleep(bool start);

private:
    void lockEnded(QSocketNotifier *notifier);

    QString m_connectionName;
    bool m_serving = false;
    QList<Inhibition> m_inhibitions;
    QList<QSocketNotifier *> m_locks;
    std::function<void()> m_onRelease;
};

} // namespace TestSupport
