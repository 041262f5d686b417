#include "support/VirtualDesktop.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace TestSupport {

namespace {

VirtualDesktop *currentDesktop = nullptr;

} // namespace

VirtualDesktop *VirtualDesktop::current()
{
    return currentDesktop;
}
void VirtualDesktop::setCurrent(VirtualDesktop *desktop)
{
    currentDesktop = desktop;
}

VirtualDesktop::VirtualDesktop()
{
    for (const char *tool : { "Xvfb", "openbox", "trayer", "xprop", "xdotool" }) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            m_failure = QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool));
            return;
        }
    }
    if (!startServer())
        return;
    setenv("DISPLAY", m_display.toLatin1().constData(), 1);
    spawn({ "openbox", "--sm-disable", nullptr });
    if (!waitForWindowManager())
        return;
    spawn({ "trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "64",
        "--height", "24", nullptr });
}

VirtualDesktop::~VirtualDesktop()
{
    // The tools first, the server last.
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
        ::kill(*it, SIGTERM);
        ::waitpid(*it, nullptr, 0);
    }
}

pid_t VirtualDesktop::spawn(const std::vector<const char *> &arguments, int outputFd)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    posix_spawn_file_actions_adddup2(&actions, outputFd >= 0 ? outputFd : devNull, 1);
    posix_spawn_file_actions_adddup2(&actions, devNull, 2);
    pid_t pid = 0;
    const int status = posix_spawnp(&pid, arguments[0], &actions, nullptr,
        const_cast<char *const *>(arguments.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(devNull);
    if (status != 0)
        return 0;
    m_processes.push_back(pid);
    return pid;
}

bool VirtualDesktop::startServer()
{
    // Xvfb picks a free display number itself and writes it to the pipe.
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        m_failure = QStringLiteral("pipe failed");
        return false;
    }
    const pid_t server = spawn(
        { "Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp", nullptr },
        pipeFds[1]);
    ::close(pipeFds[1]);
    QByteArray number;
    pollfd readable { pipeFds[0], POLLIN, 0 };
    while (server && !number.endsWith('\n') && ::poll(&readable, 1, 10000) > 0) {
        char buffer[16];
        const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        number.append(buffer, got);
    }
    ::close(pipeFds[0]);
    if (!number.endsWith('\n')) {
        m_failure = QStringLiteral("Xvfb did not start");
        return false;
    }
    m_display = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    return true;
}

bool VirtualDesktop::waitForWindowManager()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        // No Qt yet: the shell asks whether the window manager has announced itself.
        if (std::system("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'")
            == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    m_failure = QStringLiteral("openbox did not start");
    return false;
}

QList<QRect> inputShape(unsigned long window)
{
    QList<QRect> rectangles;
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return rectangles;
    int count = 0;
    int ordering = 0;
    XRectangle *shape = XShapeGetRectangles(display, window, ShapeInput, &count, &ordering);
    for (int i = 0; i < count; ++i)
        rectangles << QRect(shape[i].x, shape[i].y, shape[i].width, shape[i].height);
    if (shape)
        XFree(shape);
    XCloseDisplay(display);
    return rectangles;
}

QString commandOutput(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace TestSupport
