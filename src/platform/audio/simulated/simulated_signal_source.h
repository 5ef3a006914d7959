#pragma once

// The simulation's per-channel generator behind SimSignal. Internal to the simulated backend.

#include "platform/audio/simulated/simulated_signal.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace brevalo {

class SimSignalSource
{
public:
    SimSignalSource() = default;

    // Loads a file signal's samples; false when the file cannot be read or lacks the channel.
    bool load(const SimSignal& signal);

    // Writes frames samples of device channel channel from device frame first on: integer
    // codes of bits bits for an integer stream, values in full scale 1.0 for a float stream.
    // Realtime: no allocation.
    void generate(std::uint64_t first, std::uint32_t frames, std::uint32_t channel,
                  double sampleRate, std::uint32_t bits, bool isFloat, double* out) const;

    // One sample in full scale 1.0 (not used for the counting pattern).
    double value(std::uint64_t frame, std::uint32_t channel, double sampleRate) const;

private:
    SimSignal signal_;
    std::shared_ptr<const std::vector<float>> file_;
};

// The synthesized record side: run-in, three tonal tracks separated by quiet gaps, run-out,
// then again from the start.
double albumSideSample(double seconds, std::uint64_t frame, std::uint32_t channel);
inline constexpr double albumSideSeconds = 114.0;

} // namespace brevalo
