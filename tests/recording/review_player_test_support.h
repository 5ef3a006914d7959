#pragma once

// Masters for the review player's tests, written with libsndfile the way the recorder stores
// them: CAF, little-endian signed 24-bit integers, interleaved stereo.

#include <sndfile.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <vector>

namespace brevalo::test {

// sample(frame, channel) is a 24-bit value.
inline std::filesystem::path
writeMaster(const std::filesystem::path& path, double rate, std::int64_t frames,
            const std::function<std::int32_t(std::int64_t, int)>& sample)
{
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate);
    info.channels = 2;
    info.format = SF_FORMAT_CAF | SF_FORMAT_PCM_24 | SF_ENDIAN_LITTLE;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        throw std::runtime_error(sf_strerror(nullptr));
    }
    std::vector<int> interleaved(static_cast<std::size_t>(frames) * 2);
    for (std::int64_t i = 0; i < frames; ++i) {
        for (int c = 0; c < 2; ++c) {
            // sf_write_int takes left-justified 32-bit words.
            interleaved[static_cast<std::size_t>(i * 2 + c)] =
                static_cast<int>(static_cast<std::uint32_t>(sample(i, c)) << 8);
        }
    }
    sf_writef_int(file, interleaved.data(), frames);
    sf_close(file);
    return path;
}

} // namespace brevalo::test
