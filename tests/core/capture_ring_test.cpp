#include "core/capture_ring.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <vector>

namespace brevalo {
namespace {

struct RingDeleter
{
    void operator()(CaptureRing* ring) const { capture_ring_destroy(ring); }
};
using RingPtr = std::unique_ptr<CaptureRing, RingDeleter>;

struct Block
{
    std::vector<std::int32_t> left;
    std::vector<std::int32_t> right;
    bool operator==(const Block&) const = default;
};

// Left counts up from `first`, right is its bitwise complement, so swapped channels or shifted
// frames are visible.
Block counting(std::int32_t first, std::uint32_t frames)
{
    Block block{std::vector<std::int32_t>(frames), std::vector<std::int32_t>(frames)};
    for (std::uint32_t i = 0; i < frames; ++i) {
        block.left[i] = first + static_cast<std::int32_t>(i);
        block.right[i] = ~block.left[i];
    }
    return block;
}

Block level(std::uint32_t frames, std::int32_t left, std::int32_t right)
{
    return {std::vector<std::int32_t>(frames, left), std::vector<std::int32_t>(frames, right)};
}

int write(CaptureRing* ring, const Block& block)
{
    return capture_ring_write(ring, block.left.data(), block.right.data(),
                              static_cast<std::uint32_t>(block.left.size()));
}

Block read(CaptureRing* ring, std::uint32_t maximum)
{
    Block out = level(maximum, 0, 0);
    const auto frames = capture_ring_read(ring, out.left.data(), out.right.data(), maximum);
    out.left.resize(frames);
    out.right.resize(frames);
    return out;
}

constexpr std::int32_t most = std::numeric_limits<std::int32_t>::min();

TEST(CaptureRing, RefusesZeroCapacityAndCarriesOneFrameAtATimeInARingOfOne)
{
    EXPECT_EQ(capture_ring_create(0), nullptr);
    capture_ring_destroy(nullptr);
    RingPtr ring(capture_ring_create(1));
    ASSERT_NE(ring, nullptr);
    EXPECT_EQ(read(ring.get(), 4), counting(0, 0));
    for (std::int32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(write(ring.get(), counting(i, 1)), 1);
        ASSERT_EQ(read(ring.get(), 4), counting(i, 1));
    }
    EXPECT_EQ(capture_ring_error(ring.get()), 0);
}

TEST(CaptureRing, BlockAcrossEndOfStorageIsReadBackIntactAndExactFitIsAccepted)
{
    RingPtr ring(capture_ring_create(1000)); // not a power of two: slots wrap modulo capacity
    ASSERT_EQ(write(ring.get(), counting(0, 900)), 1);
    ASSERT_EQ(read(ring.get(), 900), counting(0, 900));
    ASSERT_EQ(write(ring.get(), counting(900, 300)), 1);
    EXPECT_EQ(ring->left[999], 999);
    EXPECT_EQ(ring->left[0], 1000);
    EXPECT_EQ(read(ring.get(), 13), counting(900, 13));
    EXPECT_EQ(read(ring.get(), 5000), counting(913, 287));

    ASSERT_EQ(write(ring.get(), counting(0, 400)), 1);
    ASSERT_EQ(write(ring.get(), counting(400, 600)), 1);
    EXPECT_EQ(capture_ring_error(ring.get()), 0);
    EXPECT_EQ(read(ring.get(), 2000), counting(0, 1000));
}

TEST(CaptureRing, OverflowDropsWholeBlockKeepsPeaksAndRefusesForGood)
{
    RingPtr ring(capture_ring_create(100));
    ASSERT_EQ(write(ring.get(), level(60, 1 << 29, -(1 << 28))), 1);
    EXPECT_EQ(write(ring.get(), level(41, most, most)), 0);
    EXPECT_EQ(capture_ring_error(ring.get()), -1);
    EXPECT_EQ(capture_ring_take_peak(ring.get(), 0), 0.25f);
    EXPECT_EQ(capture_ring_take_peak(ring.get(), 1), 0.125f);
    // What reached the ring before the overflow still drains; later blocks are refused even
    // though space is free, and a later status never replaces the first.
    EXPECT_EQ(read(ring.get(), 100), level(60, 1 << 29, -(1 << 28)));
    EXPECT_EQ(write(ring.get(), counting(0, 10)), 0);
    capture_ring_report_error(ring.get(), -2);
    EXPECT_EQ(capture_ring_error(ring.get()), -1);
    EXPECT_EQ(read(ring.get(), 100), counting(0, 0));
}

TEST(CaptureRing, ReportedStatusOrStopRequestShutsOutTheProducer)
{
    RingPtr failed(capture_ring_create(100));
    capture_ring_report_error(failed.get(), 0);
    ASSERT_EQ(write(failed.get(), counting(0, 1)), 1);
    capture_ring_report_error(failed.get(), -2);
    EXPECT_EQ(write(failed.get(), level(1, 1 << 30, 1 << 30)), 0);
    EXPECT_EQ(capture_ring_take_peak(failed.get(), 0), 0.0f) << "peaks untouched";
    EXPECT_EQ(capture_ring_error(failed.get()), -2);
    EXPECT_EQ(read(failed.get(), 100), counting(0, 1));

    RingPtr stopped(capture_ring_create(100));
    ASSERT_EQ(write(stopped.get(), counting(0, 10)), 1);
    capture_ring_request_stop(stopped.get());
    EXPECT_TRUE(capture_ring_stop_requested(stopped.get()));
    EXPECT_EQ(write(stopped.get(), level(1, 1 << 30, 1 << 30)), 0);
    EXPECT_EQ(capture_ring_error(stopped.get()), 0) << "a stop is not a failure";
    EXPECT_EQ(read(stopped.get(), 100), counting(0, 10));
}

TEST(CaptureRing, PeaksScaleToFullScaleAtAnyPositionAndResetOnTake)
{
    RingPtr ring(capture_ring_create(64));
    for (std::uint32_t position = 0; position < 37; ++position) {
        Block block = level(37, 1 << 20, -1);
        block.left[position] = -(1 << 30);
        block.right[position] = most; // the most negative sample is exactly full scale
        ASSERT_EQ(write(ring.get(), block), 1);
        read(ring.get(), 64);
        ASSERT_EQ(capture_ring_take_peak(ring.get(), 0), 0.5f) << position;
        ASSERT_EQ(capture_ring_take_peak(ring.get(), 1), 1.0f) << position;
    }
    EXPECT_EQ(capture_ring_take_peak(ring.get(), 0), 0.0f);
    // Peaks hold the largest since the take; any channel other than 0 is the right one.
    ASSERT_EQ(write(ring.get(), level(1, 1 << 27, -(1 << 26))), 1);
    ASSERT_EQ(write(ring.get(), level(1, 1 << 20, 1 << 20)), 1);
    EXPECT_EQ(capture_ring_take_peak(ring.get(), 5), 0.03125f);
    EXPECT_EQ(capture_ring_take_peak(ring.get(), 0), 0.0625f);
}

} // namespace
} // namespace brevalo
