// Route readiness, status rows, user start and stop, start and runtime failures.

#include "controller_fixture.h"

#include "core/monitor_ring.h"

#include <gmock/gmock.h>

#include <cmath>

namespace brevalo::testing_support {
namespace {

using ::testing::ElementsAre;
using Kind = MonitoringPhase::Kind;

struct RateCase
{
    const char* label;
    double inputRate;
    double outputRate;
    const char* side;  // the side named as unsupported; null: the route is ready
    const char* shown; // the rate as the message shows it, or the route description
};

class SampleRates : public ControllerFixture, public ::testing::WithParamInterface<RateCase>
{};

TEST_P(SampleRates, OutsideEightToOneNinetyTwoKilohertzAreUnsupported)
{
    const RateCase& param = GetParam();
    addInput("scarlett-1", "Scarlett 2i2", param.inputRate);
    addOutput("out-1", "Speakers", param.outputRate);
    MonitorViewModel& controller = create();

    if (param.side == nullptr) {
        EXPECT_EQ(
            controller.status(),
            (StatusPresentation{"Ready", QString::fromUtf8(param.shown) + ". Monitoring is off.",
                                StatusSeverity::neutral}));
        EXPECT_TRUE(controller.canStartMonitoring());
        EXPECT_EQ(controller.transportTitle(), QStringLiteral("Start Monitoring"));
        return;
    }
    EXPECT_EQ(controller.status(),
              (StatusPresentation{QStringLiteral("Unsupported %1 sample rate").arg(param.side),
                                  QStringLiteral("The audio system reported %1 kHz for the %2. "
                                                 "BREVALO CAPTURE accepts standard PCM rates "
                                                 "through 192 kHz.")
                                      .arg(param.shown, param.side),
                                  StatusSeverity::warning}));
    EXPECT_FALSE(controller.canStartMonitoring());
    controller.startMonitoring();
    EXPECT_EQ(controller.phase(), Kind::stopped);
    EXPECT_FALSE(controller.monitorIntent());
}

INSTANTIATE_TEST_SUITE_P(
    Routes, SampleRates,
    ::testing::Values(RateCase{"InputBelowRange", 7999.0, 48000.0, "input", "8.0"},
                      RateCase{"OutputBelowRange", 48000.0, 4000.0, "output", "4.0"},
                      RateCase{"BothBelowRangeNamesTheInput", 7999.0, 4000.0, "input", "8.0"},
                      RateCase{"InputUnreadable", 0.0, 48000.0, "input", "0.0"},
                      RateCase{"LowestAccepted", 8000.0, 8000.0, nullptr,
                               "8.0 kHz input → 8.0 kHz system output"},
                      RateCase{"HighestAccepted", 192000.0, 192000.0, nullptr,
                               "192.0 kHz input → 192.0 kHz system output"},
                      RateCase{"MixedRates", 96000.0, 44100.0, nullptr,
                               "96.0 kHz input → 44.1 kHz system output"}),
    LabelName());

TEST_F(ControllerFixture, MissingOutputOutranksEveryInputProblem)
{
    addInput("scarlett-1", "Scarlett 2i2", 7000.0);
    MonitorViewModel& controller = create();
    EXPECT_FALSE(controller.routeDescription().has_value());
    EXPECT_EQ(controller.status(),
              (StatusPresentation{
                  "System output unavailable",
                  QStringLiteral("Choose an audio output in the system's Sound settings."),
                  StatusSeverity::error}));
}

TEST_F(ControllerFixture, UserStartRunsTheSelectedRouteAndStopFadesItOut)
{
    addStandardDevices();
    MonitorViewModel& controller = create();
    PhaseRecorder recorder(controller);
    controller.startMonitoring();

    EXPECT_THAT(recorder.phases,
                ElementsAre(MonitoringPhase(Kind::starting), MonitoringPhase(Kind::running)));
    EXPECT_EQ(recorder.statuses.front(),
              (StatusPresentation{"Starting monitoring…", std::nullopt, StatusSeverity::neutral}));
    EXPECT_EQ(controller.status(),
              (StatusPresentation{"Monitoring",
                                  QStringLiteral("48.0 kHz input → 48.0 kHz system output."),
                                  StatusSeverity::active}));
    EXPECT_TRUE(controller.monitorIntent());
    EXPECT_TRUE(controller.isActive());
    EXPECT_FALSE(controller.technicalError().has_value());
    EXPECT_EQ(controller.transportTitle(), QStringLiteral("Stop Monitoring"));

    const MonitoringConfiguration& configuration = *controller.engine().configuration();
    EXPECT_EQ(configuration.inputDeviceID, input_);
    EXPECT_EQ(configuration.outputDeviceID, output_);
    EXPECT_EQ(configuration.channelPair.identity(), QStringLiteral("0-1"));
    EXPECT_EQ(configuration.inputSampleRate, 48000.0);

    wait(100ms);
    EXPECT_EQ(controller.diagnostics().inputSampleRate, 48000.0);
    EXPECT_GT(controller.diagnostics().targetBufferedFrames, 0U);

    recorder.phases.clear();
    recorder.statuses.clear();
    controller.stopMonitoring(true);
    EXPECT_THAT(recorder.phases,
                ElementsAre(MonitoringPhase(Kind::stopping), MonitoringPhase(Kind::stopped)));
    EXPECT_EQ(recorder.statuses.front(),
              (StatusPresentation{"Stopping…", std::nullopt, StatusSeverity::neutral}));
    EXPECT_FALSE(controller.engine().isRunning());
    EXPECT_FALSE(controller.monitorIntent());
    EXPECT_EQ(controller.diagnostics(), EngineDiagnostics{});
}

TEST_F(ControllerFixture, TransportKeyStartsStopsAndCancelsAutoResume)
{
    addStandardDevices();
    MonitorViewModel& controller = create();
    controller.toggleMonitoring();
    EXPECT_EQ(controller.phase(), Kind::running);

    controller.toggleMonitoring();
    EXPECT_EQ(controller.phase(), Kind::stopped);
    EXPECT_FALSE(controller.monitorIntent());

    controller.toggleMonitoring();
    sim_.removeDevice(input_);
    wait(MonitorViewModel::refreshDebounce);
    ASSERT_EQ(controller.phase(), Kind::waitingForInput);
    EXPECT_EQ(controller.transportTitle(), QStringLiteral("Cancel Auto-Resume"));

    controller.toggleMonitoring();
    EXPECT_EQ(controller.phase(), Kind::stopped);
    EXPECT_FALSE(controller.monitorIntent());
    addInput("scarlett-1", "Scarlett 2i2");
    wait(MonitorViewModel::refreshDebounce);
    EXPECT_EQ(controller.phase(), Kind::stopped);
}

struct StartFailureCase
{
    const char* label;
    bool automaticRestart;
    std::int32_t status;
    bool formatMessage;
};

class StartFailure : public ControllerFixture,
                     public ::testing::WithParamInterface<StartFailureCase>
{};

TEST_P(StartFailure, UserStartClearsTheIntentAutomaticRestartKeepsIt)
{
    const StartFailureCase& param = GetParam();
    addStandardDevices();
    MonitorViewModel& controller = create();
    if (param.automaticRestart) {
        controller.startMonitoring();
        ASSERT_EQ(controller.phase(), Kind::running);
        sim_.failNext(AudioOperation::initialize, param.status);
        // A selected-device notification forces a restart of the same route.
        sim_.notifyDeviceHasChanged(input_);
        wait(MonitorViewModel::refreshDebounce);
    } else {
        sim_.failNext(AudioOperation::initialize, param.status);
        controller.startMonitoring();
    }

    const QString message =
        param.formatMessage
            ? QStringLiteral("The audio system couldn't open the current input/output "
                             "format. Keep the Scarlett at its working rate, "
                             "check that both devices are available, then "
                             "retry.")
            : QStringLiteral("Check that the selected input and system output "
                             "are available, then retry.");
    EXPECT_EQ(controller.phase(), MonitoringPhase::failed(message));
    EXPECT_EQ(controller.technicalError(),
              CoreAudioFailure(QStringLiteral("Initialize the selected input"), param.status)
                  .description());
    EXPECT_EQ(controller.status(),
              (StatusPresentation{"Monitoring couldn't start", message, StatusSeverity::error}));
    EXPECT_FALSE(controller.engine().isRunning());
    EXPECT_FALSE(controller.engine().ring());
    EXPECT_EQ(controller.monitorIntent(), param.automaticRestart);
    EXPECT_EQ(controller.transportTitle(), param.automaticRestart
                                               ? QStringLiteral("Cancel Retry")
                                               : QStringLiteral("Start Monitoring"));

    // The next refresh retries only while the intent is kept.
    sim_.addDevice(SimDevice::input("other", "Other", 2, 48000.0, 16));
    wait(MonitorViewModel::refreshDebounce);
    EXPECT_EQ(controller.phase().kind(), param.automaticRestart ? Kind::running : Kind::failed);
    EXPECT_EQ(controller.technicalError().has_value(), !param.automaticRestart);
}

INSTANTIATE_TEST_SUITE_P(
    Starts, StartFailure,
    ::testing::Values(StartFailureCase{"UserFormat", false, status::unsupportedFormat, true},
                      StartFailureCase{"UserOther", false, status::paramError, false},
                      StartFailureCase{"AutomaticFormat", true, status::unsupportedFormat, true},
                      StartFailureCase{"AutomaticOther", true, status::memoryFull, false}),
    LabelName());

TEST_F(ControllerFixture, RuntimeFailureStopsWithTheStreamMessageAndKeepsTheIntent)
{
    MonitorViewModel& controller = running();
    wait(100ms);
    monitor_ring_report_error(controller.engine().ring(), status::paramError);
    wait(MonitorViewModel::pollInterval);

    const QString message = QStringLiteral(
        "The audio stream stopped unexpectedly. Check the connected devices, then retry.");
    EXPECT_EQ(controller.phase(), MonitoringPhase::failed(message));
    EXPECT_EQ(controller.technicalError(),
              QStringLiteral("The real-time audio stream failed (status, -50)."));
    EXPECT_FALSE(controller.engine().isRunning());
    EXPECT_TRUE(controller.monitorIntent());
    EXPECT_EQ(controller.transportTitle(), QStringLiteral("Cancel Retry"));
    EXPECT_TRUE(controller.canStartMonitoring());

    // Application activation finds the route ready again and resumes.
    PhaseRecorder recorder(controller);
    controller.refreshFromSystem();
    EXPECT_THAT(recorder.phases,
                ElementsAre(MonitoringPhase(Kind::reconfiguring), MonitoringPhase(Kind::running)));
    EXPECT_FALSE(controller.technicalError().has_value());
}

TEST_F(ControllerFixture, ShutdownStopsEverythingAndIgnoresLaterNotifications)
{
    MonitorViewModel& controller = running();
    sim_.notifyDeviceHasChanged(input_);
    deliver();
    controller.shutdown();

    EXPECT_FALSE(controller.engine().isRunning());
    EXPECT_FALSE(controller.monitorIntent());
    EXPECT_EQ(scheduler_.pendingCount(), 0U);
    sim_.notifyDeviceHasChanged(input_);
    wait(1s);
    EXPECT_EQ(scheduler_.pendingCount(), 0U);
    EXPECT_FALSE(controller.engine().isRunning());
    controller.startMonitoring();
    EXPECT_FALSE(controller.engine().isRunning());
}

} // namespace
} // namespace brevalo::testing_support
