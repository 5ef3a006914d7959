#include <QCoreApplication>

#include <gtest/gtest.h>

// The network client delivers its results through the Qt event loop.
int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
