#pragma once

// The varispeed converter: 32-bit float planar in and out, each side at its own rate. Rendering
// it pulls input through its render callback (input scope, element 0) on the rendering thread,
// as many frames as the output block needs at the current playback rate. A playback rate above
// 1 consumes input faster.

#include "platform/audio/audio_unit.h"

#include <cstdint>

namespace brevalo {

class VarispeedUnit : public AudioUnit
{
public:
    UnitKind kind() const override { return UnitKind::varispeed; }

    // 0…127; 127 selects the best quality this build affords in real time.
    virtual std::int32_t setRenderQuality(std::uint32_t quality) = 0;
    virtual std::int32_t renderQuality(std::uint32_t& quality) = 0;

    // May be set from the render thread and read from any other: an atomic float. Accepted
    // range 0.25…4; outside it status::paramError.
    virtual std::int32_t setPlaybackRate(float rate) = 0;
    virtual std::int32_t playbackRate(float& rate) = 0;
};

} // namespace brevalo
