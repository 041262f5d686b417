#include "TranslateMac/Shell/QuorvelTranslateMacApp.h"

#include "support/VirtualDesktop.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

// The desktop tests run real windows on a private X desktop that must exist before the
// application object connects to it. Listing the tests needs no desktop.
int main(int argc, char **argv)
{
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
    std::unique_ptr<TestSupport::VirtualDesktop> desktop;
    if (!listing) {
        desktop = std::make_unique<TestSupport::VirtualDesktop>();
        TestSupport::VirtualDesktop::setCurrent(desktop.get());
    }
    setenv("QT_QPA_PLATFORM", desktop && desktop->isRunning() ? "xcb" : "offscreen", 1);
    // The application's own names, so its windows carry the class the desktop matches them by.
    TranslateMac::QuorvelTranslateMacApp::prepareProcess();
    int status = 0;
    {
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        ::testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    }
    TestSupport::VirtualDesktop::setCurrent(nullptr);
    return status;
}
