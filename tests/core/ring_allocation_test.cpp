// Proves the realtime operations never allocate, and that a creation failing part-way frees what it
// obtained. Global operator new and delete are replaced for this whole test executable; they only
// count (and, on request, fail) while a probe is armed, so every other test is unaffected.

#include "core/capture_ring.h"
#include "core/monitor_ring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

std::atomic<bool> armed{false};
std::atomic<long> allocations{0};
std::atomic<long> releases{0};
// Index, among armed allocations, of the one that fails; negative for none.
std::atomic<long> failingAllocation{-1};

void* allocate(std::size_t size) noexcept
{
    if (armed.load(std::memory_order_relaxed)) {
        const long index = allocations.fetch_add(1, std::memory_order_relaxed);
        if (index == failingAllocation.load(std::memory_order_relaxed)) {
            return nullptr;
        }
    }
    return std::malloc(size == 0 ? 1 : size);
}

void release(void* pointer) noexcept
{
    if (pointer != nullptr && armed.load(std::memory_order_relaxed)) {
        releases.fetch_add(1, std::memory_order_relaxed);
    }
    std::free(pointer);
}

void* allocateOrThrow(std::size_t size)
{
    void* pointer = allocate(size);
    return pointer != nullptr ? pointer : throw std::bad_alloc();
}

// Counts (and optionally fails) the allocations made on any thread while it is armed.
struct AllocationProbe
{
    explicit AllocationProbe(long failAt = -1)
    {
        allocations.store(0);
        releases.store(0);
        failingAllocation.store(failAt);
        armed.store(true);
    }
    ~AllocationProbe() { disarm(); }
    void disarm() { armed.store(false); }
};

} // namespace

// clang-format off
void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* pointer) noexcept { release(pointer); }
void operator delete[](void* pointer) noexcept { release(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { release(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { release(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { release(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { release(pointer); }
// clang-format on

namespace brevalo {
namespace {

TEST(RingAllocation, MonitorRingRealtimePathsAllocateNothing)
{
    MonitorRing* ring = monitor_ring_create(1024, 256);
    ASSERT_NE(ring, nullptr);
    std::vector<float> left(2048, 0.5f);
    std::vector<float> right(2048, -1.0f);
    {
        AllocationProbe probe;
        // Every branch: priming wait, priming, playing across the wrap, underrun, overrun and
        // resync, and the gain ramp muted and unmuted.
        for (int round = 0; round < 4; ++round) {
            monitor_ring_write(ring, left.data(), right.data(), 700);
            monitor_ring_read(ring, left.data(), right.data(), 300);
            monitor_ring_read(ring, left.data(), right.data(), 300);
            monitor_ring_apply_gain(ring, left.data(), right.data(), 300, 48000.0);
            monitor_ring_read(ring, left.data(), right.data(), 300);
            monitor_ring_write(ring, left.data(), right.data(), 2048);
            monitor_ring_set_muted(ring, round % 2 == 0);
            monitor_ring_apply_gain(ring, left.data(), right.data(), 2048, 0.0);
        }
        monitor_ring_report_error(ring, -50);
        monitor_ring_take_error(ring);
        monitor_ring_take_peaks(ring);
        probe.disarm();
        EXPECT_EQ(allocations.load(), 0);
    }
    EXPECT_GT(monitor_ring_overruns(ring), 0u);
    EXPECT_GT(monitor_ring_underruns(ring), 0u);
    monitor_ring_destroy(ring);
}

TEST(RingAllocation, CaptureRingProducerAndDrainAllocateNothing)
{
    CaptureRing* ring = capture_ring_create(1000);
    ASSERT_NE(ring, nullptr);
    std::vector<std::int32_t> left(1200, 1 << 20);
    std::vector<std::int32_t> right(1200, -(1 << 20));
    {
        AllocationProbe probe;
        for (int round = 0; round < 4; ++round) {
            capture_ring_write(ring, left.data(), right.data(), 700);
            capture_ring_read(ring, left.data(), right.data(), 1200);
            capture_ring_add_frames_written(ring, 700);
            capture_ring_take_peak(ring, round % 2);
        }
        capture_ring_write(ring, left.data(), right.data(), 1200); // overflow
        capture_ring_write(ring, left.data(), right.data(), 10);   // refused
        capture_ring_report_error(ring, -2);
        capture_ring_request_stop(ring);
        probe.disarm();
        EXPECT_EQ(allocations.load(), 0);
    }
    EXPECT_EQ(capture_ring_error(ring), -1);
    capture_ring_destroy(ring);
}

// Fails the first, second, ... allocation of a creation until one succeeds: each failure must give
// null and free everything it obtained.
template <typename Create, typename Destroy>
void expectCreationFailuresLeakNothing(Create create, Destroy destroy)
{
    for (long failAt = 0;; ++failAt) {
        ASSERT_LT(failAt, 16) << "creation never succeeded";
        AllocationProbe probe(failAt);
        auto* ring = create();
        probe.disarm();
        if (ring != nullptr) {
            EXPECT_LE(allocations.load(), failAt) << "a failed allocation went unnoticed";
            destroy(ring);
            return;
        }
        EXPECT_EQ(releases.load(), allocations.load() - 1) << "failing allocation " << failAt;
    }
}

TEST(RingAllocation, FailedCreationReturnsNullAndLeaksNothing)
{
    expectCreationFailuresLeakNothing([] { return monitor_ring_create(4096, 1024); },
                                      monitor_ring_destroy);
    expectCreationFailuresLeakNothing([] { return capture_ring_create(4096); },
                                      capture_ring_destroy);
}

} // namespace
} // namespace brevalo
