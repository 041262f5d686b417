#pragma once

#include "support/AudioTestSupport.h"

#include <QList>
#include <QRect>
#include <QString>

#include <sys/types.h>

#include <vector>

namespace TestSupport {

// A private X desktop for tests of real windows: Xvfb on a free display, openbox as window
// manager and trayer as tray host. Started before the application object exists (the display
// must be known then), so it uses no Qt event loop. Stops everything on destruction.
class VirtualDesktop {
public:
    VirtualDesktop();
    ~VirtualDesktop();
    VirtualDesktop(const VirtualDesktop &) = delete;
    VirtualDesktop &operator=(const VirtualDesktop &) = delete;

    bool isRunning() const { return m_failure.isEmpty(); }
    // Why the desktop is not there ("Xvfb is not installed", ...).
    QString failure() const { return m_failure; }
    // ":N"
    QString display() const { return m_display; }

    // The one desktop of this test process, if main() started one.
    static VirtualDesktop *current();
    static void setCurrent(VirtualDesktop *desktop);

private:
    pid_t spawn(const std::vector<const char *> &arguments, int outputFd = -1);
    bool startServer();
    bool waitForWindowManager();

    QString m_display;
    QString m_failure;
    std::vector<pid_t> m_processes;
};

// The input shape of an X window on the current display: the rectangles where it takes pointer
// input (its whole area when it never set one; none when input passes through it).
QList<QRect> inputShape(unsigned long window);

// Runs a program to its end; its standard output, empty when it failed.
QString commandOutput(const QString &program, const QStringList &arguments);

} // namespace TestSupport

// Skips the test without the private desktop, and fails it in CI.
#define QUORVEL_REQUIRE_DESKTOP()                                                                  \
    do {                                                                                           \
        auto *desktop = ::TestSupport::VirtualDesktop::current();                                  \
        const QString reason = desktop ? desktop->failure() : QStringLiteral("not started");       \
        if (!desktop || !desktop->isRunning()) {                                                   \
            if (::TestSupport::inCI())                                                             \
                FAIL() << "no virtual desktop: " << reason.toStdString();                          \
            else                                                                                   \
                GTEST_SKIP() << "no virtual desktop: " << reason.toStdString()                     \
                             << " (scripts/bootstrap installs xvfb, openbox, trayer, xdotool)";    \
        }                                                                                          \
    } while (false)
