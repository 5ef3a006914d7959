#include "core/capture_ring.h"
#include "core/monitor_ring.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <tuple>
#include <vector>

namespace brevalo {
namespace {

template <typename T> struct Block
{
    std::vector<T> left;
    std::vector<T> right;
    bool operator==(const Block&) const = default;
};

// Left counts up from `first`, right is -1 minus left, so a swapped, shifted or repeated frame
// is visible.
template <typename T> Block<T> counting(long first, std::uint32_t frames)
{
    Block<T> block{std::vector<T>(frames), std::vector<T>(frames)};
    for (std::uint32_t i = 0; i < frames; ++i) {
        block.left[i] = static_cast<T>(first + i);
        block.right[i] = static_cast<T>(-1) - block.left[i];
    }
    return block;
}

template <typename T> Block<T> level(std::uint32_t frames, T left, T right)
{
    return {std::vector<T>(frames, left), std::vector<T>(frames, right)};
}

using Floats = Block<float>;
using Ints = Block<std::int32_t>;
struct Destroy
{
    void operator()(MonitorRing* ring) const { monitor_ring_destroy(ring); }
    void operator()(CaptureRing* ring) const { capture_ring_destroy(ring); }
};
using Monitor = std::unique_ptr<MonitorRing, Destroy>;
using Capture = std::unique_ptr<CaptureRing, Destroy>;

std::uint64_t write(MonitorRing* ring, const Floats& block)
{
    return monitor_ring_write(ring, block.left.data(), block.right.data(),
                              static_cast<std::uint32_t>(block.left.size()));
}

int write(CaptureRing* ring, const Ints& block)
{
    return capture_ring_write(ring, block.left.data(), block.right.data(),
                              static_cast<std::uint32_t>(block.left.size()));
}

constexpr long silence = -1;

// Reads into garbage-filled destinations and expects silence (first < 0) or frames counting
// from `first`.
void expectRead(MonitorRing* ring, std::uint32_t frames, long first)
{
    Floats out = level(frames, 777.0f, 777.0f);
    ASSERT_EQ(monitor_ring_read(ring, out.left.data(), out.right.data(), frames),
              first < 0 ? 0u : frames);
    ASSERT_EQ(out, first < 0 ? level(frames, 0.0f, 0.0f) : counting<float>(first, frames));
}

Ints read(CaptureRing* ring, std::uint32_t maximum)
{
    Ints out = level(maximum + 1, 7, 7);
    const auto frames = capture_ring_read(ring, out.left.data(), out.right.data(), maximum);
    EXPECT_EQ(out.left[maximum], 7) << "read past the maximum";
    out.left.resize(frames);
    out.right.resize(frames);
    return out;
}

TEST(MonitorRing, RoundsCapacityUpAndKeepsTargetBelowItElseHalvesIt)
{
    const struct
    {
        std::uint32_t capacity, target;
        std::uint64_t wantCapacity, wantTarget;
    } rows[] = {{0, 0, 1024, 0},          {1, 512, 1024, 512},     {1000, 1010, 1024, 1010},
                {1024, 1023, 1024, 1023}, {1024, 1024, 1024, 512}, {1025, 5000, 2048, 1024},
                {96000, 0, 131072, 0}};
    for (const auto& row : rows) {
        Monitor ring(monitor_ring_create(row.capacity, row.target));
        EXPECT_EQ(std::tuple(ring->capacity, ring->mask, monitor_ring_target_frames(ring.get())),
                  std::tuple(row.wantCapacity, row.wantCapacity - 1, row.wantTarget))
            << row.capacity;
    }
}

TEST(MonitorRing, CarriesBlocksAcrossTheWrapAndAcceptsAnExactFit)
{
    Monitor ring(monitor_ring_create(1024, 0));
    ASSERT_EQ(write(ring.get(), counting<float>(0, 1000)), 1000u);
    expectRead(ring.get(), 1000, 0);
    ASSERT_EQ(write(ring.get(), counting<float>(1000, 300)), 300u);
    expectRead(ring.get(), 7, 1000);
    expectRead(ring.get(), 293, 1007);

    Monitor full(monitor_ring_create(1024, 1023));
    ASSERT_EQ(write(full.get(), counting<float>(0, 24)), 24u);
    ASSERT_EQ(write(full.get(), counting<float>(24, 1000)), 1000u);
    EXPECT_EQ(write(full.get(), counting<float>(1024, 1)), 0u);
    expectRead(full.get(), 1, silence); // resync after the dropped frame
    expectRead(full.get(), 1023, 1);
}

TEST(MonitorRing, OverrunDropsTheWholeBlockAndResyncKeepsOnlyTheNewestTargetFrames)
{
    Monitor ring(monitor_ring_create(1024, 256));
    ASSERT_EQ(write(ring.get(), counting<float>(0, 1000)), 1000u);
    EXPECT_EQ(write(ring.get(), counting<float>(1000, 100)), 0u);
    EXPECT_EQ(monitor_ring_overruns(ring.get()), 1u);
    EXPECT_EQ(monitor_ring_buffered_frames(ring.get()), 1000u) << "no partial write";
    expectRead(ring.get(), 64, silence);
    EXPECT_EQ(monitor_ring_buffered_frames(ring.get()), 256u);
    expectRead(ring.get(), 64, 1000 - 256);
    EXPECT_EQ(monitor_ring_underruns(ring.get()), 0u);

    // Fewer than target frames buffered: the resync keeps them all.
    Monitor few(monitor_ring_create(1024, 512));
    ASSERT_EQ(write(few.get(), counting<float>(0, 300)), 300u);
    EXPECT_EQ(write(few.get(), counting<float>(300, 800)), 0u);
    expectRead(few.get(), 32, silence);
    EXPECT_EQ(monitor_ring_buffered_frames(few.get()), 300u);

    // A block larger than the ring is dropped even when it is empty; the resync must not step
    // back over frames already played.
    Monitor played(monitor_ring_create(1024, 256));
    ASSERT_EQ(write(played.get(), counting<float>(0, 300)), 300u);
    expectRead(played.get(), 300, 0);
    EXPECT_EQ(write(played.get(), counting<float>(300, 2000)), 0u);
    expectRead(played.get(), 64, silence);
    EXPECT_EQ(monitor_ring_buffered_frames(played.get()), 0u);
    ASSERT_EQ(write(played.get(), counting<float>(2300, 256)), 256u);
    expectRead(played.get(), 64, 2300);
}

TEST(MonitorRing, PrimingWaitsWithoutCountingAndOnlyARealUnderrunCounts)
{
    Monitor ring(monitor_ring_create(1024, 256));
    ASSERT_EQ(write(ring.get(), counting<float>(0, 200)), 200u);
    expectRead(ring.get(), 64, silence);
    ASSERT_EQ(write(ring.get(), counting<float>(200, 56)), 56u);
    expectRead(ring.get(), 300, silence); // the target is reached, the request is not
    EXPECT_EQ(monitor_ring_buffered_frames(ring.get()), 256u);
    expectRead(ring.get(), 200, 0);
    EXPECT_EQ(monitor_ring_underruns(ring.get()), 0u);

    // 56 left for a 100-frame request: an underrun, which discards the remainder and re-primes.
    expectRead(ring.get(), 100, silence);
    EXPECT_EQ(monitor_ring_underruns(ring.get()), 1u);
    EXPECT_EQ(monitor_ring_buffered_frames(ring.get()), 0u);
    ASSERT_EQ(write(ring.get(), counting<float>(256, 100)), 100u);
    expectRead(ring.get(), 100, silence);
    ASSERT_EQ(write(ring.get(), counting<float>(356, 156)), 156u);
    expectRead(ring.get(), 100, 256);
    EXPECT_EQ(monitor_ring_underruns(ring.get()), 1u);
}

TEST(MonitorRing, MetersFindThePeakAnywhereIgnoreNaNAndLatchClipsUntilCleared)
{
    Monitor ring(monitor_ring_create(1024, 0));
    const auto take = [&] {
        const auto p = monitor_ring_take_peaks(ring.get());
        return std::tuple(p.leftPeak, p.rightPeak, p.leftClipped, p.rightClipped);
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (std::uint32_t position = 0; position < 37; ++position) {
        Floats block{std::vector<float>(37, 0.25f), std::vector<float>(37, nan)};
        block.left[(position + 1) % 37] = nan;
        block.left[position] = -0.75f;
        block.right[position] = 0.5f;
        write(ring.get(), block);
        ASSERT_EQ(take(), std::tuple(0.75f, 0.5f, false, false)) << position;
    }

    // The threshold compares in single precision.
    ring.reset(monitor_ring_create(1024, 0));
    write(ring.get(), {{0.1f, 0.9999f}, {0.99989f, -0.2f}});
    EXPECT_EQ(take(), std::tuple(0.9999f, 0.99989f, true, false));
    // Negative full scale clips too, even in a dropped block, and the latch survives takes.
    ASSERT_EQ(write(ring.get(), level(1022, 0.1f, 0.0f)), 1022u);
    EXPECT_EQ(write(ring.get(), {{0.0f}, {-1.0f}}), 0u);
    EXPECT_EQ(take(), std::tuple(0.1f, 1.0f, true, true));
    monitor_ring_clear_left_clip(ring.get());
    EXPECT_EQ(take(), std::tuple(0.0f, 0.0f, false, true));
    monitor_ring_clear_clips(ring.get());
    EXPECT_EQ(take(), std::tuple(0.0f, 0.0f, false, false));
}

TEST(MonitorRing, FirstNonZeroErrorWinsUntilTaken)
{
    Monitor ring(monitor_ring_create(1024, 0));
    for (const std::int32_t status : {0, -50, 0, 0x21646174}) {
        monitor_ring_report_error(ring.get(), status);
    }
    EXPECT_EQ(monitor_ring_take_error(ring.get()), -50);
    EXPECT_EQ(monitor_ring_take_error(ring.get()), 0);
}

// The ramp applied to ones: output i is the gain after i + 1 steps.
std::vector<float> rampOfOnes(MonitorRing* ring, std::uint32_t frames, double sampleRate)
{
    Floats ones = level(frames, 1.0f, 1.0f);
    monitor_ring_apply_gain(ring, ones.left.data(), ones.right.data(), frames, sampleRate);
    EXPECT_EQ(ones.left, ones.right);
    return ones.left;
}

double coefficientAt(double sampleRate)
{
    return static_cast<float>(1.0 - std::exp(-1.0 / (sampleRate * 0.008)));
}

TEST(MonitorRing, GainRampsWithAnEightMillisecondTimeConstantAndRestartsFromSilence)
{
    for (const double rate : {44100.0, 192000.0}) {
        Monitor ring(monitor_ring_create(1024, 0));
        const auto gains = rampOfOnes(ring.get(), static_cast<std::uint32_t>(rate * 0.05), rate);
        for (std::uint32_t n = 1; n <= gains.size(); ++n) {
            ASSERT_NEAR(gains[n - 1], 1.0 - std::pow(1.0 - coefficientAt(rate), n), 1e-4) << rate;
        }
    }
    Monitor ring(monitor_ring_create(1024, 0));
    rampOfOnes(ring.get(), 200, 48000.0);
    const double start = ring->gain.load();
    monitor_ring_set_muted(ring.get(), true);
    const auto first = rampOfOnes(ring.get(), 100, 48000.0);
    const auto second = rampOfOnes(ring.get(), 100, 48000.0);
    const double keep = 1.0 - coefficientAt(48000.0);
    for (std::uint32_t n = 1; n <= 100; ++n) {
        ASSERT_NEAR(first[n - 1], start * std::pow(keep, n), 1e-4);
        ASSERT_NEAR(second[n - 1], start * std::pow(keep, n + 100), 1e-4);
    }
    // A muted ramp reaches true silence instead of stalling on a denormal; unmuting starts
    // from it.
    EXPECT_EQ(rampOfOnes(ring.get(), 96000, 48000.0).back(), 0.0f);
    EXPECT_EQ(ring->gain.load(), 0.0f);
    monitor_ring_set_muted(ring.get(), false);
    EXPECT_EQ(rampOfOnes(ring.get(), 1, 48000.0)[0], coefficientAt(48000.0));
    // A rate at or below 1 takes the 48 kHz coefficient.
    for (const double rate : {0.0, 1.0, -44100.0, std::numeric_limits<double>::quiet_NaN()}) {
        Monitor other(monitor_ring_create(1024, 0));
        EXPECT_EQ(rampOfOnes(other.get(), 1, rate)[0], 0.0026007787661767034f) << rate;
    }

    // Playback starts, and a resync restarts, from silence.
    ring.reset(monitor_ring_create(1024, 64));
    rampOfOnes(ring.get(), 48000, 48000.0);
    ASSERT_EQ(write(ring.get(), counting<float>(0, 64)), 64u);
    expectRead(ring.get(), 64, 0);
    EXPECT_NEAR(rampOfOnes(ring.get(), 1, 48000.0)[0], coefficientAt(48000.0), 1e-7);

    rampOfOnes(ring.get(), 48000, 48000.0);
    ASSERT_EQ(write(ring.get(), counting<float>(64, 1000)), 1000u);
    ASSERT_EQ(write(ring.get(), counting<float>(1064, 100)), 0u);
    expectRead(ring.get(), 64, silence);
    EXPECT_EQ(ring->gain.load(), 0.0f);
}

constexpr std::int32_t most = std::numeric_limits<std::int32_t>::min();

TEST(CaptureRing, CarriesFramesAcrossAnyWrapAndAcceptsAnExactFit)
{
    EXPECT_EQ(capture_ring_create(0), nullptr);
    Capture one(capture_ring_create(1));
    EXPECT_EQ(read(one.get(), 4), counting<std::int32_t>(0, 0));
    for (long i = 0; i < 3; ++i) {
        ASSERT_EQ(write(one.get(), counting<std::int32_t>(i, 1)), 1);
        ASSERT_EQ(read(one.get(), 4), counting<std::int32_t>(i, 1));
    }

    Capture ring(capture_ring_create(1000)); // not a power of two: slots wrap modulo capacity
    ASSERT_EQ(write(ring.get(), counting<std::int32_t>(0, 900)), 1);
    ASSERT_EQ(read(ring.get(), 900), counting<std::int32_t>(0, 900));
    ASSERT_EQ(write(ring.get(), counting<std::int32_t>(0, 400)), 1);
    ASSERT_EQ(write(ring.get(), counting<std::int32_t>(400, 600)), 1);
    EXPECT_EQ(capture_ring_error(ring.get()), 0);
    EXPECT_EQ(read(ring.get(), 2000), counting<std::int32_t>(0, 1000));
}

// What shuts the producer out: a block that overflows (status -1), a reported status, or a stop,
// which is not a failure.
TEST(CaptureRing, AnOverflowAStatusOrAStopShutsOutTheProducerForGoodButNotTheDrain)
{
    for (const std::int32_t error : {-1, -2, 0}) {
        SCOPED_TRACE(error);
        Capture ring(capture_ring_create(100));
        capture_ring_report_error(ring.get(), 0);
        ASSERT_EQ(write(ring.get(), counting<std::int32_t>(0, 10)), 1);
        if (error == -1) {
            EXPECT_EQ(write(ring.get(), level(91, most, most)), 0);
        } else if (error == 0) {
            capture_ring_request_stop(ring.get());
        } else {
            capture_ring_report_error(ring.get(), error);
        }
        EXPECT_EQ(write(ring.get(), counting<std::int32_t>(10, 1)), 0) << "space is free";
        EXPECT_EQ(capture_ring_take_peak(ring.get(), 0), 9 * 0x1p-31f) << "a refused block counted";
        EXPECT_EQ(capture_ring_take_peak(ring.get(), 1), 10 * 0x1p-31f);
        capture_ring_report_error(ring.get(), error == 0 ? 0 : -3); // never replaces the first
        EXPECT_EQ(capture_ring_error(ring.get()), error);
        EXPECT_EQ(read(ring.get(), 100), counting<std::int32_t>(0, 10));
    }
}

TEST(CaptureRing, PeaksScaleToFullScaleAtAnyPositionAndResetOnTake)
{
    Capture ring(capture_ring_create(64));
    for (std::uint32_t position = 0; position < 37; ++position) {
        Ints block = level(37, 1 << 20, -1);
        block.left[position] = -(1 << 30);
        block.right[position] = most; // the most negative sample is exactly full scale
        ASSERT_EQ(write(ring.get(), block), 1);
        read(ring.get(), 64);
        ASSERT_EQ(capture_ring_take_peak(ring.get(), 0), 0.5f) << position;
        ASSERT_EQ(capture_ring_take_peak(ring.get(), 5), 1.0f) << position; // not 0: right
    }
    EXPECT_EQ(capture_ring_take_peak(ring.get(), 0), 0.0f);
}

} // namespace
} // namespace brevalo
