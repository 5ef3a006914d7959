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
        block.right[i] = -block.left[i];
    }
    return block;
}

std::uint64_t write(MonitorRing* ring, const Block& block)
{
    return monitor_ring_write(ring, block.left.data(), block.right.data(),
                              static_cast<std::uint32_t>(block.left.size()));
}

// Destinations start as garbage so that a read which fails to fill them is caught.
std::uint64_t read(MonitorRing* ring, Block& out, std::uint32_t frames)
{
    out = Block{std::vector<float>(frames, 777.0f), std::vector<float>(frames, 777.0f)};
    return monitor_ring_read(ring, out.left.data(), out.right.data(), frames);
}

// Reads `frames` and expects them to be silence (first < 0) or counting from `first`.
void expectRead(MonitorRing* ring, std::uint32_t frames, long first)
{
    Block out;
    ASSERT_EQ(read(ring, out, frames), first < 0 ? 0u : frames);
    const Block want = first < 0 ? Block{std::vector<float>(frames), std::vector<float>(frames)}
                                 : counting(static_cast<std::uint32_t>(first), frames);
    ASSERT_EQ(out.left, want.left);
    ASSERT_EQ(out.right, want.right);
}
constexpr long silence = -1;

TEST(MonitorRingCreate, RoundsCapacityAndKeepsTargetBelowItElseHalvesIt)
{
    struct Row
    {
        std::uint32_t capacity, target;
        std::uint64_t wantCapacity, wantTarget;
    };
    // The target is compared with the rounded capacity, not the request.
    const Row rows[] = {{0, 0, 1024, 0},          {1, 512, 1024, 512},     {1000, 1010, 1024, 1010},
                        {1024, 1023, 1024, 1023}, {1024, 1024, 1024, 512}, {1025, 5000, 2048, 1024},
                        {96000, 0, 131072, 0}};
    for (const auto& row : rows) {
        auto ring = makeRing(row.capacity, row.target);
        EXPECT_EQ(ring->capacity, row.wantCapacity) << row.capacity;
        EXPECT_EQ(ring->mask, row.wantCapacity - 1) << row.capacity;
        EXPECT_EQ(monitor_ring_target_frames(ring.get()), row.wantTarget) << row.capacity;
    }
    monitor_ring_destroy(nullptr);
}

TEST(MonitorRingOverrun, DropsWholeBlockThenResyncKeepsNewestTargetFramesOnly)
{
    auto ring = makeRing(1024, 256);
    ASSERT_EQ(write(ring.get(), counting(0, 1000)), 1000u);
    EXPECT_EQ(write(ring.get(), counting(1000, 100)), 0u);
    EXPECT_EQ(monitor_ring_overruns(ring.get()), 1u);
    EXPECT_EQ(monitor_ring_buffered_frames(ring.get()), 1000u) << "no partial write";
    expectRead(ring.get(), 64, silence);
    EXPECT_EQ(monitor_ring_buffered_frames(ring.get()), 256u);
    EXPECT_EQ(monitor_ring_underruns(ring.get()), 0u);
    expectRead(ring.get(), 64, 1000 - 256);

    // With fewer than target frames buffered, the resync keeps them all.
    auto few = makeRing(1024, 512);
    ASSERT_EQ(write(few.get(), counting(0, 300)), 300u);
    EXPECT_EQ(write(few.get(), counting(300, 800)), 0u);
    expectRead(few.get(), 32, silence);
    EXPECT_EQ(monitor_ring_buffered_frames(few.get()), 300u);
}

TEST(MonitorRingOverrun, ResyncNeverReplaysFramesAlreadyRead)
{
    // A block larger than the whole ring is dropped even when the ring is empty; the resync must
    // not step back over frames that were already played.
    auto ring = makeRing(1024, 256);
    ASSERT_EQ(write(ring.get(), counting(0, 300)), 300u);
    expectRead(ring.get(), 300, 0);
    EXPECT_EQ(write(ring.get(), counting(300, 2000)), 0u);
    expectRead(ring.get(), 64, silence);
    EXPECT_EQ(monitor_ring_buffered_frames(ring.get()), 0u);
    ASSERT_EQ(write(ring.get(), counting(2300, 256)), 256u);
    expectRead(ring.get(), 64, 2300);
}

TEST(MonitorRingPriming, WaitsWithoutCountingAndOnlyARealUnderrunCounts)
{
    auto ring = makeRing(1024, 256);
    ASSERT_EQ(write(ring.get(), counting(0, 200)), 200u);
    expectRead(ring.get(), 64, silence);
    ASSERT_EQ(write(ring.get(), counting(200, 56)), 56u);
    // 256 buffered reaches the target but not a 300-frame request.
    expectRead(ring.get(), 300, silence);
    EXPECT_EQ(monitor_ring_buffered_frames(ring.get()), 256u);
    EXPECT_EQ(monitor_ring_underruns(ring.get()), 0u);
    expectRead(ring.get(), 200, 0);
    EXPECT_EQ(ring->primed.load(), 1);

    // 56 left for a 100-frame request: an underrun, which discards the remainder.
    expectRead(ring.get(), 100, silence);
    EXPECT_EQ(monitor_ring_underruns(ring.get()), 1u);
    EXPECT_EQ(monitor_ring_buffered_frames(ring.get()), 0u);
    EXPECT_EQ(ring->primed.load(), 0);

    // Re-priming is waiting again, not another underrun.
    ASSERT_EQ(write(ring.get(), counting(256, 100)), 100u);
    expectRead(ring.get(), 100, silence);
    ASSERT_EQ(write(ring.get(), counting(356, 156)), 156u);
    expectRead(ring.get(), 100, 256);
    EXPECT_EQ(monitor_ring_underruns(ring.get()), 1u);
}

TEST(MonitorRingWrap, BlockAcrossEndOfStorageArrivesIntactAndExactFitIsAccepted)
{
    auto ring = makeRing(1024, 0);
    ASSERT_EQ(write(ring.get(), counting(0, 1000)), 1000u);
    expectRead(ring.get(), 1000, 0);
    ASSERT_EQ(write(ring.get(), counting(1000, 300)), 300u);
    // The block really is split: its head at the end of storage, its tail at the start.
    EXPECT_EQ(ring->left[1023], 1023.0f);
    EXPECT_EQ(ring->left[0], 1024.0f);
    expectRead(ring.get(), 7, 1000);
    expectRead(ring.get(), 293, 1007);

    auto full = makeRing(1024, 1023);
    ASSERT_EQ(write(full.get(), counting(0, 24)), 24u);
    ASSERT_EQ(write(full.get(), counting(24, 1000)), 1000u);
    EXPECT_EQ(write(full.get(), counting(1024, 1)), 0u);
    expectRead(full.get(), 1, silence); // resync after the dropped frame
    expectRead(full.get(), 1023, 1);
}

TEST(MonitorRingMeters, ClipLatchesAtThresholdInSinglePrecisionUntilCleared)
{
    auto ring = makeRing(1024, 0);
    write(ring.get(), {{0.1f, 0.9999f}, {0.99989f, -0.2f}});
    auto peaks = monitor_ring_take_peaks(ring.get());
    EXPECT_EQ(peaks.leftPeak, 0.9999f);
    EXPECT_EQ(peaks.rightPeak, 0.99989f);
    EXPECT_TRUE(peaks.leftClipped);
    EXPECT_FALSE(peaks.rightClipped);

    // Negative full scale clips too, even in a dropped block, and latches survive takes.
    ASSERT_EQ(write(ring.get(), {std::vector<float>(1022, 0.1f), std::vector<float>(1022)}), 1022u);
    EXPECT_EQ(write(ring.get(), {{0.0f}, {-1.0f}}), 0u);
    EXPECT_EQ(monitor_ring_take_peaks(ring.get()).rightPeak, 1.0f);
    for (int i = 0; i < 2; ++i) {
        peaks = monitor_ring_take_peaks(ring.get());
        EXPECT_TRUE(peaks.leftClipped && peaks.rightClipped);
    }
    monitor_ring_clear_left_clip(ring.get());
    peaks = monitor_ring_take_peaks(ring.get());
    EXPECT_FALSE(peaks.leftClipped);
    EXPECT_TRUE(peaks.rightClipped);
    monitor_ring_clear_right_clip(ring.get());
    EXPECT_FALSE(monitor_ring_take_peaks(ring.get()).rightClipped);
    write(ring.get(), {{2.0f}, {2.0f}});
    monitor_ring_clear_clips(ring.get());
    peaks = monitor_ring_take_peaks(ring.get());
    EXPECT_FALSE(peaks.leftClipped || peaks.rightClipped);
}

TEST(MonitorRingMeters, PeakIsFoundAnywhereInTheBlockIgnoresNaNAndResetsOnTake)
{
    auto ring = makeRing(1024, 0);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (std::uint32_t position = 0; position < 37; ++position) {
        Block block{std::vector<float>(37, 0.25f), std::vector<float>(37, nan)};
        block.left[(position + 1) % 37] = nan;
        block.left[position] = -0.75f;
        block.right[position] = 0.5f;
        write(ring.get(), block);
        const auto peaks = monitor_ring_take_peaks(ring.get());
        ASSERT_EQ(peaks.leftPeak, 0.75f) << position;
        ASSERT_EQ(peaks.rightPeak, 0.5f) << position;
    }
    write(ring.get(), {{nan}, {nan}});
    EXPECT_EQ(monitor_ring_take_peaks(ring.get()).leftPeak, 0.0f);
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

TEST(MonitorRingGain, RampsWithEightMillisecondTimeConstantBothWaysAcrossCalls)
{
    for (const double rate : {44100.0, 192000.0}) {
        auto ring = makeRing(1024, 0);
        const auto frames = static_cast<std::uint32_t>(rate * 0.05);
        const auto gains = rampOfOnes(ring.get(), frames, rate);
        const double c = coefficientAt(rate);
        for (std::uint32_t n = 1; n <= frames; ++n) {
            ASSERT_NEAR(gains[n - 1], 1.0 - std::pow(1.0 - c, n), 1e-4) << rate << " step " << n;
        }
        // One time constant in, the gain is 1 - 1/e.
        EXPECT_NEAR(gains[static_cast<std::size_t>(rate * 0.008) - 1], 1.0 - std::exp(-1.0), 2e-3);
    }

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

    // A muted ramp reaches true silence instead of stalling on a denormal, and the unmute ramp
    // starts from it.
    EXPECT_EQ(rampOfOnes(ring.get(), 96000, 48000.0).back(), 0.0f);
    EXPECT_EQ(ring->gain.load(), 0.0f);
    monitor_ring_set_muted(ring.get(), false);
    EXPECT_EQ(rampOfOnes(ring.get(), 1, 48000.0)[0], static_cast<float>(c));
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
    rampOfOnes(ring.get(), 48000, 48000.0);
    ASSERT_GT(ring->gain.load(), 0.99f);
    ASSERT_EQ(write(ring.get(), counting(0, 64)), 64u);
    expectRead(ring.get(), 64, 0);
    EXPECT_NEAR(rampOfOnes(ring.get(), 1, 48000.0)[0], coefficientAt(48000.0), 1e-7);

    rampOfOnes(ring.get(), 48000, 48000.0);
    ASSERT_EQ(write(ring.get(), counting(64, 1000)), 1000u);
    ASSERT_EQ(write(ring.get(), counting(1064, 100)), 0u);
    expectRead(ring.get(), 64, silence);
    EXPECT_EQ(ring->gain.load(), 0.0f);
}

} // namespace
} // namespace brevalo
