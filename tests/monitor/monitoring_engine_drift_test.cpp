// The whole graph in simulated time: audio continuity through the varispeed and
// the mute ramp, and drift compensation over long runs with the two device
// clocks apart.

#include "monitor_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

namespace brevalo {
namespace {

using test::peakIn;
using test::SimulatedRoute;
using test::smallestPeriodPeak;

constexpr double sineFrequency = 1000.0;
constexpr double sineAmplitude = 0.5;

// A 1 kHz sine of the test amplitude changes its second difference by at most
// ω²·A per sample; a dropped, repeated or zeroed frame changes it by about ω·A,
// eight times more at 48 kHz.
double secondDifferenceBound(double rate, double extra = 0.0)
{
    const double omega = 2.0 * std::numbers::pi * sineFrequency / rate;
    return 1.2 * omega * omega * sineAmplitude + extra + 1e-4;
}

std::size_t firstAudible(const std::vector<float>& samples)
{
    const auto it =
        std::find_if(samples.begin(), samples.end(), [](float s) { return std::fabs(s) > 1e-6f; });
    return static_cast<std::size_t>(it - samples.begin());
}

// Index of the largest second difference in [from, to), and its size.
std::pair<std::size_t, double> largestSecondDifference(const std::vector<float>& x,
                                                       std::size_t from, std::size_t to)
{
    std::pair<std::size_t, double> worst{from, 0.0};
    for (std::size_t i = std::max<std::size_t>(from, 1); i + 1 < std::min(to, x.size()); ++i) {
        const double d = std::fabs(static_cast<double>(x[i + 1]) - 2.0 * x[i] + x[i - 1]);
        if (d > worst.second) {
            worst = {i, d};
        }
    }
    return worst;
}

TEST(MonitoringEngineGraph, SinePassesThroughAndMuteRampsWithoutStepsAfterPriming)
{
    // The input clock runs fast, so the varispeed works at a rate other than 1 all along.
    SimulatedRoute route({.inputPPM = 300.0});
    route.sim.setInputSignal(route.input, 0, SimSignal::sine(sineFrequency, sineAmplitude));
    route.sim.setInputSignal(route.input, 1, SimSignal::sine(sineFrequency, sineAmplitude));
    route.sim.captureOutput(route.output, 48000 * 12);
    MonitoringEngine engine(route.sim, route.simulatedSleep());
    engine.start(route.configuration, false);
    route.sim.advanceSeconds(8.0);
    monitor_ring_set_muted(engine.ring(), true);
    route.sim.advanceSeconds(0.5);
    monitor_ring_set_muted(engine.ring(), false);
    route.sim.advanceSeconds(1.5);
    const auto snapshot = engine.snapshot();
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->diagnostics.underruns, 0u);
    EXPECT_EQ(snapshot->diagnostics.overruns, 0u);
    EXPECT_FALSE(snapshot->runtimeFailure);
    engine.stop();

    // Simulated time runs the blocks that end by then, so a change lands on the first output
    // frame of the next 512-frame block.
    const std::size_t muteFrame = 48000 * 8 / 512 * 512;
    const std::size_t unmuteFrame = 48000 * 17 / 2 / 512 * 512;
    // The gain moves by at most its coefficient per sample, which adds 2·c·ω·A.
    const double coefficient = 1.0 - std::exp(-1.0 / (48000.0 * 0.008));
    const double omega = 2.0 * std::numbers::pi * sineFrequency / 48000.0;
    const double rampBound =
        secondDifferenceBound(48000.0, 2.4 * coefficient * omega * sineAmplitude);
    const auto capture = route.sim.outputCapture(route.output);
    ASSERT_EQ(capture.channels.size(), 2u);
    for (const auto& channel : capture.channels) {
        const std::size_t primed = firstAudible(channel);
        // Playback starts once the target fill (8705 frames, about 181 ms) has arrived.
        ASSERT_LT(primed, 48000u / 2);
        EXPECT_GT(primed, 8705u * 9 / 10);
        // After the fade-in (8 ms time constant) and until the mute every period is at full
        // level and no sample jumps; the last 0.1 s hold stop's fade-out and are left out.
        const std::size_t from = primed + 4800;
        const std::size_t to = 48000 * 10 - 4800;
        const auto [where, jump] = largestSecondDifference(channel, from, muteFrame);
        EXPECT_LT(jump, secondDifferenceBound(48000.0)) << "at frame " << where;
        EXPECT_LT(peakIn(channel, from, to), sineAmplitude * 1.01);
        EXPECT_GT(smallestPeriodPeak(channel, from, muteFrame, 48), sineAmplitude * 0.98);
        // The mute and unmute ramp without steps; five time constants (40 ms) after the mute
        // the output is silent.
        const auto [rampWhere, rampJump] = largestSecondDifference(channel, muteFrame, to);
        EXPECT_LT(rampJump, rampBound) << "at frame " << rampWhere;
        EXPECT_LT(peakIn(channel, muteFrame + 1920, unmuteFrame), 0.01 * sineAmplitude);
        EXPECT_LT(peakIn(channel, muteFrame + 4800, unmuteFrame), 1e-4);
        EXPECT_GT(smallestPeriodPeak(channel, unmuteFrame + 4800, to, 48), sineAmplitude * 0.98);
    }
}

// Runs half an hour of simulated time with the input clock ppm away from the
// exact output clock, sampling the diagnostics at an interval that does not
// divide the block period, so the fill is seen at every phase of the block
// cycle.
class MonitoringEngineDrift : public ::testing::TestWithParam<double>
{};

TEST_P(MonitoringEngineDrift, TheInputClockIsCompensatedOverHalfAnHour)
{
    const double inputPPM = GetParam();
    constexpr double seconds = 1800.0;
    SimulatedRoute route({.inputPPM = inputPPM});
    MonitoringEngine engine(route.sim, route.simulatedSleep());
    engine.start(route.configuration, false);

    constexpr double interval = 0.9973;
    double errorSum = 0.0; // correction − true offset, over the last 10 minutes
    double largestError = 0.0;
    double fillSum = 0.0;    // fill / target, over the last 10 minutes
    double lowestFill = 1e9; // after the first minute
    double highestFill = 0.0;
    int lateSamples = 0;
    EngineDiagnostics d;
    for (double t = interval; t <= seconds; t += interval) {
        route.sim.advanceSeconds(interval);
        const auto snapshot = engine.snapshot();
        ASSERT_TRUE(snapshot) << "at " << t << " s";
        ASSERT_FALSE(snapshot->runtimeFailure) << "at " << t << " s";
        d = snapshot->diagnostics;
        const double error = d.rateCorrectionPPM - inputPPM;
        const double fill =
            static_cast<double>(d.bufferedFrames) / static_cast<double>(d.targetBufferedFrames);
        if (t > 60.0) {
            lowestFill = std::min(lowestFill, fill);
            highestFill = std::max(highestFill, fill);
        }
        if (t > seconds - 600.0) {
            errorSum += error;
            fillSum += fill;
            largestError = std::max(largestError, std::fabs(error));
            ++lateSamples;
        }
    }
    const double meanError = errorSum / lateSamples;
    const double meanFill = fillSum / lateSamples;
    std::printf("input clock %+.0f ppm: correction error %+.2f ppm mean, %.0f largest; fill %.3f "
                "of target (%.3f to %.3f)\n",
                inputPPM, meanError, largestError, meanFill, lowestFill, highestFill);
    EXPECT_EQ(d.underruns, 0u);
    EXPECT_EQ(d.overruns, 0u);
    // A bounded fill means the input is consumed exactly as fast as it arrives on
    // average, which pins the mean correction to the clocks' true offset.
    EXPECT_NEAR(meanError, 0.0, 3.0);
    // The fill is sampled right after an output block and jumps by an input block
    // whenever one arrives; the two block grids slide past each other once every
    // 512 / (48000 × 300e-6) = 36 s, slower than the 5 s filter, so the
    // correction ripples around the offset with that period. Bounded, and far
    // inside the ±1000 ppm clamp.
    EXPECT_LT(largestError, 300.0);
    // Near the target: offset / 0.01 above or below it where the control
    // balances, plus half a block for the moment of sampling.
    EXPECT_GT(meanFill, 0.95);
    EXPECT_LT(meanFill, 1.10);
    EXPECT_GT(lowestFill, 0.8);
    EXPECT_LT(highestFill, 1.25);
}

INSTANTIATE_TEST_SUITE_P(FastAndSlow, MonitoringEngineDrift, ::testing::Values(300.0, -300.0));

} // namespace
} // namespace brevalo
