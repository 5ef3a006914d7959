#include "workflow/capture_meter_rule.h"
#include "workflow/duration_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace brevalo {
namespace {

using namespace std::chrono_literals;

TEST(DurationText, FormatsHoursMinutesSecondsAndMilliseconds)
{
    struct Case
    {
        double seconds;
        bool milliseconds;
        const char* text;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    for (const Case& c : {Case{0, false, "00:00:00"}, Case{59.999, false, "00:00:59"},
                          Case{59.9996, true, "00:01:00.000"}, Case{3'723.25, true, "01:02:03.250"},
                          Case{360'000, false, "100:00:00"}, Case{-1, true, "00:00:00.000"},
                          Case{nan, false, "00:00:00"}, Case{infinity, true, "00:00:00.000"}}) {
        EXPECT_EQ(durationText(c.seconds, c.milliseconds).toStdString(), c.text) << c.seconds;
    }
}

TEST(CaptureMeterRule, HoldsPeakThreeSecondsThenFallsWithTheLevel)
{
    const auto start = std::chrono::steady_clock::time_point{} + 1h;
    auto hold = std::chrono::steady_clock::time_point::min();
    MeterReading meter = CaptureMeterRule::next({}, 0.5f, start, hold);
    const double d = 20.0 * std::log10(0.5);
    EXPECT_EQ(meter, (MeterReading{d, d, d, false}));

    auto now = start;
    for (int poll = 1; now + 33ms <= start + 3s; ++poll) {
        now += 33ms;
        meter = CaptureMeterRule::next(meter, 0.0f, now, hold);
        EXPECT_EQ(meter.peakDBFS, d);
        EXPECT_NEAR(meter.levelDBFS, std::max(d - 0.6 * poll, -60.0), 1e-9);
    }
    now = start + 3s + 1ms;
    meter = CaptureMeterRule::next(meter, 0.0f, now, hold);
    EXPECT_NEAR(meter.peakDBFS, d - 0.6, 1e-9);
    meter = CaptureMeterRule::next(meter, 0.0f, now + 33ms, hold);
    EXPECT_NEAR(meter.peakDBFS, d - 1.2, 1e-9);
    EXPECT_EQ(meter.sessionPeakDBFS, d);

    meter = CaptureMeterRule::next(meter, 1.0f, now + 66ms, hold);
    EXPECT_TRUE(meter.isClipping);
    EXPECT_EQ(meter.peakDBFS, 0.0);
    meter = CaptureMeterRule::next(meter, 0.0f, now + 99ms, hold);
    EXPECT_TRUE(meter.isClipping);
    EXPECT_EQ(CaptureMeterRule::level(0.0000001f), -60.0);
    EXPECT_EQ(CaptureMeterRule::level(std::numeric_limits<float>::quiet_NaN()), -60.0);
}

} // namespace
} // namespace brevalo
