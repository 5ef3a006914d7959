// The meter scale: positions, the inverse, lit segments, the held-peak segment and colours.

#include "app/meter_scale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace brevalo {
namespace {

TEST(MeterScale, BreakpointsSpendHalfTheBarOnTheTopTwelveDecibels)
{
    const auto& b = meterBreakpoints();
    EXPECT_DOUBLE_EQ(b[0], -60.0);
    EXPECT_DOUBLE_EQ(b[32], 0.0);
    for (size_t k = 1; k < b.size(); ++k) {
        EXPECT_DOUBLE_EQ(b[k] - b[k - 1], k <= 16 ? 3.0 : 0.75) << k;
    }
}

TEST(MeterScale, PositionAndItsInverse)
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
    EXPECT_DOUBLE_EQ(meterPosition(3.0), 1.0);
    EXPECT_DOUBLE_EQ(meterPosition(inf), 1.0);
    EXPECT_DOUBLE_EQ(meterValue(-0.5), -60.0);
    EXPECT_DOUBLE_EQ(meterValue(7.0), 0.0);
    for (double v = -60.0; v <= 0.0; v += 0.25) {
        EXPECT_NEAR(meterValue(meterPosition(v)), v, 1e-9) << v;
    }
}

TEST(MeterScale, LitCountIsTheFirstBreakpointAtOrAboveTheLevel)
{
    EXPECT_EQ(litSegmentCount(-60.0), 0);
    EXPECT_EQ(litSegmentCount(-80.0), 0);
    EXPECT_EQ(litSegmentCount(std::nan("")), 0);
    EXPECT_EQ(litSegmentCount(-59.0), 1);
    EXPECT_EQ(litSegmentCount(-57.0), 1); // exactly on a breakpoint: still one segment
    EXPECT_EQ(litSegmentCount(-56.9), 2);
    EXPECT_EQ(litSegmentCount(-12.0), 16);
    EXPECT_EQ(litSegmentCount(-0.1), 32);
    EXPECT_EQ(litSegmentCount(0.0), 32);
    EXPECT_EQ(litSegmentCount(6.0), 32);
}

TEST(MeterScale, PeakSegmentIsTheSegmentContainingThePeak)
{
    EXPECT_EQ(peakSegment(-60.0), std::nullopt);
    EXPECT_EQ(peakSegment(std::nan("")), std::nullopt);
    EXPECT_EQ(peakSegment(-59.0), 0);
    EXPECT_EQ(peakSegment(-20.0), 13); // B[13] = −21 < −20 ≤ B[14] = −18
    EXPECT_EQ(peakSegment(-12.0), 15);
    EXPECT_EQ(peakSegment(-0.5), 31);
    EXPECT_EQ(peakSegment(0.0), 31);
    EXPECT_EQ(peakSegment(2.0), 31);
}

TEST(MeterScale, HeldPeakLightsOneSegmentAboveTheLevel)
{
    // Level −40 lights segments 0…6 (B[7] = −39); the peak −20 adds segment 13 only.
    std::vector<int> lit;
    for (int i = 0; i < meterSegmentCount; ++i) {
        if (isSegmentLit(i, -40.0, -20.0)) {
            lit.push_back(i);
        }
    }
    EXPECT_EQ(lit, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 13}));
    EXPECT_FALSE(isSegmentLit(0, -60.0, -60.0));
}

TEST(MeterScale, ColoursFollowTheSegmentCentres)
{
    for (int i = 0; i < meterSegmentCount; ++i) {
        const SegmentColor expected = i >= 28   ? SegmentColor::red
                                      : i >= 16 ? SegmentColor::amber
                                                : SegmentColor::green;
        EXPECT_EQ(segmentColor(i), expected) << i;
    }
    EXPECT_EQ(segmentQColor(SegmentColor::red), QColor::fromRgbF(1.0f, 0.22f, 0.16f));
    EXPECT_EQ(segmentQColor(SegmentColor::amber), QColor::fromRgbF(1.0f, 0.65f, 0.145f));
    EXPECT_EQ(segmentQColor(SegmentColor::green), QColor::fromRgbF(0.18f, 0.8f, 0.41f));
}

TEST(MeterScale, ScaleMarksUseTheMinusSign)
{
    const QString minus(QChar(0x2212));
    const QList<ScaleMark> expected{{-60, minus + "60"}, {-30, minus + "30"}, {-12, minus + "12"},
                                    {-6, minus + "6"},   {-3, minus + "3"},   {0, "0"}};
    EXPECT_EQ(scaleMarks(), expected);
}

} // namespace
} // namespace brevalo
