#include "core/monitor_ring.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace brevalo {
namespace {

struct RingDeleter
{
    void operator()(MonitorRing* ring) const { monitor_ring_destroy(ring); }
};
using RingPtr = std::unique_ptr<MonitorRing, RingDeleter>;

RingPtr makeRing(std::uint32_t capacity, std::uint32_t target)
{
    RingPtr ring(monitor_ring_create(capacity, target));
    EXPECT_NE(ring, nullptr);
    return ring;
}

// Frames numbered from `first` on the left, negated on the right, so a swapped, shifted or
// repeated frame is visible.
struct Block
{
    std::vector<float> left;
    std::vector<float> right;
};

Block counting(std::uint32_t first, std::uint32_t frames)
{
    Block block{std::vector<float>(frames), std::vector<float>(frames)};
    for (std::uint32_t i = 0; i < frames; ++i) {
        block.left[i] = static_cast<float>(first + i);
        block.right[i] = -static_cast<float>(first + i);
    }
    return block;
}

Block constant(float value, std::uint32_t frames)
{
    return {std::vector<float>(frames, value), std::vector<float>(frames, value)};
}

std::uint64_t write(MonitorRing* ring, const Block& block)
{
    return monitor_ring_write(ring, block.left.data(), block.right.data(),
                              static_cast<std::uint32_t>(block.left.size()));
}

// Destinations start as garbage so that a read which fails to fill them is caught.
std::uint64_t read(MonitorRing* ring, Block& out, std::uint32_t frames)
{
    out = constant(777.0f, frames);
    return monitor_ring_read(ring, out.left.data(), out.right.data(), frames);
}

void expectCounting(const Block& block, std::uint32_t first)
{
    for (std::size_t i = 0; i < block.left.size(); ++i) {
        ASSERT_EQ(block.left[i], static_cast<float>(first + i)) << "frame " << i;
        ASSERT_EQ(block.right[i], -static_cast<float>(first + i)) << "frame " << i;
    }
}

void expectSilent(const Block& block)
{
    for (std::size_t i = 0; i < block.left.size(); ++i) {
        ASSERT_EQ(block.left[i], 0.0f) << "frame " << i;
        ASSERT_EQ(block.right[i], 0.0f) << "frame " << i;
    }
}

TEST(MonitorRingCreate, RoundsCapacityUpToPowerOfTwoOfAtLeast1024)
{
    const std::pair<std::uint32_t, std::uint64_t> cases[] = {
        {0, 1024}, {1, 1024}, {1000, 1024}, {1024, 1024}, {1025, 2048}, {96000, 131072}};
    for (const auto& [requested, expected] : cases) {
        auto ring = makeRing(requested, 0);
        EXPECT_EQ(ring->capacity, expected) << requested;
        EXPECT_EQ(ring->mask, expected - 1) << requested;
    }
}

TEST(MonitorRingCreate, KeepsTargetBelowCapacityElseHalvesCapacity)
{
    EXPECT_EQ(monitor_ring_target_frames(makeRing(1024, 512).get()), 512u);
    EXPECT_EQ(monitor_ring_target_frames(makeRing(1024, 1023).get()), 1023u);
    EXPECT_EQ(monitor_ring_target_frames(makeRing(1024, 1024).get()), 512u);
    EXPECT_EQ(monitor_ring_target_frames(makeRing(1025, 5000).get()), 1024u);
    // The target is compared with the rounded capacity, not the request.
    EXPECT_EQ(monitor_ring_target_frames(makeRing(1000, 1010).get()), 1010u);
}

TEST(MonitorRingCreate, StartsEmptyUnprimedUnmutedAndSilent)
{
    auto ring = makeRing(1024, 256);
    EXPECT_EQ(monitor_ring_buffered_frames(ring.get()), 0u);
    EXPECT_EQ(monitor_ring_underruns(ring.get()), 0u);
    EXPECT_EQ(monitor_ring_overruns(ring.get()), 0u);
    EXPECT_EQ(monitor_ring_take_error(ring.get()), 0);
    EXPECT_EQ(ring->primed.load(), 0);
    EXPECT_EQ(ring->muted.load(), 0);
    EXPECT_EQ(ring->gain.load(), 0.0f);
    for (std::uint64_t i = 0; i < ring->capacity; ++i) {
        ASSERT_EQ(ring->left[i], 0.0f);
        ASSERT_EQ(ring->right[i], 0.0f);
    }
    monitor_ring_destroy(nullptr);
}

TEST(MonitorRingOverrun, DropsWholeBlockThenResyncKeepsExactlyTargetFrames)
{
    auto ring = makeRing(1024, 256);
    ASSERT_EQ(write(ring.get(), counting(0, 1000)), 1000u);
    EXPECT_EQ(write(ring.get(), counting(1000, 100)), 0u);
    EXPECT_EQ(monitor_ring_overruns(ring.get()), 1u);
    EXPECT_EQ(monitor_ring_buffered_frames(ring.get()), 1000u) << "no partial write";

    Block out;
    EXPECT_EQ(read(ring.get(), out, 64), 0u);
    expectSilent(out);
    EXPECT_EQ(monitor_ring_buffered_frames(ring.get()), 256u);
    EXPECT_EQ(ring->primed.load(), 0);
    EXPECT_EQ(monitor_ring_underruns(ring.get()), 0u);

    // Playback resumes with the newest target frames, not the stale ones.
    EXPECT_EQ(read(ring.get(), out, 64), 64u);
    expectCounting(out, 1000 - 256);
}

TEST(MonitorRingOverrun, ResyncWithFewerThanTargetFramesKeepsThemAll)
{
    auto ring = makeRing(1024, 512);
    ASSERT_EQ(write(ring.get(), counting(0, 300)), 300u);
    EXPECT_EQ(write(ring.get(), counting(300, 800)), 0u);
    Block out;
    EXPECT_EQ(read(ring.get(), out, 32), 0u);
    expectSilent(out);
    EXPECT_EQ(monitor_ring_buffered_frames(ring.get()), 300u);
}

TEST(MonitorRingOverrun, ResyncNeverReplaysFramesAlreadyRead)
{
    // A block larger than the whole ring is dropped even when the ring is empty; the resync must
    // not step back over frames that were already played.
    auto ring = makeRing(1024, 256);
    Block out;
    ASSERT_EQ(write(ring.get(), counting(0, 300)), 300u);
    ASSERT_EQ(read(ring.get(), out, 300), 300u);
    EXPECT_EQ(write(ring.get(), counting(300, 2000)), 0u);
    EXPECT_EQ(read(ring.get(), out, 64), 0u);
    EXPECT_EQ(monitor_ring_buffered_frames(ring.get()), 0u);

    ASSERT_EQ(write(ring.get(), counting(2300, 256)), 256u);
    ASSERT_EQ(read(ring.get(), out, 64), 64u);
    expectCounting(out, 2300);
}

TEST(MonitorRingPriming, WaitsForTargetOrRequestWithoutCountingUnderruns)
{
    auto ring = makeRing(1024, 256);
    Block out;
    ASSERT_EQ(write(ring.get(), counting(0, 200)), 200u);
    EXPECT_EQ(read(ring.get(), out, 64), 0u);
    expectSilent(out);
    ASSERT_EQ(write(ring.get(), counting(200, 56)), 56u);
    // 256 buffered reaches the target but not a 300-frame request.
    EXPECT_EQ(read(ring.get(), out, 300), 0u);
    expectSilent(out);
    EXPECT_EQ(monitor_ring_buffered_frames(ring.get()), 256u);
    EXPECT_EQ(monitor_ring_underruns(ring.get()), 0u);

    EXPECT_EQ(read(ring.get(), out, 64), 64u);
    expectCounting(out, 0);
    EXPECT_EQ(ring->primed.load(), 1);
}

TEST(MonitorRingPriming, UnderrunDiscardsRemainderCountsOnceAndReprimes)
{
    auto ring = makeRing(1024, 256);
    Block out;
    ASSERT_EQ(write(ring.get(), counting(0, 256)), 256u);
    ASSERT_EQ(read(ring.get(), out, 200), 200u);

    EXPECT_EQ(read(ring.get(), out, 100), 0u);
    expectSilent(out);
    EXPECT_EQ(monitor_ring_underruns(ring.get()), 1u);
    EXPECT_EQ(monitor_ring_buffered_frames(ring.get()), 0u);
    EXPECT_EQ(ring->primed.load(), 0);

    // Re-priming is waiting again, not another underrun.
    ASSERT_EQ(write(ring.get(), counting(256, 100)), 100u);
    EXPECT_EQ(read(ring.get(), out, 100), 0u);
    EXPECT_EQ(monitor_ring_underruns(ring.get()), 1u);
    ASSERT_EQ(write(ring.get(), counting(356, 156)), 156u);
    EXPECT_EQ(read(ring.get(), out, 100), 100u);
    expectCounting(out, 256);
}

TEST(MonitorRingWrap, BlockAcrossEndOfStorageArrivesIntactAndInOrder)
{
    auto ring = makeRing(1024, 0);
    Block out;
    ASSERT_EQ(write(ring.get(), counting(0, 1000)), 1000u);
    ASSERT_EQ(read(ring.get(), out, 1000), 1000u);

    ASSERT_EQ(write(ring.get(), counting(1000, 300)), 300u);
    // The block really is split: its head at the end of storage, its tail at the start.
    EXPECT_EQ(ring->left[1023], 1023.0f);
    EXPECT_EQ(ring->left[0], 1024.0f);
    EXPECT_EQ(ring->right[275], -1299.0f);

    ASSERT_EQ(read(ring.get(), out, 7), 7u);
    expectCounting(out, 1000);
    ASSERT_EQ(read(ring.get(), out, 293), 293u);
    expectCounting(out, 1007);
}

TEST(MonitorRingWrap, AcceptsBlockFillingExactlyTheFreeSpace)
{
    auto ring = makeRing(1024, 1023);
    ASSERT_EQ(write(ring.get(), counting(0, 24)), 24u);
    ASSERT_EQ(write(ring.get(), counting(24, 1000)), 1000u);
    EXPECT_EQ(write(ring.get(), counting(1024, 1)), 0u);
    Block out;
    ASSERT_EQ(read(ring.get(), out, 1), 0u) << "resync after the dropped frame";
    ASSERT_EQ(read(ring.get(), out, 1023), 1023u);
    expectCounting(out, 1);
}

TEST(MonitorRingMeters, ClipLatchesAtThresholdInSinglePrecision)
{
    auto ring = makeRing(1024, 0);
    write(ring.get(), {std::vector<float>{0.1f, 0.9999f}, std::vector<float>{0.99989f, -0.2f}});
    auto peaks = monitor_ring_take_peaks(ring.get());
    EXPECT_EQ(peaks.leftPeak, 0.9999f);
    EXPECT_EQ(peaks.rightPeak, 0.99989f);
    EXPECT_TRUE(peaks.leftClipped);
    EXPECT_FALSE(peaks.rightClipped);

    // Negative full scale clips too, and latches survive any number of takes.
    write(ring.get(), {std::vector<float>{0.0f}, std::vector<float>{-1.0f}});
    for (int i = 0; i < 3; ++i) {
        peaks = monitor_ring_take_peaks(ring.get());
        EXPECT_TRUE(peaks.leftClipped);
        EXPECT_TRUE(peaks.rightClipped);
    }
    monitor_ring_clear_left_clip(ring.get());
    peaks = monitor_ring_take_peaks(ring.get());
    EXPECT_FALSE(peaks.leftClipped);
    EXPECT_TRUE(peaks.rightClipped);
    monitor_ring_clear_right_clip(ring.get());
    EXPECT_FALSE(monitor_ring_take_peaks(ring.get()).rightClipped);

    write(ring.get(), constant(2.0f, 4));
    monitor_ring_clear_clips(ring.get());
    peaks = monitor_ring_take_peaks(ring.get());
    EXPECT_FALSE(peaks.leftClipped);
    EXPECT_FALSE(peaks.rightClipped);
}

TEST(MonitorRingMeters, PeaksHoldLargestSinceTakeAndIgnoreNaN)
{
    auto ring = makeRing(1024, 0);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    write(ring.get(), {std::vector<float>{nan, -0.5f, nan}, std::vector<float>{nan, nan, nan}});
    write(ring.get(), {std::vector<float>{0.25f}, std::vector<float>{-0.125f}});
    auto peaks = monitor_ring_take_peaks(ring.get());
    EXPECT_EQ(peaks.leftPeak, 0.5f);
    EXPECT_EQ(peaks.rightPeak, 0.125f);
    EXPECT_FALSE(peaks.leftClipped);

    peaks = monitor_ring_take_peaks(ring.get());
    EXPECT_EQ(peaks.leftPeak, 0.0f);
    EXPECT_EQ(peaks.rightPeak, 0.0f);
}

TEST(MonitorRingMeters, FindsPeakAtEveryPositionOfALongBlock)
{
    auto ring = makeRing(1024, 0);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (std::uint32_t position = 0; position < 37; ++position) {
        Block block = constant(0.25f, 37);
        block.left[(position + 1) % 37] = nan;
        block.left[position] = -0.75f;
        block.right[position] = 0.5f;
        write(ring.get(), block);
        const auto peaks = monitor_ring_take_peaks(ring.get());
        ASSERT_EQ(peaks.leftPeak, 0.75f) << position;
        ASSERT_EQ(peaks.rightPeak, 0.5f) << position;
    }
}

TEST(MonitorRingMeters, DroppedBlockStillCountsForMeters)
{
    auto ring = makeRing(1024, 0);
    ASSERT_EQ(write(ring.get(), constant(0.1f, 1024)), 1024u);
    EXPECT_EQ(write(ring.get(), constant(-1.0f, 8)), 0u);
    const auto peaks = monitor_ring_take_peaks(ring.get());
    EXPECT_EQ(peaks.leftPeak, 1.0f);
    EXPECT_TRUE(peaks.rightClipped);
}

TEST(MonitorRingError, FirstNonZeroStatusWinsUntilTaken)
{
    auto ring = makeRing(1024, 0);
    monitor_ring_report_error(ring.get(), 0);
    EXPECT_EQ(monitor_ring_take_error(ring.get()), 0);
    monitor_ring_report_error(ring.get(), -50);
    monitor_ring_report_error(ring.get(), 0);
    monitor_ring_report_error(ring.get(), 0x21646174);
    EXPECT_EQ(monitor_ring_take_error(ring.get()), -50);
    EXPECT_EQ(monitor_ring_take_error(ring.get()), 0);
    monitor_ring_report_error(ring.get(), 0x21646174);
    EXPECT_EQ(monitor_ring_take_error(ring.get()), 0x21646174);
}

// The ramp applied to a buffer of ones: output i is the gain after i + 1 steps.
std::vector<float> rampOfOnes(MonitorRing* ring, std::uint32_t frames, double sampleRate)
{
    std::vector<float> left(frames, 1.0f);
    std::vector<float> right(frames, 1.0f);
    monitor_ring_apply_gain(ring, left.data(), right.data(), frames, sampleRate);
    EXPECT_EQ(left, right);
    return left;
}

double coefficientAt(double sampleRate)
{
    return static_cast<float>(1.0 - std::exp(-1.0 / (sampleRate * 0.008)));
}

TEST(MonitorRingGain, RisesFromZeroWithEightMillisecondTimeConstant)
{
    for (const double rate : {48000.0, 44100.0, 192000.0}) {
        auto ring = makeRing(1024, 0);
        const auto frames = static_cast<std::uint32_t>(rate * 0.05);
        const auto gains = rampOfOnes(ring.get(), frames, rate);
        const double c = coefficientAt(rate);
        for (std::uint32_t n = 1; n <= frames; ++n) {
            ASSERT_NEAR(gains[n - 1], 1.0 - std::pow(1.0 - c, n), 1e-4) << rate << " step " << n;
        }
        // One time constant in, the gain is 1 - 1/e.
        EXPECT_NEAR(gains[static_cast<std::size_t>(rate * 0.008) - 1], 1.0 - std::exp(-1.0), 2e-3);
        EXPECT_EQ(ring->gain.load(), gains.back());
    }
}

TEST(MonitorRingGain, MuteFallsFromCurrentGainAndContinuesAcrossCalls)
{
    auto ring = makeRing(1024, 0);
    rampOfOnes(ring.get(), 200, 48000.0);
    const double start = ring->gain.load();
    monitor_ring_set_muted(ring.get(), true);
    const auto first = rampOfOnes(ring.get(), 100, 48000.0);
    const auto second = rampOfOnes(ring.get(), 100, 48000.0);
    const double c = coefficientAt(48000.0);
    for (std::uint32_t n = 1; n <= 100; ++n) {
        ASSERT_NEAR(first[n - 1], start * std::pow(1.0 - c, n), 1e-4);
        ASSERT_NEAR(second[n - 1], start * std::pow(1.0 - c, n + 100), 1e-4);
    }
    monitor_ring_set_muted(ring.get(), false);
    const auto rising = rampOfOnes(ring.get(), 1, 48000.0);
    EXPECT_GT(rising[0], second.back());
}

TEST(MonitorRingGain, RateAtOrBelowOneUsesTheFortyEightKilohertzCoefficient)
{
    auto reference = makeRing(1024, 0);
    const auto expected = rampOfOnes(reference.get(), 500, 48000.0);
    EXPECT_EQ(expected[0], 0.0026007787661767034f);
    for (const double rate : {0.0, 1.0, -44100.0, std::numeric_limits<double>::quiet_NaN()}) {
        auto ring = makeRing(1024, 0);
        EXPECT_EQ(rampOfOnes(ring.get(), 500, rate), expected) << rate;
    }
}

TEST(MonitorRingGain, RestartsFromSilenceWhenPrimingCompletesAndOnResync)
{
    auto ring = makeRing(1024, 64);
    Block out;
    const double c = coefficientAt(48000.0);
    rampOfOnes(ring.get(), 48000, 48000.0);
    ASSERT_GT(ring->gain.load(), 0.99f);

    ASSERT_EQ(write(ring.get(), counting(0, 64)), 64u);
    ASSERT_EQ(read(ring.get(), out, 64), 64u);
    EXPECT_NEAR(rampOfOnes(ring.get(), 1, 48000.0)[0], c, 1e-7);

    rampOfOnes(ring.get(), 48000, 48000.0);
    ASSERT_EQ(write(ring.get(), counting(64, 1000)), 1000u);
    ASSERT_EQ(write(ring.get(), counting(1064, 100)), 0u);
    ASSERT_EQ(read(ring.get(), out, 64), 0u);
    EXPECT_EQ(ring->gain.load(), 0.0f);
}

} // namespace
} // namespace brevalo
