#pragma once

// The side master on disk: a CAF file of little-endian signed integer PCM, interleaved stereo,
// at the device's own bit depth and rate, written through libsndfile. The master writer's drain
// is its only user; tests put their own sink in its place to stall or fail the storage.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace brevalo {

// One open master. Every call comes from the writer's drain thread.
class MasterFileSink
{
public:
    virtual ~MasterFileSink() = default;

    // Appends frames packed frames (bytes holds frames × bytes per frame). framesWritten is how
    // many of them reached the file; a status other than 0 is a failed write.
    virtual std::int32_t write(const std::byte* bytes, std::uint32_t frames,
                               std::uint32_t& framesWritten) = 0;
    // Closes the file; later writes fail. Returns the close status.
    virtual std::int32_t close() = 0;
};

// Opens a new master: (location, bit depth, sample rate) → an open sink, or a thrown error.
using MasterFileOpener = std::function<std::unique_ptr<MasterFileSink>(
    const QString& path, std::uint32_t bitDepth, double sampleRate)>;

// Statuses of the master file. A system call's failure is −errno (an existing file is −17,
// EEXIST); a failure libsndfile reports by its own error number n is −(1000 + n).
namespace masterFileStatus {
inline constexpr std::int32_t libraryBase = -1000;
std::int32_t fromErrno(int error);
std::int32_t fromLibrary(int error);
} // namespace masterFileStatus

// Creates the CAF master on a descriptor opened with O_CREAT | O_EXCL, so an existing file is
// refused and left as it was (CoreAudioFailure "Create the side master" with the status). The
// header is rewritten after every write, so the file a killed process leaves behind counts
// every frame stored before the kill. The packed bytes go to the file unchanged.
std::unique_ptr<MasterFileSink> openCafMaster(const QString& path, std::uint32_t bitDepth,
                                              double sampleRate);

// The file's byte layout: frame i's left sample at bytes [i × 2B, i × 2B + B) and its right
// sample at [i × 2B + B, (i + 1) × 2B), B = bitDepth / 8; each sample is the left-justified
// 32-bit word shifted right (logically) by 32 − bitDepth, least significant byte first.
void packMasterFrames(const std::int32_t* left, const std::int32_t* right, std::uint32_t frames,
                      std::uint32_t bitDepth, std::byte* out);

} // namespace brevalo
