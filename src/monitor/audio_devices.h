#pragma once

// The records of the device catalog: plain values shared by the engine, the controller and the
// views.

#include "monitor/audio_channel_pair.h"

#include <QHashFunctions>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace brevalo {

// The sample format of a device's physical streams.
struct AudioDeviceFormat
{
    std::uint32_t bitDepth = 0; // bits per channel
    bool isFloatingPoint = false;

    // "24-bit", "32-bit float".
    QString displayText() const;

    bool operator==(const AudioDeviceFormat&) const = default;
};

struct AudioInputDevice
{
    std::uint32_t id = 0; // audio object id; may be reused by another device later, uid may not
    QString uid;
    QString name;
    QStringList channelNames;                        // index = 0-based input channel
    QList<AudioChannelPair> channelPairs;            // preferred pair first
    double nominalSampleRate = 0.0;                  // Hz, 0 when unreadable
    std::optional<AudioDeviceFormat> physicalFormat; // only when every input stream agrees
    std::uint32_t bufferFrameSize = 0;
    bool isAlive = false;

    bool operator==(const AudioInputDevice&) const = default;
};

struct AudioOutputDevice
{
    std::uint32_t id = 0;
    QString uid;
    QString name;
    double nominalSampleRate = 0.0;
    std::optional<AudioDeviceFormat> physicalFormat;
    std::uint32_t bufferFrameSize = 0;
    bool isAlive = false;

    bool operator==(const AudioOutputDevice&) const = default;
};

size_t qHash(const AudioDeviceFormat& format, size_t seed = 0);
size_t qHash(const AudioInputDevice& device, size_t seed = 0);
size_t qHash(const AudioOutputDevice& device, size_t seed = 0);

} // namespace brevalo
