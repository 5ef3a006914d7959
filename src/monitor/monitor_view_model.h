#pragma once

// The long-lived controller of monitoring. It publishes everything the monitor panel shows, keeps
// the user's selection and mute switch in the settings, turns the wish to monitor (the monitor
// intent) into engine starts and stops, waits for missing devices and resumes by itself when
// they return, and turns the engine's realtime snapshots into meter readings every 33 ms.
//
// Threads: a QObject of the main thread. Every property, operation and signal belongs to it.
// Device notifications and permission answers arrive on the audio layer's notification thread
// and are queued onto this object's thread before they touch any state.

#include "monitor/app_preferences.h"
#include "monitor/audio_device_service.h"
#include "monitor/audio_devices.h"
#include "monitor/main_thread_scheduler.h"
#include "monitor/meter_reading.h"
#include "monitor/monitor_status.h"
#include "monitor/monitoring_configuration.h"
#include "monitor/monitoring_engine.h"
#include "platform/audio/audio_system.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QSettings;

namespace brevalo {

struct MonitorViewModelOptions
{
    // Null: Qt timers on the controller's thread. Otherwise it must outlive the controller.
    MainThreadScheduler* scheduler = nullptr;
    // How the engine waits for its 40 ms fade-out when stopping; empty: it sleeps.
    MonitoringEngine::Sleep fadeOutSleep;
    // Opens a settings page of the desktop. The application passes
    //     [](const QUrl& url) { return QDesktopServices::openUrl(url); }
    // (this layer has no Gui dependency). Empty: openMicrophoneSettings does nothing.
    std::function<bool(const QUrl&)> openUrl;
};

class MonitorViewModel final : public QObject
{
    Q_OBJECT

    // Published state.
    Q_PROPERTY(
        QList<brevalo::AudioInputDevice> inputDevices READ inputDevices NOTIFY inputDevicesChanged)
    Q_PROPERTY(std::optional<QString> selectedDeviceUID READ selectedDeviceUID NOTIFY
                   selectedDeviceUIDChanged)
    Q_PROPERTY(
        std::optional<QString> selectedPairID READ selectedPairID NOTIFY selectedPairIDChanged)
    Q_PROPERTY(std::optional<brevalo::AudioOutputDevice> outputDevice READ outputDevice NOTIFY
                   outputDeviceChanged)
    Q_PROPERTY(brevalo::MicrophonePermission permission READ permission NOTIFY permissionChanged)
    Q_PROPERTY(brevalo::MonitoringPhase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(brevalo::MeterReading leftMeter READ leftMeter NOTIFY leftMeterChanged)
    Q_PROPERTY(brevalo::MeterReading rightMeter READ rightMeter NOTIFY rightMeterChanged)
    Q_PROPERTY(brevalo::EngineDiagnostics diagnostics READ diagnostics NOTIFY diagnosticsChanged)
    Q_PROPERTY(
        std::optional<QString> technicalError READ technicalError NOTIFY technicalErrorChanged)
    Q_PROPERTY(bool isInputSelectionLocked READ isInputSelectionLocked WRITE setInputSelectionLocked
                   NOTIFY isInputSelectionLockedChanged)
    Q_PROPERTY(bool isMuted READ isMuted WRITE setMuted NOTIFY isMutedChanged)

    // The user's wish to monitor; read-only, changed through the operations.
    Q_PROPERTY(bool monitorIntent READ monitorIntent NOTIFY monitorIntentChanged)

    // Derived values: presentationChanged fires whenever one of them may have changed (any
    // published property above except the meters and diagnostics, or the intent).
    Q_PROPERTY(std::optional<brevalo::AudioInputDevice> selectedInputDevice READ selectedInputDevice
                   NOTIFY presentationChanged)
    Q_PROPERTY(std::optional<brevalo::AudioChannelPair> selectedChannelPair READ selectedChannelPair
                   NOTIFY presentationChanged)
    Q_PROPERTY(bool isActive READ isActive NOTIFY presentationChanged)
    Q_PROPERTY(bool canStartMonitoring READ canStartMonitoring NOTIFY presentationChanged)
    Q_PROPERTY(QString transportTitle READ transportTitle NOTIFY presentationChanged)
    Q_PROPERTY(
        std::optional<QString> routeDescription READ routeDescription NOTIFY presentationChanged)
    Q_PROPERTY(brevalo::StatusPresentation status READ status NOTIFY presentationChanged)
    Q_PROPERTY(
        brevalo::RouteReadiness routeReadiness READ routeReadiness NOTIFY presentationChanged)

public:
    using Options = MonitorViewModelOptions;

    // Failure messages shown with the failed phase.
    static const QString formatFailureMessage;  // a start refused with '!dat'
    static const QString startFailureMessage;   // any other start failure
    static const QString runtimeFailureMessage; // a callback failed while running

    // The debounce of device notifications and the meter tick.
    static constexpr std::chrono::milliseconds refreshDebounce{200};
    static constexpr std::chrono::milliseconds pollInterval{33};

    // Creates the device service and the engine, restores the saved selection and mute state,
    // listens for device changes, reads the catalog (choosing an input on first use) and starts
    // the meter poll. The audio system and the settings must outlive the controller.
    MonitorViewModel(AudioSystem& audioSystem, QSettings& settings, Options options = {},
                     QObject* parent = nullptr);
    // Stops monitoring without clearing the saved selection (as shutdown does).
    ~MonitorViewModel() override;

    // Published state.
    const QList<AudioInputDevice>& inputDevices() const { return inputDevices_; }
    const std::optional<QString>& selectedDeviceUID() const { return selectedDeviceUID_; }
    const std::optional<QString>& selectedPairID() const { return selectedPairID_; }
    const std::optional<AudioOutputDevice>& outputDevice() const { return outputDevice_; }
    MicrophonePermission permission() const { return permission_; }
    const MonitoringPhase& phase() const { return phase_; }
    const MeterReading& leftMeter() const { return leftMeter_; }
    const MeterReading& rightMeter() const { return rightMeter_; }
    const MeterReading& meter(MeterChannel channel) const
    {
        return channel == MeterChannel::left ? leftMeter_ : rightMeter_;
    }
    const EngineDiagnostics& diagnostics() const { return diagnostics_; }
    const std::optional<QString>& technicalError() const { return technicalError_; }
    bool isInputSelectionLocked() const { return isInputSelectionLocked_; }
    bool isMuted() const { return isMuted_; }
    bool monitorIntent() const { return monitorIntent_; }

    // Derived values.
    // The first catalog entry whose uid is the selected one.
    std::optional<AudioInputDevice> selectedInputDevice() const;
    // The selected device's pair whose identity is the selected one.
    std::optional<AudioChannelPair> selectedChannelPair() const;
    // running or reconfiguring.
    bool isActive() const;
    bool canStartMonitoring() const;
    // "Start Monitoring", "Stop Monitoring", "Cancel Retry", "Cancel Auto-Resume".
    QString transportTitle() const;
    // "96.0 kHz input → 48.0 kHz system output." with both devices present.
    std::optional<QString> routeDescription() const;
    StatusPresentation status() const;
    RouteReadiness routeReadiness() const;

    // Operations (main thread).
    // The transport key: starts when neither the intent nor the engine is on, else stops and
    // clears the intent. The start runs at once; only a permission answer arrives later.
    void toggleMonitoring();
    // Checks the route, asks for microphone access when it was never asked (the answer arrives
    // later) and starts the engine.
    void startMonitoring();
    void stopMonitoring(bool clearIntent);
    // Ignored while the selection is locked; an empty UID clears the selection.
    void selectInputDevice(const std::optional<QString>& uid);
    // A pair identity such as "0-1"; ignored while the selection is locked.
    void selectChannelPair(const std::optional<QString>& pairID);
    // Re-reads permission and devices and reconciles; the panel calls it when the application
    // becomes active.
    void refreshFromSystem();
    void setMuted(bool muted);
    // Set by the capture controller while a side is recorded or finalized.
    void setInputSelectionLocked(bool locked);
    void releaseSessionPeak(MeterChannel channel);
    // Clears the meter's lamp and the ring's latch for the channel.
    void clearClip(MeterChannel channel);
    // Opens the desktop's sound settings (where input access is granted on this platform).
    void openMicrophoneSettings();
    // Application termination: cancels the pending refresh and the poll, clears the intent and
    // stops the engine. Nothing runs afterwards.
    void shutdown();

    // The page openMicrophoneSettings opens.
    static QUrl microphoneSettingsUrl();

    // For the capture controller and tests.
    MonitoringEngine& engine() { return *engine_; }
    AudioDeviceService& deviceService() { return *deviceService_; }
    MainThreadScheduler& scheduler() { return *scheduler_; }
    AudioSystem& audioSystem() { return audioSystem_; }

signals:
    void inputDevicesChanged();
    void selectedDeviceUIDChanged();
    void selectedPairIDChanged();
    void outputDeviceChanged();
    void permissionChanged();
    void phaseChanged();
    void leftMeterChanged();
    void rightMeterChanged();
    void diagnosticsChanged();
    void technicalErrorChanged();
    void isInputSelectionLockedChanged();
    void isMutedChanged();
    void monitorIntentChanged();
    void presentationChanged();

private:
    void refreshDevices(bool autoSelect);
    void scheduleRefresh(bool reconfigure);
    void runScheduledRefresh();
    void reconcileRoute(bool force);
    void startEngine(bool reconfiguring);
    void finishPermissionRequest(std::uint64_t request, bool granted);
    void resetMeters();
    void startPolling();
    void schedulePoll(std::chrono::nanoseconds delay);
    void pollRealtime();
    void stopEngine();
    void watchSelectedDevices();
    void handleDeviceChange(AudioDeviceService::Change change);

    void setInputDevices(const QList<AudioInputDevice>& devices);
    void setSelectedDeviceUID(const std::optional<QString>& uid);
    void setSelectedPairID(const std::optional<QString>& pairID);
    void setOutputDevice(const std::optional<AudioOutputDevice>& device);
    void setPermission(MicrophonePermission permission);
    void setPhase(const MonitoringPhase& phase);
    void setMeter(MeterChannel channel, const MeterReading& reading);
    void setDiagnostics(const EngineDiagnostics& diagnostics);
    void setTechnicalError(const std::optional<QString>& error);
    void setMonitorIntent(bool intent);
    MicrophonePermission currentAuthorization() const;
    void continueStart();

    // How the notification thread reaches this object: a posting is made under the mutex, and
    // the destructor clears target under it, so no posting can race with destruction.
    struct Mailbox;
    static void post(const std::shared_ptr<Mailbox>& mailbox,
                     std::function<void(MonitorViewModel&)> work);
    // Main thread: runs what the other threads posted, in order.
    void drainMailbox();
    template <typename T>
    bool publish(T& member, const T& value, void (MonitorViewModel::*changed)(),
                 bool affectsPresentation = true);

    AudioSystem& audioSystem_;
    Options options_;
    std::unique_ptr<MainThreadScheduler> ownedScheduler_;
    MainThreadScheduler* scheduler_ = nullptr;

    QList<AudioInputDevice> inputDevices_;
    std::optional<QString> selectedDeviceUID_;
    std::optional<QString> selectedPairID_;
    std::optional<AudioOutputDevice> outputDevice_;
    MicrophonePermission permission_ = MicrophonePermission::notDetermined;
    MonitoringPhase phase_;
    MeterReading leftMeter_;
    MeterReading rightMeter_;
    EngineDiagnostics diagnostics_;
    std::optional<QString> technicalError_;
    bool isInputSelectionLocked_ = false;
    bool isMuted_ = false;

    std::unique_ptr<AudioDeviceService> deviceService_;
    std::unique_ptr<MonitoringEngine> engine_;
    AppPreferences preferences_;
    bool monitorIntent_ = false;
    std::optional<RouteKey> activeRoute_;
    std::unique_ptr<ScheduledTask> refreshTask_;
    std::unique_ptr<ScheduledTask> pollingTask_;
    bool refreshNeedsReconfiguration_ = false;
    MainThreadScheduler::TimePoint leftPeakHoldUntil_ = MainThreadScheduler::TimePoint::min();
    MainThreadScheduler::TimePoint rightPeakHoldUntil_ = MainThreadScheduler::TimePoint::min();
    // Only the answer to the latest permission request counts.
    std::uint64_t permissionRequest_ = 0;
    bool isShutDown_ = false;
    std::shared_ptr<Mailbox> mailbox_;
};

} // namespace brevalo
