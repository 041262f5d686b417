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
    QObject::connect(&quorvel, &TranslateMac::QuorvelTranslateMacApp::terminate, &application,
        &QCoreApplication::quit, Qt::QueuedConnection);
    return application.exec();
}
