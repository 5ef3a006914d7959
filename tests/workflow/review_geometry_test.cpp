#include "workflow/review_geometry.h"

#include "capture/project_fixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>

namespace brevalo {

inline void PrintTo(const FrameRange& range, std::ostream* out)
{
    *out << range.start << " ..< " << range.end;
}

namespace {

TEST(ReviewGeometry, StopsRunFromStartThroughBoundariesToEnd)
{
    CaptureSide side = testing::side(1, QStringLiteral("A"), 3);
    side.master = testing::master(1'000);
    side.trimStartFrame = 10;
    side.trimEndFrame = 900;
    side.markers = {300, 600};

    struct Jump
    {
        qint64 playhead;
        qint64 next;
        qint64 previous;
    };
    for (const Jump& jump :
         {Jump{0, 10, 10}, Jump{10, 300, 10}, Jump{300, 600, 10}, Jump{450, 600, 300},
          Jump{600, 900, 300}, Jump{900, 900, 600}, Jump{950, 950, 900}}) {
        EXPECT_EQ(nextStop(side, jump.playhead), jump.next) << jump.playhead;
        EXPECT_EQ(previousStop(side, jump.playhead), jump.previous) << jump.playhead;
    }
}

TEST(ReviewGeometry, ScrollKeepsTheSpanInsideTheMaster)
{
    const FrameRange span{0, 100'000};
    EXPECT_EQ(scrolledRange(span, 0.5, 1'100'000), (FrameRange{500'000, 600'000}));
    EXPECT_EQ(scrolledRange(span, 7.0, 1'100'000), (FrameRange{1'000'000, 1'100'000}));
    EXPECT_EQ(scrolledRange(span, -1.0, 1'100'000), (FrameRange{0, 100'000}));
    EXPECT_EQ(scrolledRange(span, std::nan(""), 1'100'000), (FrameRange{0, 100'000}));
    EXPECT_EQ(scrolledRange(span, 0.5, 50'000), (FrameRange{0, 100'000}));
}

TEST(ReviewGeometry, ZoomCentresOnThePlayheadWithinLimits)
{
    const qint64 frames = 10'000'000;
    const FrameRange whole{0, frames};
    EXPECT_EQ(zoomedRange(whole, 0.000001, 5'000'000, frames),
              (FrameRange{5'000'000 - 16, 5'000'000 + 16}));
    EXPECT_EQ(zoomedRange(whole, 0.5, 0, frames), (FrameRange{0, 5'000'000}));
    EXPECT_EQ(zoomedRange(whole, 0.5, frames, frames), (FrameRange{5'000'000, frames}));
    EXPECT_EQ(zoomedRange({1'000, 2'000}, 4.0, 0, frames), (FrameRange{0, 4'000}));
    EXPECT_EQ(zoomedRange({0, 20}, 100.0, 0, frames), (FrameRange{0, 2'000}));
    EXPECT_EQ(zoomedRange({0, 20}, 0.01, 0, 20), (FrameRange{0, 20}));
    EXPECT_EQ(zoomedRange(whole, 3.0, 0, frames), whole);
    EXPECT_EQ(zoomedRange(whole, 0.0, 0, frames), whole);
}

} // namespace
} // namespace brevalo
