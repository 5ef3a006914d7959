// Start validation, ring sizing, the clean-up after a failure at every start step, snapshots,
// stop, and runtime failures.

#include "monitor_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
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

// ----- validation ----------------------------------------------------------------------------

TEST(MonitoringEngineStart, RejectsInvalidRatesAndBufferSizesNamingTheInputRouteFirst)
{
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    struct Row
    {
        double rate;
        std::uint32_t frames;
        const char* check; // followed by " for the input/output route"
        std::int32_t status;
        const char* statusText;
    };
    const char* rateCheck = "Use a standard PCM rate up to 192 kHz";
    const char* sizeCheck = "Use a valid audio buffer size";
    const Row rows[] = {
        {7999.0, 512, rateCheck, 0x21646174, "'!dat', 560226676"},
        {192001.0, 512, rateCheck, 0x21646174, "'!dat', 560226676"},
        {0.0, 512, rateCheck, 0x21646174, "'!dat', 560226676"},
        {-48000.0, 512, rateCheck, 0x21646174, "'!dat', 560226676"},
        {inf, 512, rateCheck, 0x21646174, "'!dat', 560226676"},
        {nan, 512, rateCheck, 0x21646174, "'!dat', 560226676"},
        {48000.0, 65537, sizeCheck, -50, "status, -50"},
    };
    SimulatedRoute route;
    MonitoringEngine engine(route.sim, [](std::chrono::nanoseconds) {});
    for (const auto& row : rows) {
        SCOPED_TRACE(row.rate);
        // Both sides wrong: the input is named; then only the output.
        auto config = route.configuration;
        config.inputSampleRate = config.outputSampleRate = row.rate;
        config.inputBufferFrameSize = config.outputBufferFrameSize = row.frames;
        for (const char* side : {"input", "output"}) {
            const auto failure = startFailure(engine, config);
            const QString operation =
                QStringLiteral("%1 for the %2 route").arg(QLatin1String(row.check), side);
            EXPECT_EQ(failure.operation(), operation);
            EXPECT_EQ(failure.status(), row.status);
            EXPECT_EQ(failure.description(),
                      QStringLiteral("%1 failed (%2).").arg(operation, row.statusText));
            expectIdle(engine);
            config.inputSampleRate = 48000.0;
            config.inputBufferFrameSize = 65536;
        }
    }
    // Nothing reached the platform.
    EXPECT_EQ(route.sim.callCount(AudioOperation::createUnit), 0u);
}

TEST(MonitoringEngineStart, AcceptsTheExtremeRatesAndTheLargestBuffers)
{
    for (const double rate : {8000.0, 192000.0}) {
        SimulatedRoute route({.inputRate = rate, .outputRate = rate});
        route.configuration.inputBufferFrameSize = 65536;
        route.configuration.outputBufferFrameSize = 65536;
        MonitoringEngine engine(route.sim, route.simulatedSleep());
        engine.start(route.configuration, false);
        EXPECT_TRUE(engine.isRunning()) << rate;
    }
}

// ----- ring sizing ---------------------------------------------------------------------------

TEST(MonitoringEngineSizing, MatchesTheWorkedExamples)
{
    SimulatedRoute route;
    auto config = route.configuration;
    // 48 kHz both sides, 512-frame output blocks: 8192 + ceil(512 × 1.001) frames, ~181 ms.
    EXPECT_EQ(monitorRingSizing(config), (MonitorRingSizing{8705, 48000}));
    // 192 kHz in, 48 kHz out: 0.07 × 192000 is slightly above 13440 in double precision.
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

TEST(MonitoringEngineSizing, TheRunningRingHoldsOneSecondAtTheSizedTarget)
{
    SimulatedRoute route({.inputRate = 192000.0});
    MonitoringEngine engine(route.sim, route.simulatedSleep());
    engine.start(route.configuration, false);
    ASSERT_NE(engine.ring(), nullptr);
    EXPECT_EQ(engine.ring()->capacity, 262144u);
    EXPECT_EQ(monitor_ring_target_frames(engine.ring()), 13441u);
}

// ----- a failure at every start step ---------------------------------------------------------

struct StepFailure
{
    const char* operation; // the text the user sees
    FaultRule rule;        // how the simulation makes that step fail
    std::int32_t status;   // what the failure reports
};

// Unit ordinals count per kind: io 1 is the input unit, io 2 the output unit.
FaultRule unitRule(AudioOperation operation, UnitKind kind, std::uint32_t ordinal,
                   std::optional<UnitProperty> property = {}, std::optional<Scope> scope = {},
                   std::optional<std::uint32_t> element = {})
{
    FaultRule rule;
    rule.operation = operation;
    rule.unitKind = kind;
    rule.unitOrdinal = ordinal;
    rule.unitProperty = property;
    rule.scope = scope;
    rule.element = element;
    return rule;
}

std::vector<StepFailure> everyStartStep()
{
    using Op = AudioOperation;
    using P = UnitProperty;
    const auto io = UnitKind::io;
    const auto vs = UnitKind::varispeed;
    std::vector<StepFailure> steps = {
        {"Find a required audio component", unitRule(Op::findComponent, io, 0), -4},
        {"Create an audio component", unitRule(Op::createUnit, io, 1), 0},
        {"Enable audio input",
         unitRule(Op::setProperty, io, 1, P::enableIO, Scope::input, inputElement), 0},
        {"Disable input-device playback",
         unitRule(Op::setProperty, io, 1, P::enableIO, Scope::output, outputElement), 0},
        {"Select the audio input", unitRule(Op::setProperty, io, 1, P::currentDevice), 0},
        {"Configure the input buffer size",
         unitRule(Op::setProperty, io, 1, P::maximumFramesPerSlice), 0},
        {"Read the input buffer size", unitRule(Op::getProperty, io, 1, P::maximumFramesPerSlice),
         0},
        {"Select the stereo input channels", unitRule(Op::setProperty, io, 1, P::channelMap), 0},
        {"Configure the input audio format", unitRule(Op::setProperty, io, 1, P::streamFormat), 0},
        {"Install the input callback", unitRule(Op::setProperty, io, 1, P::setInputCallback), 0},
        {"Find a required audio component", unitRule(Op::findComponent, vs, 0), -4},
        {"Create an audio component", unitRule(Op::createUnit, vs, 1), 0},
        {"Configure rate compensation buffers",
         unitRule(Op::setProperty, vs, 1, P::maximumFramesPerSlice), 0},
        {"Configure high-quality sample-rate conversion",
         unitRule(Op::setProperty, vs, 1, P::renderQuality), 0},
        {"Configure the rate-compensation input",
         unitRule(Op::setProperty, vs, 1, P::streamFormat, Scope::input), 0},
        {"Configure the rate-compensation output",
         unitRule(Op::setProperty, vs, 1, P::streamFormat, Scope::output), 0},
        {"Connect the drift buffer", unitRule(Op::setProperty, vs, 1, P::setRenderCallback), 0},
        {"Set the initial playback rate", unitRule(Op::setParameter, vs, 1), 0},
        {"Create an audio component", unitRule(Op::createUnit, io, 2), 0},
        {"Enable system audio output",
         unitRule(Op::setProperty, io, 2, P::enableIO, Scope::output, outputElement), 0},
        {"Disable output-device capture",
         unitRule(Op::setProperty, io, 2, P::enableIO, Scope::input, inputElement), 0},
        {"Select the system audio output", unitRule(Op::setProperty, io, 2, P::currentDevice), 0},
        {"Configure the output buffer size",
         unitRule(Op::setProperty, io, 2, P::maximumFramesPerSlice), 0},
        {"Configure the output audio format", unitRule(Op::setProperty, io, 2, P::streamFormat), 0},
        {"Connect the system audio output", unitRule(Op::setProperty, io, 2, P::setRenderCallback),
         0},
        {"Initialize the selected input", unitRule(Op::initialize, io, 1), 0},
        {"Initialize sample-rate compensation", unitRule(Op::initialize, vs, 1), 0},
        {"Initialize the system output", unitRule(Op::initialize, io, 2), 0},
        {"Start the selected input", unitRule(Op::start, io, 1), 0},
        {"Start the system output", unitRule(Op::start, io, 2), 0},
    };
    // The output unit's component lookup is the second io lookup.
    StepFailure outputLookup{"Find a required audio component", unitRule(Op::findComponent, io, 0),
                             -4};
    outputLookup.rule.skip = 1;
    steps.insert(steps.begin() + 18, outputLookup);
    // Every other step reports the platform's own status: give each a distinct one.
    std::int32_t next = -2001;
    for (auto& step : steps) {
        if (step.status == 0) {
            step.status = next--;
        }
        step.rule.status = step.status;
    }
    return steps;
}

TEST(MonitoringEngineStart, AFailureAtEveryStepIsNamedAndLeavesTheEngineIdle)
{
    const auto steps = everyStartStep();
    ASSERT_EQ(steps.size(), 31u);
    for (const auto& step : steps) {
        SCOPED_TRACE(step.operation);
        SimulatedRoute route;
        int sleeps = 0;
        MonitoringEngine engine(route.sim, [&](std::chrono::nanoseconds d) {
            ++sleeps;
            route.sim.advance(d);
        });
        route.sim.injectFault(step.rule);
        const auto failure = startFailure(engine, route.configuration);
        EXPECT_EQ(failure.operation(), QString::fromUtf8(step.operation));
        EXPECT_EQ(failure.status(), step.status);

        expectIdle(engine);
        EXPECT_EQ(sleeps, 0) << "a start that never ran must not fade out";
        // Every unit that was created was disposed, and no device keeps running.
        const bool creationFailed = step.rule.operation == AudioOperation::createUnit;
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
        EXPECT_EQ(sleeps, 1);
    }
}

// ----- running, snapshot, stop -----------------------------------------------------------------

TEST(MonitoringEngineRun, SnapshotReportsMetersAndDiagnosticsAndIsEmptyWhenIdle)
{
    SimulatedRoute route;
    route.sim.setInputSignal(route.input, 0, SimSignal::sine(1000.0, 1.0));
    route.sim.setInputSignal(route.input, 1, SimSignal::sine(1000.0, 0.25));
    MonitoringEngine engine(route.sim, route.simulatedSleep());
    EXPECT_FALSE(engine.snapshot());
    engine.start(route.configuration, false);
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
    EXPECT_GT(d.bufferedFrames, 8705u - 1024u);
    EXPECT_LT(d.bufferedFrames, 8705u + 1024u);
    EXPECT_EQ(d.underruns, 0u);
    EXPECT_EQ(d.overruns, 0u);
    EXPECT_LT(std::fabs(d.rateCorrectionPPM), 1000.001);

    // Peaks are taken, latches stay until cleared through the ring.
    route.sim.setInputSignal(route.input, 0, SimSignal::silence());
    route.sim.advanceSeconds(0.1);
    snapshot = engine.snapshot();
    EXPECT_EQ(snapshot->leftPeak, 0.0f);
    EXPECT_TRUE(snapshot->leftClipped);
    monitor_ring_clear_clips(engine.ring());
    EXPECT_FALSE(engine.snapshot()->leftClipped);

    engine.stop();
    EXPECT_FALSE(engine.snapshot());
}

TEST(MonitoringEngineRun, StopFadesOutOnlyWhenRunningAndTwiceIsHarmless)
{
    SimulatedRoute route;
    route.sim.setInputSignal(route.input, 0, SimSignal::sine(1000.0, 0.5));
    route.sim.captureOutput(route.output, 48000 * 2);
    std::vector<std::chrono::nanoseconds> sleeps;
    MonitoringEngine engine(route.sim, [&](std::chrono::nanoseconds d) {
        sleeps.push_back(d);
        route.sim.advance(d);
    });
    engine.stop();
    EXPECT_TRUE(sleeps.empty());

    engine.start(route.configuration, false);
    route.sim.advanceSeconds(1.0);
    engine.stop();
    ASSERT_EQ(sleeps.size(), 1u);
    EXPECT_EQ(sleeps[0], std::chrono::milliseconds(40));
    expectIdle(engine);
    engine.stop();
    EXPECT_EQ(sleeps.size(), 1u);

    // The fade ran before the units stopped: the last block played is nearly silent.
    const auto capture = route.sim.outputCapture(route.output);
    const auto& left = capture.channels[0];
    ASSERT_GT(left.size(), 512u);
    float tail = 0.0f;
    for (std::size_t i = left.size() - 256; i < left.size(); ++i) {
        tail = std::max(tail, std::fabs(left[i]));
    }
    EXPECT_LT(tail, 0.5f * 0.01f);
}

TEST(MonitoringEngineRun, StartingMutedPlaysSilenceAndStartingAgainReplacesTheRun)
{
    SimulatedRoute route;
    route.sim.setInputSignal(route.input, 0, SimSignal::sine(1000.0, 0.5));
    route.sim.captureOutput(route.output, 48000 * 2);
    int sleeps = 0;
    MonitoringEngine engine(route.sim, [&](std::chrono::nanoseconds d) {
        ++sleeps;
        route.sim.advance(d);
    });
    engine.start(route.configuration, true);
    route.sim.advanceSeconds(1.0);
    const auto snapshot = engine.snapshot();
    EXPECT_NEAR(snapshot->leftPeak, 0.5f, 1e-4f) << "meters follow the input while muted";
    auto capture = route.sim.outputCapture(route.output);
    for (const float s : capture.channels[0]) {
        ASSERT_EQ(s, 0.0f);
    }
    engine.start(route.configuration, false);
    EXPECT_EQ(sleeps, 1) << "the running graph faded out before it was replaced";
    EXPECT_TRUE(engine.isRunning());
    EXPECT_EQ(route.sim.callCount(AudioOperation::dispose), 3u);
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

    // Setting the playback rate fails three times in a row inside the render callback.
    FaultRule rule;
    rule.operation = AudioOperation::setParameter;
    rule.unitKind = UnitKind::varispeed;
    rule.times = 3;
    rule.status = -66;
    route.sim.injectFault(rule);
    route.sim.advanceSeconds(0.5);
    auto snapshot = engine.snapshot();
    ASSERT_TRUE(snapshot->runtimeFailure);
    EXPECT_EQ(*snapshot->runtimeFailure,
              CoreAudioFailure(QStringLiteral("The real-time audio stream"), -66));
    EXPECT_EQ(snapshot->runtimeFailure->description(),
              QStringLiteral("The real-time audio stream failed (status, -66)."));
    EXPECT_FALSE(engine.snapshot()->runtimeFailure);
    // The engine does not stop itself, and the blocks whose rate could not be set still played.
    EXPECT_TRUE(engine.isRunning());
    const auto capture = route.sim.outputCapture(route.output);
    const auto& left = capture.channels[0];
    float smallest = 1.0f;
    for (std::size_t start = 48000; start + 48 <= left.size(); start += 48) {
        float peak = 0.0f;
        for (std::size_t i = start; i < start + 48; ++i) {
            peak = std::max(peak, std::fabs(left[i]));
        }
        smallest = std::min(smallest, peak);
    }
    EXPECT_GT(smallest, 0.49f);

    // A failing input block reports the unit's own status.
    FaultRule input;
    input.operation = AudioOperation::render;
    input.unitKind = UnitKind::io;
    input.unitOrdinal = 1;
    input.times = 0; // every block from now on
    input.status = status::deviceUnavailable;
    route.sim.injectFault(input);
    route.sim.advanceSeconds(0.2);
    snapshot = engine.snapshot();
    ASSERT_TRUE(snapshot->runtimeFailure);
    EXPECT_EQ(snapshot->runtimeFailure->description(),
              QStringLiteral("The real-time audio stream failed ('!dev', 560227702)."));
}

} // namespace
} // namespace brevalo
