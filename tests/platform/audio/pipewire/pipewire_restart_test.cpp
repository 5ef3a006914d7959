// The monitor controller on the PipeWire backend while the server restarts: the private session of
// scripts/test-env.sh is stopped and started again through its control command
// (BREVALO_PIPEWIRE_CONTROL), so this executable runs alone. ThreadSanitizer and AddressSanitizer
// runs of it also show that a lost connection and the reconnect leak nothing and race nothing.

#include "monitor/monitor_view_model.h"
#include "platform/audio/pipewire/pipewire_audio_system.h"
#include "platform/audio/pipewire/pipewire_test_graph.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <numbers>
#include <string>
#include <vector>

// Node setups name only the fields the test cares about.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace brevalo {
namespace {

using namespace std::chrono_literals;
using test::processUntil;

// Stops and starts the shared private server; whatever happens in the test, it runs again
// afterwards for the tests that follow.
struct ServerControl
{
    std::string command;
    bool stopped = false;

    bool run(const std::string& action)
    {
        const bool done = std::system(("'" + command + "' " + action).c_str()) == 0;
        stopped = action == "--stop" || !done;
        return done;
    }
    ~ServerControl()
    {
        if (stopped) {
            run("--start");
        }
    }
};

// The server's side of the test, made again after every start: a stereo interface (a duplex
// node a sine is played into) and the speakers the controller monitors to.
class Studio
{
public:
    Studio(PipeWireAudioSystem& system, const std::string& inputUID, const std::string& outputUID,
           double amplitude)
        : graph_(system.pipeWireHardware()), amplitude_(amplitude)
    {
        const ObjectId device = graph_.plug({inputUID, "Turntable Interface", "Audio/Duplex"});
        ready_ = device != unknownObject && graph_.addNode({outputUID, "Speakers"}) != 0 &&
                 graph_.setDefaultSink(outputUID) && system.createIOUnit(player_) == 0 &&
                 player_->setCurrentDevice(device) == 0 &&
                 player_->setRenderCallback(Scope::input, outputElement, {render, this}) == 0 &&
                 player_->initialize() == 0 && player_->start() == 0;
    }
    ~Studio()
    {
        if (player_) {
            player_->dispose();
        }
    }
    Studio(const Studio&) = delete;
    Studio& operator=(const Studio&) = delete;

    bool ready() const { return ready_; }

private:
    static std::int32_t render(void* refCon, RenderActionFlags&, const AudioTimeStamp&,
                               std::uint32_t, std::uint32_t frames, AudioBufferList* buffers)
    {
        auto& self = *static_cast<Studio*>(refCon);
        for (std::uint32_t i = 0; i < frames; ++i) {
            self.phase_ += 2.0 * std::numbers::pi * 1000.0 / 48000.0;
            for (std::uint32_t c = 0; c < buffers->numberBuffers; ++c) {
                static_cast<float*>(buffers->buffers[c].data)[i] =
                    static_cast<float>(self.amplitude_ * std::sin(self.phase_));
            }
        }
        return 0;
    }

    test::PipeWireTestGraph graph_;
    double amplitude_;
    double phase_ = 0.0;
    std::unique_ptr<IOUnit> player_;
    bool ready_ = false;
};

TEST(PipeWireRestart, MonitoringWaitsWhileTheServerIsGoneAndResumesWhenItIsBack)
{
    const char* control = std::getenv("BREVALO_PIPEWIRE_CONTROL");
    if (control == nullptr) {
        GTEST_SKIP() << "needs the private PipeWire session of scripts/test-env.sh";
    }
    ServerControl server{control};
    auto system = PipeWireAudioSystem::connect(3000ms);
    ASSERT_TRUE(system);
    auto& hardware = system->pipeWireHardware();
    const auto pid = std::to_string(::getpid());
    const std::string inputUID = "brevalo-test-restart-interface-" + pid;
    const std::string outputUID = "brevalo-test-restart-speakers-" + pid;
    auto studio = std::make_unique<Studio>(*system, inputUID, outputUID, 0.25);
    ASSERT_TRUE(studio->ready());

    QTemporaryDir directory;
    QSettings settings(directory.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    auto controller = std::make_unique<MonitorViewModel>(*system, settings);
    const auto running = [&] { return controller->phase() == MonitoringPhase::Kind::running; };
    // The meter only rises with new audio: a louder sine after the restart proves it flows again.
    const auto hearing = [&](double dBFS) { return controller->leftMeter().levelDBFS > dBFS; };
    controller->selectInputDevice(QString::fromStdString(inputUID));
    controller->startMonitoring();
    ASSERT_TRUE(processUntil([&] { return running() && hearing(-15.0); }, 4s))
        << controller->status().title.toStdString();

    ASSERT_TRUE(server.run("--stop"));
    // The output is checked first, so with the whole server gone the controller waits for it;
    // either way it waits with the intent on instead of failing.
    EXPECT_TRUE(processUntil([&] { return controller->phase().isWaiting(); }, 4s))
        << controller->status().title.toStdString();
    EXPECT_EQ(controller->transportTitle(), QStringLiteral("Cancel Auto-Resume"));
    EXPECT_FALSE(controller->engine().isRunning());
    EXPECT_FALSE(hearing(-10.0));
    EXPECT_TRUE(controller->inputDevices().isEmpty());
    EXPECT_FALSE(controller->selectedInputDevice().has_value());
    // What the test made on the lost connection goes before the server is back.
    studio.reset();

    ASSERT_TRUE(server.run("--start"));
    const auto back = std::chrono::steady_clock::now();
    const auto since = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - back)
            .count();
    };
    // The backend finds the server again by itself; the test only waits to make its nodes.
    ASSERT_TRUE(test::waitUntil([&] { return hardware.roundTrip(200ms); }, 3s));
    std::cout << "reconnected " << since() << " ms after the server was back\n";
    studio = std::make_unique<Studio>(*system, inputUID, outputUID, 0.9);
    ASSERT_TRUE(studio->ready());
    EXPECT_TRUE(processUntil([&] { return running() && hearing(-3.0); }, 5s))
        << controller->status().title.toStdString();
    std::cout << "monitoring resumed " << since() << " ms after the server was back\n";
    EXPECT_TRUE(controller->monitorIntent());
    controller->shutdown();
    controller.reset();
    studio.reset();

    // Gone again, with an attempt pending: the backend ends without waiting for the server.
    ASSERT_TRUE(server.run("--stop"));
    std::vector<ObjectId> devices{unknownObject};
    EXPECT_TRUE(test::waitUntil([&] { return hardware.devices(devices) == 0 && devices.empty(); }));
    EXPECT_FALSE(hardware.roundTrip(4000ms));
    system.reset();
}

} // namespace
} // namespace brevalo

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
