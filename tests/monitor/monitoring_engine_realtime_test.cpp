// The engine on real I/O threads (one per simulated device, paced by the steady clock), so that
// ThreadSanitizer sees the callbacks, the ring and the main thread's start, snapshot and stop
// interleave for real. Runs about a second of audio; asserts nothing about timing.

#include "monitor_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace brevalo {
namespace {

using namespace std::chrono_literals;
using test::SimulatedRoute;

TEST(MonitoringEngineRealtime, PlaysTheInputOnTheOutputAcrossThreadsAndStopsCleanly)
{
    SimulatedRoute route({.inputPPM = 300.0, .inputBuffer = 256, .outputBuffer = 256},
                         SimTimeMode::realTime);
    route.sim.setInputSignal(route.input, 0, SimSignal::sine(1000.0, 0.5));
    route.sim.setInputSignal(route.input, 1, SimSignal::sine(1000.0, 0.25));
    MonitoringEngine engine(route.sim);

    for (int run = 0; run < 2; ++run) {
        // The second start replaces a running graph: it must stop the first one on its own.
        engine.start(route.configuration, false);
        // Recorded from here: audio of the previous run cannot count.
        route.sim.captureOutput(route.output, 48000 * 4);
        ASSERT_TRUE(engine.isRunning());
        float leftPeak = 0.0f;
        float rightPeak = 0.0f;
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        bool played = false;
        while (std::chrono::steady_clock::now() < deadline && !played) {
            std::this_thread::sleep_for(33ms);
            const auto snapshot = engine.snapshot();
            ASSERT_TRUE(snapshot);
            EXPECT_FALSE(snapshot->runtimeFailure)
                << snapshot->runtimeFailure->description().toStdString();
            leftPeak = std::max(leftPeak, snapshot->leftPeak);
            rightPeak = std::max(rightPeak, snapshot->rightPeak);
            const auto capture = route.sim.outputCapture(route.output);
            played = std::any_of(capture.channels[0].begin(), capture.channels[0].end(),
                                 [](float s) { return std::fabs(s) > 0.4f; });
        }
        EXPECT_TRUE(played) << "no audio reached the output";
        EXPECT_NEAR(leftPeak, 0.5f, 0.01f);
        EXPECT_NEAR(rightPeak, 0.25f, 0.01f);
    }
    engine.stop();
    EXPECT_FALSE(engine.isRunning());
    EXPECT_FALSE(engine.snapshot());
    const auto played = route.sim.blockCount(route.output);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(route.sim.blockCount(route.output), played) << "a device kept running after stop";
}

} // namespace
} // namespace brevalo
