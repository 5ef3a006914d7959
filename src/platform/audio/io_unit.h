#pragma once

// The device I/O unit: bound to one device, input side (element 1), output side (element 0) or
// both. A started unit calls its input callback once per hardware input block and its render
// callback once per hardware output block, on the device's I/O thread.
//
// Client formats: StreamFormat::float32Planar and StreamFormat::int32Planar, at the device's
// nominal rate. A client format at another rate is refused with status::unsupportedFormat (the
// unit never resamples); if the device's rate changes while the unit runs, render fails with
// status::unsupportedFormat until the client format matches again.

#include "platform/audio/audio_unit.h"

#include <cstdint>
#include <span>

namespace brevalo {

class IOUnit : public AudioUnit
{
public:
    UnitKind kind() const override { return UnitKind::io; }

    // Input scope element 1 enables capture, output scope element 0 enables playback. By
    // default the output is enabled and the input is not.
    virtual std::int32_t setEnableIO(Scope scope, std::uint32_t element, bool enable) = 0;

    virtual std::int32_t setCurrentDevice(ObjectId device) = 0;
    virtual std::int32_t currentDevice(ObjectId& device) = 0;

    // Input (output scope, element 1): one entry per client channel, the 0-based device input
    // channel it takes, or −1 for silence. Output (input scope, element 0): one entry per client
    // channel, the 0-based device output channel it plays on, or −1 to drop it. Without a map,
    // client channel i is device channel i.
    virtual std::int32_t setChannelMap(Scope scope, std::uint32_t element,
                                       std::span<const std::int32_t> map) = 0;

    // Called once per hardware input block with a null buffer list; fetch the block with
    // render(flags, time, inputElement, frames, yourBuffers).
    virtual std::int32_t setInputCallback(RenderCallback callback) = 0;

    virtual std::int32_t start() = 0;
    // Returns once no callback of this unit is running or will run.
    virtual std::int32_t stop() = 0;
};

} // namespace brevalo
