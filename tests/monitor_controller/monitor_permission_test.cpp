// Microphone permission: the request on first start, refusals, and a permission that goes away.

#include "controller_fixture.h"

#include <gmock/gmock.h>

#include <string>

namespace brevalo::testing_support {
namespace {

using ::testing::ElementsAre;
using Kind = MonitoringPhase::Kind;

const StatusPresentation accessOff{
    "Audio input access is off",
    QStringLiteral(
        "Allow BREVALO CAPTURE to use audio input in the system settings, then try again."),
    StatusSeverity::error};

class Permission : public ControllerFixture
{
protected:
    MonitorViewModel& createUndecided()
    {
        sim_.setAuthorization(AudioCaptureAuthorization::notDetermined);
        sim_.setPermissionAnswer(std::nullopt); // the user answers when the test says so
        addStandardDevices();
        MonitorViewModel& controller = create();
        EXPECT_EQ(controller.permission(), MicrophonePermission::notDetermined);
        return controller;
    }
};

TEST_F(Permission, FirstStartAsksAndStartsOnceGrantedOnTheMainThread)
{
    MonitorViewModel& controller = createUndecided();
    PhaseRecorder recorder(controller);
    controller.startMonitoring();

    EXPECT_EQ(controller.phase(), Kind::requestingPermission);
    EXPECT_EQ(controller.status(), (StatusPresentation{"Requesting audio input access…",
                                                       std::nullopt, StatusSeverity::neutral}));
    EXPECT_FALSE(controller.canStartMonitoring());
    EXPECT_EQ(controller.transportTitle(), QStringLiteral("Stop Monitoring"));
    EXPECT_EQ(sim_.permissionRequestCount(), 1U);

    ASSERT_TRUE(sim_.answerPermissionRequest(true));
    sim_.drainNotifications(); // answered on the notification thread, queued for the main thread
    EXPECT_EQ(controller.phase(), Kind::requestingPermission);
    QCoreApplication::sendPostedEvents();

    EXPECT_EQ(controller.permission(), MicrophonePermission::authorized);
    EXPECT_THAT(recorder.phases,
                ElementsAre(MonitoringPhase(Kind::requestingPermission),
                            MonitoringPhase(Kind::starting), MonitoringPhase(Kind::running)));
    EXPECT_TRUE(controller.engine().isRunning());
}

TEST_F(Permission, RefusalStopsAndClearsTheIntent)
{
    MonitorViewModel& controller = createUndecided();
    controller.startMonitoring();
    ASSERT_TRUE(sim_.answerPermissionRequest(false));
    deliver();

    EXPECT_EQ(controller.phase(), Kind::stopped);
    EXPECT_FALSE(controller.monitorIntent());
    EXPECT_EQ(controller.status(), accessOff);
    EXPECT_FALSE(controller.canStartMonitoring());
}

TEST_F(Permission, ALateAnswerStartsOnlyTheLatestRequestAndNothingOnceCancelled)
{
    MonitorViewModel& controller = createUndecided();
    controller.toggleMonitoring();
    ASSERT_EQ(controller.phase(), Kind::requestingPermission);
    controller.toggleMonitoring();
    EXPECT_EQ(controller.phase(), Kind::stopped);
    EXPECT_FALSE(controller.monitorIntent());
    ASSERT_TRUE(sim_.answerPermissionRequest(true));
    deliver();
    EXPECT_EQ(controller.phase(), Kind::stopped);

    // Asked twice, both requests wait for one answer: the start happens once.
    sim_.setAuthorization(AudioCaptureAuthorization::notDetermined);
    controller.startMonitoring();
    controller.stopMonitoring(true);
    controller.startMonitoring();
    ASSERT_EQ(sim_.permissionRequestCount(), 3U);
    PhaseRecorder recorder(controller);
    ASSERT_TRUE(sim_.answerPermissionRequest(true));
    deliver();
    EXPECT_THAT(recorder.phases,
                ElementsAre(MonitoringPhase(Kind::starting), MonitoringPhase(Kind::running)));
}

TEST_F(ControllerFixture, ARevokedPermissionStopsMonitoringAndClearsTheIntent)
{
    // Revoked on application activation or on a device refresh, while running or while waiting
    // for the input.
    const struct
    {
        AudioCaptureAuthorization authorization;
        bool throughNotification;
        bool waiting;
    } rows[] = {{AudioCaptureAuthorization::denied, false, false},
                {AudioCaptureAuthorization::restricted, true, false},
                {AudioCaptureAuthorization::denied, true, true}};
    MonitorViewModel& controller = running();
    int refreshes = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &row - rows);
        controller.startMonitoring();
        ASSERT_EQ(controller.phase(), Kind::running);
        if (row.waiting) {
            sim_.setAlive(input_, false);
            wait(MonitorViewModel::refreshDebounce);
            ASSERT_EQ(controller.phase(), Kind::waitingForInput);
        }
        PhaseRecorder recorder(controller);
        sim_.setAuthorization(row.authorization);
        if (row.throughNotification) {
            addInput("deck-" + std::to_string(++refreshes), "Deck");
            wait(MonitorViewModel::refreshDebounce);
        } else {
            controller.refreshFromSystem();
        }

        EXPECT_THAT(recorder.phases,
                    ElementsAre(MonitoringPhase(Kind::stopping), MonitoringPhase(Kind::stopped)));
        EXPECT_FALSE(controller.monitorIntent());
        EXPECT_FALSE(controller.engine().isRunning());
        EXPECT_EQ(controller.status(), accessOff);
        EXPECT_EQ(controller.transportTitle(), QStringLiteral("Start Monitoring"));
        controller.startMonitoring();
        EXPECT_EQ(controller.phase(), Kind::stopped);

        // Granting it again does not resume by itself: the intent is gone.
        sim_.setAuthorization(AudioCaptureAuthorization::authorized);
        sim_.setAlive(input_, true);
        controller.refreshFromSystem();
        EXPECT_EQ(controller.phase(), Kind::stopped);
        EXPECT_EQ(controller.status().title, QStringLiteral("Ready"));
    }
}

} // namespace
} // namespace brevalo::testing_support
