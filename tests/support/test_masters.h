#pragma once

// Masters for tests, written and read with libsndfile the way the recorder stores them: CAF,
// interleaved stereo integer PCM, little-endian unless asked otherwise.

#include <sndfile.h>

#include <QFile>
#include <QString>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

namespace brevalo::test {

// sample(frame, channel) is a signed code of `bits` bits.
inline QString writeTestMaster(const QString& path, int bits, int rate, std::int64_t frames,
                               const std::function<std::int32_t(std::int64_t, int)>& sample,
                               int endian = SF_ENDIAN_LITTLE)
{
    const int subtype = bits == 16   ? SF_FORMAT_PCM_16
                        : bits == 24 ? SF_FORMAT_PCM_24
                                     : SF_FORMAT_PCM_32;
    SF_INFO info{0, rate, 2, SF_FORMAT_CAF | subtype | endian, 0, 0};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (file == nullptr) {
        throw std::runtime_error(sf_strerror(nullptr));
    }
    // sf_writef_int takes left-justified 32-bit words.
    std::vector<int> words(static_cast<std::size_t>(frames) * 2);
    for (std::size_t i = 0; i < words.size(); ++i) {
        const auto code = sample(static_cast<std::int64_t>(i / 2), static_cast<int>(i % 2));
        words[i] = static_cast<int>(static_cast<std::uint32_t>(code) << (32 - bits));
    }
    const auto written = sf_writef_int(file, words.data(), frames);
    sf_close(file);
    if (written != frames) {
        throw std::runtime_error("short test master write");
    }
    return path;
}

// Every frame as left-justified words, interleaved; empty when the file does not open.
inline std::vector<std::int32_t> readTestMaster(const QString& path, SF_INFO& info)
{
    info = {};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    std::vector<std::int32_t> words(file != nullptr ? static_cast<std::size_t>(info.frames) * 2
                                                    : 0);
    if (file != nullptr) {
        sf_readf_int(file, words.data(), info.frames);
        sf_close(file);
    }
    return words;
}

} // namespace brevalo::test
