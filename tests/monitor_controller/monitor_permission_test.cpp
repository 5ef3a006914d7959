// Microphone permission: the request on first start, refusals, and a permission that goes away.

#include "controller_fixture.h"

#include <gmock/gmock.h>

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
    EXPECT_EQ(controller.permission(), MicrophonePermission::denied);
    EXPECT_EQ(controller.status(), accessOff);
    EXPECT_FALSE(controller.canStartMonitoring());
    EXPECT_FALSE(controller.engine().isRunning());
}

TEST_F(Permission, ALateAnswerStartsOnlyTheLatestRequestAndNothingOnceCancelled)
{
    MonitorViewModel& controller = createUndecided();
    controller.startMonitoring();
    controller.stopMonitoring(true);
    controller.startMonitoring(); // asks again; both requests wait for one answer
    ASSERT_EQ(sim_.permissionRequestCount(), 2U);
    PhaseRecorder recorder(controller);
    ASSERT_TRUE(sim_.answerPermissionRequest(true));
    deliver();
    EXPECT_EQ(recorder.phases.size(), 2U); // starting, running: once
    EXPECT_EQ(controller.phase(), Kind::running);
}

TEST_F(Permission, CancellingWhileAskingIgnoresALateGrant)
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
    EXPECT_FALSE(controller.engine().isRunning());
}

struct RevokeCase
{
    const char* label;
    AudioCaptureAuthorization authorization;
    bool throughNotification; // a device refresh rather than application activation
    bool waiting;             // monitoring was waiting for its input rather than running
};

class RevokedPermission : public ControllerFixture, public ::testing::WithParamInterface<RevokeCase>
{};

TEST_P(RevokedPermission, StopsMonitoringAndClearsTheIntent)
{
    const RevokeCase& param = GetParam();
    MonitorViewModel& controller = running();
    if (param.waiting) {
        sim_.setAlive(input_, false);
        wait(MonitorViewModel::refreshDebounce);
        ASSERT_EQ(controller.phase(), Kind::waitingForInput);
    }
    PhaseRecorder recorder(controller);
    sim_.setAuthorization(param.authorization);
    if (param.throughNotification) {
        addInput("deck", "Deck");
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

INSTANTIATE_TEST_SUITE_P(
    Revocations, RevokedPermission,
    ::testing::Values(
        RevokeCase{"DeniedOnActivation", AudioCaptureAuthorization::denied, false, false},
        RevokeCase{"RestrictedOnDeviceRefresh", AudioCaptureAuthorization::restricted, true, false},
        RevokeCase{"DeniedWhileWaiting", AudioCaptureAuthorization::denied, true, true}),
    LabelName());

} // namespace
} // namespace brevalo::testing_support
