// The application root: windows, their policies, the capture window on demand, closing without
// quitting and the termination hook.

#include "app/app_delegate.h"
#include "app/app_windows.h"
#include "app/capture_commands.h"
#include "app/monitor_view.h"
#include "app/vantorel_app.h"
#include "app/window_policy.h"
#include "app_test_support.h"
#include "discogs/token_store.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPushButton>

#include <gtest/gtest.h>

#include <functional>

namespace brevalo::testing_support {
namespace {

using Kind = MonitoringPhase::Kind;

// Every picker is cancelled, as a user closing the dialog would.
struct CancelledPanels : FilePanels
{
    std::optional<QString> chooseFolder(const FolderRequest&) override { return std::nullopt; }
    std::optional<QString> chooseImage(const ImageRequest&) override { return std::nullopt; }
};

class ApplicationShell : public ::testing::Test, public SimulatedDesk
{
protected:
    void SetUp() override { launch(); }

    ~ApplicationShell() override
    {
        app_.reset();
        QApplication::setQuitOnLastWindowClosed(true);
    }

    // The application on a Scarlett and speakers; adjust changes the hardware or the options
    // before the application starts.
    void launch(const std::function<void(VantorelApp::Options&)>& adjust = {})
    {
        auto owned = std::make_unique<SimulatedAudioSystem>(SimTimeMode::manual);
        simulation_ = owned.get();
        input_ = addInput("scarlett-1", "Scarlett 2i2");
        addOutput();
        VantorelApp::Options options;
        options.audioSystem = std::move(owned);
        options.settings = &settings;
        options.monitor = controllerOptions();
        options.capture.keychain = std::make_shared<MemoryKeychain>();
        options.capture.panels = std::make_shared<CancelledPanels>();
        if (adjust) {
            adjust(options);
        }
        simulation_->drainNotifications();
        app_ = std::make_unique<VantorelApp>(std::move(options));
        deliver();
        scheduler.runDue();
    }

    SimulatedAudioSystem& sim() override { return *simulation_; }

    SimulatedAudioSystem* simulation_ = nullptr;
    std::unique_ptr<VantorelApp> app_;
    ObjectId input_ = unknownObject;
};

TEST_F(ApplicationShell, MonitorWindowIsAFixedRoleDarkPanel)
{
    MonitorWindow& window = app_->monitorWindow();
    EXPECT_EQ(window.windowTitle(), "Brevalo Capture");
    EXPECT_EQ(window.objectName(), "monitor");
    EXPECT_GE(window.view()->minimumHeight(), 700);
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(window.quitAction()->shortcut(), QKeySequence(QKeySequence::Quit));
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
}

TEST_F(ApplicationShell, MonitorWindowReturnsFromFullScreen)
{
    app_->showMonitorWindow();
    app_->appDelegate().applicationDidFinishLaunching();
    MonitorWindow& window = app_->monitorWindow();
    window.showFullScreen();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_FALSE(window.windowState().testFlag(Qt::WindowFullScreen));
    EXPECT_TRUE(window.isVisible());
}

TEST_F(ApplicationShell, CaptureWindowOpensOnDemandAndOnlyOnce)
{
    app_->showMonitorWindow();
    EXPECT_EQ(app_->captureWindow(), nullptr);
    app_->monitorWindow().view()->openCaptureButton()->click();
    CaptureWindow* capture = app_->captureWindow();
    ASSERT_NE(capture, nullptr);
    EXPECT_EQ(capture->windowTitle(), "Album Capture");
    EXPECT_EQ(capture->objectName(), "capture-project");
    EXPECT_TRUE(capture->isVisible());
    EXPECT_TRUE(capture->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_GE(capture->centralWidget()->minimumWidth(), 1000);
    // Both windows' File menus start with the capture commands.
    for (QMenu* menu : {app_->monitorWindow().fileMenu(), capture->fileMenu()}) {
        ASSERT_GE(menu->actions().size(), 2);
        EXPECT_EQ(menu->actions()[0]->text(), "New Capture…");
        EXPECT_EQ(menu->actions()[1]->text(), "Open Capture Project…");
    }

    // Closing both windows leaves the application, and "New Capture…" finds the same window.
    capture->close();
    app_->monitorWindow().close();
    EXPECT_FALSE(capture->isVisible());
    app_->captureCommands().newCaptureAction()->trigger();
    EXPECT_EQ(app_->captureWindow(), capture);
    EXPECT_TRUE(capture->isVisible());
}

TEST_F(ApplicationShell, QuitBeforeTheMonitorWindowAppearedRunsNoHook)
{
    app_->monitor().startMonitoring();
    ASSERT_EQ(app_->monitor().phase(), Kind::running);
    EXPECT_FALSE(app_->appDelegate().onTerminate);
    app_->appDelegate().applicationWillTerminate();
    EXPECT_TRUE(app_->monitor().monitorIntent());
    EXPECT_TRUE(app_->monitor().engine().isRunning());
}

TEST_F(ApplicationShell, QuitStopsMonitoringThroughTheHookInstalledOnAppearance)
{
    app_->showMonitorWindow();
    app_->appDelegate().applicationDidFinishLaunching();
    ASSERT_TRUE(app_->appDelegate().onTerminate);
    app_->monitor().startMonitoring();
    ASSERT_TRUE(app_->monitor().engine().isRunning());

    // What QCoreApplication emits when the event loop ends after a quit.
    ASSERT_TRUE(QMetaObject::invokeMethod(qApp, "aboutToQuit"));
    EXPECT_FALSE(app_->monitor().monitorIntent());
    EXPECT_FALSE(app_->monitor().engine().isRunning());
    EXPECT_FALSE(app_->appDelegate().isWatchingWindows());
    // Nothing resumes afterwards: the refresh and the poll are gone.
    sim().removeDevice(input_);
    wait(1s);
    EXPECT_FALSE(app_->monitor().engine().isRunning());
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
