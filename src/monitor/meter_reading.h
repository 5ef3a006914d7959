#pragma once

// The level meter value shared by the monitor and capture controllers, and the monitor's
// update rule.

#include <QMetaType>

#include <chrono>

namespace brevalo {

enum class MeterChannel
{
    left,
    right
};

struct MeterReading
{
    // dBFS; the meter shows nothing below it.
    static constexpr double floorDBFS = -60.0;

    double levelDBFS = floorDBFS;
    double peakDBFS = floorDBFS;
    double sessionPeakDBFS = floorDBFS;
    bool isClipping = false;

    static MeterReading silent() { return {}; }

    bool operator==(const MeterReading&) const = default;
};

// The monitor's ballistics, applied once per 33 ms tick.
struct MonitorMeterRule
{
    static constexpr double levelFallPerTickDB = 0.6;          // about 18 dB/s
    static constexpr double peakFallPerTickDB = 0.4;           // about 12 dB/s
    static constexpr std::chrono::milliseconds peakHold{3000}; // before the held peak falls
    // Linear peaks at or below this (-60 dBFS) read as the floor.
    static constexpr float silenceThreshold = 0.001f;

    // L for a linear peak: 20·log10(peak), never below the floor.
    static double instantaneousLevel(float linearPeak);

    // previous → next for one channel. linearPeak is the snapshot's peak (0 without a
    // snapshot); clipped is the snapshot's latch for the channel (false without one);
    // peakHoldUntil is the channel's hold deadline, moved when a new peak is held.
    static MeterReading next(const MeterReading& previous, float linearPeak, bool clipped,
                             std::chrono::steady_clock::time_point now,
                             std::chrono::steady_clock::time_point& peakHoldUntil);
};

} // namespace brevalo

Q_DECLARE_METATYPE(brevalo::MeterReading)
