// Resident memory of the running application when idle: the real executable (offscreen), signed
// out, against the local service, a few seconds after start.
#include "BenchSupport.h"

#include "support/LocalServiceProcess.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

// VmRSS of a process in MiB, or a negative number when unknown.
double residentMiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const auto match = QRegularExpression(QStringLiteral("VmRSS:\\s+(\\d+) kB"))
                           .match(QString::fromLatin1(status.readAll()));
    return match.hasMatch() ? match.captured(1).toDouble() / 1024 : -1;
}

void BM_IdleResidentMemory(benchmark::State &state)
{
    LocalServiceProcess service;
    if (!service.isRunning())
        Bench::fail(service.failure());
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QUORVEL_SERVICE_ORIGIN"), service.origin());
    environment.insert(QStringLiteral("QUORVEL_SERVICE_CA"), service.caPath());
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    double mib = 0;
    for (auto _ : state) {
        QProcess application;
        application.setProcessEnvironment(environment);
        application.start(TestSupport::buildPath(QUORVEL_APPLICATION_PATH), {});
        if (!application.waitForStarted())
            Bench::fail(QStringLiteral("the application did not start"));
        Bench::sleepUntil([] { return false; }, std::chrono::seconds(5));
        mib = residentMiB(application.processId());
        application.kill();
        application.waitForFinished();
    }
    state.counters["rss_MiB"] = mib;
}

} // namespace

BENCHMARK(BM_IdleResidentMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    return Bench::runBenchmarks(argc, argv);
}
