// Start validation, ring sizing, the clean-up after a failure at every start
// step, snapshots, mute, stop, and runtime failures.

#include "monitor_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace brevalo {
namespace {

using test::RouteOptions;
using test::SimulatedRoute;

CoreAudioFailure startFailure(MonitoringEngine& engine, const MonitoringConfiguration& config)
{
    try {
        engine.start(config, false);
    } catch (const CoreAudioFailure& failure) {
        return failure;
    }
    return CoreAudioFailure(QStringLiteral("no failure"), 0);
}

void expectIdle(MonitoringEngine& engine)
{
    EXPECT_FALSE(engine.isRunning());
    EXPECT_EQ(engine.ring(), nullptr);
    EXPECT_FALSE(engine.configuration());
    EXPECT_FALSE(engine.snapshot());
}

// ----- validation
// ----------------------------------------------------------------------------

TEST(MonitoringEngineStart, RejectsInvalidRatesAndBufferSizesNamingTheInputRouteFirst)
{
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    // Each rate row is refused by the rate check, the last row by the buffer-size
    // check.
    const std::pair<double, std::uint32_t> rows[] = {{7999.0, 512},   {192001.0, 512}, {0.0, 512},
                                                     {-48000.0, 512}, {inf, 512},      {nan, 512},
                                                     {48000.0, 65537}};
    SimulatedRoute route;
    MonitoringEngine engine(route.sim, [](std::chrono::nanoseconds) {});
    for (const auto& [rate, frames] : rows) {
        SCOPED_TRACE(rate);
        const bool size = frames > 65536;
        const char* check =
            size ? "Use a valid audio buffer size" : "Use a standard PCM rate up to 192 kHz";
        // Both sides wrong: the input is named; then only the output.
        auto config = route.configuration;
        config.inputSampleRate = config.outputSampleRate = rate;
        config.inputBufferFrameSize = config.outputBufferFrameSize = frames;
        for (const char* side : {"input", "output"}) {
            const auto failure = startFailure(engine, config);
            const QString operation =
                QStringLiteral("%1 for the %2 route").arg(QLatin1String(check), side);
            EXPECT_EQ(failure.operation(), operation);
            EXPECT_EQ(failure.status(), size ? status::paramError : status::unsupportedFormat);
            expectIdle(engine);
            config.inputSampleRate = 48000.0;
            config.inputBufferFrameSize = 65536;
        }
    }
    // Nothing reached the platform.
    EXPECT_EQ(route.sim.callCount(AudioOperation::createUnit), 0u);

    // The extreme rates with the largest buffers start.
    for (const double rate : {8000.0, 192000.0}) {
        SimulatedRoute edge({.inputRate = rate, .outputRate = rate});
        edge.configuration.inputBufferFrameSize = edge.configuration.outputBufferFrameSize = 65536;
        MonitoringEngine started(edge.sim, edge.simulatedSleep());
        started.start(edge.configuration, false);
        EXPECT_TRUE(started.isRunning()) << rate;
    }
}

// ----- ring sizing
// ---------------------------------------------------------------------------

TEST(MonitoringEngineSizing, MatchesTheWorkedExamples)
{
    SimulatedRoute route;
    auto config = route.configuration;
    // 48 kHz both sides, 512-frame output blocks: 8192 + ceil(512 × 1.001)
    // frames, ~181 ms.
    EXPECT_EQ(monitorRingSizing(config), (MonitorRingSizing{8705, 48000}));
    // 192 kHz in, 48 kHz out: 0.07 × 192000 is slightly above 13440 in double
    // precision.
    config.inputSampleRate = 192000.0;
    EXPECT_EQ(monitorRingSizing(config), (MonitorRingSizing{13441, 192000}));
    // An unknown output block size sizes like an 8192-frame one.
    config = route.configuration;
    config.outputBufferFrameSize = 0;
    auto large = config;
    large.outputBufferFrameSize = 8192;
    EXPECT_EQ(monitorRingSizing(config), monitorRingSizing(large));
    EXPECT_EQ(monitorRingSizing(config).targetFrames, 8192u + 8201u);
    // The largest blocks at the most extreme rate ratio still fit 32 bits.
    config.inputSampleRate = 192000.0;
    config.outputSampleRate = 8000.0;
    config.outputBufferFrameSize = 65536;
    const auto extreme = monitorRingSizing(config);
    EXPECT_EQ(extreme.targetFrames, 65536u + 1574437u);
    EXPECT_EQ(extreme.requestedCapacity, 2u * extreme.targetFrames);
}

// ----- a failure at every start step
// ---------------------------------------------------------

// The text the user sees for each step, and how the simulation makes that step fail; the
// rule's status is what the failure reports.
std::vector<std::pair<const char*, FaultRule>> everyStartStep()
{
    using Op = AudioOperation;
    using P = UnitProperty;
    using S = std::optional<Scope>;
    // io 1 is the input unit, io 2 the output unit; unit ordinals count per kind.
    const auto io = [](std::uint32_t n, Op op, std::optional<P> p = {}, S scope = {},
                       std::optional<std::uint32_t> e = {}) {
        return FaultRule{.operation = op,
                         .unitKind = UnitKind::io,
                         .unitOrdinal = n,
                         .unitProperty = p,
                         .scope = scope,
                         .element = e};
    };
    const auto vs = [](Op op, std::optional<P> p = {}, S scope = {}) {
        return FaultRule{.operation = op,
                         .unitKind = UnitKind::varispeed,
                         .unitOrdinal = 1,
                         .unitProperty = p,
                         .scope = scope};
    };
    const auto find = [](UnitKind kind) {
        return FaultRule{.operation = Op::findComponent, .unitKind = kind};
    };
    const char* lookup = "Find a required audio component";
    const char* create = "Create an audio component";
    std::vector<std::pair<const char*, FaultRule>> steps = {
        {lookup, find(UnitKind::io)},
        {create, io(1, Op::createUnit)},
        {"Enable audio input", io(1, Op::setProperty, P::enableIO, Scope::input, inputElement)},
        {"Disable input-device playback",
         io(1, Op::setProperty, P::enableIO, Scope::output, outputElement)},
        {"Select the audio input", io(1, Op::setProperty, P::currentDevice)},
        {"Configure the input buffer size", io(1, Op::setProperty, P::maximumFramesPerSlice)},
        {"Read the input buffer size", io(1, Op::getProperty, P::maximumFramesPerSlice)},
        {"Select the stereo input channels", io(1, Op::setProperty, P::channelMap)},
        {"Configure the input audio format", io(1, Op::setProperty, P::streamFormat)},
        {"Install the input callback", io(1, Op::setProperty, P::setInputCallback)},
        {lookup, find(UnitKind::varispeed)},
        {create, vs(Op::createUnit)},
        {"Configure rate compensation buffers", vs(Op::setProperty, P::maximumFramesPerSlice)},
        {"Configure high-quality sample-rate conversion", vs(Op::setProperty, P::renderQuality)},
        {"Configure the rate-compensation input",
         vs(Op::setProperty, P::streamFormat, Scope::input)},
        {"Configure the rate-compensation output",
         vs(Op::setProperty, P::streamFormat, Scope::output)},
        {"Connect the drift buffer", vs(Op::setProperty, P::setRenderCallback)},
        {"Set the initial playback rate", vs(Op::setParameter)},
        {lookup, find(UnitKind::io)}, // the second io lookup
        {create, io(2, Op::createUnit)},
        {"Enable system audio output",
         io(2, Op::setProperty, P::enableIO, Scope::output, outputElement)},
        {"Disable output-device capture",
         io(2, Op::setProperty, P::enableIO, Scope::input, inputElement)},
        {"Select the system audio output", io(2, Op::setProperty, P::currentDevice)},
        {"Configure the output buffer size", io(2, Op::setProperty, P::maximumFramesPerSlice)},
        {"Configure the output audio format", io(2, Op::setProperty, P::streamFormat)},
        {"Connect the system audio output", io(2, Op::setProperty, P::setRenderCallback)},
        {"Initialize the selected input", io(1, Op::initialize)},
        {"Initialize sample-rate compensation", vs(Op::initialize)},
        {"Initialize the system output", io(2, Op::initialize)},
        {"Start the selected input", io(1, Op::start)},
        {"Start the system output", io(2, Op::start)},
    };
    steps[18].second.skip = 1;
    // A missing component reports -4; every other step the platform's own status,
    // a distinct one each.
    std::int32_t next = -2001;
    for (auto& [operation, rule] : steps) {
        rule.status = rule.operation == Op::findComponent ? -4 : next--;
    }
    return steps;
}

TEST(MonitoringEngineStart, AFailureAtEveryStepIsNamedAndLeavesTheEngineIdle)
{
    const auto steps = everyStartStep();
    ASSERT_EQ(steps.size(), 31u);
    for (const auto& [operation, rule] : steps) {
        SCOPED_TRACE(operation);
        SimulatedRoute route;
        MonitoringEngine engine(route.sim, route.simulatedSleep());
        route.sim.injectFault(rule);
        const auto failure = startFailure(engine, route.configuration);
        EXPECT_EQ(failure.operation(), QString::fromUtf8(operation));
        EXPECT_EQ(failure.status(), rule.status);

        expectIdle(engine);
        EXPECT_TRUE(route.sleeps.empty()) << "a start that never ran must not fade out";
        // Every unit that was created was disposed, and no device keeps running.
        const bool creationFailed = rule.operation == AudioOperation::createUnit;
        EXPECT_EQ(route.sim.callCount(AudioOperation::dispose),
                  route.sim.callCount(AudioOperation::createUnit) - (creationFailed ? 1 : 0));
        const auto inputBlocks = route.sim.blockCount(route.input);
        const auto outputBlocks = route.sim.blockCount(route.output);
        route.sim.advanceSeconds(0.5);
        EXPECT_EQ(route.sim.blockCount(route.input), inputBlocks);
        EXPECT_EQ(route.sim.blockCount(route.output), outputBlocks);

        // Nothing is left behind that would stop the next start.
        route.sim.clearFaults();
        engine.start(route.configuration, false);
        EXPECT_TRUE(engine.isRunning());
        engine.stop();
        EXPECT_EQ(route.sleeps.size(), 1u);
    }
}

// ----- running, snapshot, stop
// -----------------------------------------------------------------

TEST(MonitoringEngineRun, MetersDiagnosticsMuteRestartAndFadeOut)
{
    SimulatedRoute route;
    route.sim.setInputSignal(route.input, 0, SimSignal::sine(1000.0, 1.0));
    route.sim.setInputSignal(route.input, 1, SimSignal::sine(1000.0, 0.25));
    route.sim.captureOutput(route.output, 48000 * 2);
    MonitoringEngine engine(route.sim, route.simulatedSleep());
    engine.stop();
    EXPECT_TRUE(route.sleeps.empty()) << "an idle engine does not fade out";
    EXPECT_FALSE(engine.snapshot());

    // Started muted: the meters follow the input, the output stays silent.
    engine.start(route.configuration, true);
    route.sim.advanceSeconds(1.0);
    auto snapshot = engine.snapshot();
    ASSERT_TRUE(snapshot);
    EXPECT_NEAR(snapshot->leftPeak, 1.0f, 1e-5f);
    EXPECT_NEAR(snapshot->rightPeak, 0.25f, 1e-5f);
    EXPECT_TRUE(snapshot->leftClipped);
    EXPECT_FALSE(snapshot->rightClipped);
    EXPECT_FALSE(snapshot->runtimeFailure);
    const auto& d = snapshot->diagnostics;
    EXPECT_EQ(d.inputSampleRate, 48000.0);
    EXPECT_EQ(d.outputSampleRate, 48000.0);
    EXPECT_EQ(d.targetBufferedFrames, 8705u);
    EXPECT_EQ(engine.ring()->capacity, 65536u) << "one second, rounded up";
    EXPECT_GT(d.bufferedFrames, 8705u - 1024u);
    EXPECT_LT(d.bufferedFrames, 8705u + 1024u);
    EXPECT_EQ(d.underruns + d.overruns, 0u);
    EXPECT_LT(std::fabs(d.rateCorrectionPPM), 1000.001);
    for (const auto& channel : route.sim.outputCapture(route.output).channels) {
        EXPECT_EQ(test::peakIn(channel, 0, channel.size()), 0.0);
    }

    // Peaks are taken; the clip latch stays.
    route.sim.setInputSignal(route.input, 0, SimSignal::silence());
    route.sim.advanceSeconds(0.1);
    snapshot = engine.snapshot();
    EXPECT_EQ(snapshot->leftPeak, 0.0f);
    EXPECT_TRUE(snapshot->leftClipped);

    // Starting again fades the running graph out before replacing it.
    engine.start(route.configuration, false);
    EXPECT_EQ(route.sleeps.size(), 1u);
    EXPECT_TRUE(engine.isRunning());
    EXPECT_EQ(route.sim.callCount(AudioOperation::dispose), 3u);

    // Stop fades out for 40 ms before the units stop: the last block played is
    // nearly silent. A second stop does nothing.
    route.sim.setInputSignal(route.input, 0, SimSignal::sine(1000.0, 0.5));
    route.sim.captureOutput(route.output, 48000 * 2);
    route.sim.advanceSeconds(1.0);
    engine.stop();
    ASSERT_EQ(route.sleeps.size(), 2u);
    EXPECT_EQ(route.sleeps[1], std::chrono::milliseconds(40));
    expectIdle(engine);
    engine.stop();
    EXPECT_EQ(route.sleeps.size(), 2u);
    const auto capture = route.sim.outputCapture(route.output);
    const auto& left = capture.channels[0];
    ASSERT_GT(left.size(), 512u);
    EXPECT_GT(test::peakIn(left, 0, left.size()), 0.49);
    EXPECT_LT(test::peakIn(left, left.size() - 256, left.size()), 0.5 * 0.01);
}

TEST(MonitoringEngineRun, ARuntimeFailureArrivesOnceInTheNextSnapshot)
{
    SimulatedRoute route;
    route.sim.setInputSignal(route.input, 0, SimSignal::sine(1000.0, 0.5));
    route.sim.captureOutput(route.output, 48000 * 3);
    MonitoringEngine engine(route.sim, route.simulatedSleep());
    engine.start(route.configuration, false);
    route.sim.advanceSeconds(1.0);
    ASSERT_FALSE(engine.snapshot()->runtimeFailure);

    // Setting the playback rate fails three times in a row inside the render
    // callback.
    route.sim.injectFault(FaultRule{.operation = AudioOperation::setParameter,
                                    .unitKind = UnitKind::varispeed,
                                    .times = 3,
                                    .status = -66});
    route.sim.advanceSeconds(0.5);
    auto snapshot = engine.snapshot();
    ASSERT_TRUE(snapshot->runtimeFailure);
    EXPECT_EQ(*snapshot->runtimeFailure,
              CoreAudioFailure(QStringLiteral("The real-time audio stream"), -66));
    EXPECT_FALSE(engine.snapshot()->runtimeFailure);
    // The engine does not stop itself, and the blocks whose rate could not be set
    // still played.
    EXPECT_TRUE(engine.isRunning());
    const auto capture = route.sim.outputCapture(route.output);
    const auto& left = capture.channels[0];
    EXPECT_GT(test::smallestPeriodPeak(left, 48000, left.size(), 48), 0.49);

    // A failing input block (every one from now on) reports the unit's own status.
    route.sim.injectFault(FaultRule{.operation = AudioOperation::render,
                                    .unitKind = UnitKind::io,
                                    .unitOrdinal = 1,
                                    .times = 0,
                                    .status = status::deviceUnavailable});
    route.sim.advanceSeconds(0.2);
    snapshot = engine.snapshot();
    ASSERT_TRUE(snapshot->runtimeFailure);
    EXPECT_EQ(snapshot->runtimeFailure->status(), status::deviceUnavailable);
}

} // namespace
} // namespace brevalo
