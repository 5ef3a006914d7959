// Meter ballistics (the level rule and the 33 ms poll on live audio), clip lamps, session peaks
// and mute.

#include "controller_fixture.h"

#include "core/monitor_ring.h"

#include <cmath>
#include <utility>

namespace brevalo::testing_support {
namespace {

using Kind = MonitoringPhase::Kind;

constexpr double floorDB = MeterReading::floorDBFS;

TEST(MonitorMeterRule, InstantaneousLevelHasAFloorAtMinusSixty)
{
    const std::pair<float, double> cases[] = {
        {1.0f, 0.0},
        {0.5f, 20.0 * std::log10(0.5)},
        {0.0011f, 20.0 * std::log10(static_cast<double>(0.0011f))},
        {0.001f, floorDB}, // not above the threshold
        {0.0f, floorDB},
        {-0.5f, floorDB},
        {std::nanf(""), floorDB},
    };
    for (const auto& [peak, level] : cases) {
        SCOPED_TRACE(peak);
        EXPECT_DOUBLE_EQ(MonitorMeterRule::instantaneousLevel(peak), level);
    }
}

TEST_F(ControllerFixture, PollTurnsSnapshotsIntoReadingsAndFallsOnceTheEngineStops)
{
    MonitorViewModel& controller = running(0.5, 0.25);
    wait(500ms);
    EXPECT_NEAR(controller.leftMeter().levelDBFS, 20.0 * std::log10(0.5), 0.1);
    EXPECT_NEAR(controller.rightMeter().levelDBFS, 20.0 * std::log10(0.25), 0.1);
    EXPECT_NEAR(controller.leftMeter().sessionPeakDBFS, 20.0 * std::log10(0.5), 0.1);
    EXPECT_FALSE(controller.leftMeter().isClipping);

    controller.stopMonitoring(true);
    MeterReading previous = controller.leftMeter();
    int heldTicks = 0;
    for (int tick = 0; tick < 240; ++tick) {
        wait(MonitorViewModel::pollInterval);
        const MeterReading now = controller.leftMeter();
        EXPECT_DOUBLE_EQ(now.levelDBFS, std::max(previous.levelDBFS - 0.6, floorDB));
        EXPECT_GE(now.peakDBFS, now.levelDBFS);
        if (now.peakDBFS == previous.peakDBFS && now.peakDBFS > floorDB) {
            ++heldTicks;
        } else if (now.peakDBFS > floorDB) {
            EXPECT_DOUBLE_EQ(now.peakDBFS, std::max(now.levelDBFS, previous.peakDBFS - 0.4));
        }
        previous = now;
    }
    EXPECT_GE(heldTicks, 88); // about three seconds of 33 ms ticks
    EXPECT_LE(heldTicks, 91);
    EXPECT_EQ(previous.levelDBFS, floorDB);
    EXPECT_EQ(previous.peakDBFS, floorDB);
    EXPECT_NEAR(previous.sessionPeakDBFS, 20.0 * std::log10(0.5), 0.1);
}

TEST_F(ControllerFixture, ClipLampAndSessionPeakHoldUntilClearedPerChannel)
{
    MonitorViewModel& controller = running(1.0, 1.0);
    wait(500ms);
    ASSERT_TRUE(controller.leftMeter().isClipping);
    ASSERT_TRUE(controller.rightMeter().isClipping);

    sim_.setInputSignal(input_, 0, SimSignal::sine(1000.0, 0.1));
    sim_.setInputSignal(input_, 1, SimSignal::silence());
    wait(100ms);
    controller.clearClip(MeterChannel::left);
    controller.releaseSessionPeak(MeterChannel::left);
    EXPECT_FALSE(controller.leftMeter().isClipping);
    EXPECT_EQ(controller.leftMeter().sessionPeakDBFS, floorDB);
    wait(100ms);
    EXPECT_FALSE(controller.leftMeter().isClipping); // the ring's latch was cleared too
    EXPECT_TRUE(controller.rightMeter().isClipping);
    // The released session peak starts a new maximum.
    EXPECT_NEAR(controller.leftMeter().sessionPeakDBFS, -20.0, 0.1);
    EXPECT_NEAR(controller.rightMeter().sessionPeakDBFS, 0.0, 0.1);

    // Still clipping input relights the lamp on the next tick.
    sim_.setInputSignal(input_, 0, SimSignal::sine(1000.0, 1.0));
    wait(100ms);
    EXPECT_TRUE(controller.leftMeter().isClipping);

    // Starting again resets the meters.
    controller.stopMonitoring(true);
    controller.startMonitoring();
    EXPECT_EQ(controller.leftMeter(), MeterReading::silent());
    EXPECT_EQ(controller.rightMeter(), MeterReading::silent());
}

TEST_F(ControllerFixture, MuteChangesOnlyTheGainTargetAndTheStatus)
{
    MonitorViewModel& controller = running();
    const MonitorRing* ring = controller.engine().ring();
    PhaseRecorder recorder(controller);
    int muteSignals = 0;
    QObject::connect(&controller, &MonitorViewModel::isMutedChanged, &controller,
                     [&muteSignals] { ++muteSignals; });

    controller.setMuted(true);
    controller.setMuted(true);
    EXPECT_EQ(muteSignals, 1);
    EXPECT_EQ(ring->muted.load(), 1U);
    EXPECT_TRUE(settings_.value("muted").toBool());
    EXPECT_EQ(controller.status(),
              (StatusPresentation{"Monitoring · Muted",
                                  QStringLiteral("Input is active, but output is muted."),
                                  StatusSeverity::active}));

    controller.setMuted(false);
    EXPECT_EQ(ring->muted.load(), 0U);
    EXPECT_FALSE(settings_.value("muted").toBool());
    EXPECT_TRUE(recorder.phases.empty()) << "mute never restarts the engine";

    // The saved mute holds for the next start.
    controller.setMuted(true);
    controller.stopMonitoring(true);
    controller.startMonitoring();
    EXPECT_EQ(controller.engine().ring()->muted.load(), 1U);
    EXPECT_EQ(controller.status().title, QStringLiteral("Monitoring · Muted"));
}

} // namespace
} // namespace brevalo::testing_support
