#include "core/capture_ring.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

namespace brevalo {

namespace {

// 2^-31: scales a left-justified 32-bit sample to full scale 1.0, so the most negative sample
// gives exactly 1.0.
constexpr float sampleScale = 0x1p-31f;

// Independent lanes give the same maximum as one running maximum (order does not matter) and let
// the compiler use vector instructions.
float blockPeak(const std::int32_t* samples, std::uint32_t frames)
{
    constexpr std::size_t lanes = 16;
    float lane[lanes] = {};
    std::size_t i = 0;
    for (; i + lanes <= frames; i += lanes) {
        const auto* chunk = samples + i;
        for (std::size_t j = 0; j < lanes; ++j) {
            const float magnitude = std::fabs(static_cast<float>(chunk[j]) * sampleScale);
            lane[j] = magnitude > lane[j] ? magnitude : lane[j];
        }
    }
    float peak = 0.0f;
    for (; i < frames; ++i) {
        const float magnitude = std::fabs(static_cast<float>(samples[i]) * sampleScale);
        peak = magnitude > peak ? magnitude : peak;
    }
    for (const float value : lane) {
        peak = value > peak ? value : peak;
    }
    return peak;
}

// Compares raw bit patterns: valid because the peaks are never negative or NaN.
void raisePeak(std::atomic<std::uint32_t>& word, float peak)
{
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(peak);
    std::uint32_t stored = word.load();
    while (stored < bits && !word.compare_exchange_weak(stored, bits)) {
    }
}

void copyIn(std::int32_t* storage, std::uint64_t capacity, std::uint64_t slot,
            const std::int32_t* source, std::uint32_t frames)
{
    const std::uint64_t first = std::min<std::uint64_t>(frames, capacity - slot);
    std::memcpy(storage + slot, source, first * sizeof(std::int32_t));
    std::memcpy(storage, source + first, (frames - first) * sizeof(std::int32_t));
}

void copyOut(std::int32_t* destination, const std::int32_t* storage, std::uint64_t capacity,
             std::uint64_t slot, std::uint32_t frames)
{
    const std::uint64_t first = std::min<std::uint64_t>(frames, capacity - slot);
    std::memcpy(destination, storage + slot, first * sizeof(std::int32_t));
    std::memcpy(destination + first, storage, (frames - first) * sizeof(std::int32_t));
}

} // namespace

CaptureRing* capture_ring_create(std::uint32_t capacity)
{
    if (capacity == 0) {
        return nullptr;
    }
    auto* ring = new (std::nothrow) CaptureRing{};
    if (ring == nullptr) {
        return nullptr;
    }
    ring->left = new (std::nothrow) std::int32_t[capacity]();
    ring->right = new (std::nothrow) std::int32_t[capacity]();
    if (ring->left == nullptr || ring->right == nullptr) {
        capture_ring_destroy(ring);
        return nullptr;
    }
    ring->capacity = capacity;
    return ring;
}

void capture_ring_destroy(CaptureRing* ring)
{
    if (ring == nullptr) {
        return;
    }
    delete[] ring->left;
    delete[] ring->right;
    delete ring;
}

int capture_ring_write(CaptureRing* ring, const std::int32_t* left, const std::int32_t* right,
                       std::uint32_t frames)
{
    // Once anything went wrong the take is over: no audio and no meter movement from here on.
    if (ring->errorStatus.load() != 0 || ring->stopRequested.load(std::memory_order_acquire) != 0) {
        return 0;
    }
    const std::uint64_t readIndex = ring->readIndex.load(std::memory_order_acquire);
    const std::uint64_t writeIndex = ring->writeIndex.load(std::memory_order_relaxed);
    const std::uint64_t freeFrames = readIndex - writeIndex + ring->capacity;
    if (freeFrames < frames) {
        // Storage fell behind. Dropping the block whole (never a partial write) keeps the file a
        // gap-free prefix of the take.
        std::int32_t expected = 0;
        ring->errorStatus.compare_exchange_strong(expected, -1);
        return 0;
    }

    raisePeak(ring->leftPeak, blockPeak(left, frames));
    raisePeak(ring->rightPeak, blockPeak(right, frames));

    const std::uint64_t slot = writeIndex % ring->capacity;
    copyIn(ring->left, ring->capacity, slot, left, frames);
    copyIn(ring->right, ring->capacity, slot, right, frames);
    ring->writeIndex.store(writeIndex + frames, std::memory_order_release);
    return 1;
}

std::uint32_t capture_ring_read(CaptureRing* ring, std::int32_t* left, std::int32_t* right,
                                std::uint32_t maximumFrames)
{
    const std::uint64_t writeIndex = ring->writeIndex.load(std::memory_order_acquire);
    const std::uint64_t readIndex = ring->readIndex.load(std::memory_order_relaxed);
    const auto frames =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(writeIndex - readIndex, maximumFrames));
    const std::uint64_t slot = readIndex % ring->capacity;
    copyOut(left, ring->left, ring->capacity, slot, frames);
    copyOut(right, ring->right, ring->capacity, slot, frames);
    ring->readIndex.store(readIndex + frames, std::memory_order_release);
    return frames;
}

void capture_ring_report_error(CaptureRing* ring, std::int32_t status)
{
    std::int32_t expected = 0;
    ring->errorStatus.compare_exchange_strong(expected, status);
}

std::int32_t capture_ring_error(const CaptureRing* ring)
{
    return ring->errorStatus.load(std::memory_order_acquire);
}

void capture_ring_request_stop(CaptureRing* ring)
{
    ring->stopRequested.store(1, std::memory_order_release);
}

bool capture_ring_stop_requested(const CaptureRing* ring)
{
    return ring->stopRequested.load(std::memory_order_acquire) != 0;
}

std::uint64_t capture_ring_frames_written(const CaptureRing* ring)
{
    return ring->framesWritten.load(std::memory_order_acquire);
}

void capture_ring_add_frames_written(CaptureRing* ring, std::uint32_t frames)
{
    ring->framesWritten.fetch_add(frames);
}

float capture_ring_take_peak(CaptureRing* ring, int channel)
{
    auto& word = channel == 0 ? ring->leftPeak : ring->rightPeak;
    return std::bit_cast<float>(word.exchange(0));
}

} // namespace brevalo
