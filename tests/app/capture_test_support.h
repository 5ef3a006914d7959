#pragma once

// CaptureDesk: the capture controller with the library folder chosen, either without audio, or
// with the monitor controller on the demo devices ("Virtual Turntable", 96 kHz 24-bit, an album
// side that opens with 8 s of run-in groove; "Virtual Output") in virtual time, input access
// granted, or inside the whole application (its windows, menus and termination hook), whose first
// folder picker answers the library folder. Work on other threads (closing a master, waveforms,
// export) is waited for by processing events until it reports back, never by sleeping a fixed time.

#include "app/vantorel_app.h"
#include "app_test_support.h"
#include "capture/project_fixtures.h"
#include "capture/scripted_panels.h"
#include "discogs/token_store.h"
#include "platform/audio/simulated/simulated_demo_devices.h"
#include "recording/native_recorder.h"
#include "workflow/capture_view_model.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

#include <functional>
#include <memory>

namespace brevalo::testing_support {

class CaptureDesk : public SimulatedDesk
{
public:
    enum class Scope
    {
        withoutAudio,
        monitored,
        wholeApplication
    };

    // adjust: changes to the capture controller's options before it is created.
    explicit CaptureDesk(Scope scope = Scope::monitored,
                         const std::function<void(CaptureViewModel::Options&)>& adjust = {})
    {
        if (scope != Scope::withoutAudio) {
            addDemoDevices(sim());
            sim().setAuthorization(AudioCaptureAuthorization::authorized);
        }
        CaptureViewModel::Options options;
        options.scheduler = &scheduler;
        options.settings = std::make_shared<QSettings>(
            directory.filePath(QStringLiteral("capture.ini")), QSettings::IniFormat);
        options.panels = panels;
        options.keychain = std::make_shared<MemoryKeychain>();
        options.review.manualReader = true;
        if (adjust) {
            adjust(options);
        }
        if (scope == Scope::wholeApplication) {
            VantorelApp::Options appOptions;
            appOptions.audioSystem = releaseHardware();
            appOptions.settings = &settings;
            appOptions.monitor = controllerOptions();
            appOptions.capture = options;
            app = std::make_unique<VantorelApp>(std::move(appOptions));
            monitor_ = &app->monitor();
            capture_ = &app->capture();
        } else {
            if (scope == Scope::monitored) {
                ownedMonitor_ =
                    std::make_unique<MonitorViewModel>(sim(), settings, controllerOptions());
                monitor_ = ownedMonitor_.get();
            }
            ownedCapture_ = std::make_unique<CaptureViewModel>(monitor_, options);
            capture_ = ownedCapture_.get();
        }
        deliver();
        scheduler.runDue();
        deliver();
        for (const AudioInputDevice& device :
             monitor_ ? monitor_->inputDevices() : QList<AudioInputDevice>()) {
            if (device.name == QStringLiteral("Virtual Turntable")) {
                turntable = device.id;
            }
        }
        const QString library = directory.filePath(QStringLiteral("Library"));
        QDir().mkpath(library);
        panels->folders = {library};
        if (scope != Scope::wholeApplication) {
            capture_->chooseStorage();
        }
    }

    ~CaptureDesk() override
    {
        ownedCapture_.reset();
        ownedMonitor_.reset();
        app.reset();
        QApplication::setQuitOnLastWindowClosed(true);
    }

    MonitorViewModel& monitor() { return *monitor_; }
    CaptureViewModel& capture() { return *capture_; }

    // A confirmed project of one record: side A (tracksOnA tracks), B (tracksOnB); A selected.
    void createProject(int tracksOnA = 3, int tracksOnB = 2)
    {
        capture_->beginNewProject();
        CaptureProject draft = testing::project();
        draft.sides = {testing::side(1, QStringLiteral("A"), tracksOnA),
                       testing::side(1, QStringLiteral("B"), tracksOnB)};
        capture_->setDraft(draft);
        capture_->confirmDraft();
    }

    // Arms the recorder on the selected side (press: how; the controller's call by default);
    // true once the take runs.
    bool startTake(const std::function<void()>& press = {})
    {
        takeStartBlocks_ = sim().blockCount(turntable);
        if (press) {
            press();
        } else {
            capture_->startRecording();
        }
        const QDeadlineTimer deadline(std::chrono::seconds(30));
        while (capture_->isFinalizing() && !capture_->isRecording() && !deadline.hasExpired()) {
            deliver();
            scheduler.runDue();
        }
        return capture_->isRecording();
    }

    // Lets the take run for duration of virtual time in 250 ms steps; after each step the
    // master's writer catches up, so the ring never holds much.
    void runTake(std::chrono::milliseconds duration)
    {
        for (auto done = std::chrono::milliseconds(0); done < duration; done += step) {
            scheduler.advance(step);
            const NativeRecorder* recorder = capture_->recorder();
            const QDeadlineTimer deadline(std::chrono::seconds(30));
            while (recorder != nullptr && recorder->isRecording() &&
                   !recorder->interruptionMessage() &&
                   static_cast<qint64>(recorder->framesWritten()) < takenFrames() &&
                   !deadline.hasExpired()) {
                QThread::msleep(1);
            }
        }
        scheduler.runDue();
    }

    // Stops the running take (press: how) and waits until its master is stored and its
    // waveform loaded.
    void stopTake(const std::function<void()>& press = {})
    {
        if (press) {
            press();
        } else {
            capture_->stopRecording();
        }
        settle(&CaptureViewModel::isFinalizing);
        settle(&CaptureViewModel::isLoadingWaveform);
    }

    // Records the selected side for duration of virtual time; false on failure (the reason is
    // in capture().error()).
    bool recordTake(std::chrono::milliseconds duration)
    {
        if (!startTake()) {
            return false;
        }
        runTake(duration);
        stopTake();
        const CaptureSide* side = capture_->selectedSide();
        return side != nullptr && side->master && side->master->frameCount > 0;
    }

    // Processes events (and due virtual-time work) until the controller's flag falls.
    void settle(bool (CaptureViewModel::*busy)() const)
    {
        const QDeadlineTimer deadline(std::chrono::seconds(60));
        while ((capture_->*busy)() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            deliver();
            scheduler.runDue();
        }
        EXPECT_FALSE((capture_->*busy)());
    }

    // An empty folder for export destinations.
    QString exportFolder()
    {
        const QString folder = directory.filePath(QStringLiteral("Export"));
        QDir().mkpath(folder);
        return folder;
    }

    // Frames the turntable delivered since the current take was armed.
    qint64 takenFrames() const
    {
        return static_cast<qint64>(sim().blockCount(turntable) - takeStartBlocks_) * 512;
    }

    std::shared_ptr<ScriptedPanels> panels = std::make_shared<ScriptedPanels>();
    ObjectId turntable = unknownObject;
    std::chrono::milliseconds step{250};
    // The whole application, when asked for.
    std::unique_ptr<VantorelApp> app;

private:
    // The turntable's block count when the current take was armed.
    std::uint64_t takeStartBlocks_ = 0;

    std::unique_ptr<MonitorViewModel> ownedMonitor_;
    std::unique_ptr<CaptureViewModel> ownedCapture_;
    MonitorViewModel* monitor_ = nullptr;
    CaptureViewModel* capture_ = nullptr;
};

} // namespace brevalo::testing_support
