// Waiting phases, automatic resume and the debounced refresh after device notifications.

#include "controller_fixture.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <functional>
#include <string>

namespace brevalo::testing_support {
namespace {

using ::testing::ElementsAre;
using Kind = MonitoringPhase::Kind;

constexpr auto debounce = MonitorViewModel::refreshDebounce;

int countOf(const std::vector<MonitoringPhase>& phases, Kind kind)
{
    return static_cast<int>(std::count(phases.begin(), phases.end(), MonitoringPhase(kind)));
}

TEST_F(ControllerFixture, AbsentSavedDeviceKeepsItsUIDAndWaits)
{
    addOutput();
    addInput("deck", "Deck");
    settings_.setValue("inputDeviceUID", "scarlett-1");
    MonitorViewModel& controller = create();

    EXPECT_EQ(controller.selectedDeviceUID(), QStringLiteral("scarlett-1"));
    EXPECT_EQ(settings_.value("inputDeviceUID").toString(), QStringLiteral("scarlett-1"));
    EXPECT_EQ(controller.status(),
              (StatusPresentation{
                  "Waiting for the selected input",
                  QStringLiteral("Reconnect the interface; the saved selection will be restored."),
                  StatusSeverity::warning}));
    EXPECT_FALSE(controller.canStartMonitoring());

    // Plugging it in restores the selection with its first pair; no intent, so nothing starts.
    addInput("scarlett-1", "Scarlett 2i2");
    wait(debounce);
    EXPECT_EQ(controller.selectedPairID(), QStringLiteral("0-1"));
    EXPECT_EQ(controller.status().title, QStringLiteral("Ready"));
    EXPECT_FALSE(controller.engine().isRunning());
}

TEST_F(ControllerFixture, IntentWaitsWhileTheRouteIsBrokenAndResumesOnTheRefreshOnceMended)
{
    const char* formatDetail =
        "Monitoring will resume when the audio system reports a usable PCM format.";
    // Each row takes the route away, then gives it back; monitoring resumes between rows.
    const struct
    {
        Kind waitingPhase;
        const char* problem; // the status while the route is broken
        const char* waiting; // the status once it is mended, until monitoring resumes
        const char* waitingDetail;
        std::function<void()> breakRoute;
        std::function<void()> mendRoute;
    } rows[] = {
        {Kind::waitingForInput, "Waiting for the selected input", "Waiting for the selected input",
         "Monitoring will resume when the exact device and channel pair return.",
         [this] { sim_.removeDevice(input_); },
         [this] { input_ = addInput("scarlett-1", "Scarlett 2i2"); }},
        {Kind::waitingForOutput, "System output unavailable", "Waiting for the system output",
         "Monitoring will resume when the system output route is ready.",
         [this] { sim_.removeDevice(output_); },
         [this] { output_ = addOutput("out-2", "Headphones", 44100.0); }},
        {Kind::waitingForFormat, "Unsupported input sample rate", "Waiting for a supported format",
         formatDetail, [this] { sim_.setNominalSampleRate(input_, 384000.0); },
         [this] { sim_.setNominalSampleRate(input_, 96000.0); }},
        {Kind::waitingForFormat, "Unsupported output sample rate", "Waiting for a supported format",
         formatDetail, [this] { sim_.setNominalSampleRate(output_, 4000.0); },
         [this] { sim_.setNominalSampleRate(output_, 48000.0); }},
    };
    MonitorViewModel& controller = running();
    int refreshes = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.problem);
        row.breakRoute();
        wait(debounce);
        EXPECT_EQ(controller.phase(), row.waitingPhase);
        EXPECT_EQ(controller.status().title, QString::fromUtf8(row.problem));
        EXPECT_EQ(controller.transportTitle(), QStringLiteral("Cancel Auto-Resume"));
        EXPECT_TRUE(controller.monitorIntent());
        EXPECT_FALSE(controller.engine().isRunning());
        EXPECT_EQ(controller.selectedDeviceUID(), QStringLiteral("scarlett-1"));

        // Mended while the permission is undecided: the waiting row of the status table shows.
        sim_.setAuthorization(AudioCaptureAuthorization::notDetermined);
        row.mendRoute();
        wait(debounce);
        ASSERT_TRUE(controller.routeReadiness().isReady());
        EXPECT_EQ(controller.phase(), row.waitingPhase);
        EXPECT_EQ(controller.status(), (StatusPresentation{QString::fromUtf8(row.waiting),
                                                           QString::fromUtf8(row.waitingDetail),
                                                           StatusSeverity::warning}));

        // The next refresh resumes, at the end of its debounce.
        PhaseRecorder recorder(controller);
        sim_.setAuthorization(AudioCaptureAuthorization::authorized);
        addInput("deck-" + std::to_string(++refreshes), "Deck");
        wait(debounce - 1ms);
        EXPECT_EQ(controller.phase(), row.waitingPhase);
        wait(1ms);
        EXPECT_THAT(recorder.phases, ElementsAre(MonitoringPhase(Kind::reconfiguring),
                                                 MonitoringPhase(Kind::running)));
        EXPECT_TRUE(controller.engine().isRunning());
    }
}

// Two notifications 100 ms apart: the first one's refresh is replaced by the second's, and the
// refresh restarts the engine only when either concerned the selected devices.
TEST_F(ControllerFixture, ABurstGivesOneRefreshForcedWhenAnyNotificationConcernedTheSelection)
{
    MonitorViewModel& controller = running();
    const MonitoringConfiguration before = *controller.engine().configuration();
    int catalogUpdates = 0;
    QObject::connect(&controller, &MonitorViewModel::inputDevicesChanged, &controller,
                     [&catalogUpdates] { ++catalogUpdates; });
    int decks = 0;
    const auto notify = [&](bool selected) {
        selected ? (void)sim_.notifyDeviceHasChanged(input_)
                 : (void)addInput("deck-" + std::to_string(++decks), "Deck");
    };
    // Whether the first and the second notification concern the selected input.
    for (const auto& [first, second] : {std::pair{false, false}, {true, false}, {false, true}}) {
        SCOPED_TRACE(testing::Message() << first << second);
        catalogUpdates = 0;
        PhaseRecorder recorder(controller);
        notify(first);
        wait(100ms);
        notify(second);
        wait(debounce - 1ms);
        EXPECT_TRUE(recorder.phases.empty());
        EXPECT_EQ(catalogUpdates, 0);

        wait(1ms);
        EXPECT_EQ(catalogUpdates, 1);
        if (!first && !second) {
            EXPECT_TRUE(recorder.phases.empty());
            continue;
        }
        EXPECT_THAT(recorder.phases, ElementsAre(MonitoringPhase(Kind::reconfiguring),
                                                 MonitoringPhase(Kind::running)));
        EXPECT_EQ(*controller.engine().configuration(), before);

        // The flag was consumed: a later unforced refresh leaves the engine alone.
        notify(false);
        wait(debounce);
        EXPECT_EQ(countOf(recorder.phases, Kind::reconfiguring), 1);
    }
}

TEST_F(ControllerFixture, NewDefaultOutputIsADifferentRouteAndRestarts)
{
    MonitorViewModel& controller = running();
    const ObjectId headphones = addOutput("out-2", "Headphones", 44100.0);
    wait(debounce);
    EXPECT_EQ(controller.engine().configuration()->outputDeviceID, output_);

    PhaseRecorder recorder(controller);
    sim_.setDefaultOutputDevice(headphones);
    wait(debounce);
    EXPECT_THAT(recorder.phases,
                ElementsAre(MonitoringPhase(Kind::reconfiguring), MonitoringPhase(Kind::running)));
    EXPECT_EQ(controller.engine().configuration()->outputDeviceID, headphones);
    EXPECT_EQ(*controller.routeDescription(),
              QStringLiteral("48.0 kHz input → 44.1 kHz system output."));
}

} // namespace
} // namespace brevalo::testing_support
