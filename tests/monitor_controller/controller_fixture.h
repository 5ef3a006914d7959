#pragma once

// A monitor controller on simulated hardware in manual time: the controller's scheduler drives
// virtual time, the simulated devices follow it, and notifications are delivered on demand.

#include "monitor/monitor_view_model.h"
#include "platform/audio/simulated/simulated_audio_system.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace brevalo {

inline void PrintTo(const MonitoringPhase& phase, std::ostream* out)
{
    *out << phase.debugText().toStdString();
}

inline void PrintTo(const StatusPresentation& status, std::ostream* out)
{
    *out << "{\"" << status.title.toStdString() << "\", "
         << (status.detail ? "\"" + status.detail->toStdString() + "\"" : std::string("none"))
         << ", severity " << static_cast<int>(status.severity) << "}";
}

namespace testing_support {

using namespace std::chrono_literals;

class ControllerFixture : public ::testing::Test
{
protected:
    ControllerFixture()
        : settings_(directory_.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat)
    {
        scheduler_.setTimeObserver([this](std::chrono::nanoseconds step) { sim_.advance(step); });
    }

    ~ControllerFixture() override
    {
        controller_.reset();
        sim_.drainNotifications();
    }

    ObjectId addInput(const std::string& uid, const std::string& name, double rate = 48000.0,
                      std::uint32_t channels = 2)
    {
        return sim_.addDevice(SimDevice::input(uid, name, channels, rate, 24));
    }

    ObjectId addOutput(const std::string& uid = "out-1", const std::string& name = "Speakers",
                       double rate = 48000.0)
    {
        return sim_.addDevice(SimDevice::output(uid, name, 2, rate));
    }

    // The usual desk: a Scarlett into the speakers, both at 48 kHz.
    void addStandardDevices()
    {
        input_ = addInput("scarlett-1", "Scarlett 2i2");
        output_ = addOutput();
    }

    MonitorViewModel& create()
    {
        MonitorViewModel::Options options;
        options.scheduler = &scheduler_;
        // The fade-out wait runs the simulated devices instead of sleeping.
        options.fadeOutSleep = [this](std::chrono::nanoseconds duration) {
            sim_.advance(duration);
        };
        // Links the controller opens are recorded, never handed to the desktop.
        options.openUrl = [this](const QUrl& url) {
            openedUrls_.push_back(url);
            return true;
        };
        sim_.drainNotifications();
        controller_ = std::make_unique<MonitorViewModel>(sim_, settings_, std::move(options));
        // Notifications of the devices added before the controller listened are not its concern.
        deliver();
        scheduler_.runDue();
        return *controller_;
    }

    MonitorViewModel& controller() { return *controller_; }

    // Hands every notification posted so far to the main thread and runs what it queued there.
    void deliver()
    {
        for (int round = 0; round < 3; ++round) {
            sim_.drainNotifications();
            QCoreApplication::sendPostedEvents();
        }
    }

    // Lets virtual time pass after delivering what is pending.
    void wait(std::chrono::nanoseconds duration)
    {
        deliver();
        scheduler_.advance(duration);
        deliver();
    }

    // A started session on the standard devices, with a 1 kHz sine of the given amplitudes on
    // the input pair.
    MonitorViewModel& running(double leftSine = 0.0, double rightSine = 0.0)
    {
        addStandardDevices();
        sim_.setInputSignal(input_, 0, SimSignal::sine(1000.0, leftSine));
        sim_.setInputSignal(input_, 1, SimSignal::sine(1000.0, rightSine));
        MonitorViewModel& controller = create();
        controller.startMonitoring();
        EXPECT_EQ(controller.phase(), MonitoringPhase::Kind::running);
        return controller;
    }

    QTemporaryDir directory_;
    QSettings settings_;
    SimulatedAudioSystem sim_{SimTimeMode::manual};
    ManualMainThreadScheduler scheduler_;
    std::unique_ptr<MonitorViewModel> controller_;
    std::vector<QUrl> openedUrls_;
    ObjectId input_ = unknownObject;
    ObjectId output_ = unknownObject;
};

// Every phase the controller passes through, from the moment it is attached.
class PhaseRecorder
{
public:
    explicit PhaseRecorder(MonitorViewModel& controller)
    {
        QObject::connect(&controller, &MonitorViewModel::phaseChanged, &context_,
                         [this, &controller] {
                             phases.push_back(controller.phase());
                             statuses.push_back(controller.status());
                         });
    }

    std::vector<MonitoringPhase> phases;
    std::vector<StatusPresentation> statuses; // the status shown with each phase

private:
    QObject context_;
};

} // namespace testing_support
} // namespace brevalo
