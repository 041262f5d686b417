#include "TestSupport.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace TestSupport {

bool spinUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout)
{
    QDeadlineTimer deadline(timeout);
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    tick.start(2);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        loop.exec();
    }
    return true;
}

std::shared_ptr<Started> start(QCoro::Task<> task)
{
    auto started = std::make_shared<Started>();
    [](QCoro::Task<> inner, std::shared_ptr<Started> out) -> QCoro::Task<> {
        try {
            co_await inner;
        } catch (...) {
            out->error = std::current_exception();
        }
        out->done = true;
    }(std::move(task), started);
    return started;
}

void drainEvents()
{
    for (int i = 0; i < 8; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QString buildPath(const char *relativeToTests)
{
    // Read from the process itself, so a test runs the same from ctest, a script or by hand.
    const QDir testsFolder
        = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).path();
    return QDir::cleanPath(testsFolder.absoluteFilePath(QString::fromUtf8(relativeToTests)));
}

} // namespace TestSupport
