#pragma once

// The hardware model: the system's devices, their streams and properties, and property
// listeners. Every read returns a status (0 = success) so that a device whose properties cannot
// be read is an ordinary case for its callers.

#include "platform/audio/audio_types.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace brevalo {

// Called on the backend's one serial notification thread, never concurrently with another
// listener of the same backend. It must not block for long: every listener waits behind it.
using PropertyListener = std::function<void(ObjectId object, const PropertyAddress& address)>;

// What addPropertyListener hands back; removePropertyListener takes back exactly this one
// registration (the same listener added twice is two registrations).
struct ListenerRegistration
{
    ObjectId objectID = unknownObject;
    PropertyAddress address;
    std::uint64_t token = 0;

    bool operator==(const ListenerRegistration&) const = default;
};

class AudioHardware
{
public:
    virtual ~AudioHardware() = default;

    // Whether the object has the property at all (an absent property is not a failure to read).
    virtual bool hasProperty(ObjectId object, const PropertyAddress& address) = 0;

    // System object.
    virtual std::int32_t devices(std::vector<ObjectId>& deviceIDs) = 0;
    // unknownObject when there is no default output.
    virtual std::int32_t defaultOutputDevice(ObjectId& device) = 0;
    // unknownObject when no device has that uid.
    virtual std::int32_t deviceForUID(const std::string& uid, ObjectId& device) = 0;

    // Devices. Strings are UTF-8.
    virtual std::int32_t deviceUID(ObjectId device, std::string& uid) = 0;
    virtual std::int32_t name(ObjectId device, std::string& name) = 0;
    // Channel count of each buffer the device delivers in that scope (one per stream); the
    // device's channel count in the scope is their sum.
    virtual std::int32_t streamConfiguration(ObjectId device, Scope scope,
                                             std::vector<std::uint32_t>& channelsPerBuffer) = 0;
    // channel: 1-based, as the element of the property.
    virtual std::int32_t elementName(ObjectId device, Scope scope, std::uint32_t channel,
                                     std::string& name) = 0;
    // Two 1-based channel numbers.
    virtual std::int32_t preferredChannelsForStereo(ObjectId device, Scope scope,
                                                    std::array<std::uint32_t, 2>& channels) = 0;
    virtual std::int32_t nominalSampleRate(ObjectId device, double& rate) = 0;
    virtual std::int32_t streams(ObjectId device, Scope scope,
                                 std::vector<ObjectId>& streamIDs) = 0;
    virtual std::int32_t bufferFrameSize(ObjectId device, std::uint32_t& frames) = 0;
    // The largest block of a device whose block size varies; unknownProperty when it does not.
    virtual std::int32_t usesVariableBufferFrameSizes(ObjectId device, std::uint32_t& frames) = 0;
    // Non-zero when alive.
    virtual std::int32_t isAlive(ObjectId device, std::uint32_t& alive) = 0;

    // Streams.
    // 1-based device channel of the stream's first channel within its scope.
    virtual std::int32_t startingChannel(ObjectId stream, std::uint32_t& channel) = 0;
    virtual std::int32_t physicalFormat(ObjectId stream, StreamFormat& format) = 0;

    // Listeners on the system object (devices, defaultOutputDevice), on devices (deviceIsAlive,
    // streamConfiguration, streams, nominalSampleRate, bufferFrameSize,
    // usesVariableBufferFrameSizes, deviceHasChanged, ioStoppedAbnormally) and on streams
    // (physicalFormat). The address must match the changed property's selector; its scope and
    // element match too, except that a global scope listens to every scope. After
    // removePropertyListener returns, the listener is not called again and no call of it is
    // still running (unless it is removed from inside itself).
    virtual std::int32_t addPropertyListener(ObjectId object, const PropertyAddress& address,
                                             PropertyListener listener,
                                             ListenerRegistration& registration) = 0;
    virtual std::int32_t removePropertyListener(const ListenerRegistration& registration) = 0;
};

} // namespace brevalo
