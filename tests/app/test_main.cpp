#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Widgets are rendered off screen; no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Brevalo Tests"));
    QCoreApplication::setApplicationName(QStringLiteral("app_tests"));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
