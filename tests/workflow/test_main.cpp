#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Cover images are decoded through plugins found via the application object.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QCoreApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
