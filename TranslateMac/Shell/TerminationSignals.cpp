#include "TerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace TranslateMac {

namespace {

// The write end of the active instance's pipe; only the handler and the instance touch it.
volatile sig_atomic_t writeEnd = -1;

void forward(int signal)
{
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // A full pipe drops the byte: there are already signals waiting to be read.
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &number, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    Q_ASSERT(writeEnd == -1);
    if (::pipe2(m_pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    writeEnd = m_pipe[1];
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPending);

    struct sigaction action { };
    action.sa_handler = forward;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls of the loop and the sound server threads carry on.
    action.sa_flags = SA_RESTART;
    for (std::size_t index = 0; index < caught.size(); ++index)
        ::sigaction(caught[index], &action, &m_previous[index]);
}

TerminationSignals::~TerminationSignals()
{
    if (!m_notifier)
        return;
    for (std::size_t index = 0; index < caught.size(); ++index)
        ::sigaction(caught[index], &m_previous[index], nullptr);
    writeEnd = -1;
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

void TerminationSignals::readPending()
{
    unsigned char numbers[16];
    for (;;) {
        const ssize_t count = ::read(m_pipe[0], numbers, sizeof numbers);
        if (count <= 0)
            return;
        for (ssize_t index = 0; index < count; ++index)
            Q_EMIT received(numbers[index]);
    }
}

} // namespace TranslateMac
