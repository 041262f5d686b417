#include "TranslateMac/Shell/CommandLine.h"
#include "TranslateMac/Shell/QuorvelTranslateMacApp.h"
#include "TranslateMac/Shell/SingleInstance.h"
#include "TranslateMac/Shell/TerminationSignals.h"

#include <QApplication>

int main(int argc, char **argv)
{
    using namespace TranslateMac;
    QStringList arguments;
    for (int index = 0; index < argc; ++index)
        arguments << QString::fromLocal8Bit(argv[index]);
    if (const auto answer = CommandLine::answerBeforeApplication(arguments))
        return CommandLine::deliver(*answer);

    QuorvelTranslateMacApp::prepareProcess();
    QApplication application(argc, argv);
    if (const auto answer = CommandLine::refuseLeftoverArguments(QCoreApplication::arguments()))
        return CommandLine::deliver(*answer);

    // Before the credential store opens: a second copy hands over to the running one and ends.
    SingleInstance instance(SingleInstance::userDataFolder(), SingleInstance::userRuntimeFolder());
    if (instance.claim() == InstanceRole::secondary)
        return instance.handOver() ? 0 : CommandLine::deliver(CommandLine::instanceNotAnswering());

    // Closing the last window leaves the application in the tray (or goes through the guarded
    // quit when there is none); it never ends the process by itself.
    QApplication::setQuitOnLastWindowClosed(false);
    QuorvelTranslateMacApp quorvel;
    QObject::connect(&instance, &SingleInstance::activationRequested, &quorvel,
        &QuorvelTranslateMacApp::openWorkspace);
    // Logout, shutdown and `kill` end the program through the guarded quit too.
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &quorvel,
        &QuorvelTranslateMacApp::signalReceived);
    // exit(), not quit(): quit() first closes every window and gives up when one refuses, and
    // the workspace window refuses a close without a tray by asking to quit.
    QObject::connect(
        &quorvel, &TranslateMac::QuorvelTranslateMacApp::terminate, &application,
        [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    return application.exec();
}
