#pragma once

namespace brevalo {

// One waveform bar: the extremes of a group of frames over both channels, as samples scaled to
// −1.0 … 1.0. Every group starts from silence, so minimum ≤ 0.0 ≤ maximum.
struct WaveformPeak
{
    float minimum = 0.0F;
    float maximum = 0.0F;

    bool operator==(const WaveformPeak&) const = default;
};

} // namespace brevalo
