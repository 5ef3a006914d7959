#include "workflow/capture_meter_rule.h"

#include <algorithm>
#include <cmath>

namespace brevalo {

double CaptureMeterRule::level(float linearPeak)
{
    if (!(linearPeak > 0.0f)) {
        return MeterReading::floorDBFS;
    }
    return std::max(20.0 * std::log10(static_cast<double>(linearPeak)), MeterReading::floorDBFS);
}

MeterReading CaptureMeterRule::next(const MeterReading& previous, float linearPeak,
                                    std::chrono::steady_clock::time_point now,
                                    std::chrono::steady_clock::time_point& peakHoldUntil)
{
    const double d = level(linearPeak);
    MeterReading result = previous;
    result.levelDBFS = std::max(d, previous.levelDBFS - fallPerPollDB);
    result.sessionPeakDBFS = std::max(previous.sessionPeakDBFS, d);
    result.isClipping = previous.isClipping || linearPeak >= 1.0f;
    if (d >= previous.peakDBFS) {
        result.peakDBFS = d;
        peakHoldUntil = now + peakHold;
    } else if (now > peakHoldUntil) {
        result.peakDBFS = std::max(d, previous.peakDBFS - fallPerPollDB);
    }
    return result;
}

} // namespace brevalo
