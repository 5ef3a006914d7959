// The controller on a real PipeWire session whose graph resamples the source: a stock desktop
// allows only 48 kHz, so an interface at 44.1, 96 or 32 kHz is converted by the graph. Run with
// BREVALO_PIPEWIRE_ALLOWED_RATES=48000 (see tests/monitor_controller/CMakeLists.txt); without a
// daemon the test is skipped.

#include "monitor/monitor_view_model.h"
#include "platform/audio/pipewire/pipewire_audio_system.h"
#include "platform/audio/pipewire/pipewire_test_graph.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace brevalo {
namespace {

// Runs the event loop for the whole duration, or until `stop` holds.
bool processFor(
    int milliseconds, const std::function<bool()>& stop = [] { return false; })
{
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) {
        if (stop()) {
            return true;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return stop();
}

TEST(MonitorControllerPipeWire, MonitoringStaysRunningOnASourceTheGraphResamples)
{
    auto system = PipeWireAudioSystem::connect(std::chrono::milliseconds(3000));
    if (!system) {
        GTEST_SKIP() << "no PipeWire server reachable";
    }
    const std::string stem = "brevalo-test-resampled-" + std::to_string(::getpid());
    test::PipeWireTestGraph graph(system->pipeWireHardware());
    ASSERT_NE(graph.addNode({stem + "-out", "Speakers", "Audio/Sink", "[ FL FR ]", 48000, ""}), 0);
    ASSERT_TRUE(graph.setDefaultSink(stem + "-out"));

    for (const std::uint32_t rate : {96000u, 32000u}) {
        SCOPED_TRACE(rate);
        const std::string uid = stem + "-" + std::to_string(rate);
        int source = 0;
        // Listed at its rate before the controller reads the catalog.
        ASSERT_NE(
            graph.plug({uid, "Scarlett " + uid, "Audio/Source/Virtual", "[ FL FR ]", rate, ""},
                       &source),
            unknownObject);
        QTemporaryDir directory;
        QSettings settings(directory.filePath(QStringLiteral("settings.ini")),
                           QSettings::IniFormat);
        MonitorViewModel controller(*system, settings);
        controller.refreshFromSystem();
        controller.selectInputDevice(QString::fromStdString(uid));
        ASSERT_TRUE(processFor(4000, [&] {
            return controller.selectedDeviceUID() == QString::fromStdString(uid) &&
                   controller.canStartMonitoring();
        }));
        controller.startMonitoring();
        EXPECT_TRUE(processFor(4000, [&] {
            return controller.phase() == MonitoringPhase::Kind::running;
        })) << controller.technicalError().value_or(QString()).toStdString();
        int changes = 0;
        QObject::connect(&controller, &MonitorViewModel::phaseChanged, [&] { ++changes; });
        // A refused stream showed within a quarter second and restarted about as often.
        processFor(800);
        EXPECT_EQ(controller.phase(), MonitoringPhase::Kind::running);
        EXPECT_EQ(changes, 0);
        controller.shutdown();
        graph.removeNode(source);
    }
}

} // namespace
} // namespace brevalo
