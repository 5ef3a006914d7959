#include <QCoreApplication>

#include <gtest/gtest.h>

// Shared by the suites that need an application object: for the Qt event loop that delivers
// network replies and continuations, and for the image plugins. No display is needed.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QCoreApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
