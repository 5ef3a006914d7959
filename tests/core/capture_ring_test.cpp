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

RingPtr makeRing(std::uint32_t capacity)
{
    RingPtr ring(capture_ring_create(capacity));
    EXPECT_NE(ring, nullptr);
    return ring;
}

struct Block
{
    std::vector<std::int32_t> left;
    std::vector<std::int32_t> right;
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

int write(CaptureRing* ring, const Block& block)
{
    return capture_ring_write(ring, block.left.data(), block.right.data(),
                              static_cast<std::uint32_t>(block.left.size()));
}

Block read(CaptureRing* ring, std::uint32_t maximum)
{
    Block out{std::vector<std::int32_t>(maximum), std::vector<std::int32_t>(maximum)};
    const auto frames = capture_ring_read(ring, out.left.data(), out.right.data(), maximum);
    out.left.resize(frames);
    out.right.resize(frames);
    return out;
}

std::uint64_t buffered(const CaptureRing* ring)
{
    return ring->writeIndex.load() - ring->readIndex.load();
}

TEST(CaptureRingCreate, RefusesZeroCapacityAndStartsZeroed)
{
    EXPECT_EQ(capture_ring_create(0), nullptr);
    auto ring = makeRing(1000);
    EXPECT_EQ(ring->capacity, 1000u) << "not rounded to a power of two";
    for (std::uint32_t i = 0; i < ring->capacity; ++i) {
        ASSERT_EQ(ring->left[i], 0);
        ASSERT_EQ(ring->right[i], 0);
    }
    EXPECT_EQ(capture_ring_error(ring.get()), 0);
    EXPECT_FALSE(capture_ring_stop_requested(ring.get()));
    EXPECT_EQ(capture_ring_frames_written(ring.get()), 0u);
    EXPECT_EQ(read(ring.get(), 16).left.size(), 0u);
    capture_ring_destroy(nullptr);
}

TEST(CaptureRingCreate, CapacityOfOneCarriesOneFrameAtATime)
{
    auto ring = makeRing(1);
    for (std::int32_t i = 0; i < 5; ++i) {
        ASSERT_EQ(write(ring.get(), counting(i, 1)), 1);
        const auto out = read(ring.get(), 4);
        ASSERT_EQ(out.left, counting(i, 1).left);
        ASSERT_EQ(out.right, counting(i, 1).right);
    }
    EXPECT_EQ(capture_ring_error(ring.get()), 0);
}

TEST(CaptureRingWrap, BlockAcrossEndOfStorageIsReadBackIntactAndInOrder)
{
    auto ring = makeRing(1000);
    ASSERT_EQ(write(ring.get(), counting(0, 900)), 1);
    ASSERT_EQ(read(ring.get(), 900).left.size(), 900u);

    ASSERT_EQ(write(ring.get(), counting(900, 300)), 1);
    EXPECT_EQ(ring->left[999], 999);
    EXPECT_EQ(ring->left[0], 1000);
    EXPECT_EQ(ring->right[199], ~1199);

    const auto head = read(ring.get(), 13);
    const auto tail = read(ring.get(), 5000);
    EXPECT_EQ(head.left, counting(900, 13).left);
    EXPECT_EQ(tail.left, counting(913, 287).left);
    EXPECT_EQ(tail.right, counting(913, 287).right);
}

TEST(CaptureRingOverflow, DropsWholeBlockLeavesPeaksAndRefusesForGood)
{
    auto ring = makeRing(100);
    ASSERT_EQ(write(ring.get(), Block{std::vector<std::int32_t>(60, 1 << 29),
                                      std::vector<std::int32_t>(60, -(1 << 28))}),
              1);
    const std::int32_t loudest = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(write(ring.get(), Block{std::vector<std::int32_t>(41, loudest),
                                      std::vector<std::int32_t>(41, loudest)}),
              0);
    EXPECT_EQ(capture_ring_error(ring.get()), -1);
    EXPECT_EQ(buffered(ring.get()), 60u);
    EXPECT_EQ(capture_ring_take_peak(ring.get(), 0), 0.25f);
    EXPECT_EQ(capture_ring_take_peak(ring.get(), 1), 0.125f);

    // What reached the ring before the overflow still drains.
    EXPECT_EQ(read(ring.get(), 100).left, std::vector<std::int32_t>(60, 1 << 29));
    EXPECT_EQ(write(ring.get(), counting(0, 10)), 0) << "space is free, but the take is over";
    EXPECT_EQ(buffered(ring.get()), 0u);
    EXPECT_EQ(capture_ring_error(ring.get()), -1);
}

TEST(CaptureRingOverflow, AcceptsBlockFillingExactlyTheFreeSpace)
{
    auto ring = makeRing(100);
    ASSERT_EQ(write(ring.get(), counting(0, 40)), 1);
    ASSERT_EQ(write(ring.get(), counting(40, 60)), 1);
    EXPECT_EQ(capture_ring_error(ring.get()), 0);
    EXPECT_EQ(read(ring.get(), 1000).left, counting(0, 100).left);
}

TEST(CaptureRingRefusal, RecordedStatusOrStopRequestShutsOutTheProducer)
{
    auto failed = makeRing(100);
    capture_ring_report_error(failed.get(), -2);
    EXPECT_EQ(write(failed.get(), Block{{1 << 30}, {1 << 30}}), 0);
    EXPECT_EQ(buffered(failed.get()), 0u);
    EXPECT_EQ(capture_ring_take_peak(failed.get(), 0), 0.0f) << "peaks untouched";
    EXPECT_EQ(capture_ring_error(failed.get()), -2);

    auto stopped = makeRing(100);
    ASSERT_EQ(write(stopped.get(), counting(0, 10)), 1);
    capture_ring_request_stop(stopped.get());
    EXPECT_TRUE(capture_ring_stop_requested(stopped.get()));
    EXPECT_EQ(write(stopped.get(), Block{{1 << 30}, {1 << 30}}), 0);
    EXPECT_EQ(capture_ring_error(stopped.get()), 0) << "a stop is not a failure";
    EXPECT_EQ(capture_ring_take_peak(stopped.get(), 0), 9.0f / 2147483648.0f);
    EXPECT_EQ(read(stopped.get(), 100).left, counting(0, 10).left);
}

TEST(CaptureRingStatus, FirstStatusIsNeverReplaced)
{
    auto ring = makeRing(10);
    capture_ring_report_error(ring.get(), 0);
    EXPECT_EQ(capture_ring_error(ring.get()), 0);
    capture_ring_report_error(ring.get(), -2);
    capture_ring_report_error(ring.get(), -1);
    capture_ring_report_error(ring.get(), 0);
    EXPECT_EQ(capture_ring_error(ring.get()), -2);
    // Reading the status does not consume it.
    EXPECT_EQ(capture_ring_error(ring.get()), -2);
}

TEST(CaptureRingPeaks, ScaleToFullScaleAndHoldUntilTaken)
{
    auto ring = makeRing(64);
    const std::int32_t most = std::numeric_limits<std::int32_t>::min();
    ASSERT_EQ(write(ring.get(), Block{{0, 1 << 30, -(1 << 29)}, {most, 7, 0}}), 1);
    ASSERT_EQ(write(ring.get(), Block{{0, 0}, {0, 0}}), 1);
    ASSERT_EQ(write(ring.get(), Block{{1 << 28}, {1 << 28}}), 1);
    EXPECT_EQ(capture_ring_take_peak(ring.get(), 0), 0.5f);
    EXPECT_EQ(capture_ring_take_peak(ring.get(), 1), 1.0f);
    EXPECT_EQ(capture_ring_take_peak(ring.get(), 0), 0.0f);
    EXPECT_EQ(capture_ring_take_peak(ring.get(), 1), 0.0f);

    // Any channel other than 0 is the right one.
    ASSERT_EQ(write(ring.get(), Block{{1 << 27}, {-(1 << 26)}}), 1);
    EXPECT_EQ(capture_ring_take_peak(ring.get(), 5), 0.03125f);
    EXPECT_EQ(capture_ring_take_peak(ring.get(), 0), 0.0625f);
}

TEST(CaptureRingPeaks, FindsPeakAtEveryPositionOfALongBlock)
{
    auto ring = makeRing(64);
    for (std::uint32_t position = 0; position < 37; ++position) {
        Block block{std::vector<std::int32_t>(37, 1 << 20), std::vector<std::int32_t>(37, -1)};
        block.left[position] = -(1 << 30);
        block.right[position] = std::numeric_limits<std::int32_t>::min();
        ASSERT_EQ(write(ring.get(), block), 1);
        read(ring.get(), 64);
        ASSERT_EQ(capture_ring_take_peak(ring.get(), 0), 0.5f) << position;
        ASSERT_EQ(capture_ring_take_peak(ring.get(), 1), 1.0f) << position;
    }
}

TEST(CaptureRingCounters, FramesWrittenAccumulates)
{
    auto ring = makeRing(10);
    capture_ring_add_frames_written(ring.get(), 8192);
    capture_ring_add_frames_written(ring.get(), 1808);
    EXPECT_EQ(capture_ring_frames_written(ring.get()), 10000u);
    capture_ring_add_frames_written(ring.get(), std::numeric_limits<std::uint32_t>::max());
    EXPECT_EQ(capture_ring_frames_written(ring.get()), 10000ull + 4294967295ull);
}

} // namespace
} // namespace brevalo
