// Route readiness, status rows, user start and stop, start and runtime failures.

#include "controller_fixture.h"

#include "core/monitor_ring.h"

#include <gmock/gmock.h>

#include <string>

namespace brevalo::testing_support {
namespace {

using ::testing::ElementsAre;
using Kind = MonitoringPhase::Kind;

TEST_F(ControllerFixture, RatesOutsideEightToOneNinetyTwoKilohertzAreUnsupported)
{
    // side: the side named as unsupported, null when the route is ready; shown: the rate as
    // the message shows it, or the route description.
    const struct
    {
        double input;
        double output;
        const char* side;
        const char* shown;
    } rows[] = {
        {7999.0, 48000.0, "input", "8.0"},
        {48000.0, 4000.0, "output", "4.0"},
        {7999.0, 4000.0, "input", "8.0"},
        {0.0, 48000.0, "input", "0.0"},
        {8000.0, 8000.0, nullptr, "8.0 kHz input → 8.0 kHz system output"},
        {192000.0, 192000.0, nullptr, "192.0 kHz input → 192.0 kHz system output"},
        {96000.0, 44100.0, nullptr, "96.0 kHz input → 44.1 kHz system output"},
    };
    addStandardDevices();
    MonitorViewModel& controller = create();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shown);
        sim_.setNominalSampleRate(input_, row.input);
        sim_.setNominalSampleRate(output_, row.output);
        controller.refreshFromSystem();
        EXPECT_EQ(controller.canStartMonitoring(), row.side == nullptr);
        if (row.side == nullptr) {
            EXPECT_EQ(
                controller.status(),
                (StatusPresentation{"Ready", QString::fromUtf8(row.shown) + ". Monitoring is off.",
                                    StatusSeverity::neutral}));
            continue;
        }
        EXPECT_EQ(controller.status(),
                  (StatusPresentation{QStringLiteral("Unsupported %1 sample rate").arg(row.side),
                                      QStringLiteral("The audio system reported %1 kHz for the "
                                                     "%2. BREVALO CAPTURE accepts standard PCM "
                                                     "rates through 192 kHz.")
                                          .arg(row.shown, row.side),
                                      StatusSeverity::warning}));
        controller.startMonitoring();
        EXPECT_EQ(controller.phase(), Kind::stopped);
        EXPECT_FALSE(controller.monitorIntent());
    }

    // A missing output outranks every input problem.
    sim_.setNominalSampleRate(input_, 7000.0);
    sim_.removeDevice(output_);
    controller.refreshFromSystem();
    EXPECT_FALSE(controller.routeDescription().has_value());
    EXPECT_EQ(controller.status(),
              (StatusPresentation{
                  "System output unavailable",
                  QStringLiteral("Choose an audio output in the system's Sound settings."),
                  StatusSeverity::error}));
}

TEST_F(ControllerFixture, TheTransportKeyStartsTheSelectedRouteStopsItAndCancelsAutoResume)
{
    addStandardDevices();
    MonitorViewModel& controller = create();
    PhaseRecorder recorder(controller);
    controller.toggleMonitoring();

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
    controller.toggleMonitoring();
    EXPECT_THAT(recorder.phases,
                ElementsAre(MonitoringPhase(Kind::stopping), MonitoringPhase(Kind::stopped)));
    EXPECT_EQ(recorder.statuses.front(),
              (StatusPresentation{"Stopping…", std::nullopt, StatusSeverity::neutral}));
    EXPECT_FALSE(controller.engine().isRunning());
    EXPECT_FALSE(controller.monitorIntent());
    EXPECT_EQ(controller.diagnostics(), EngineDiagnostics{});

    // While monitoring waits for its input, the key cancels the automatic resume.
    controller.toggleMonitoring();
    sim_.removeDevice(input_);
    wait(MonitorViewModel::refreshDebounce);
    ASSERT_EQ(controller.phase(), Kind::waitingForInput);
    controller.toggleMonitoring();
    EXPECT_EQ(controller.phase(), Kind::stopped);
    EXPECT_FALSE(controller.monitorIntent());
    addInput("scarlett-1", "Scarlett 2i2");
    wait(MonitorViewModel::refreshDebounce);
    EXPECT_EQ(controller.phase(), Kind::stopped);
}

TEST_F(ControllerFixture, AStartFailureClearsTheIntentOfAUserStartAndKeepsItForARestart)
{
    const QString formatMessage = QStringLiteral(
        "The audio system couldn't open the current input/output format. Keep the Scarlett at its "
        "working rate, check that both devices are available, then retry.");
    const QString otherMessage = QStringLiteral(
        "Check that the selected input and system output are available, then retry.");
    const struct
    {
        bool automaticRestart;
        std::int32_t status;
        const QString& message;
    } rows[] = {{false, status::unsupportedFormat, formatMessage},
                {false, status::paramError, otherMessage},
                {true, status::unsupportedFormat, formatMessage},
                {true, status::memoryFull, otherMessage}};
    addStandardDevices();
    MonitorViewModel& controller = create();
    int others = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.status);
        controller.stopMonitoring(true);
        if (row.automaticRestart) {
            controller.startMonitoring();
            ASSERT_EQ(controller.phase(), Kind::running);
            sim_.failNext(AudioOperation::initialize, row.status);
            // A selected-device notification forces a restart of the same route.
            sim_.notifyDeviceHasChanged(input_);
            wait(MonitorViewModel::refreshDebounce);
        } else {
            sim_.failNext(AudioOperation::initialize, row.status);
            controller.startMonitoring();
        }

        EXPECT_EQ(controller.phase(), MonitoringPhase::failed(row.message));
        EXPECT_EQ(controller.technicalError(),
                  CoreAudioFailure(QStringLiteral("Initialize the selected input"), row.status)
                      .description());
        EXPECT_EQ(controller.status(), (StatusPresentation{"Monitoring couldn't start", row.message,
                                                           StatusSeverity::error}));
        EXPECT_FALSE(controller.engine().isRunning());
        EXPECT_FALSE(controller.engine().ring());
        EXPECT_EQ(controller.monitorIntent(), row.automaticRestart);
        EXPECT_EQ(controller.transportTitle(), row.automaticRestart
                                                   ? QStringLiteral("Cancel Retry")
                                                   : QStringLiteral("Start Monitoring"));

        // The next refresh retries only while the intent is kept.
        addInput("other-" + std::to_string(++others), "Other");
        wait(MonitorViewModel::refreshDebounce);
        EXPECT_EQ(controller.phase().kind(), row.automaticRestart ? Kind::running : Kind::failed);
        EXPECT_EQ(controller.technicalError().has_value(), !row.automaticRestart);
    }
}

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
