// The meter scale: positions, the inverse, lit segments, the held-peak segment
// and colours.

#include "app/meter_scale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace brevalo {
namespace {

TEST(MeterScale, PositionAndItsInverseSpendHalfTheBarOnTheTopTwelveDecibels)
{
    const std::pair<double, double> table[] = {{-60.0, 0.0},
                                               {-12.0, 0.5},
                                               {-6.0, 0.75},
                                               {-3.0, 0.875},
                                               {0.0, 1.0},
                                               {-30.0, 10.0 / 32.0},
                                               // Inside a segment the position is linear in dB.
                                               {-58.5, 0.5 / 32.0},
                                               {-0.375, 31.5 / 32.0}};
    for (const auto& [value, position] : table) {
        EXPECT_DOUBLE_EQ(meterPosition(value), position) << value;
        EXPECT_DOUBLE_EQ(meterValue(position), value) << position;
    }
    const double inf = std::numeric_limits<double>::infinity();
    for (const double below : {-200.0, -inf, std::nan("")}) {
        EXPECT_DOUBLE_EQ(meterPosition(below), 0.0);
    }
    EXPECT_DOUBLE_EQ(meterPosition(inf), 1.0);
    EXPECT_DOUBLE_EQ(meterValue(-0.5), -60.0);
    EXPECT_DOUBLE_EQ(meterValue(7.0), 0.0);
    for (double v = -60.0; v <= 0.0; v += 0.25) {
        EXPECT_NEAR(meterValue(meterPosition(v)), v, 1e-9) << v;
    }
}

TEST(MeterScale, LevelLightsUpToTheFirstBreakpointAtOrAboveItAndThePeakItsOwnSegment)
{
    struct Case
    {
        double dbfs;
        int lit;
        std::optional<int> peak;
    };
    for (const Case& c : {Case{-80.0, 0, {}}, Case{-60.0, 0, {}}, Case{std::nan(""), 0, {}},
                          Case{-59.0, 1, 0}, Case{-57.0, 1, 0}, // on a breakpoint: one segment
                          Case{-56.9, 2, 1}, Case{-20.0, 14, 13}, Case{-12.0, 16, 15},
                          Case{-0.1, 32, 31}, Case{0.0, 32, 31}, Case{6.0, 32, 31}}) {
        EXPECT_EQ(litSegmentCount(c.dbfs), c.lit) << c.dbfs;
        EXPECT_EQ(peakSegment(c.dbfs), c.peak) << c.dbfs;
    }
    // Level −40 lights segments 0…6; the held peak −20 adds segment 13 only.
    std::vector<int> lit;
    for (int i = 0; i < meterSegmentCount; ++i) {
        if (isSegmentLit(i, -40.0, -20.0)) {
            lit.push_back(i);
        }
    }
    EXPECT_EQ(lit, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 13}));
}

TEST(MeterScale, ColoursFollowTheSegmentCentresAndMarksUseTheMinusSign)
{
    for (int i = 0; i < meterSegmentCount; ++i) {
        const SegmentColor expected = i >= 28   ? SegmentColor::red
                                      : i >= 16 ? SegmentColor::amber
                                                : SegmentColor::green;
        EXPECT_EQ(segmentColor(i), expected) << i;
    }
    const QString minus(QChar(0x2212));
    const QList<ScaleMark> expected{{-60, minus + "60"}, {-30, minus + "30"}, {-12, minus + "12"},
                                    {-6, minus + "6"},   {-3, minus + "3"},   {0, "0"}};
    EXPECT_EQ(scaleMarks(), expected);
}

} // namespace
} // namespace brevalo
