#include "recording/review_frame_ring.h"

#include <algorithm>
#include <bit>

namespace brevalo {

ReviewFrameRing::ReviewFrameRing(std::uint32_t capacityFrames)
    : capacity_(std::bit_ceil(std::max<std::uint32_t>(capacityFrames, 2))), mask_(capacity_ - 1),
      samples_(new float[std::size_t{capacity_} * channels]())
{}

std::uint32_t ReviewFrameRing::writableSpan(float*& where)
{
    const std::uint64_t write = writeIndex_.load(std::memory_order_relaxed);
    const std::uint64_t read = readIndex_.load(std::memory_order_acquire);
    const std::uint64_t offset = write & mask_;
    where = samples_.get() + offset * channels;
    const std::uint64_t free = capacity_ - (write - read);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(free, capacity_ - offset));
}

void ReviewFrameRing::commitWrite(std::uint32_t frames)
{
    writeIndex_.store(writeIndex_.load(std::memory_order_relaxed) + frames,
                      std::memory_order_release);
}

void ReviewFrameRing::markFinished()
{
    finished_.store(true, std::memory_order_release);
}

std::uint32_t ReviewFrameRing::readableSpan(const float*& where) const
{
    const std::uint64_t read = readIndex_.load(std::memory_order_relaxed);
    const std::uint64_t write = writeIndex_.load(std::memory_order_acquire);
    const std::uint64_t offset = read & mask_;
    where = samples_.get() + offset * channels;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(write - read, capacity_ - offset));
}

void ReviewFrameRing::commitRead(std::uint32_t frames)
{
    readIndex_.store(readIndex_.load(std::memory_order_relaxed) + frames,
                     std::memory_order_release);
}

std::uint64_t ReviewFrameRing::readable() const
{
    const std::uint64_t read = readIndex_.load(std::memory_order_acquire);
    return writeIndex_.load(std::memory_order_acquire) - read;
}

} // namespace brevalo
