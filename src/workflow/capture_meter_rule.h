#pragma once

// The input meters shown while a side is recorded. Unlike the monitor's meters, the held peak
// falls as fast as the level and the clip lamp latches for the whole take.

#include "monitor/meter_reading.h"

#include <chrono>

namespace brevalo {

struct CaptureMeterRule
{
    static constexpr double fallPerPollDB = 0.6; // level and released peak, per 33 ms poll
    static constexpr std::chrono::milliseconds peakHold{3000};

    // 20·log10(peak) for a linear peak (1.0 = full scale), never below the floor; silence and
    // anything not above 0 read as the floor.
    static double level(float linearPeak);

    // previous → next for one channel with the peak taken from the ring since the last poll.
    // peakHoldUntil is the channel's hold deadline, moved whenever a new peak is held.
    static MeterReading next(const MeterReading& previous, float linearPeak,
                             std::chrono::steady_clock::time_point now,
                             std::chrono::steady_clock::time_point& peakHoldUntil);
};

} // namespace brevalo
