#pragma once

// Lock-free single-producer/single-consumer ring of interleaved stereo 32-bit float frames that
// carries a master segment from the review player's reader (producer) to the output device's
// render callback (consumer). Both sides work on contiguous spans of the ring, so the reader
// decodes straight into it and the sample-rate converter reads straight out of it.
//
// Threads: only the producer calls writableSpan, commitWrite and markFinished; only the consumer
// calls readableSpan and commitRead. readable and finished may be read from any thread. The
// consumer side does not allocate, lock or block.

#include <atomic>
#include <cstdint>
#include <memory>

namespace brevalo {

class ReviewFrameRing
{
public:
    static constexpr std::uint32_t channels = 2;

    // Capacity rounds up to a power of two (at least 2 frames). Throws std::bad_alloc.
    explicit ReviewFrameRing(std::uint32_t capacityFrames);

    std::uint32_t capacity() const { return capacity_; }

    // Producer. Free frames that follow each other in memory from the write position; where
    // receives their first sample.
    std::uint32_t writableSpan(float*& where);
    void commitWrite(std::uint32_t frames);
    // Producer: no frame will follow. Published after every frame committed before it.
    void markFinished();

    // Consumer. Readable frames that follow each other in memory; where receives the first.
    std::uint32_t readableSpan(const float*& where) const;
    void commitRead(std::uint32_t frames);

    // Any thread. Read finished before readable to learn whether the frames seen are the last.
    std::uint64_t readable() const;
    bool finished() const { return finished_.load(std::memory_order_acquire); }

private:
    std::uint32_t capacity_;
    std::uint64_t mask_;
    std::unique_ptr<float[]> samples_;
    alignas(64) std::atomic<std::uint64_t> writeIndex_{0}; // frames ever written
    alignas(64) std::atomic<std::uint64_t> readIndex_{0};  // frames ever read
    alignas(64) std::atomic<bool> finished_{false};
};

} // namespace brevalo
