// The controller as the application runs it: Qt timers, the simulated devices on their own I/O
// threads and notifications on the notification thread. ThreadSanitizer checks the hop from the
// notification thread to the main thread and the poll against the running callbacks.

#include "monitor/monitor_view_model.h"
#include "platform/audio/simulated/simulated_audio_system.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace brevalo {
namespace {

// Runs the event loop until the condition holds; the deadline only keeps a broken build from
// hanging.
bool processUntil(const std::function<bool()>& condition)
{
    QDeadlineTimer deadline(10000);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

TEST(MonitorControllerRealtime, WaitsForARemovedInputAndResumesWhenItReturns)
{
    QTemporaryDir directory;
    QSettings settings(directory.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    SimulatedAudioSystem sim(SimTimeMode::realTime);
    const ObjectId input =
        sim.addDevice(SimDevice::input("scarlett-1", "Scarlett 2i2", 2, 48000.0, 24));
    sim.addDevice(SimDevice::output("out-1", "Speakers", 2, 48000.0));
    sim.setInputSignal(input, 0, SimSignal::sine(1000.0, 0.5));

    MonitorViewModel controller(sim, settings);
    controller.startMonitoring();
    ASSERT_EQ(controller.phase(), MonitoringPhase::Kind::running);
    EXPECT_TRUE(processUntil([&] { return controller.leftMeter().levelDBFS > -20.0; }));

    sim.removeDevice(input);
    EXPECT_TRUE(
        processUntil([&] { return controller.phase() == MonitoringPhase::Kind::waitingForInput; }));
    EXPECT_TRUE(controller.monitorIntent());

    sim.addDevice(SimDevice::input("scarlett-1", "Scarlett 2i2", 2, 48000.0, 24));
    EXPECT_TRUE(processUntil([&] { return controller.phase() == MonitoringPhase::Kind::running; }));
    controller.shutdown();
    EXPECT_FALSE(controller.engine().isRunning());
}

} // namespace
} // namespace brevalo
