// Start validation, ring sizing, the clean-up after a failure at every start step, snapshots,
// stop, and the three realtime callbacks driven directly with hand-made contexts.

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

TEST(MonitoringEngineStart, RejectsNonStandardRatesNamingTheRouteInputFirst)
{
    SimulatedRoute route;
    MonitoringEngine engine(route.sim, [](std::chrono::nanoseconds) {});
    const double bad[] = {7999.0,
                          192001.0,
                          0.0,
                          -48000.0,
                          std::numeric_limits<double>::infinity(),
                          std::numeric_limits<double>::quiet_NaN()};
    for (const double rate : bad) {
        auto config = route.configuration;
        config.inputSampleRate = rate;
        config.outputSampleRate = rate; // both wrong: the input is named
        const auto failure = startFailure(engine, config);
        EXPECT_EQ(failure.operation(),
                  QStringLiteral("Use a standard PCM rate up to 192 kHz for the input route"))
            << rate;
        EXPECT_EQ(failure.status(), 0x21646174);
        EXPECT_EQ(failure.description(),
                  QStringLiteral("Use a standard PCM rate up to 192 kHz for the input route "
                                 "failed ('!dat', 560226676)."));
        config.inputSampleRate = 48000.0;
        EXPECT_EQ(startFailure(engine, config).operation(),
                  QStringLiteral("Use a standard PCM rate up to 192 kHz for the output route"))
            << rate;
        expectIdle(engine);
    }
    // Nothing reached the platform.
    EXPECT_EQ(route.sim.callCount(AudioOperation::createUnit), 0u);
}

TEST(MonitoringEngineStart, AcceptsTheLowestAndHighestStandardRates)
{
    for (const double rate : {8000.0, 192000.0}) {
        SimulatedRoute route({.inputRate = rate, .outputRate = rate});
        MonitoringEngine engine(route.sim, route.simulatedSleep());
        engine.start(route.configuration, false);
        EXPECT_TRUE(engine.isRunning()) << rate;
    }
}

TEST(MonitoringEngineStart, RejectsBufferSizesAbove65536Frames)
{
    SimulatedRoute route;
    MonitoringEngine engine(route.sim, route.simulatedSleep());
    auto config = route.configuration;
    config.inputBufferFrameSize = 65537;
    config.outputBufferFrameSize = 65537;
    auto failure = startFailure(engine, config);
    EXPECT_EQ(failure.operation(),
              QStringLiteral("Use a valid audio buffer size for the input route"));
    EXPECT_EQ(failure.status(), -50);
    EXPECT_EQ(failure.description(),
              QStringLiteral(
                  "Use a valid audio buffer size for the input route failed (OSStatus, -50)."));
    config.inputBufferFrameSize = 65536;
    failure = startFailure(engine, config);
    EXPECT_EQ(failure.operation(),
              QStringLiteral("Use a valid audio buffer size for the output route"));
    EXPECT_EQ(failure.status(), -50);
    expectIdle(engine);

    config.outputBufferFrameSize = 65536;
    engine.start(config, false);
    EXPECT_TRUE(engine.isRunning());
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

TEST(MonitoringEngineSizing, TheRunningRingHoldsOneSecondAndTwiceTheTarget)
{
    {
        SimulatedRoute route;
        MonitoringEngine engine(route.sim, route.simulatedSleep());
        engine.start(route.configuration, false);
        ASSERT_NE(engine.ring(), nullptr);
        EXPECT_EQ(engine.ring()->capacity, 65536u);
        EXPECT_EQ(monitor_ring_target_frames(engine.ring()), 8705u);
    }
    {
        SimulatedRoute route({.inputRate = 192000.0});
        MonitoringEngine engine(route.sim, route.simulatedSleep());
        engine.start(route.configuration, false);
        ASSERT_NE(engine.ring(), nullptr);
        EXPECT_EQ(engine.ring()->capacity, 262144u);
        EXPECT_EQ(monitor_ring_target_frames(engine.ring()), 13441u);
    }
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

// A backend whose varispeed factory reports success without an instance.
class NoVarispeedSystem final : public AudioSystem
{
public:
    explicit NoVarispeedSystem(SimulatedAudioSystem& sim) : sim_(sim) {}
    AudioHardware& hardware() override { return sim_.hardware(); }
    AudioCapturePermission& capturePermission() override { return sim_.capturePermission(); }
    bool findComponent(UnitKind kind) override { return sim_.findComponent(kind); }
    std::int32_t createIOUnit(std::unique_ptr<IOUnit>& unit) override
    {
        return sim_.createIOUnit(unit);
    }
    std::int32_t createVarispeedUnit(std::unique_ptr<VarispeedUnit>& unit) override
    {
        unit.reset();
        return 0;
    }
    std::string backendName() const override { return "test"; }

private:
    SimulatedAudioSystem& sim_;
};

TEST(MonitoringEngineStart, AComponentCreatedWithoutAnInstanceIsAnAllocationFailure)
{
    SimulatedRoute route;
    NoVarispeedSystem system(route.sim);
    MonitoringEngine engine(system, route.simulatedSleep());
    const auto failure = startFailure(engine, route.configuration);
    EXPECT_EQ(failure.operation(), QStringLiteral("Create an audio component"));
    EXPECT_EQ(failure.status(), -108);
    expectIdle(engine);
    EXPECT_EQ(route.sim.callCount(AudioOperation::dispose), 1u);
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
              QStringLiteral("The real-time audio stream failed (OSStatus, -66)."));
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
}

TEST(MonitoringEngineRun, AFailingInputBlockIsReportedWithTheUnitsStatus)
{
    SimulatedRoute route;
    MonitoringEngine engine(route.sim, route.simulatedSleep());
    engine.start(route.configuration, false);
    route.sim.advanceSeconds(0.2);
    FaultRule rule;
    rule.operation = AudioOperation::render;
    rule.unitKind = UnitKind::io;
    rule.unitOrdinal = 1;
    rule.times = 0; // every block from now on
    rule.status = status::deviceUnavailable;
    route.sim.injectFault(rule);
    route.sim.advanceSeconds(0.2);
    const auto snapshot = engine.snapshot();
    ASSERT_TRUE(snapshot->runtimeFailure);
    EXPECT_EQ(snapshot->runtimeFailure->status(), status::deviceUnavailable);
    EXPECT_EQ(snapshot->runtimeFailure->description(),
              QStringLiteral("The real-time audio stream failed ('!dev', 560227702)."));
}

// ----- the callbacks on their own ------------------------------------------------------------

// Renders silence without pulling, so the ring's fill stays where a test puts it.
class StillVarispeed final : public VarispeedUnit
{
public:
    std::int32_t setMaximumFramesPerSlice(std::uint32_t) override { return 0; }
    std::int32_t maximumFramesPerSlice(std::uint32_t& frames) override
    {
        frames = 8192;
        return 0;
    }
    std::int32_t setStreamFormat(Scope, std::uint32_t, const StreamFormat&) override { return 0; }
    std::int32_t streamFormat(Scope, std::uint32_t, StreamFormat&) override { return 0; }
    std::int32_t setRenderCallback(Scope, std::uint32_t, RenderCallback) override { return 0; }
    std::int32_t initialize() override { return 0; }
    std::int32_t uninitialize() override { return 0; }
    std::int32_t dispose() override { return 0; }
    std::int32_t render(RenderActionFlags&, const AudioTimeStamp&, std::uint32_t,
                        std::uint32_t frames, AudioBufferList& buffers) override
    {
        if (renderStatus != 0) {
            return renderStatus;
        }
        for (std::uint32_t c = 0; c < buffers.numberBuffers; ++c) {
            std::fill_n(static_cast<float*>(buffers.buffers[c].data), frames, 0.25f);
        }
        return 0;
    }
    std::int32_t setRenderQuality(std::uint32_t) override { return 0; }
    std::int32_t renderQuality(std::uint32_t& quality) override
    {
        quality = 127;
        return 0;
    }
    std::int32_t setPlaybackRate(float value) override
    {
        rate = value;
        return rateStatus;
    }
    std::int32_t playbackRate(float& value) override
    {
        value = rate;
        return 0;
    }

    float rate = 1.0f;
    std::int32_t rateStatus = 0;
    std::int32_t renderStatus = 0;
};

struct RingHolder
{
    RingHolder(std::uint32_t capacity, std::uint32_t target)
        : ring(monitor_ring_create(capacity, target))
    {}
    ~RingHolder() { monitor_ring_destroy(ring); }
    void fill(std::uint32_t frames)
    {
        std::vector<float> block(frames, 0.1f);
        monitor_ring_write(ring, block.data(), block.data(), frames);
    }
    MonitorRing* ring;
};

struct OutputBlock
{
    explicit OutputBlock(std::uint32_t frames) : left(frames), right(frames)
    {
        list.numberBuffers = 2;
        list.buffers[0] = {1, frames * 4, left.data()};
        list.buffers[1] = {1, frames * 4, right.data()};
    }
    std::vector<float> left;
    std::vector<float> right;
    AudioBufferList list;
};

// Runs the playback callback for steps of 94 blocks of 512 frames at 48 kHz (about a second),
// returning the correction in ppm after each step.
constexpr int blocksPerStep = 94;

std::vector<double> steer(PlaybackCallbackContext& context, StillVarispeed& varispeed, int seconds)
{
    OutputBlock block(512);
    std::vector<double> ppm;
    const AudioTimeStamp time;
    for (int second = 0; second < seconds; ++second) {
        for (int i = 0; i < blocksPerStep; ++i) {
            RenderActionFlags flags = 0;
            EXPECT_EQ(monitorPlaybackCallback(&context, flags, time, 0, 512, &block.list), 0);
        }
        ppm.push_back((static_cast<double>(varispeed.rate) - 1.0) * 1e6);
    }
    return ppm;
}

TEST(MonitoringEngineCallbacks, RateHoldsAtOneWhenTheFillIsAtTarget)
{
    RingHolder ring(65536, 8705);
    ring.fill(8705);
    StillVarispeed varispeed;
    PlaybackCallbackContext context{ring.ring, 48000.0, &varispeed, 1.0};
    const auto ppm = steer(context, varispeed, 30);
    EXPECT_EQ(ppm.back(), 0.0);
    EXPECT_EQ(context.filteredPlaybackRate, 1.0);
}

TEST(MonitoringEngineCallbacks, RateClampsAt1000PPMAndFollowsAFiveSecondLowPass)
{
    RingHolder ring(65536, 8000);
    ring.fill(9600); // 120 % of target asks for +2000 ppm, clamped to +1000
    StillVarispeed varispeed;
    PlaybackCallbackContext context{ring.ring, 48000.0, &varispeed, 1.0};
    const auto ppm = steer(context, varispeed, 30);
    // 1 − e^(−t / 5 s) of the way to the clamp, whatever the block size.
    const auto expected = [](int steps) {
        const double seconds = blocksPerStep * steps * 512 / 48000.0;
        return 1000.0 * (1.0 - std::exp(-seconds / 5.0));
    };
    EXPECT_NEAR(ppm[4], expected(5), 1.0);
    EXPECT_NEAR(ppm.back(), expected(30), 1.0);
    EXPECT_LE(ppm.back(), 1000.0);
    for (std::size_t i = 1; i < ppm.size(); ++i) {
        EXPECT_GE(ppm[i], ppm[i - 1]);
    }
    // The gain ramp was applied to what the varispeed rendered (0.25, fading in from 0).
    RenderActionFlags flags = 0;
    OutputBlock block(512);
    monitorPlaybackCallback(&context, flags, AudioTimeStamp{}, 0, 512, &block.list);
    EXPECT_NEAR(block.left[511], 0.25f, 1e-4f);
}

TEST(MonitoringEngineCallbacks, AnEmptierRingSlowsPlaybackDownToTheLowerClamp)
{
    RingHolder ring(65536, 8000);
    ring.fill(4000);
    StillVarispeed varispeed;
    PlaybackCallbackContext context{ring.ring, 48000.0, &varispeed, 1.0};
    const auto ppm = steer(context, varispeed, 60);
    EXPECT_NEAR(ppm.back(), -1000.0, 1.0);
    EXPECT_GE(ppm.back(), -1000.0 - 0.2);
}

TEST(MonitoringEngineCallbacks, PlaybackReportsMissingBuffersAndRenderFailures)
{
    RingHolder ring(65536, 8000);
    StillVarispeed varispeed;
    PlaybackCallbackContext context{ring.ring, 48000.0, &varispeed, 1.0};
    RenderActionFlags flags = 0;
    EXPECT_EQ(monitorPlaybackCallback(&context, flags, {}, 0, 512, nullptr), -50);
    EXPECT_EQ(monitor_ring_take_error(ring.ring), -50);

    varispeed.renderStatus = -10874;
    OutputBlock block(512);
    EXPECT_EQ(monitorPlaybackCallback(&context, flags, {}, 0, 512, &block.list), -10874);
    EXPECT_EQ(monitor_ring_take_error(ring.ring), -10874);

    varispeed.renderStatus = 0;
    block.list.numberBuffers = 1;
    EXPECT_EQ(monitorPlaybackCallback(&context, flags, {}, 0, 512, &block.list), -50);
    EXPECT_EQ(monitor_ring_take_error(ring.ring), -50);

    // A rate that cannot be set still renders the block, and the first status wins.
    block.list.numberBuffers = 2;
    ring.fill(9000);
    varispeed.rateStatus = -7;
    EXPECT_EQ(monitorPlaybackCallback(&context, flags, {}, 0, 512, &block.list), 0);
    varispeed.rateStatus = -8;
    EXPECT_EQ(monitorPlaybackCallback(&context, flags, {}, 0, 512, &block.list), 0);
    EXPECT_EQ(monitor_ring_take_error(ring.ring), -7);
    EXPECT_EQ(monitor_ring_take_error(ring.ring), 0);
}

TEST(MonitoringEngineCallbacks, RingReadFlagsSilenceUntilPrimedAndRefusesMissingBuffers)
{
    RingHolder ring(4096, 1024);
    RingReadCallbackContext context{ring.ring};
    OutputBlock block(128);
    RenderActionFlags flags = 0;
    EXPECT_EQ(monitorRingReadCallback(&context, flags, {}, 0, 128, &block.list), 0);
    EXPECT_EQ(flags & renderActionOutputIsSilence, renderActionOutputIsSilence);

    ring.fill(1024);
    flags = 0;
    block.list.buffers[0].dataByteSize = 0;
    EXPECT_EQ(monitorRingReadCallback(&context, flags, {}, 0, 128, &block.list), 0);
    EXPECT_EQ(flags & renderActionOutputIsSilence, 0u);
    EXPECT_EQ(block.list.buffers[0].dataByteSize, 512u);
    EXPECT_EQ(block.left[0], 0.1f);
    EXPECT_EQ(monitor_ring_take_error(ring.ring), 0);

    EXPECT_EQ(monitorRingReadCallback(&context, flags, {}, 0, 128, nullptr), -50);
    EXPECT_EQ(monitor_ring_take_error(ring.ring), -50);
    block.list.buffers[1].data = nullptr;
    EXPECT_EQ(monitorRingReadCallback(&context, flags, {}, 0, 128, &block.list), -50);
    block.list.numberBuffers = 1;
    EXPECT_EQ(monitorRingReadCallback(&context, flags, {}, 0, 128, &block.list), -50);
}

TEST(MonitoringEngineCallbacks, CaptureRefusesBlocksAboveItsSliceAndWithoutAUnit)
{
    RingHolder ring(4096, 1024);
    CaptureCallbackContext context(ring.ring, 256);
    EXPECT_EQ(context.bufferList.numberBuffers, 2u);
    EXPECT_EQ(context.bufferList.buffers[0].dataByteSize, 1024u);
    EXPECT_EQ(context.bufferList.buffers[1].data, context.right.data());
    RenderActionFlags flags = 0;
    EXPECT_EQ(monitorCaptureCallback(&context, flags, {}, 1, 128, nullptr), -50);
    EXPECT_EQ(monitor_ring_take_error(ring.ring), -50);

    SimulatedRoute route;
    std::unique_ptr<IOUnit> unit;
    ASSERT_EQ(route.sim.createIOUnit(unit), 0);
    context.audioUnit = unit.get();
    EXPECT_EQ(monitorCaptureCallback(&context, flags, {}, 1, 257, nullptr), -50);
    EXPECT_EQ(monitor_ring_take_error(ring.ring), -50);
    // Outside a device block the unit refuses to render; its status is passed on.
    const std::int32_t result = monitorCaptureCallback(&context, flags, {}, 1, 256, nullptr);
    EXPECT_NE(result, 0);
    EXPECT_EQ(monitor_ring_take_error(ring.ring), result);
    EXPECT_EQ(monitor_ring_buffered_frames(ring.ring), 0u);
}

} // namespace
} // namespace brevalo
