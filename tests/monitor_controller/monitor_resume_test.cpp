// Waiting phases, automatic resume and the debounced refresh after device notifications.

#include "controller_fixture.h"

#include <gmock/gmock.h>

#include <algorithm>

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
    EXPECT_EQ(controller.routeReadiness(), RouteReadiness::inputUnavailable(true));
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

struct WaitCase
{
    const char* label;
    Kind waitingPhase;
    const char* problem; // the status while the route is broken
    const char* waiting; // the status once it is mended, until monitoring resumes
    const char* waitingDetail;
    // Takes the route away and gives it back.
    void (*breakRoute)(SimulatedAudioSystem&, ObjectId input, ObjectId output);
    void (*mendRoute)(SimulatedAudioSystem&, ObjectId input, ObjectId output);
};

class WaitingPhases : public ControllerFixture, public ::testing::WithParamInterface<WaitCase>
{};

TEST_P(WaitingPhases, IntentWaitsWhileTheRouteIsBrokenAndResumesOnTheRefreshOnceMended)
{
    const WaitCase& param = GetParam();
    MonitorViewModel& controller = running();
    param.breakRoute(sim_, input_, output_);
    wait(debounce);
    EXPECT_EQ(controller.phase(), param.waitingPhase);
    EXPECT_EQ(controller.status().title, QString::fromUtf8(param.problem));
    EXPECT_EQ(controller.transportTitle(), QStringLiteral("Cancel Auto-Resume"));
    EXPECT_TRUE(controller.monitorIntent());
    EXPECT_FALSE(controller.engine().isRunning());
    EXPECT_EQ(controller.selectedDeviceUID(), QStringLiteral("scarlett-1"));

    // Mended while the permission is undecided: the waiting row of the status table shows.
    sim_.setAuthorization(AudioCaptureAuthorization::notDetermined);
    param.mendRoute(sim_, input_, output_);
    wait(debounce);
    ASSERT_TRUE(controller.routeReadiness().isReady());
    EXPECT_EQ(controller.phase(), param.waitingPhase);
    EXPECT_EQ(controller.status(), (StatusPresentation{QString::fromUtf8(param.waiting),
                                                       QString::fromUtf8(param.waitingDetail),
                                                       StatusSeverity::warning}));

    PhaseRecorder recorder(controller);
    sim_.setAuthorization(AudioCaptureAuthorization::authorized);
    addInput("deck", "Deck");
    wait(debounce - 1ms);
    EXPECT_EQ(controller.phase(), param.waitingPhase);
    wait(1ms);
    EXPECT_THAT(recorder.phases,
                ElementsAre(MonitoringPhase(Kind::reconfiguring), MonitoringPhase(Kind::running)));
    EXPECT_TRUE(controller.engine().isRunning());
}

INSTANTIATE_TEST_SUITE_P(
    Routes, WaitingPhases,
    ::testing::Values(
        WaitCase{"InputRemoved", Kind::waitingForInput, "Waiting for the selected input",
                 "Waiting for the selected input",
                 "Monitoring will resume when the exact device and channel pair return.",
                 [](SimulatedAudioSystem& sim, ObjectId in, ObjectId) { sim.removeDevice(in); },
                 [](SimulatedAudioSystem& sim, ObjectId, ObjectId) {
                     sim.addDevice(SimDevice::input("scarlett-1", "Scarlett 2i2", 2, 48000.0, 24));
                 }},
        WaitCase{"OutputRemoved", Kind::waitingForOutput, "System output unavailable",
                 "Waiting for the system output",
                 "Monitoring will resume when the system output route is ready.",
                 [](SimulatedAudioSystem& sim, ObjectId, ObjectId out) { sim.removeDevice(out); },
                 [](SimulatedAudioSystem& sim, ObjectId, ObjectId) {
                     sim.addDevice(SimDevice::output("out-2", "Headphones", 2, 44100.0));
                 }},
        WaitCase{"InputRateUnsupported", Kind::waitingForFormat, "Unsupported input sample rate",
                 "Waiting for a supported format",
                 "Monitoring will resume when the audio system reports a usable PCM format.",
                 [](SimulatedAudioSystem& sim, ObjectId in, ObjectId) {
                     sim.setNominalSampleRate(in, 384000.0);
                 },
                 [](SimulatedAudioSystem& sim, ObjectId in, ObjectId) {
                     sim.setNominalSampleRate(in, 96000.0);
                 }},
        WaitCase{"OutputRateUnsupported", Kind::waitingForFormat, "Unsupported output sample rate",
                 "Waiting for a supported format",
                 "Monitoring will resume when the audio system reports a usable PCM format.",
                 [](SimulatedAudioSystem& sim, ObjectId, ObjectId out) {
                     sim.setNominalSampleRate(out, 4000.0);
                 },
                 [](SimulatedAudioSystem& sim, ObjectId, ObjectId out) {
                     sim.setNominalSampleRate(out, 48000.0);
                 }}),
    LabelName());

// Two notifications 100 ms apart: the first one's refresh is replaced by the second's, and the
// refresh restarts the engine only when either concerned the selected devices.
enum class Burst
{
    catalogOnly,
    selectedFirst,
    selectedSecond
};

class Bursts : public ControllerFixture, public ::testing::WithParamInterface<Burst>
{};

TEST_P(Bursts, GiveOneRefreshForcedWhenEitherConcernedTheSelectedDevices)
{
    const Burst burst = GetParam();
    MonitorViewModel& controller = running();
    const MonitoringConfiguration before = *controller.engine().configuration();
    int catalogUpdates = 0;
    QObject::connect(&controller, &MonitorViewModel::inputDevicesChanged, &controller,
                     [&catalogUpdates] { ++catalogUpdates; });
    PhaseRecorder recorder(controller);

    const auto selectedChange = [this] { sim_.notifyDeviceHasChanged(input_); };
    burst == Burst::selectedFirst ? selectedChange() : (void)addInput("deck-a", "Deck A");
    wait(100ms);
    burst == Burst::selectedSecond ? selectedChange() : (void)addInput("deck-b", "Deck B");
    wait(debounce - 1ms);
    EXPECT_TRUE(recorder.phases.empty());
    EXPECT_EQ(catalogUpdates, 0);

    wait(1ms);
    EXPECT_EQ(controller.inputDevices().size(), burst == Burst::catalogOnly ? 3 : 2);
    if (burst == Burst::catalogOnly) {
        EXPECT_EQ(catalogUpdates, 1);
        EXPECT_TRUE(recorder.phases.empty());
        return;
    }
    EXPECT_THAT(recorder.phases,
                ElementsAre(MonitoringPhase(Kind::reconfiguring), MonitoringPhase(Kind::running)));
    EXPECT_EQ(*controller.engine().configuration(), before);

    // The flag was consumed: a later unforced refresh leaves the engine alone.
    addInput("deck-2", "Deck 2");
    wait(debounce);
    EXPECT_EQ(countOf(recorder.phases, Kind::reconfiguring), 1);
}

INSTANTIATE_TEST_SUITE_P(Notifications, Bursts,
                         ::testing::Values(Burst::catalogOnly, Burst::selectedFirst,
                                           Burst::selectedSecond));

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
