#pragma once

#include <QObject>

#include <array>
#include <csignal>

class QSocketNotifier;

namespace TranslateMac {

// Turns the signals by which a desktop ends a program (SIGTERM at logout, shutdown and `kill`,
// SIGINT from a terminal, SIGHUP when the terminal goes) into `received` on the event loop. The
// handler only writes the signal's number into a pipe; everything else happens in the loop.
// One instance at a time; the previous handling comes back when it is destroyed.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    static constexpr std::array<int, 3> caught { SIGTERM, SIGINT, SIGHUP };

    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

    // False when the pipe could not be made: the signals keep their default action.
    bool isActive() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void received(int signal);

private:
    void readPending();

    std::array<int, 2> m_pipe { -1, -1 };
    QSocketNotifier *m_notifier = nullptr;
    std::array<struct sigaction, caught.size()> m_previous {};
};

} // namespace TranslateMac
