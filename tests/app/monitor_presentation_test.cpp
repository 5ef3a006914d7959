// Texts the panel chooses per controller state.

#include "app/monitor_presentation.h"

#include <gtest/gtest.h>

namespace brevalo {
namespace {

using Kind = MonitoringPhase::Kind;

TEST(MeterTexts, RoundTheNumbersForEachPlace)
{
    MeterReading reading{
        .levelDBFS = -18.4, .peakDBFS = -6.6, .sessionPeakDBFS = -3.26, .isClipping = false};
    const MeterTexts t = meterTexts(QStringLiteral("Left"), reading);
    EXPECT_EQ(t.barValue, "-18 decibels full scale, held peak -7 decibels full scale, no clipping");
    EXPECT_EQ(t.memoryText, "-3.3 dBFS");
    EXPECT_EQ(t.memoryValue, "-3.3 decibels full scale");
    reading = {.levelDBFS = -0.2, .peakDBFS = 0.0, .sessionPeakDBFS = 0.0, .isClipping = true};
    EXPECT_EQ(meterTexts(QStringLiteral("Right"), reading).barValue,
              "0 decibels full scale, held peak 0 decibels full scale, clipping "
              "indicator latched");
    EXPECT_EQ(meterTexts(QStringLiteral("Right"), reading).memoryText, "0.0 dBFS");
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

TEST(Transport, KeyFollowsEngagementAndTransitions)
{
    const auto engaged = transportPresentation(QStringLiteral("Cancel Auto-Resume"), true, false,
                                               Kind::waitingForInput, false);
    EXPECT_EQ(engaged.title, "Cancel Auto-Resume");
    EXPECT_EQ(engaged.iconName, "stop.fill");
    EXPECT_EQ(engaged.caption, "DISENGAGE ROUTE");
    EXPECT_TRUE(engaged.isEnabled) << "an engaged key can always be pressed";
    EXPECT_FALSE(transportPresentation(QStringLiteral("Start Monitoring"), false, false,
                                       Kind::stopped, false)
                     .isEnabled);
    const auto stopping = transportPresentation(QStringLiteral("Stop Monitoring"), false, false,
                                                Kind::stopping, false);
    EXPECT_EQ(stopping.caption, "ROUTE TRANSITION");
    EXPECT_EQ(stopping.iconName, "play.fill");
    EXPECT_EQ(stopping.hint, "Starts audio monitoring");
}

TEST(Selectors, PairCaptionsForPresentAndSavedSelections)
{
    const AudioChannelPair pair{2, 3, QStringLiteral("Line 3"), QStringLiteral("Line 4")};
    EXPECT_EQ(pairMenuText(pair), "Inputs 3 / 4 — Left: Line 3 · Right: Line 4");
    EXPECT_EQ(pairMenuCaption(pair, QStringLiteral("2-3")), pairMenuText(pair));
    EXPECT_EQ(pairMenuCaption(std::nullopt, QStringLiteral("4-5")), "Saved pair (unavailable)");
}

TEST(OutputSummary, NameWithRateAndFormatWhenKnown)
{
    EXPECT_EQ(outputSummary(std::nullopt), "Unavailable");
    AudioOutputDevice output;
    output.name = QStringLiteral("Speakers");
    EXPECT_EQ(outputSummary(output), "Speakers");
    output.nominalSampleRate = 44100.0;
    EXPECT_EQ(outputSummary(output), "Speakers, 44.1 kHz");
}

TEST(Diagnostics, RowsInOrderWithTheErrorLast)
{
    const EngineDiagnostics d{96000.0, 0.0, 4801, 4800, -35.4, 2, 0};
    QList<DiagnosticsRow> expected{
        {"INPUT RATE", "96000 Hz"},
        {"OUTPUT RATE", "—"},
        {"DRIFT BUFFER", "4801 / 4800 frames"},
        {"RATE CORRECTION", "-35 ppm"},
        {"UNDERRUNS", "2"},
        {"OVERRUNS", "0"},
    };
    EXPECT_EQ(diagnosticsRows(d, std::nullopt), expected);
    expected.append({"LAST ERROR", "Start the input device (-50)", true});
    EXPECT_EQ(diagnosticsRows(d, QStringLiteral("Start the input device (-50)")), expected);
}

TEST(ServiceActions, SettingsOnlyWhenRefused)
{
    EXPECT_TRUE(showsMicrophoneSettings(MicrophonePermission::restricted));
    EXPECT_FALSE(showsMicrophoneSettings(MicrophonePermission::notDetermined));
}

} // namespace
} // namespace brevalo
