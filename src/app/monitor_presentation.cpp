#include "app/monitor_presentation.h"

#include "monitor/display_format.h"

#include <cmath>

namespace brevalo {

namespace {

// Whole decibels for the spoken bar value ("-12"); never "-0".
QString wholeDecibels(double dbfs)
{
    if (!std::isfinite(dbfs)) {
        return formatDecimal(0, dbfs);
    }
    const long rounded = std::lround(dbfs);
    return QString::number(rounded == 0 ? 0L : rounded);
}

QString rateText(double rate)
{
    return rate > 0.0 ? formatDecimal(0, rate) + QStringLiteral(" Hz") : QStringLiteral("—");
}

} // namespace

MeterTexts meterTexts(const QString& label, const MeterReading& reading)
{
    const QString lower = label.toLower();
    const QString memory = formatDecimal(1, reading.sessionPeakDBFS);
    MeterTexts t;
    t.barLabel = label + QStringLiteral(" input level");
    t.barValue = wholeDecibels(reading.levelDBFS) +
                 QStringLiteral(" decibels full scale, held peak ") +
                 wholeDecibels(reading.peakDBFS) + QStringLiteral(" decibels full scale, ") +
                 (reading.isClipping ? QStringLiteral("clipping indicator latched")
                                     : QStringLiteral("no clipping"));
    t.memoryText = memory + QStringLiteral(" dBFS");
    t.memoryLabel = QStringLiteral("Reset ") + lower + QStringLiteral(" peak memory");
    t.memoryHelp = t.memoryLabel + QStringLiteral(" · the next peak starts a new maximum");
    t.memoryValue = memory + QStringLiteral(" decibels full scale");
    t.memoryHint = QStringLiteral("The next measured peak starts a new maximum");
    if (reading.isClipping) {
        t.clipLabel = QStringLiteral("Clear ") + lower + QStringLiteral(" clipping indicator");
        t.clipHelp = QStringLiteral("Click to clear the latched clip indicator");
        t.clipValue = QStringLiteral("Clipping detected");
        t.clipHint = QStringLiteral("Press to clear the latched indicator");
    } else {
        t.clipLabel = label + QStringLiteral(" clipping indicator");
        t.clipHelp = QStringLiteral("No clipping detected");
        t.clipValue = QStringLiteral("No clipping");
        t.clipHint = QStringLiteral("The lamp latches when clipping is detected");
    }
    return t;
}

bool isRouteTransition(MonitoringPhase::Kind phase)
{
    using Kind = MonitoringPhase::Kind;
    return phase == Kind::requestingPermission || phase == Kind::starting ||
           phase == Kind::reconfiguring || phase == Kind::stopping;
}

QString statusLampWord(bool isActive, bool isMuted, MonitoringPhase::Kind phase,
                       StatusSeverity severity)
{
    if (isActive) {
        return isMuted ? QStringLiteral("MUTED") : QStringLiteral("ACTIVE");
    }
    if (isRouteTransition(phase)) {
        return QStringLiteral("SYNC");
    }
    switch (severity) {
    case StatusSeverity::neutral:
        return QStringLiteral("READY");
    case StatusSeverity::active:
        return QStringLiteral("ACTIVE");
    case StatusSeverity::warning:
        return QStringLiteral("WAIT");
    case StatusSeverity::error:
        break;
    }
    return QStringLiteral("FAULT");
}

TransportPresentation transportPresentation(const QString& title, bool monitorIntent, bool isActive,
                                            MonitoringPhase::Kind phase, bool canStartMonitoring)
{
    const bool engaged = monitorIntent || isActive;
    TransportPresentation p;
    p.title = title;
    p.iconName = engaged ? QStringLiteral("stop.fill") : QStringLiteral("play.fill");
    if (isRouteTransition(phase)) {
        p.caption = QStringLiteral("ROUTE TRANSITION");
    } else {
        p.caption = engaged ? QStringLiteral("DISENGAGE ROUTE") : QStringLiteral("ENGAGE ROUTE");
    }
    p.hint = engaged ? QStringLiteral("Stops audio monitoring")
                     : QStringLiteral("Starts audio monitoring");
    p.isEnabled = engaged || canStartMonitoring;
    return p;
}

MutePresentation mutePresentation(bool isMuted)
{
    MutePresentation p;
    p.caption = QStringLiteral("MUTE");
    p.stateLine = isMuted ? QStringLiteral("LATCHED") : QStringLiteral("OUTPUT ON");
    p.iconName =
        isMuted ? QStringLiteral("speaker.slash.fill") : QStringLiteral("speaker.wave.2.fill");
    p.accessibleLabel = QStringLiteral("Mute output");
    p.hint = QStringLiteral("Toggles output mute without stopping monitoring");
    return p;
}

QString deviceMenuCaption(const std::optional<AudioInputDevice>& selected,
                          const std::optional<QString>& savedDeviceUID)
{
    if (selected) {
        return selected->name;
    }
    if (savedDeviceUID && !savedDeviceUID->isEmpty()) {
        return QStringLiteral("Saved device (disconnected)");
    }
    return QStringLiteral("Choose an input…");
}

QString pairMenuText(const AudioChannelPair& pair)
{
    return pairLabel(pair) + QStringLiteral(" — Left: ") + pair.leftName +
           QStringLiteral(" · Right: ") + pair.rightName;
}

QString pairMenuCaption(const std::optional<AudioChannelPair>& selected,
                        const std::optional<QString>& savedPairID)
{
    if (selected) {
        return pairMenuText(*selected);
    }
    if (savedPairID && !savedPairID->isEmpty()) {
        return QStringLiteral("Saved pair (unavailable)");
    }
    return QStringLiteral("Choose channels…");
}

QString outputSummary(const std::optional<AudioOutputDevice>& output)
{
    if (!output) {
        return QStringLiteral("Unavailable");
    }
    const auto rate = formatRateLabel(output->physicalFormat, output->nominalSampleRate);
    return rate ? output->name + QStringLiteral(", ") + *rate : output->name;
}

QList<DiagnosticsRow> diagnosticsRows(const EngineDiagnostics& d,
                                      const std::optional<QString>& technicalError)
{
    QList<DiagnosticsRow> rows{
        {QStringLiteral("INPUT RATE"), rateText(d.inputSampleRate)},
        {QStringLiteral("OUTPUT RATE"), rateText(d.outputSampleRate)},
        {QStringLiteral("DRIFT BUFFER"), QString::number(d.bufferedFrames) + QStringLiteral(" / ") +
                                             QString::number(d.targetBufferedFrames) +
                                             QStringLiteral(" frames")},
        {QStringLiteral("RATE CORRECTION"),
         formatDecimal(0, d.rateCorrectionPPM) + QStringLiteral(" ppm")},
        {QStringLiteral("UNDERRUNS"), QString::number(d.underruns)},
        {QStringLiteral("OVERRUNS"), QString::number(d.overruns)},
    };
    if (technicalError) {
        rows.append({QStringLiteral("LAST ERROR"), *technicalError, true});
    }
    return rows;
}

bool showsRetry(const MonitoringPhase& phase)
{
    return phase.kind() == MonitoringPhase::Kind::failed;
}

bool showsMicrophoneSettings(MicrophonePermission permission)
{
    return permission == MicrophonePermission::denied ||
           permission == MicrophonePermission::restricted;
}

} // namespace brevalo
