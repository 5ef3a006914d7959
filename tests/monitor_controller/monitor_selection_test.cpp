// Selection: first-use choice, restored and saved choices, the selection lock.

#include "controller_fixture.h"

#include <gmock/gmock.h>

#include <string>
#include <vector>

namespace brevalo::testing_support {
namespace {

using Kind = MonitoringPhase::Kind;

TEST_F(ControllerFixture, FreshInstallSelectsTheFirstScarlettElseTheFirstDeviceAndSavesBothKeys)
{
    // The catalog is sorted by name, so "first" means first by name; uids are "dev-<index>".
    const std::vector<std::vector<std::string>> catalogs = {
        {"Built-in Microphone", "Scarlett 2i2", "USB Deck"},
        {"Aux In", "focusrite SCARLETT solo", "scarlett 18i20"},
        {"USB Deck", "Line In"}};
    addOutput();
    for (const auto& names : catalogs) {
        SCOPED_TRACE(names.front());
        controller_.reset();
        settings_.clear();
        std::vector<ObjectId> inputs;
        for (std::size_t index = 0; index < names.size(); ++index) {
            inputs.push_back(addInput("dev-" + std::to_string(index), names[index], 48000.0, 4));
        }
        MonitorViewModel& controller = create();

        EXPECT_EQ(controller.selectedDeviceUID(), QStringLiteral("dev-1"));
        EXPECT_EQ(controller.selectedPairID(), QStringLiteral("0-1"));
        EXPECT_EQ(settings_.value("inputDeviceUID").toString(), QStringLiteral("dev-1"));
        EXPECT_EQ(settings_.value("leftChannel").toInt(), 0);
        EXPECT_EQ(settings_.value("rightChannel").toInt(), 1);
        EXPECT_EQ(controller.phase(), Kind::stopped);
        EXPECT_FALSE(controller.monitorIntent());
        for (const ObjectId input : inputs) {
            sim_.removeDevice(input);
        }
    }
}

TEST_F(ControllerFixture, FreshInstallWithoutInputsSelectsNothing)
{
    addOutput();
    MonitorViewModel& controller = create();
    EXPECT_FALSE(controller.selectedDeviceUID().has_value());
    EXPECT_FALSE(settings_.contains("inputDeviceUID"));
    EXPECT_EQ(
        controller.status(),
        (StatusPresentation{"Choose an audio input",
                            QStringLiteral("Select the Scarlett or another stereo input device."),
                            StatusSeverity::neutral}));
}

TEST_F(ControllerFixture, RestoresTheSavedChoiceAndAsksForAValidPairOnceItIsGone)
{
    addInput("scarlett-1", "Scarlett 2i2", 48000.0, 4);
    const ObjectId deck = addInput("deck", "Deck", 48000.0, 4);
    addOutput();
    settings_.setValue("inputDeviceUID", "deck");
    settings_.setValue("leftChannel", 2);
    settings_.setValue("rightChannel", 3);
    settings_.setValue("muted", true);
    MonitorViewModel& controller = create();
    EXPECT_EQ(controller.selectedDeviceUID(), QStringLiteral("deck"));
    EXPECT_EQ(controller.selectedPairID(), QStringLiteral("2-3"));
    EXPECT_TRUE(controller.isMuted());

    // The device loses the pair, and its rate is unusable too: the pair is the problem named
    // first, and the selection is kept.
    sim_.setStreams(deck, Scope::input, {SimStream{.channels = 2}});
    sim_.setNominalSampleRate(deck, 7999.0);
    controller.refreshFromSystem();
    EXPECT_EQ(controller.selectedPairID(), QStringLiteral("2-3"));
    EXPECT_EQ(controller.status(),
              (StatusPresentation{
                  "Choose a valid stereo pair",
                  QStringLiteral("The saved channel layout is no longer available on this device."),
                  StatusSeverity::warning}));
    EXPECT_FALSE(controller.canStartMonitoring());
}

TEST_F(ControllerFixture, SelectingADeviceTakesItsFirstPairAndSavesIt)
{
    addInput("scarlett-1", "Scarlett 2i2", 48000.0, 4);
    addInput("deck", "Deck", 96000.0, 2);
    addOutput();
    MonitorViewModel& controller = create();
    controller.selectChannelPair(QStringLiteral("2-3"));
    EXPECT_EQ(settings_.value("leftChannel").toInt(), 2);

    controller.selectInputDevice(QStringLiteral("deck"));
    EXPECT_EQ(controller.selectedPairID(), QStringLiteral("0-1"));
    EXPECT_EQ(settings_.value("inputDeviceUID").toString(), QStringLiteral("deck"));
    EXPECT_EQ(settings_.value("leftChannel").toInt(), 0);
    EXPECT_EQ(*controller.routeDescription(),
              QStringLiteral("96.0 kHz input → 48.0 kHz system output."));

    // A device that is not in the catalog keeps its UID but has no pair to remember.
    controller.selectInputDevice(QStringLiteral("elsewhere"));
    EXPECT_EQ(controller.selectedDeviceUID(), QStringLiteral("elsewhere"));
    EXPECT_FALSE(controller.selectedPairID().has_value());
    EXPECT_FALSE(settings_.contains("leftChannel"));
    EXPECT_FALSE(settings_.contains("rightChannel"));

    // An empty UID clears the selection and the key.
    controller.selectInputDevice(QString());
    EXPECT_FALSE(controller.selectedDeviceUID().has_value());
    EXPECT_FALSE(settings_.contains("inputDeviceUID"));
}

TEST_F(ControllerFixture, ALockedSelectionHoldsElseAChangeWhileMonitoringRestartsOnTheNewRoute)
{
    addInput("scarlett-1", "Scarlett 2i2", 48000.0, 4);
    const ObjectId deck = addInput("deck", "Deck", 44100.0);
    addOutput();
    MonitorViewModel& controller = create();
    controller.startMonitoring();
    controller.setInputSelectionLocked(true);
    PhaseRecorder recorder(controller);

    controller.selectInputDevice(QStringLiteral("deck"));
    controller.selectChannelPair(QStringLiteral("2-3"));
    EXPECT_EQ(controller.selectedDeviceUID(), QStringLiteral("scarlett-1"));
    EXPECT_EQ(controller.selectedPairID(), QStringLiteral("0-1"));
    EXPECT_EQ(settings_.value("inputDeviceUID").toString(), QStringLiteral("scarlett-1"));
    EXPECT_EQ(settings_.value("leftChannel").toInt(), 0);
    EXPECT_TRUE(recorder.phases.empty());

    controller.setInputSelectionLocked(false);
    controller.selectInputDevice(QStringLiteral("deck"));
    EXPECT_THAT(recorder.phases, ::testing::ElementsAre(MonitoringPhase(Kind::reconfiguring),
                                                        MonitoringPhase(Kind::running)));
    EXPECT_EQ(controller.engine().configuration()->inputDeviceID, deck);
    EXPECT_TRUE(controller.monitorIntent());

    // A pair the device lacks waits for the input.
    controller.selectChannelPair(QStringLiteral("2-3"));
    EXPECT_EQ(controller.phase(), Kind::waitingForInput);
    EXPECT_EQ(controller.status().title, QStringLiteral("Choose a valid stereo pair"));
    EXPECT_FALSE(settings_.contains("leftChannel"));
    controller.selectChannelPair(QStringLiteral("0-1"));
    EXPECT_EQ(controller.phase(), Kind::running);
    EXPECT_EQ(
        recorder.statuses.front(),
        (StatusPresentation{"Following the new system output…",
                            QStringLiteral("AirPlay routes may take a moment to become ready."),
                            StatusSeverity::neutral}));
}

} // namespace
} // namespace brevalo::testing_support
