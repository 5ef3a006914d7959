// The application root: windows, their policies, the capture window on demand, closing without
// quitting and the termination hook.

#include "app/app_delegate.h"
#include "app/app_windows.h"
#include "app/capture_commands.h"
#include "app/monitor_view.h"
#include "app/vantorel_app.h"
#include "app/window_policy.h"
#include "capture_test_support.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPushButton>

#include <gtest/gtest.h>

namespace brevalo::testing_support {
namespace {

using Kind = MonitoringPhase::Kind;

class ApplicationShell : public ::testing::Test, public CaptureDesk
{
protected:
    ApplicationShell() : CaptureDesk(Scope::wholeApplication) {}
};

TEST_F(ApplicationShell, MonitorWindowIsFixedAndLeavesFullScreenCaptureWindowOpensOnlyOnDemand)
{
    MonitorWindow& window = app->monitorWindow();
    EXPECT_EQ(window.windowTitle(), "Brevalo Capture");
    EXPECT_EQ(window.objectName(), "monitor");
    EXPECT_GE(window.view()->minimumHeight(), 700);
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(window.quitAction()->shortcut(), QKeySequence(QKeySequence::Quit));
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());

    app->showMonitorWindow();
    app->appDelegate().applicationDidFinishLaunching();
    window.showFullScreen();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_FALSE(window.windowState().testFlag(Qt::WindowFullScreen));
    EXPECT_TRUE(window.isVisible());

    EXPECT_EQ(app->captureWindow(), nullptr);
    window.view()->openCaptureButton()->click();
    CaptureWindow* capture = app->captureWindow();
    ASSERT_NE(capture, nullptr);
    EXPECT_EQ(capture->windowTitle(), "Album Capture");
    EXPECT_EQ(capture->objectName(), "capture-project");
    EXPECT_TRUE(capture->isVisible());
    EXPECT_TRUE(capture->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_GE(capture->centralWidget()->minimumWidth(), 1000);
    // Both windows' File menus start with the capture commands.
    for (QMenu* menu : {app->monitorWindow().fileMenu(), capture->fileMenu()}) {
        ASSERT_GE(menu->actions().size(), 2);
        EXPECT_EQ(menu->actions()[0]->text(), "New Capture…");
        EXPECT_EQ(menu->actions()[1]->text(), "Open Capture Project…");
    }

    // Closing both windows leaves the application, and "New Capture…" finds the same window.
    capture->close();
    app->monitorWindow().close();
    EXPECT_FALSE(capture->isVisible());
    app->captureCommands().newCaptureAction()->trigger();
    EXPECT_EQ(app->captureWindow(), capture);
    EXPECT_TRUE(capture->isVisible());
}

TEST_F(ApplicationShell, QuitBeforeTheMonitorWindowAppearedRunsNoHook)
{
    app->monitor().startMonitoring();
    ASSERT_EQ(app->monitor().phase(), Kind::running);
    EXPECT_FALSE(app->appDelegate().onTerminate);
    app->appDelegate().applicationWillTerminate();
    EXPECT_TRUE(app->monitor().monitorIntent());
    EXPECT_TRUE(app->monitor().engine().isRunning());
}

TEST_F(ApplicationShell, QuitStopsMonitoringThroughTheHookInstalledOnAppearance)
{
    app->showMonitorWindow();
    app->appDelegate().applicationDidFinishLaunching();
    ASSERT_TRUE(app->appDelegate().onTerminate);
    app->monitor().startMonitoring();
    ASSERT_TRUE(app->monitor().engine().isRunning());

    // What QCoreApplication emits when the event loop ends after a quit.
    ASSERT_TRUE(QMetaObject::invokeMethod(qApp, "aboutToQuit"));
    EXPECT_FALSE(app->monitor().monitorIntent());
    EXPECT_FALSE(app->monitor().engine().isRunning());
    EXPECT_FALSE(app->appDelegate().isWatchingWindows());
    // Nothing resumes afterwards: the refresh and the poll are gone.
    sim().removeDevice(turntable);
    wait(1s);
    EXPECT_FALSE(app->monitor().engine().isRunning());
}

TEST(WindowPolicy, KeyedOnTheTitleAndFollowedOnTitleChanges)
{
    EXPECT_EQ(windowPolicyForTitle("Album Capture"), (WindowPolicy{true, true}));
    EXPECT_EQ(windowPolicyForTitle("Brevalo Capture"), (WindowPolicy{false, false}));
    EXPECT_EQ(windowPolicyForTitle("album capture"), std::nullopt);

    AppDelegate delegate;
    QWidget window;
    window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowMaximizeButtonHint);
    window.setWindowTitle("Brevalo Capture");
    delegate.applicationDidFinishLaunching();
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));

    window.setWindowTitle("Album Capture");
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));

    delegate.applicationWillTerminate();
    window.setWindowTitle("Brevalo Capture");
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
}

TEST(CaptureWindowSize, FollowsTheVisibleScreenArea)
{
    EXPECT_EQ(captureWindowIdealSize(std::nullopt), QSize(1200, 800));
    EXPECT_EQ(captureWindowIdealSize(QRectF(0, 0, 1440, 875)), QSize(1200, 800));
    EXPECT_EQ(captureWindowIdealSize(QRectF(0, 0, 1024, 700)), QSize(1000, 652));
    // A screen smaller than the minimum still gets the minimum.
    EXPECT_EQ(captureWindowIdealSize(QRectF(0, 0, 800, 500)), QSize(1000, 620));
    EXPECT_EQ(captureWindowIdealSize(QRectF(0, 0, std::nan(""), 900)), QSize(1000, 666));
}

} // namespace
} // namespace brevalo::testing_support
