#include "workflow/capture_edits.h"

#include "capture/project_fixtures.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace brevalo {
namespace {

constexpr qint64 F = 48'000;

// Markers, start trim and end trim of a side.
using Layout = std::tuple<QList<qint64>, std::optional<qint64>, std::optional<qint64>>;

CaptureSide recordedSide(const Layout& layout, qint64 frames = F)
{
    CaptureSide side = testing::side(1, QStringLiteral("A"), 4);
    side.master = testing::master(frames);
    std::tie(side.markers, side.trimStartFrame, side.trimEndFrame) = layout;
    return side;
}

Layout layoutOf(const CaptureSide& side)
{
    return {side.markers, side.trimStartFrame, side.trimEndFrame};
}

using Edit = std::function<void(CaptureSide&)>;
const auto add = [](qint64 f) -> Edit { return [f](CaptureSide& s) { addBoundary(s, f); }; };
const auto move = [](qsizetype i, qint64 f) -> Edit {
    return [i, f](CaptureSide& s) { moveBoundary(s, i, f); };
};
const auto remove = [](qsizetype i) -> Edit {
    return [i](CaptureSide& s) { deleteBoundary(s, i); };
};
const auto trimStart = [](qint64 f) -> Edit { return [f](CaptureSide& s) { setTrimStart(s, f); }; };
const auto trimEnd = [](qint64 f) -> Edit { return [f](CaptureSide& s) { setTrimEnd(s, f); }; };

TEST(BoundaryAndTrimEdits, ClampOrIgnoreInvalidRequests)
{
    const std::nullopt_t none = std::nullopt;
    const struct
    {
        Layout before;
        Edit edit;
        Layout after;
    } rows[] = {
        {{{}, none, none}, add(0), {{}, none, none}}, // frame 0 and the end are not boundaries
        {{{}, none, none}, add(1), {{1}, none, none}},
        {{{}, none, none}, add(F - 1), {{F - 1}, none, none}},
        {{{}, none, none}, add(F), {{}, none, none}},
        {{{24'000}, none, none}, add(24'000), {{24'000}, none, none}},
        {{{100, 300}, none, none}, add(200), {{100, 200, 300}, none, none}},
        {{{}, 1'000, none}, add(1'000), {{}, 1'000, none}}, // on a trim: ignored
        {{{}, 1'000, none}, add(1'001), {{1'001}, 1'000, none}},
        {{{}, none, 40'000}, add(40'000), {{}, none, 40'000}},
        {{{100, 200, 300}, none, none}, move(1, 50), {{100, 101, 300}, none, none}},
        {{{100, 200, 300}, none, none}, move(1, 1'000), {{100, 299, 300}, none, none}},
        {{{100, 200, 300}, none, none}, move(0, 0), {{1, 200, 300}, none, none}},
        {{{100}, none, 500}, move(0, F), {{499}, none, 500}},
        {{{100}, none, none}, move(1, 50), {{100}, none, none}},
        {{{100, 200}, none, none}, remove(0), {{200}, none, none}},
        {{{100, 200}, none, none}, remove(2), {{100, 200}, none, none}},
        {{{100}, none, none}, trimStart(250), {{100}, 99, none}},
        {{{100}, 50, none}, trimStart(-5), {{100}, none, none}}, // 0 is stored as absent
        {{{}, none, 500}, trimStart(F), {{}, 499, 500}},
        {{{100}, none, none}, trimEnd(50), {{100}, none, 101}},
        {{{100}, none, 500}, trimEnd(F + 10), {{100}, none, none}}, // F is stored as absent
        {{{}, 700, none}, trimEnd(0), {{}, 700, 701}},
        {{{300, 100}, none, none}, trimStart(50), {{300, 100}, none, none}}, // unsorted: no trims
        {{{100}, 10, 500}, [](CaptureSide& s) { resetTrim(s); }, {{100}, none, none}},
    };
    for (const auto& row : rows) {
        CaptureSide side = recordedSide(row.before);
        row.edit(side);
        EXPECT_EQ(layoutOf(side), row.after) << &row - rows;
    }
}

TEST(BoundaryAndTrimEdits, TrimRangesFollowTheNearestBoundary)
{
    const CaptureSide side = recordedSide({{100}, {}, {}});
    EXPECT_EQ(trimStartRange(side), (ClosedFrameRange{0, 99}));
    EXPECT_EQ(trimEndRange(side), (ClosedFrameRange{101, F}));
    EXPECT_EQ(trimStartRange(recordedSide({{}, 10, 20})), (ClosedFrameRange{0, 19}));
    EXPECT_EQ(trimEndRange(recordedSide({{}, 10, 20})), (ClosedFrameRange{11, F}));
    EXPECT_FALSE(trimStartRange(recordedSide({{200, 100}, {}, {}})));
    EXPECT_FALSE(trimEndRange(recordedSide({}, 0)));
}

TEST(BoundaryAndTrimEdits, SideWithoutMasterTakesNoEditAndAddReportsTheSortedIndex)
{
    CaptureSide side = testing::side(1, QStringLiteral("A"), 2);
    const CaptureSide before = side;
    EXPECT_FALSE(addBoundary(side, 10));
    EXPECT_FALSE(moveBoundary(side, 0, 10));
    EXPECT_FALSE(setTrimStart(side, 10));
    EXPECT_FALSE(setTrimEnd(side, 10));
    EXPECT_FALSE(trimStartRange(side));
    EXPECT_EQ(side, before);

    side = recordedSide({{100, 300}, {}, {}});
    EXPECT_EQ(addBoundary(side, 200), 1);
    EXPECT_EQ(addBoundary(side, 400), 3);
    EXPECT_FALSE(addBoundary(side, 400));
}

TEST(BoundaryAndTrimEdits, DiscardTakeDetachesTheWholeRecording)
{
    CaptureSide side = recordedSide({{100}, 10, 500}, 0);
    const CaptureSide before = side;
    ASSERT_TRUE(discardTake(side));
    EXPECT_FALSE(side.master);
    EXPECT_EQ(layoutOf(side), Layout());
    EXPECT_EQ(side.tracks, before.tracks);
    EXPECT_FALSE(discardTake(side));
}

} // namespace
} // namespace brevalo
