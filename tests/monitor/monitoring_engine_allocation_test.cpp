// The realtime callbacks must never allocate. In simulated (manual) time every device block,
// and with it the capture, ring-read and playback callbacks, runs on the thread that calls
// advance(), so counting operator new on that thread while it advances covers all three.

#include "monitor_test_support.h"
#include "support/allocation_counter.h"

#include <gtest/gtest.h>

namespace brevalo {
namespace {

using test::SimulatedRoute;

// Counts allocations made by this thread while advancing simulated time.
std::uint64_t allocationsWhileAdvancing(SimulatedAudioSystem& sim, double seconds)
{
    test::AllocationCounter counter;
    sim.advanceSeconds(seconds);
    return counter.count();
}

TEST(MonitoringEngineAllocation, CallbacksAllocateNothing)
{
    // Clocks apart so the rate control moves; a sine so the meters and clip latch work; no
    // output capture (the simulation's own recording would allocate).
    SimulatedRoute route({.inputPPM = 250.0});
    route.sim.setInputSignal(route.input, 0, SimSignal::sine(1000.0, 1.0));
    route.sim.setInputSignal(route.input, 1, SimSignal::sine(440.0, 0.5));
    MonitoringEngine engine(route.sim, route.simulatedSleep());
    engine.start(route.configuration, false);
    // The first advance sizes the simulation's own scratch; from then on nothing may allocate.
    route.sim.advanceSeconds(0.05);

    // Priming, then playing with the gain ramp and the rate control.
    EXPECT_EQ(allocationsWhileAdvancing(route.sim, 3.0), 0u);
    auto snapshot = engine.snapshot();
    ASSERT_TRUE(snapshot);
    EXPECT_GT(snapshot->diagnostics.bufferedFrames, 0u);
    EXPECT_TRUE(snapshot->leftClipped);
    EXPECT_NE(snapshot->diagnostics.rateCorrectionPPM, 0.0);

    // Muted: the ramp towards silence.
    monitor_ring_set_muted(engine.ring(), true);
    EXPECT_EQ(allocationsWhileAdvancing(route.sim, 0.5), 0u);
    monitor_ring_set_muted(engine.ring(), false);

    // Failure paths: a rate that cannot be set and an input block that cannot be rendered.
    FaultRule rate;
    rate.operation = AudioOperation::setParameter;
    rate.unitKind = UnitKind::varispeed;
    rate.times = 5;
    route.sim.injectFault(rate);
    FaultRule render;
    render.operation = AudioOperation::render;
    render.unitKind = UnitKind::io;
    render.times = 5;
    route.sim.injectFault(render);
    EXPECT_EQ(allocationsWhileAdvancing(route.sim, 0.5), 0u);
    snapshot = engine.snapshot();
    EXPECT_TRUE(snapshot->runtimeFailure);
}

} // namespace
} // namespace brevalo
