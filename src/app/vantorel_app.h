#pragma once

// The application root: creates the delegate, the monitor controller, the capture controller
// handed that monitor, the File menu's capture commands and the two windows. The monitor window
// is the one shown at launch; the capture window is created on demand and then reused. Both
// controllers live until the root is destroyed at the end of the process.
//
// Threads: main thread.

#include "app/app_delegate.h"
#include "app/desktop_settings.h"
#include "monitor/monitor_view_model.h"
#include "platform/audio/audio_system.h"
#include "workflow/capture_view_model.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QSettings;
class QSystemTrayIcon;

namespace brevalo {

class CaptureCommands;
class CaptureWindow;
class MonitorWindow;

class VantorelApp : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        // Required: the audio backend everything runs on.
        std::unique_ptr<AudioSystem> audioSystem;
        // Null: the application's default settings ("Brevalo" / "Brevalo Capture").
        QSettings* settings = nullptr;
        // Passed to the monitor controller; an empty openUrl is filled with the desktop opener.
        MonitorViewModelOptions monitor;
        // Passed to the capture controller; empty members get the application's own: its
        // settings, the desktop's file dialogs and the Secret Service.
        CaptureViewModelOptions capture;
        // How the desktop's sound settings are opened; empty members use the real ones.
        DesktopSettings::Services desktopServices;
        // Offer a tray icon where the desktop has a tray (the way back to a closed window).
        bool trayIcon = false;
    };

    explicit VantorelApp(Options options, QObject* parent = nullptr);
    ~VantorelApp() override;

    AppDelegate& appDelegate() { return *appDelegate_; }
    MonitorViewModel& monitor() { return *monitor_; }
    CaptureViewModel& capture() { return *capture_; }
    CaptureCommands& captureCommands() { return *captureCommands_; }
    AudioSystem& audioSystem() { return *audioSystem_; }
    DesktopSettings& desktopSettings() { return *desktopSettings_; }
    MonitorWindow& monitorWindow() { return *monitorWindow_; }
    // Null until first opened.
    CaptureWindow* captureWindow() const { return captureWindow_.get(); }

    // Shows (or raises) the monitor window.
    void showMonitorWindow();
    // Creates the capture window the first time, then shows and raises that same window.
    void openCaptureWindow();

private:
    void installTerminationHook();
    void createTrayIcon();

    std::unique_ptr<AppDelegate> appDelegate_;
    std::unique_ptr<AudioSystem> audioSystem_;
    std::unique_ptr<QSettings> ownedSettings_;
    QSettings* settings_ = nullptr;
    std::unique_ptr<DesktopSettings> desktopSettings_;
    std::unique_ptr<MonitorViewModel> monitor_;
    std::unique_ptr<CaptureViewModel> capture_;
    std::unique_ptr<CaptureCommands> captureCommands_;
    // The windows refer to the controllers, so they go first.
    std::unique_ptr<MonitorWindow> monitorWindow_;
    std::unique_ptr<CaptureWindow> captureWindow_;
    std::unique_ptr<QSystemTrayIcon> trayIcon_;
};

} // namespace brevalo
