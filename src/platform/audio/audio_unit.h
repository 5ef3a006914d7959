#pragma once

// Audio units: the device I/O unit and the varispeed converter share this life cycle and
// configuration surface. Configuration calls, initialize, start/stop, uninitialize and dispose
// belong to the main thread; render belongs to the thread of the callback it is called from.

#include "platform/audio/audio_types.h"

#include <cstdint>
#include <span>

namespace brevalo {

class AudioUnit
{
public:
    virtual ~AudioUnit() = default;

    virtual UnitKind kind() const = 0;

    // Largest frame count one render may ask for. Buffers are sized from it at initialize.
    virtual std::int32_t setMaximumFramesPerSlice(std::uint32_t frames) = 0;
    virtual std::int32_t maximumFramesPerSlice(std::uint32_t& frames) = 0;

    virtual std::int32_t setStreamFormat(Scope scope, std::uint32_t element,
                                         const StreamFormat& format) = 0;
    virtual std::int32_t streamFormat(Scope scope, std::uint32_t element, StreamFormat& format) = 0;

    // Input scope: the callback that supplies the unit's input (the pull of a varispeed, the
    // client's audio of an output unit). Element 0.
    virtual std::int32_t setRenderCallback(Scope scope, std::uint32_t element,
                                           RenderCallback callback) = 0;

    // Checks the configuration and allocates every buffer the realtime path needs.
    virtual std::int32_t initialize() = 0;
    virtual std::int32_t uninitialize() = 0;
    // Stops and uninitializes when needed and makes every later call fail with
    // status::illegalOperation. The destructor disposes a unit that was not disposed.
    virtual std::int32_t dispose() = 0;

    // Realtime. For a device I/O unit: bus 1 inside the input callback fetches the current
    // input block in the client format and channel map. For a varispeed: bus 0 produces frames
    // output frames, pulling input through the render callback on the calling thread.
    virtual std::int32_t render(RenderActionFlags& flags, const AudioTimeStamp& time,
                                std::uint32_t bus, std::uint32_t frames,
                                AudioBufferList& buffers) = 0;
};

} // namespace brevalo
