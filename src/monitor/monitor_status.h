#pragma once

// The value types the monitor controller publishes besides its meters: the monitoring phase,
// the microphone permission, the route a running engine was started on, the readiness of the
// selected route and the status line shown for all of them.

#include "monitor/monitoring_configuration.h"
#include "platform/audio/audio_capture_permission.h"

#include <QMetaType>
#include <QString>

#include <cstdint>
#include <optional>

namespace brevalo {

class MonitoringPhase
{
public:
    enum class Kind
    {
        failed, // carries a user-facing message
        stopped,
        requestingPermission,
        starting,
        running,
        reconfiguring,
        stopping,
        waitingForInput,
        waitingForOutput,
        waitingForFormat,
    };

    MonitoringPhase() = default; // stopped
    MonitoringPhase(Kind kind);  // NOLINT(google-explicit-constructor): phases read as their case

    static MonitoringPhase failed(QString message) { return {Kind::failed, std::move(message)}; }

    Kind kind() const { return kind_; }
    // Empty unless failed.
    const QString& failureMessage() const { return message_; }

    bool isWaiting() const
    {
        return kind_ == Kind::waitingForInput || kind_ == Kind::waitingForOutput ||
               kind_ == Kind::waitingForFormat;
    }

    // "failed(<message>)", "running": for test output and diagnostics.
    QString debugText() const;

    // The case, and for failed also the message.
    bool operator==(const MonitoringPhase&) const = default;

private:
    MonitoringPhase(Kind kind, QString message) : kind_(kind), message_(std::move(message)) {}

    Kind kind_ = Kind::stopped;
    QString message_;
};

enum class MicrophonePermission
{
    notDetermined,
    authorized,
    denied,
    restricted,
};

MicrophonePermission microphonePermission(AudioCaptureAuthorization authorization);
// "notDetermined", "authorized", ...
QString debugText(MicrophonePermission permission);

// What the running engine was started with: a configuration without the channel names, so
// that a renamed channel does not restart monitoring.
struct RouteKey
{
    std::uint32_t inputDeviceID = 0;
    std::int32_t leftChannel = 0;
    std::int32_t rightChannel = 0;
    double inputSampleRate = 0.0;
    std::uint32_t inputBufferFrameSize = 0;
    std::uint32_t outputDeviceID = 0;
    double outputSampleRate = 0.0;
    std::uint32_t outputBufferFrameSize = 0;

    static RouteKey of(const MonitoringConfiguration& configuration);

    bool operator==(const RouteKey&) const = default;
};

struct RouteReadiness
{
    enum class Kind
    {
        ready,             // configuration is set
        inputUnavailable,  // hasSavedSelection tells whether an input was chosen before
        unsupportedFormat, // route ("input" or "output") and sampleRate (Hz)
        invalidChannelPair,
        outputUnavailable,
    };

    Kind kind = Kind::outputUnavailable;
    std::optional<MonitoringConfiguration> configuration;
    bool hasSavedSelection = false;
    QString route;
    double sampleRate = 0.0;

    static RouteReadiness ready(MonitoringConfiguration configuration);
    static RouteReadiness inputUnavailable(bool hasSavedSelection);
    static RouteReadiness unsupportedFormat(QString route, double sampleRate);
    static RouteReadiness invalidChannelPair();
    static RouteReadiness outputUnavailable();

    bool isReady() const { return kind == Kind::ready; }
    // The phase monitoring waits in while the route is not ready (stopped when it is).
    MonitoringPhase waitingPhase() const;

    bool operator==(const RouteReadiness&) const = default;
};

enum class StatusSeverity
{
    neutral,
    active,
    warning,
    error,
};

struct StatusPresentation
{
    QString title;
    std::optional<QString> detail;
    StatusSeverity severity = StatusSeverity::neutral;

    bool operator==(const StatusPresentation&) const = default;
};

} // namespace brevalo

Q_DECLARE_METATYPE(brevalo::MonitoringPhase)
Q_DECLARE_METATYPE(brevalo::MicrophonePermission)
Q_DECLARE_METATYPE(brevalo::RouteReadiness)
Q_DECLARE_METATYPE(brevalo::StatusPresentation)
Q_DECLARE_METATYPE(brevalo::EngineDiagnostics)
