#include "TranslateMac/Shell/QuorvelTranslateMacApp.h"

#include <QApplication>

int main(int argc, char **argv)
{
    TranslateMac::QuorvelTranslateMacApp::prepareProcess();
    QApplication application(argc, argv);
    // Closing the last window leaves the application in the tray (or goes through the guarded
    // quit when there is none); it never ends the process by itself.
    QApplication::setQuitOnLastWindowClosed(false);
    TranslateMac::QuorvelTranslateMacApp quorvel;
    // exit(), not quit(): quit() first closes every window and gives up when one refuses, and
    // the workspace window refuses a close without a tray by asking to quit.
    QObject::connect(
        &quorvel, &TranslateMac::QuorvelTranslateMacApp::terminate, &application,
        [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    return application.exec();
}
