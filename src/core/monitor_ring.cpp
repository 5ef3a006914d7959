#include "core/monitor_ring.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

namespace brevalo {

namespace {

// The coefficient of the 8 ms one-pole smoother at 48 kHz, used when the caller has no valid rate.
constexpr float fallbackGainCoefficient = 0.0026007787661767034f;
constexpr double gainTimeConstantSeconds = 0.008;
// A gain this close to its target is the target: less than one step of 24-bit audio (1.2e-7).
constexpr float gainSnapDistance = 1e-7f;

// Largest absolute sample of a block, starting from 0. NaN never compares greater, so NaN samples
// are skipped. A maximum does not depend on order, so independent lanes give the same result as a
// single running maximum while letting the compiler use vector instructions.
float blockPeak(const float* samples, std::uint32_t frames)
{
    constexpr std::size_t lanes = 16;
    float lane[lanes] = {};
    std::size_t i = 0;
    for (; i + lanes <= frames; i += lanes) {
        const auto* chunk = samples + i;
        for (std::size_t j = 0; j < lanes; ++j) {
            const float magnitude = std::fabs(chunk[j]);
            lane[j] = magnitude > lane[j] ? magnitude : lane[j];
        }
    }
    float peak = 0.0f;
    for (; i < frames; ++i) {
        const float magnitude = std::fabs(samples[i]);
        peak = magnitude > peak ? magnitude : peak;
    }
    for (const float value : lane) {
        peak = value > peak ? value : peak;
    }
    return peak;
}

// Only ever increases the stored peak: the control thread may have taken (zeroed) it meanwhile,
// and a concurrent take must never see a lowered value.
void raisePeak(std::atomic<std::uint32_t>& word, float peak)
{
    std::uint32_t stored = word.load(std::memory_order_relaxed);
    while (std::bit_cast<float>(stored) < peak) {
        if (word.compare_exchange_weak(stored, std::bit_cast<std::uint32_t>(peak),
                                       std::memory_order_relaxed, std::memory_order_relaxed)) {
            break;
        }
    }
}

// Copies frames between a linear buffer and the ring starting at slot, in at most two segments.
void copyIn(float* storage, std::uint64_t capacity, std::uint64_t slot, const float* source,
            std::uint32_t frames)
{
    const std::uint64_t first = std::min<std::uint64_t>(frames, capacity - slot);
    std::memcpy(storage + slot, source, first * sizeof(float));
    std::memcpy(storage, source + first, (frames - first) * sizeof(float));
}

void copyOut(float* destination, const float* storage, std::uint64_t capacity, std::uint64_t slot,
             std::uint32_t frames)
{
    const std::uint64_t first = std::min<std::uint64_t>(frames, capacity - slot);
    std::memcpy(destination, storage + slot, first * sizeof(float));
    std::memcpy(destination + first, storage, (frames - first) * sizeof(float));
}

void silence(float* left, float* right, std::uint32_t frames)
{
    std::memset(left, 0, frames * sizeof(float));
    std::memset(right, 0, frames * sizeof(float));
}

} // namespace

MonitorRing* monitor_ring_create(std::uint32_t requestedCapacity, std::uint32_t requestedTarget)
{
    const std::uint64_t wanted = std::max(requestedCapacity, monitorRingMinimumCapacity);
    // 64-bit so that requests above 2^31 round to 2^32 instead of overflowing.
    std::uint64_t capacity = 1;
    while (capacity < wanted) {
        capacity *= 2;
    }

    auto* ring = new (std::nothrow) MonitorRing{};
    if (ring == nullptr) {
        return nullptr;
    }
    ring->left = new (std::nothrow) float[capacity]();
    ring->right = new (std::nothrow) float[capacity]();
    if (ring->left == nullptr || ring->right == nullptr) {
        monitor_ring_destroy(ring);
        return nullptr;
    }
    ring->capacity = capacity;
    ring->mask = capacity - 1;
    ring->targetFrames = requestedTarget < capacity ? requestedTarget : capacity / 2;
    return ring;
}

void monitor_ring_destroy(MonitorRing* ring)
{
    if (ring == nullptr) {
        return;
    }
    delete[] ring->left;
    delete[] ring->right;
    delete ring;
}

std::uint64_t monitor_ring_write(MonitorRing* ring, const float* left, const float* right,
                                 std::uint32_t frames)
{
    // Meters first: a dropped block still happened at the input.
    const float leftPeak = blockPeak(left, frames);
    const float rightPeak = blockPeak(right, frames);
    raisePeak(ring->leftPeak, leftPeak);
    raisePeak(ring->rightPeak, rightPeak);
    if (leftPeak >= monitorRingClipThreshold) {
        ring->leftClip.store(1, std::memory_order_relaxed);
    }
    if (rightPeak >= monitorRingClipThreshold) {
        ring->rightClip.store(1, std::memory_order_relaxed);
    }

    const std::uint64_t readIndex = ring->readIndex.load(std::memory_order_acquire);
    const std::uint64_t writeIndex = ring->writeIndex.load(std::memory_order_relaxed);
    const std::uint64_t freeFrames = readIndex - writeIndex + ring->capacity;
    if (freeFrames < frames) {
        // Never a partial block: the consumer would play a splice of two moments in time.
        ring->overruns.fetch_add(1, std::memory_order_relaxed);
        ring->resyncPending.store(1, std::memory_order_release);
        return 0;
    }
    const std::uint64_t slot = writeIndex & ring->mask;
    copyIn(ring->left, ring->capacity, slot, left, frames);
    copyIn(ring->right, ring->capacity, slot, right, frames);
    ring->writeIndex.store(writeIndex + frames, std::memory_order_release);
    return frames;
}

std::uint64_t monitor_ring_read(MonitorRing* ring, float* left, float* right, std::uint32_t frames)
{
    if (ring->resyncPending.exchange(0, std::memory_order_acq_rel) != 0) {
        // Keep only the newest targetFrames frames; everything older is stale after an overrun.
        // Never move backwards: the producer may have judged the ring full from a read index that
        // was stale by the time it flagged the overrun, or dropped a block larger than the whole
        // ring, and the frames behind the read index were already played (their slots may be
        // refilled by the producer right now).
        const std::uint64_t writeIndex = ring->writeIndex.load(std::memory_order_acquire);
        const std::uint64_t readIndex = ring->readIndex.load(std::memory_order_relaxed);
        const std::uint64_t target = ring->targetFrames;
        const std::uint64_t newest = writeIndex < target ? 0 : writeIndex - target;
        ring->readIndex.store(std::max(readIndex, newest), std::memory_order_release);
        ring->primed.store(0, std::memory_order_relaxed);
        ring->gain.store(0.0f, std::memory_order_relaxed);
        silence(left, right, frames);
        return 0;
    }

    const std::uint64_t writeIndex = ring->writeIndex.load(std::memory_order_acquire);
    const std::uint64_t readIndex = ring->readIndex.load(std::memory_order_relaxed);
    const std::uint64_t available = writeIndex - readIndex;

    if (ring->primed.load(std::memory_order_relaxed) == 0) {
        // Waiting for the fill is not an underrun: no counter changes.
        if (available < std::max<std::uint64_t>(ring->targetFrames, frames)) {
            silence(left, right, frames);
            return 0;
        }
        // Playback starts from silence so the first block fades in.
        ring->gain.store(0.0f, std::memory_order_relaxed);
        ring->primed.store(1, std::memory_order_relaxed);
    }

    if (available < frames) {
        // The partial remainder is discarded rather than played: re-prime from an empty ring.
        silence(left, right, frames);
        ring->readIndex.store(writeIndex, std::memory_order_release);
        ring->primed.store(0, std::memory_order_relaxed);
        ring->underruns.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }

    const std::uint64_t slot = readIndex & ring->mask;
    copyOut(left, ring->left, ring->capacity, slot, frames);
    copyOut(right, ring->right, ring->capacity, slot, frames);
    ring->readIndex.store(readIndex + frames, std::memory_order_release);
    return frames;
}

void monitor_ring_apply_gain(MonitorRing* ring, float* left, float* right, std::uint32_t frames,
                             double sampleRate)
{
    const float coefficient =
        sampleRate > 1.0
            ? static_cast<float>(1.0 - std::exp(-1.0 / (sampleRate * gainTimeConstantSeconds)))
            : fallbackGainCoefficient;
    const float target = ring->muted.load(std::memory_order_relaxed) != 0 ? 0.0f : 1.0f;
    float gain = ring->gain.load(std::memory_order_relaxed);
    for (std::uint32_t i = 0; i < frames; ++i) {
        gain = std::fma(coefficient, target - gain, gain);
        // In single precision the decay towards 0 stalls on a denormal (about 2.7e-43): every
        // muted sample would then be a slow denormal multiply and not quite silent.
        if (std::fabs(target - gain) < gainSnapDistance) {
            gain = target;
        }
        left[i] *= gain;
        right[i] *= gain;
    }
    ring->gain.store(gain, std::memory_order_relaxed);
}

void monitor_ring_set_muted(MonitorRing* ring, bool muted)
{
    ring->muted.store(muted ? 1 : 0, std::memory_order_relaxed);
}

MonitorRingPeaks monitor_ring_take_peaks(MonitorRing* ring)
{
    MonitorRingPeaks peaks{};
    peaks.leftPeak = std::bit_cast<float>(ring->leftPeak.exchange(0, std::memory_order_relaxed));
    peaks.rightPeak = std::bit_cast<float>(ring->rightPeak.exchange(0, std::memory_order_relaxed));
    peaks.leftClipped = ring->leftClip.load(std::memory_order_relaxed) != 0;
    peaks.rightClipped = ring->rightClip.load(std::memory_order_relaxed) != 0;
    return peaks;
}

void monitor_ring_clear_clips(MonitorRing* ring)
{
    monitor_ring_clear_left_clip(ring);
    monitor_ring_clear_right_clip(ring);
}

void monitor_ring_clear_left_clip(MonitorRing* ring)
{
    ring->leftClip.store(0, std::memory_order_relaxed);
}

void monitor_ring_clear_right_clip(MonitorRing* ring)
{
    ring->rightClip.store(0, std::memory_order_relaxed);
}

std::uint64_t monitor_ring_buffered_frames(const MonitorRing* ring)
{
    // Read index first: loading it second could see it pass a stale write index. On the control
    // thread both callbacks may run between the two loads, pairing an old read index with a newer
    // write index; the ring never holds more than its capacity, so neither does the answer.
    const std::uint64_t readIndex = ring->readIndex.load(std::memory_order_acquire);
    const std::uint64_t writeIndex = ring->writeIndex.load(std::memory_order_acquire);
    return std::min(writeIndex - readIndex, ring->capacity);
}

std::uint64_t monitor_ring_target_frames(const MonitorRing* ring)
{
    return ring->targetFrames;
}

std::uint64_t monitor_ring_underruns(const MonitorRing* ring)
{
    return ring->underruns.load(std::memory_order_relaxed);
}

std::uint64_t monitor_ring_overruns(const MonitorRing* ring)
{
    return ring->overruns.load(std::memory_order_relaxed);
}

void monitor_ring_report_error(MonitorRing* ring, std::int32_t status)
{
    if (status == 0) {
        return;
    }
    std::int32_t expected = 0;
    ring->errorStatus.compare_exchange_strong(expected, status, std::memory_order_release,
                                              std::memory_order_relaxed);
}

std::int32_t monitor_ring_take_error(MonitorRing* ring)
{
    return ring->errorStatus.exchange(0, std::memory_order_acq_rel);
}

} // namespace brevalo
