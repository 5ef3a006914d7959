#include "monitor/monitor_status.h"

namespace brevalo {

MonitoringPhase::MonitoringPhase(Kind kind) : kind_(kind) {}

QString MonitoringPhase::debugText() const
{
    switch (kind_) {
    case Kind::failed:
        return QStringLiteral("failed(%1)").arg(message_);
    case Kind::stopped:
        return QStringLiteral("stopped");
    case Kind::requestingPermission:
        return QStringLiteral("requestingPermission");
    case Kind::starting:
        return QStringLiteral("starting");
    case Kind::running:
        return QStringLiteral("running");
    case Kind::reconfiguring:
        return QStringLiteral("reconfiguring");
    case Kind::stopping:
        return QStringLiteral("stopping");
    case Kind::waitingForInput:
        return QStringLiteral("waitingForInput");
    case Kind::waitingForOutput:
        return QStringLiteral("waitingForOutput");
    case Kind::waitingForFormat:
        return QStringLiteral("waitingForFormat");
    }
    return QStringLiteral("unknown");
}

MicrophonePermission microphonePermission(AudioCaptureAuthorization authorization)
{
    switch (authorization) {
    case AudioCaptureAuthorization::notDetermined:
        return MicrophonePermission::notDetermined;
    case AudioCaptureAuthorization::restricted:
        return MicrophonePermission::restricted;
    case AudioCaptureAuthorization::denied:
        return MicrophonePermission::denied;
    case AudioCaptureAuthorization::authorized:
        return MicrophonePermission::authorized;
    }
    // A status this build does not know is treated as a policy refusal.
    return MicrophonePermission::restricted;
}

QString debugText(MicrophonePermission permission)
{
    switch (permission) {
    case MicrophonePermission::notDetermined:
        return QStringLiteral("notDetermined");
    case MicrophonePermission::authorized:
        return QStringLiteral("authorized");
    case MicrophonePermission::denied:
        return QStringLiteral("denied");
    case MicrophonePermission::restricted:
        return QStringLiteral("restricted");
    }
    return QStringLiteral("unknown");
}

RouteKey RouteKey::of(const MonitoringConfiguration& configuration)
{
    return RouteKey{
        .inputDeviceID = configuration.inputDeviceID,
        .leftChannel = configuration.channelPair.leftChannel,
        .rightChannel = configuration.channelPair.rightChannel,
        .inputSampleRate = configuration.inputSampleRate,
        .inputBufferFrameSize = configuration.inputBufferFrameSize,
        .outputDeviceID = configuration.outputDeviceID,
        .outputSampleRate = configuration.outputSampleRate,
        .outputBufferFrameSize = configuration.outputBufferFrameSize,
    };
}

RouteReadiness RouteReadiness::ready(MonitoringConfiguration configuration)
{
    RouteReadiness readiness;
    readiness.kind = Kind::ready;
    readiness.configuration = std::move(configuration);
    return readiness;
}

RouteReadiness RouteReadiness::inputUnavailable(bool hasSavedSelection)
{
    RouteReadiness readiness;
    readiness.kind = Kind::inputUnavailable;
    readiness.hasSavedSelection = hasSavedSelection;
    return readiness;
}

RouteReadiness RouteReadiness::unsupportedFormat(QString route, double sampleRate)
{
    RouteReadiness readiness;
    readiness.kind = Kind::unsupportedFormat;
    readiness.route = std::move(route);
    readiness.sampleRate = sampleRate;
    return readiness;
}

RouteReadiness RouteReadiness::invalidChannelPair()
{
    RouteReadiness readiness;
    readiness.kind = Kind::invalidChannelPair;
    return readiness;
}

RouteReadiness RouteReadiness::outputUnavailable()
{
    RouteReadiness readiness;
    readiness.kind = Kind::outputUnavailable;
    return readiness;
}

MonitoringPhase RouteReadiness::waitingPhase() const
{
    switch (kind) {
    case Kind::ready:
        return MonitoringPhase::Kind::stopped;
    case Kind::inputUnavailable:
    case Kind::invalidChannelPair:
        return MonitoringPhase::Kind::waitingForInput;
    case Kind::outputUnavailable:
        return MonitoringPhase::Kind::waitingForOutput;
    case Kind::unsupportedFormat:
        return MonitoringPhase::Kind::waitingForFormat;
    }
    return MonitoringPhase::Kind::waitingForInput;
}

} // namespace brevalo
