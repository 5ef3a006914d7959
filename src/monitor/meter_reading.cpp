#include "monitor/meter_reading.h"

#include <algorithm>
#include <cmath>

namespace brevalo {

double MonitorMeterRule::instantaneousLevel(float linearPeak)
{
    if (!(linearPeak > silenceThreshold)) {
        return MeterReading::floorDBFS;
    }
    return std::max(20.0 * std::log10(static_cast<double>(linearPeak)), MeterReading::floorDBFS);
}

MeterReading MonitorMeterRule::next(const MeterReading& previous, float linearPeak, bool clipped,
                                    std::chrono::steady_clock::time_point now,
                                    std::chrono::steady_clock::time_point& peakHoldUntil)
{
    constexpr double floor = MeterReading::floorDBFS;
    const double level = instantaneousLevel(linearPeak);

    MeterReading reading;
    reading.levelDBFS = std::max(level, std::max(previous.levelDBFS - levelFallPerTickDB, floor));

    double peak = previous.peakDBFS;
    if (previous.peakDBFS <= level) {
        peakHoldUntil = now + peakHold;
        peak = level;
    } else if (now >= peakHoldUntil) {
        // The held peak falls, but never below the bar it sits on.
        peak = std::max(reading.levelDBFS, previous.peakDBFS - peakFallPerTickDB);
    }
    reading.peakDBFS = std::max(peak, floor);
    reading.sessionPeakDBFS = std::max(std::max(previous.sessionPeakDBFS, level), floor);
    reading.isClipping = previous.isClipping || clipped;
    return reading;
}

} // namespace brevalo
