// Producer and consumer on their own threads, with the control thread polling meters and counters
// meanwhile. Every frame carries its position in the source stream, so the consumer can prove
// order: no repeats, no reordering, no gaps other than whole dropped blocks and the jumps a resync
// or underrun announces by returning 0. Both realtime sides count their allocations: every branch
// runs here (overrun, resync, underrun, re-priming, the gain ramp), and none may allocate.

#include "core/capture_ring.h"
#include "core/monitor_ring.h"

#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

namespace brevalo {
namespace {

using Clock = std::chrono::steady_clock;

struct Random
{
    std::minstd_rand engine;
    std::uint32_t next(std::uint32_t bound) { return static_cast<std::uint32_t>(engine() % bound); }
};

// Float samples are exact integers only up to 2^24, so a frame number is split over both channels.
constexpr std::uint64_t lowBits = 1u << 24;

enum class Phase : int
{
    both,
    producerOnly,
    consumerOnly,
    finished
};

TEST(MonitorRingStress, FramesArriveInOrderWithOnlyWholeBlockOrResyncGapsAndNoAllocation)
{
    MonitorRing* ring = monitor_ring_create(1024, 256);
    ASSERT_NE(ring, nullptr);
    constexpr std::uint32_t block = 128;
    std::atomic<Phase> phase{Phase::both};
    std::atomic<int> violations{0};
    std::atomic<std::uint64_t> framesOut{0};
    const std::uint64_t allocationsBefore = test::countedAllocations();

    std::thread producer([&] {
        std::vector<float> left(block), right(block);
        Random random{std::minstd_rand(55)};
        std::uint64_t next = 0; // source time: advances whether or not the block is accepted
        test::countAllocationsOnThisThread(true);
        for (Phase p; (p = phase.load(std::memory_order_relaxed)) != Phase::finished;) {
            if (p == Phase::consumerOnly || random.next(8) == 0) {
                std::this_thread::yield();
                continue;
            }
            for (std::uint32_t i = 0; i < block; ++i) {
                left[i] = static_cast<float>((next + i) % lowBits);
                right[i] = static_cast<float>((next + i) / lowBits);
            }
            monitor_ring_write(ring, left.data(), right.data(), block);
            next += block;
        }
        test::countAllocationsOnThisThread(false);
    });

    std::thread consumer([&] {
        std::vector<float> left(512), right(512), scratch(512);
        Random random{std::minstd_rand(68)};
        bool started = false, jumpAnnounced = false;
        std::uint64_t last = 0, received = 0;
        test::countAllocationsOnThisThread(true);
        for (Phase p; (p = phase.load(std::memory_order_relaxed)) != Phase::finished;) {
            if (p == Phase::producerOnly || random.next(8) == 0) {
                std::this_thread::yield();
                continue;
            }
            const std::uint32_t frames = 1 + random.next(512);
            const auto got = monitor_ring_read(ring, left.data(), right.data(), frames);
            std::copy_n(left.begin(), frames, scratch.begin());
            monitor_ring_apply_gain(ring, scratch.data(), scratch.data(), frames, 48000.0);
            if (got == 0) {
                for (std::uint32_t i = 0; i < frames; ++i) {
                    violations += left[i] != 0.0f || right[i] != 0.0f ? 1 : 0;
                }
                jumpAnnounced = true;
                continue;
            }
            violations += got != frames ? 1 : 0;
            for (std::uint32_t i = 0; i < frames; ++i) {
                const auto value = static_cast<std::uint64_t>(right[i]) * lowBits +
                                   static_cast<std::uint64_t>(left[i]);
                const bool blockJump =
                    value > last && last % block == block - 1 && value % block == 0;
                const bool announced = i == 0 && jumpAnnounced && value > last;
                violations += started && value != last + 1 && !blockJump && !announced ? 1 : 0;
                started = true;
                last = value;
            }
            jumpAnnounced = false;
            received += frames;
        }
        test::countAllocationsOnThisThread(false);
        framesOut.store(received);
    });

    // Control thread: poll like the meter timer does, and force both overruns (consumer paused)
    // and underruns (producer paused) every cycle.
    const auto start = Clock::now();
    const Phase cycle[] = {Phase::both, Phase::producerOnly, Phase::both, Phase::consumerOnly};
    for (int step = 0; Clock::now() - start < std::chrono::milliseconds(500); ++step) {
        phase.store(cycle[step % 4]);
        for (const auto end = Clock::now() + std::chrono::milliseconds(20); Clock::now() < end;) {
            // Both callbacks may run between the fill's two index loads here.
            violations += monitor_ring_buffered_frames(ring) > ring->capacity ? 1 : 0;
            const auto peaks = monitor_ring_take_peaks(ring);
            violations += peaks.leftPeak < 0.0f || peaks.rightPeak < 0.0f ? 1 : 0;
            monitor_ring_set_muted(ring, step % 3 == 0);
            monitor_ring_clear_clips(ring);
            monitor_ring_report_error(ring, step + 1);
            monitor_ring_take_error(ring);
            std::this_thread::yield();
        }
    }
    phase.store(Phase::finished);
    producer.join();
    consumer.join();

    EXPECT_EQ(violations.load(), 0);
    EXPECT_EQ(test::countedAllocations(), allocationsBefore);
    EXPECT_GT(framesOut.load(), 0u);
    EXPECT_GT(monitor_ring_overruns(ring), 0u);
    EXPECT_GT(monitor_ring_underruns(ring), 0u);
    monitor_ring_destroy(ring);
}

TEST(CaptureRingStress, DrainReceivesEveryAcceptedFrameExactlyOnceInOrderWithoutAllocating)
{
    // Not a power of two, so the modulo slot mapping wraps at odd places.
    CaptureRing* ring = capture_ring_create(1000);
    ASSERT_NE(ring, nullptr);
    std::atomic<bool> unpaced{false}, producerDone{false}, refused{false};
    std::atomic<std::uint64_t> accepted{0};
    std::atomic<int> violations{0};
    std::uint64_t drained = 0;
    const std::uint64_t allocationsBefore = test::countedAllocations();

    std::thread producer([&] {
        std::vector<std::int32_t> left(300), right(300);
        Random random{std::minstd_rand(21)};
        std::uint64_t next = 0;
        const auto start = Clock::now();
        test::countAllocationsOnThisThread(true);
        // Paced like a healthy take at first, then as fast as possible so that the drain may
        // fall behind and the overflow path runs too.
        while (Clock::now() - start < std::chrono::milliseconds(500)) {
            const std::uint32_t frames = 1 + random.next(300);
            if (!unpaced.load(std::memory_order_relaxed) &&
                ring->capacity - (ring->writeIndex.load(std::memory_order_relaxed) -
                                  ring->readIndex.load(std::memory_order_acquire)) <
                    frames) {
                std::this_thread::yield();
                continue;
            }
            for (std::uint32_t i = 0; i < frames; ++i) {
                left[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(next + i));
                right[i] = ~left[i];
            }
            if (capture_ring_write(ring, left.data(), right.data(), frames) == 0) {
                refused.store(true);
                break;
            }
            next += frames;
        }
        test::countAllocationsOnThisThread(false);
        accepted.store(next);
        producerDone.store(true);
    });

    std::thread drain([&] {
        std::vector<std::int32_t> left(700), right(700);
        Random random{std::minstd_rand(73)};
        std::uint64_t expected = 0;
        test::countAllocationsOnThisThread(true);
        for (;;) {
            // The flag is read before the ring, so nothing written before the stop is left over.
            const bool stop = capture_ring_stop_requested(ring);
            const auto frames =
                capture_ring_read(ring, left.data(), right.data(), 1 + random.next(700));
            if (frames == 0 && stop) {
                break;
            }
            for (std::uint32_t i = 0; i < frames; ++i, ++expected) {
                const auto want = static_cast<std::int32_t>(static_cast<std::uint32_t>(expected));
                violations += left[i] != want || right[i] != ~want ? 1 : 0;
            }
            capture_ring_add_frames_written(ring, frames);
            std::this_thread::yield();
        }
        test::countAllocationsOnThisThread(false);
        drained = expected;
    });

    const auto start = Clock::now();
    for (std::uint64_t lastWritten = 0; !producerDone.load(); std::this_thread::yield()) {
        if (Clock::now() - start > std::chrono::milliseconds(350)) {
            unpaced.store(true);
        }
        capture_ring_take_peak(ring, 0);
        capture_ring_take_peak(ring, 1);
        violations += capture_ring_frames_written(ring) < lastWritten ? 1 : 0;
        lastWritten = capture_ring_frames_written(ring);
    }
    capture_ring_request_stop(ring);
    producer.join();
    drain.join();

    EXPECT_EQ(violations.load(), 0);
    EXPECT_EQ(test::countedAllocations(), allocationsBefore);
    EXPECT_GT(accepted.load(), 0u);
    EXPECT_EQ(drained, accepted.load());
    EXPECT_EQ(capture_ring_frames_written(ring), accepted.load());
    EXPECT_EQ(capture_ring_error(ring), refused.load() ? -1 : 0);
    capture_ring_destroy(ring);
}

} // namespace
} // namespace brevalo
