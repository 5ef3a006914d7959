#pragma once

// What every device I/O unit keeps of its configuration the same way, whatever the backend: the
// client channel maps and the largest render slice it accepts.

#include "platform/audio/audio_types.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace brevalo {

// Frames: the largest block one render may ask for.
inline constexpr std::uint32_t largestSliceFrames = 65536;

inline bool isValidSliceSize(std::uint32_t frames)
{
    return frames != 0 && frames <= largestSliceFrames;
}

struct ChannelMaps
{
    // Client channel i of the capture side takes device input channel input[i]; client channel i
    // of the playback side plays on device output channel output[i]; −1 is silence or dropped.
    std::vector<std::int32_t> input;
    std::vector<std::int32_t> output;

    // Output scope element 1 maps the capture side, input scope element 0 the playback side.
    std::int32_t set(Scope scope, std::uint32_t element, std::span<const std::int32_t> map)
    {
        if (map.empty() || map.size() > AudioBufferList::capacity ||
            std::any_of(map.begin(), map.end(), [](std::int32_t c) { return c < -1; })) {
            return status::paramError;
        }
        if (scope == Scope::output && element == inputElement) {
            input.assign(map.begin(), map.end());
        } else if (scope == Scope::input && element == outputElement) {
            output.assign(map.begin(), map.end());
        } else {
            return status::invalidScope;
        }
        return 0;
    }

    // Realtime: without a map, client channel i is device channel i.
    std::int32_t inputChannel(std::uint32_t client) const
    {
        return client < input.size() ? input[client] : static_cast<std::int32_t>(client);
    }
    std::int32_t outputChannel(std::uint32_t client) const
    {
        return client < output.size() ? output[client] : static_cast<std::int32_t>(client);
    }
};

} // namespace brevalo
