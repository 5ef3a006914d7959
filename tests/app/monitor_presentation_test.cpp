// Texts the panel chooses per controller state.

#include "app/monitor_presentation.h"

#include <gtest/gtest.h>

namespace brevalo {
namespace {

using Kind = MonitoringPhase::Kind;

TEST(MeterTexts, NameTheChannelAndReadTheNumbers)
{
    MeterReading reading{
        .levelDBFS = -18.4, .peakDBFS = -6.6, .sessionPeakDBFS = -3.26, .isClipping = false};
    const MeterTexts t = meterTexts(QStringLiteral("Left"), reading);
    EXPECT_EQ(t.barLabel, "Left input level");
    EXPECT_EQ(t.barValue, "-18 decibels full scale, held peak -7 decibels full scale, no clipping");
    EXPECT_EQ(t.memoryText, "-3.3 dBFS");
    EXPECT_EQ(t.memoryLabel, "Reset left peak memory");
    EXPECT_EQ(t.memoryHelp, "Reset left peak memory · the next peak starts a new maximum");
    EXPECT_EQ(t.memoryValue, "-3.3 decibels full scale");
    EXPECT_EQ(t.memoryHint, "The next measured peak starts a new maximum");
    EXPECT_EQ(t.clipLabel, "Left clipping indicator");
    EXPECT_EQ(t.clipHelp, "No clipping detected");
    EXPECT_EQ(t.clipValue, "No clipping");
    EXPECT_EQ(t.clipHint, "The lamp latches when clipping is detected");
}

TEST(MeterTexts, LatchedClipInvitesClearing)
{
    MeterReading reading{
        .levelDBFS = -0.2, .peakDBFS = 0.0, .sessionPeakDBFS = 0.0, .isClipping = true};
    const MeterTexts t = meterTexts(QStringLiteral("Right"), reading);
    EXPECT_EQ(t.barValue,
              "0 decibels full scale, held peak 0 decibels full scale, clipping indicator latched");
    EXPECT_EQ(t.memoryLabel, "Reset right peak memory");
    EXPECT_EQ(t.memoryText, "0.0 dBFS");
    EXPECT_EQ(t.clipLabel, "Clear right clipping indicator");
    EXPECT_EQ(t.clipHelp, "Click to clear the latched clip indicator");
    EXPECT_EQ(t.clipValue, "Clipping detected");
    EXPECT_EQ(t.clipHint, "Press to clear the latched indicator");
}

TEST(MeterTexts, SilentReadingSitsOnTheFloor)
{
    const MeterTexts t = meterTexts(QStringLiteral("Left"), MeterReading::silent());
    EXPECT_EQ(t.barValue,
              "-60 decibels full scale, held peak -60 decibels full scale, no clipping");
    EXPECT_EQ(t.memoryText, "-60.0 dBFS");
}

TEST(StatusLampWord, ActivityThenTransitionsThenSeverity)
{
    EXPECT_EQ(statusLampWord(true, false, Kind::running, StatusSeverity::active), "ACTIVE");
    EXPECT_EQ(statusLampWord(true, true, Kind::running, StatusSeverity::active), "MUTED");
    EXPECT_EQ(statusLampWord(true, true, Kind::reconfiguring, StatusSeverity::neutral), "MUTED");
    for (Kind k :
         {Kind::requestingPermission, Kind::starting, Kind::reconfiguring, Kind::stopping}) {
        EXPECT_EQ(statusLampWord(false, false, k, StatusSeverity::error), "SYNC");
    }
    EXPECT_EQ(statusLampWord(false, false, Kind::stopped, StatusSeverity::neutral), "READY");
    EXPECT_EQ(statusLampWord(false, false, Kind::stopped, StatusSeverity::active), "ACTIVE");
    EXPECT_EQ(statusLampWord(false, true, Kind::waitingForInput, StatusSeverity::warning), "WAIT");
    EXPECT_EQ(statusLampWord(false, false, Kind::failed, StatusSeverity::error), "FAULT");
}

TEST(Transport, EngagedKeyStopsAndCanAlwaysBePressed)
{
    const auto p = transportPresentation(QStringLiteral("Cancel Auto-Resume"), true, false,
                                         Kind::waitingForInput, false);
    EXPECT_EQ(p.title, "Cancel Auto-Resume");
    EXPECT_EQ(p.iconName, "stop.fill");
    EXPECT_EQ(p.caption, "DISENGAGE ROUTE");
    EXPECT_EQ(p.hint, "Stops audio monitoring");
    EXPECT_TRUE(p.isEnabled);
}

TEST(Transport, IdleKeyStartsOnlyWhenTheControllerCan)
{
    auto p = transportPresentation(QStringLiteral("Start Monitoring"), false, false, Kind::stopped,
                                   true);
    EXPECT_EQ(p.iconName, "play.fill");
    EXPECT_EQ(p.caption, "ENGAGE ROUTE");
    EXPECT_EQ(p.hint, "Starts audio monitoring");
    EXPECT_TRUE(p.isEnabled);
    p = transportPresentation(QStringLiteral("Start Monitoring"), false, false, Kind::stopped,
                              false);
    EXPECT_FALSE(p.isEnabled);
}

TEST(Transport, TransitionsShowTheirOwnCaption)
{
    const auto p = transportPresentation(QStringLiteral("Stop Monitoring"), true, true,
                                         Kind::reconfiguring, false);
    EXPECT_EQ(p.caption, "ROUTE TRANSITION");
    EXPECT_EQ(p.iconName, "stop.fill");
    const auto stopping = transportPresentation(QStringLiteral("Stop Monitoring"), false, false,
                                                Kind::stopping, false);
    EXPECT_EQ(stopping.caption, "ROUTE TRANSITION");
    EXPECT_EQ(stopping.iconName, "play.fill");
}

TEST(Mute, StateLineAndIconFollowTheSwitch)
{
    const auto on = mutePresentation(true);
    EXPECT_EQ(on.caption, "MUTE");
    EXPECT_EQ(on.stateLine, "LATCHED");
    EXPECT_EQ(on.iconName, "speaker.slash.fill");
    const auto off = mutePresentation(false);
    EXPECT_EQ(off.stateLine, "OUTPUT ON");
    EXPECT_EQ(off.iconName, "speaker.wave.2.fill");
    EXPECT_EQ(off.accessibleLabel, "Mute output");
    EXPECT_EQ(off.hint, "Toggles output mute without stopping monitoring");
}

TEST(Selectors, CaptionsForPresentSavedAndMissingSelections)
{
    AudioInputDevice device;
    device.uid = QStringLiteral("scarlett-1");
    device.name = QStringLiteral("Scarlett 2i2");
    EXPECT_EQ(deviceMenuCaption(device, device.uid), "Scarlett 2i2");
    EXPECT_EQ(deviceMenuCaption(std::nullopt, QStringLiteral("gone")),
              "Saved device (disconnected)");
    EXPECT_EQ(deviceMenuCaption(std::nullopt, std::nullopt), "Choose an input…");

    const AudioChannelPair pair{2, 3, QStringLiteral("Line 3"), QStringLiteral("Line 4")};
    EXPECT_EQ(pairMenuText(pair), "Inputs 3 / 4 — Left: Line 3 · Right: Line 4");
    EXPECT_EQ(pairMenuCaption(pair, QStringLiteral("2-3")), pairMenuText(pair));
    EXPECT_EQ(pairMenuCaption(std::nullopt, QStringLiteral("4-5")), "Saved pair (unavailable)");
    EXPECT_EQ(pairMenuCaption(std::nullopt, std::nullopt), "Choose channels…");
}

TEST(OutputSummary, NameWithRateAndFormatWhenKnown)
{
    EXPECT_EQ(outputSummary(std::nullopt), "Unavailable");
    AudioOutputDevice output;
    output.name = QStringLiteral("Speakers");
    EXPECT_EQ(outputSummary(output), "Speakers");
    output.nominalSampleRate = 44100.0;
    EXPECT_EQ(outputSummary(output), "Speakers, 44.1 kHz");
    output.physicalFormat = AudioDeviceFormat{32, true};
    output.nominalSampleRate = 48000.0;
    EXPECT_EQ(outputSummary(output), "Speakers, 48.0 kHz / 32-bit float");
}

TEST(Diagnostics, RowsInOrderWithTheErrorLast)
{
    EngineDiagnostics d;
    d.inputSampleRate = 96000.0;
    d.outputSampleRate = 0.0;
    d.bufferedFrames = 4801;
    d.targetBufferedFrames = 4800;
    d.rateCorrectionPPM = -35.4;
    d.underruns = 2;
    d.overruns = 0;
    const QList<DiagnosticsRow> expected{
        {"INPUT RATE", "96000 Hz"},
        {"OUTPUT RATE", "—"},
        {"DRIFT BUFFER", "4801 / 4800 frames"},
        {"RATE CORRECTION", "-35 ppm"},
        {"UNDERRUNS", "2"},
        {"OVERRUNS", "0"},
    };
    EXPECT_EQ(diagnosticsRows(d, std::nullopt), expected);

    const auto withError = diagnosticsRows(d, QStringLiteral("Start the input device (-50)"));
    ASSERT_EQ(withError.size(), 7);
    EXPECT_EQ(withError.last(),
              (DiagnosticsRow{"LAST ERROR", "Start the input device (-50)", true}));
}

TEST(ServiceActions, RetryWhenFailedSettingsWhenRefused)
{
    EXPECT_TRUE(showsRetry(MonitoringPhase::failed(QStringLiteral("x"))));
    EXPECT_FALSE(showsRetry(Kind::waitingForInput));
    EXPECT_TRUE(showsMicrophoneSettings(MicrophonePermission::denied));
    EXPECT_TRUE(showsMicrophoneSettings(MicrophonePermission::restricted));
    EXPECT_FALSE(showsMicrophoneSettings(MicrophonePermission::notDetermined));
    EXPECT_FALSE(showsMicrophoneSettings(MicrophonePermission::authorized));
}

} // namespace
} // namespace brevalo
