#pragma once

#include "SleepGuard.h"

#include <QString>

namespace TranslateMac {

// The sleep lock of systemd-logind: a "delay" inhibitor taken over the system bus, which is the
// file descriptor logind hands out; closing it lets go. The bus is reached only when a lock is
// first wanted, and without a system bus or without logind there is simply no lock.
class LogindSleepLock : public SleepLock {
    Q_OBJECT

public:
    static const QString service;
    static const QString path;
    static const QString interface;
    // How the lock shows in `systemd-inhibit --list`.
    static const QString who;
    static const QString why;

    explicit LogindSleepLock(QObject *parent = nullptr);
    ~LogindSleepLock() override;

    void acquire() override;
    void release() override;
    bool held() const override { return m_descriptor >= 0; }

private Q_SLOTS:
    void prepareForSleep(bool sleeping);

private:
    bool reachBus();
    void lockGranted(int descriptor);

    enum class Bus { untried, connected, absent };
    Bus m_bus = Bus::untried;
    bool m_wanted = false;
    bool m_asking = false;
    int m_descriptor = -1;
};

} // namespace TranslateMac
