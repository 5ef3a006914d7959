#pragma once

// CaptureDesk: the two controllers of the capture window on simulated hardware in virtual time,
// for tests of the capture views and of whole capture flows through the GUI.
//
//   CaptureDesk desk;                       // demo devices ("Virtual Turntable", 96 kHz 24-bit,
//                                           // an album side that opens with 8 s of run-in
//                                           // groove; "Virtual Output"), input
//                                           // access granted, monitor and capture controllers
//                                           // created, library folder chosen
//   desk.monitor(), desk.capture()          // the controllers (MonitorViewModel, CaptureViewModel)
//   desk.panels->folders / images           // scripted answers of the folder and image pickers,
//                                           // then cancel
//   desk.createProject(3, 2)                // a confirmed project "Test Artist – Test Album" of
//                                           // one record, side A (3 tracks) and B (2 tracks);
//                                           // side A selected
//   desk.recordTake(2s)                     // records the selected side for that much virtual
//                                           // time and waits until its master is stored and
//                                           // its waveform loaded; false on failure (the
//                                           // reason is in capture().error())
//   desk.startTake() / desk.runTake(1s)     // the same in steps, leaving the take running
//   desk.stopTake()                         // stops a running take and waits for its master
//   desk.settle(&CaptureViewModel::isExporting)  // processes events until the flag falls
//   desk.exportFolder()                     // an empty folder for export destinations
//   desk.wait(d), desk.deliver()            // from SimulatedDesk: virtual time, notifications
//
// Work on other threads (closing a master, waveforms, export) is waited for by processing
// events until it reports back, never by sleeping a fixed time.

#include "app_test_support.h"

#include "capture/file_panels.h"
#include "discogs/token_store.h"
#include "monitor/monitor_view_model.h"
#include "platform/audio/simulated/simulated_audio_system.h"
#include "platform/audio/simulated/simulated_demo_devices.h"
#include "recording/native_recorder.h"
#include "workflow/capture_view_model.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

#include <deque>
#include <memory>

namespace brevalo::testing_support {

// Folder and image pickers answer from their queues, then as if cancelled.
class ScriptedCapturePanels : public FilePanels
{
public:
    std::deque<QString> folders;
    std::deque<QString> images;

    std::optional<QString> chooseFolder(const FolderRequest&) override { return next(folders); }
    std::optional<QString> chooseImage(const ImageRequest&) override { return next(images); }

private:
    static std::optional<QString> next(std::deque<QString>& queue)
    {
        if (queue.empty()) {
            return std::nullopt;
        }
        QString answer = queue.front();
        queue.pop_front();
        return answer;
    }
};

class CaptureDesk : public SimulatedDesk
{
public:
    CaptureDesk()
    {
        addDemoDevices(simulation_);
        simulation_.setAuthorization(AudioCaptureAuthorization::authorized);
        monitor_ = std::make_unique<MonitorViewModel>(simulation_, settings, controllerOptions());
        deliver();
        scheduler.runDue();
        deliver();
        for (const AudioInputDevice& device : monitor_->inputDevices()) {
            if (device.name == QStringLiteral("Virtual Turntable")) {
                turntable = device.id;
            }
        }

        CaptureViewModel::Options options;
        options.scheduler = &scheduler;
        options.settings = std::make_shared<QSettings>(
            directory.filePath(QStringLiteral("capture.ini")), QSettings::IniFormat);
        options.panels = panels;
        options.keychain = keychain;
        options.review.manualReader = true;
        capture_ = std::make_unique<CaptureViewModel>(monitor_.get(), options);
        const QString library = directory.filePath(QStringLiteral("Library"));
        QDir().mkpath(library);
        panels->folders = {library};
        capture_->chooseStorage();
    }

    ~CaptureDesk() override
    {
        capture_.reset();
        monitor_.reset();
        simulation_.drainNotifications();
    }

    SimulatedAudioSystem& sim() override { return simulation_; }
    MonitorViewModel& monitor() { return *monitor_; }
    CaptureViewModel& capture() { return *capture_; }

    void createProject(int tracksOnA = 3, int tracksOnB = 2)
    {
        capture_->beginNewProject();
        CaptureProject draft = capture_->draft();
        draft.artist = QStringLiteral("Test Artist");
        draft.albumArtist = draft.artist;
        draft.title = QStringLiteral("Test Album");
        draft.sides = {side(QStringLiteral("A"), tracksOnA), side(QStringLiteral("B"), tracksOnB)};
        capture_->setDraft(draft);
        capture_->confirmDraft();
    }

    // Arms the recorder on the selected side; true once the take runs.
    bool startTake()
    {
        takeStartBlocks_ = simulation_.blockCount(turntable);
        capture_->startRecording();
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
                   static_cast<qint64>(recorder->framesWritten()) < delivered() &&
                   !deadline.hasExpired()) {
                QThread::msleep(1);
            }
        }
        scheduler.runDue();
    }

    // Stops the running take and waits until its master is stored and its waveform loaded.
    void stopTake()
    {
        capture_->stopRecording();
        settle(&CaptureViewModel::isFinalizing);
        settle(&CaptureViewModel::isLoadingWaveform);
    }

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
        while ((*capture_.*busy)() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            deliver();
            scheduler.runDue();
        }
    }

    QString exportFolder()
    {
        const QString folder = directory.filePath(QStringLiteral("Export"));
        QDir().mkpath(folder);
        return folder;
    }

    std::shared_ptr<ScriptedCapturePanels> panels = std::make_shared<ScriptedCapturePanels>();
    std::shared_ptr<MemoryKeychain> keychain = std::make_shared<MemoryKeychain>();
    ObjectId turntable = unknownObject;
    std::chrono::milliseconds step{250};

private:
    static CaptureSide side(const QString& label, int trackCount)
    {
        CaptureSide result;
        result.id = QUuid::createUuid();
        result.record = 1;
        result.label = label;
        for (int i = 1; i <= trackCount; ++i) {
            result.tracks.append(CaptureTrack{QUuid::createUuid(), label + QString::number(i),
                                              QStringLiteral("Song %1%2").arg(label).arg(i),
                                              QString()});
        }
        return result;
    }

    qint64 delivered() const
    {
        return static_cast<qint64>(simulation_.blockCount(turntable) - takeStartBlocks_) * 512;
    }

    // The turntable's block count when the current take was armed.
    std::uint64_t takeStartBlocks_ = 0;

    SimulatedAudioSystem simulation_{SimTimeMode::manual};
    std::unique_ptr<MonitorViewModel> monitor_;
    std::unique_ptr<CaptureViewModel> capture_;
};

} // namespace brevalo::testing_support
