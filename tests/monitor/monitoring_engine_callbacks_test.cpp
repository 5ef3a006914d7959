// The realtime callbacks on their own: the playback-rate control, the refusal of bad block
// sizes and buffer lists, and allocation-freedom. In simulated (manual) time every device block,
// and with it the capture, ring-read and playback callbacks, runs on the thread that calls
// advance(), so counting operator new on that thread while it advances covers all three.

#include "core/monitor_ring.h"
#include "monitor_test_support.h"
#include "platform/audio/samplerate_varispeed.h"
#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

namespace brevalo {
namespace {

// Stands in for the ring read: a constant, so the ring keeps the fill the test gave it.
std::int32_t constantSource(void*, RenderActionFlags&, const AudioTimeStamp&, std::uint32_t,
                            std::uint32_t frames, AudioBufferList* buffers)
{
    for (std::uint32_t c = 0; c < buffers->numberBuffers; ++c) {
        std::fill_n(static_cast<float*>(buffers->buffers[c].data), frames, 0.25f);
    }
    return 0;
}

// The converter of every backend, at 48 kHz on both sides, fed the constant.
std::unique_ptr<SamplerateVarispeed> varispeedOnAConstant()
{
    auto varispeed = std::make_unique<SamplerateVarispeed>();
    for (const Scope scope : {Scope::input, Scope::output}) {
        EXPECT_EQ(varispeed->setStreamFormat(scope, 0, StreamFormat::float32Planar(48000.0, 2)), 0);
    }
    EXPECT_EQ(varispeed->setRenderCallback(Scope::input, 0, {&constantSource, nullptr}), 0);
    EXPECT_EQ(varispeed->initialize(), 0);
    return varispeed;
}

// Runs the playback callback at 48 kHz in 512-frame blocks with the ring held at a fixed fill
// (nothing reads the ring here), and returns the correction in ppm after each simulated second.
std::vector<double> steer(std::uint32_t fill, std::uint32_t target, int seconds)
{
    MonitorRing* ring = monitor_ring_create(65536, target);
    std::vector<float> block(fill, 0.1f);
    monitor_ring_write(ring, block.data(), block.data(), fill);
    const auto varispeed = varispeedOnAConstant();
    PlaybackCallbackContext context{ring, 48000.0, varispeed.get(), 1.0};
    std::vector<float> left(512), right(512);
    AudioBufferList list;
    list.numberBuffers = 2;
    list.buffers[0] = {1, 512 * 4, left.data()};
    list.buffers[1] = {1, 512 * 4, right.data()};
    std::vector<double> ppm;
    for (int second = 0; second < seconds; ++second) {
        for (int i = 0; i < 94; ++i) { // 94 × 512 frames ≈ 1 s
            RenderActionFlags flags = 0;
            EXPECT_EQ(monitorPlaybackCallback(&context, flags, AudioTimeStamp{}, 0, 512, &list), 0);
        }
        float rate = 0.0f;
        varispeed->playbackRate(rate);
        ppm.push_back((static_cast<double>(rate) - 1.0) * 1e6);
    }
    EXPECT_NEAR(left.back(), 0.25f, 1e-3f)
        << "the gain ramp applies to what the varispeed rendered";
    EXPECT_NEAR(right.back(), 0.25f, 1e-3f);
    monitor_ring_destroy(ring);
    return ppm;
}

TEST(MonitoringEngineRateControl, HoldsAtTargetAndClampsAt1000PPMAlongAFiveSecondLowPass)
{
    EXPECT_EQ(steer(8705, 8705, 10).back(), 0.0);

    // 120 % of target asks for +2000 ppm: clamped to +1000, reached along 1 − e^(−t / 5 s).
    const auto faster = steer(9600, 8000, 30);
    const auto expected = [](int seconds) {
        return 1000.0 * (1.0 - std::exp(-(94.0 * seconds * 512 / 48000.0) / 5.0));
    };
    EXPECT_NEAR(faster[4], expected(5), 1.0);
    EXPECT_NEAR(faster.back(), expected(30), 1.0);
    EXPECT_TRUE(std::is_sorted(faster.begin(), faster.end()));

    // An emptier ring slows playback down to the lower clamp, and never past it.
    const auto slower = steer(4000, 8000, 60);
    EXPECT_NEAR(slower.back(), -1000.0, 1.0);
    EXPECT_GE(slower.back(), -1000.2);
}

TEST(MonitoringEngineCallbacks, RefuseAnOversizedBlockAndAMissingOrShortBufferList)
{
    SimulatedAudioSystem sim;
    std::unique_ptr<IOUnit> inputUnit;
    ASSERT_EQ(sim.createIOUnit(inputUnit), 0);
    const auto varispeed = varispeedOnAConstant();
    std::vector<float> left(512), right(512);
    AudioBufferList whole;
    whole.numberBuffers = 2;
    whole.buffers[0] = {1, 512 * 4, left.data()};
    whole.buffers[1] = {1, 512 * 4, right.data()};
    AudioBufferList single = whole;
    single.numberBuffers = 1;
    AudioBufferList hole = whole;
    hole.buffers[1].data = nullptr;

    RenderActionFlags flags = 0;
    const auto read = [&](MonitorRing* ring, AudioBufferList* buffers) {
        RingReadCallbackContext context{ring};
        return monitorRingReadCallback(&context, flags, AudioTimeStamp{}, 0, 512, buffers);
    };
    const auto play = [&](MonitorRing* ring, AudioBufferList* buffers) {
        PlaybackCallbackContext context{ring, 48000.0, varispeed.get(), 1.0};
        return monitorPlaybackCallback(&context, flags, AudioTimeStamp{}, 0, 512, buffers);
    };
    const std::pair<const char*, std::function<std::int32_t(MonitorRing*)>> rows[] = {
        {"capture block above the slice size",
         [&](MonitorRing* ring) {
             CaptureCallbackContext context(ring, 256);
             context.audioUnit = inputUnit.get();
             return monitorCaptureCallback(&context, flags, AudioTimeStamp{}, 1, 257, nullptr);
         }},
        {"ring read without buffers", [&](MonitorRing* ring) { return read(ring, nullptr); }},
        {"ring read into one buffer", [&](MonitorRing* ring) { return read(ring, &single); }},
        {"ring read into a missing buffer", [&](MonitorRing* ring) { return read(ring, &hole); }},
        {"playback without buffers", [&](MonitorRing* ring) { return play(ring, nullptr); }},
        {"playback into one buffer", [&](MonitorRing* ring) { return play(ring, &single); }},
        {"playback into a missing buffer", [&](MonitorRing* ring) { return play(ring, &hole); }},
    };
    for (const auto& [label, call] : rows) {
        MonitorRing* ring = monitor_ring_create(4096, 512);
        EXPECT_EQ(call(ring), -50) << label;
        EXPECT_EQ(monitor_ring_take_error(ring), -50) << label;
        monitor_ring_destroy(ring);
    }
}

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
    test::SimulatedRoute route({.inputPPM = 250.0});
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
    route.sim.injectFault(FaultRule{
        .operation = AudioOperation::setParameter, .unitKind = UnitKind::varispeed, .times = 5});
    route.sim.injectFault(
        FaultRule{.operation = AudioOperation::render, .unitKind = UnitKind::io, .times = 5});
    EXPECT_EQ(allocationsWhileAdvancing(route.sim, 0.5), 0u);
    snapshot = engine.snapshot();
    EXPECT_TRUE(snapshot->runtimeFailure);
}

} // namespace
} // namespace brevalo
