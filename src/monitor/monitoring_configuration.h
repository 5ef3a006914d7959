#pragma once

// The values the monitoring engine is started with and reports back.

#include "monitor/audio_channel_pair.h"
#include "platform/errors.h"

#include <cstdint>
#include <optional>

namespace brevalo {

struct MonitoringConfiguration
{
    std::uint32_t inputDeviceID = 0;
    AudioChannelPair channelPair;
    double inputSampleRate = 0.0; // Hz, the input device's nominal rate
    std::uint32_t inputBufferFrameSize = 0;
    std::uint32_t outputDeviceID = 0;
    double outputSampleRate = 0.0;           // Hz
    std::uint32_t outputBufferFrameSize = 0; // 0: unknown

    bool operator==(const MonitoringConfiguration&) const = default;
};

struct EngineDiagnostics
{
    double inputSampleRate = 0.0;
    double outputSampleRate = 0.0;
    std::uint64_t bufferedFrames = 0;       // input frames waiting in the drift buffer
    std::uint64_t targetBufferedFrames = 0; // the fill the rate control steers to
    double rateCorrectionPPM = 0.0;         // varispeed playback rate − 1, in parts per million
    std::uint64_t underruns = 0;
    std::uint64_t overruns = 0;

    bool operator==(const EngineDiagnostics&) const = default;
};

struct RealtimeSnapshot
{
    float leftPeak = 0.0f; // linear, largest absolute sample since the previous snapshot
    float rightPeak = 0.0f;
    bool leftClipped = false; // latched until the controller clears it
    bool rightClipped = false;
    EngineDiagnostics diagnostics;
    // The first failure a callback recorded since the previous snapshot.
    std::optional<CoreAudioFailure> runtimeFailure;

    bool operator==(const RealtimeSnapshot&) const = default;
};

} // namespace brevalo
