#pragma once

// What the monitor panel shows for a given controller state: captions, lamp words, icon names,
// menu texts, diagnostics rows and the accessibility texts of the meters. Plain functions over
// the controller's values, so every rule is testable without drawing anything.

#include "monitor/audio_devices.h"
#include "monitor/meter_reading.h"
#include "monitor/monitor_status.h"
#include "monitor/monitoring_configuration.h"

#include <QList>
#include <QString>

#include <optional>

namespace brevalo {

// Accessibility and help texts of one level meter.
struct MeterTexts
{
    QString barLabel;
    QString barValue;
    QString memoryText; // the readout on the peak-memory button
    QString memoryLabel;
    QString memoryHelp;
    QString memoryValue;
    QString memoryHint;
    QString clipLabel;
    QString clipHelp;
    QString clipValue;
    QString clipHint;

    bool operator==(const MeterTexts&) const = default;
};
// label is "Left" or "Right".
MeterTexts meterTexts(const QString& label, const MeterReading& reading);

// requestingPermission, starting, reconfiguring, stopping: the route is changing hands.
bool isRouteTransition(MonitoringPhase::Kind phase);

// "MUTED", "ACTIVE", "SYNC", "READY", "WAIT" or "FAULT".
QString statusLampWord(bool isActive, bool isMuted, MonitoringPhase::Kind phase,
                       StatusSeverity severity);

struct TransportPresentation
{
    QString title;
    QString caption;  // above the key
    QString iconName; // "stop.fill" or "play.fill"
    QString hint;
    bool isEnabled = false;

    bool operator==(const TransportPresentation&) const = default;
};
// title is the controller's transportTitle. The key can always stop a running monitor or one
// with the intent set, and starts only when the controller can start.
TransportPresentation transportPresentation(const QString& title, bool monitorIntent, bool isActive,
                                            MonitoringPhase::Kind phase, bool canStartMonitoring);

struct MutePresentation
{
    QString caption;
    QString stateLine;
    QString iconName;
    QString accessibleLabel;
    QString hint;

    bool operator==(const MutePresentation&) const = default;
};
MutePresentation mutePresentation(bool isMuted);

// The device menu's caption: the selected device's name, else a note about a saved but absent
// device, else an invitation to choose.
QString deviceMenuCaption(const std::optional<AudioInputDevice>& selected,
                          const std::optional<QString>& savedDeviceUID);
// "Inputs 1 / 2 — Left: In 1 · Right: In 2".
QString pairMenuText(const AudioChannelPair& pair);
QString pairMenuCaption(const std::optional<AudioChannelPair>& selected,
                        const std::optional<QString>& savedPairID);
// "Speakers, 48.0 kHz / 32-bit float", or "Unavailable".
QString outputSummary(const std::optional<AudioOutputDevice>& output);

struct DiagnosticsRow
{
    QString title;
    QString value;
    bool isError = false; // drawn in red

    bool operator==(const DiagnosticsRow&) const = default;
};
// In display order; the last-error row only when there is an error.
QList<DiagnosticsRow> diagnosticsRows(const EngineDiagnostics& diagnostics,
                                      const std::optional<QString>& technicalError);

// The service actions shown for a state.
bool showsRetry(const MonitoringPhase& phase);
bool showsMicrophoneSettings(MicrophonePermission permission);

// Fixed texts of the panel.
namespace panelText {
inline const QString title = QStringLiteral("BREVALO CAPTURE");
inline const QString subtitle = QStringLiteral("STEREO INPUT  ·  SYSTEM OUTPUT");
inline const QString badge = QStringLiteral("SC-01");
inline const QString signalPath = QStringLiteral("SIGNAL PATH");
inline const QString levelMeters = QStringLiteral("LEVEL METERS");
inline const QString systemStatus = QStringLiteral("SYSTEM STATUS");
inline const QString outputTransport = QStringLiteral("OUTPUT / TRANSPORT");
inline const QString peakMemory = QStringLiteral("dBFS · PEAK MEMORY");
inline const QString input = QStringLiteral("INPUT");
inline const QString channels = QStringLiteral("CHANNELS");
inline const QString output = QStringLiteral("OUTPUT");
inline const QString system = QStringLiteral("SYSTEM");
inline const QString status = QStringLiteral("STATUS");
inline const QString diagnostics = QStringLiteral("SERVICE  ·  TECHNICAL DIAGNOSTICS");
inline const QString retry = QStringLiteral("Retry");
inline const QString microphoneSettings = QStringLiteral("Open Microphone Settings");
inline const QString audioSetup = QStringLiteral("Open Sound Settings");
inline const QString openCapture = QStringLiteral("Open album capture");
inline const QString openCaptureHint =
    QStringLiteral("Opens a separate window for metadata, recording, track boundaries, and export");
} // namespace panelText

} // namespace brevalo
