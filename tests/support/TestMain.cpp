#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    // Widget tests draw offscreen unless the caller chose a display platform; tests without
    // widgets run the same under either.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
