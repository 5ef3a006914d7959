#include "workflow/capture_edits.h"

#include "capture/project_fixtures.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

namespace brevalo {
namespace {

constexpr qint64 F = 48'000;

struct Layout
{
    Layout(QList<qint64> m = {}, std::optional<qint64> start = {}, std::optional<qint64> end = {})
        : markers(std::move(m)), trimStart(start), trimEnd(end)
    {}

    QList<qint64> markers;
    std::optional<qint64> trimStart;
    std::optional<qint64> trimEnd;

    bool operator==(const Layout&) const = default;
};

CaptureSide recordedSide(const Layout& layout, qint64 frames = F)
{
    CaptureSide side = testing::side(1, QStringLiteral("A"), 4);
    side.master = testing::master(frames);
    side.markers = layout.markers;
    side.trimStartFrame = layout.trimStart;
    side.trimEndFrame = layout.trimEnd;
    return side;
}

struct EditCase
{
    std::string label;
    Layout before;
    std::function<void(CaptureSide&)> edit;
    Layout after;
};

class BoundaryAndTrimEdits : public ::testing::TestWithParam<EditCase>
{};

TEST_P(BoundaryAndTrimEdits, ClampOrIgnoreInvalidRequests)
{
    CaptureSide side = recordedSide(GetParam().before);
    GetParam().edit(side);
    EXPECT_EQ((Layout{side.markers, side.trimStartFrame, side.trimEndFrame}), GetParam().after);
}

const auto add = [](qint64 frame) {
    return [frame](CaptureSide& side) { addBoundary(side, frame); };
};
const auto move = [](qsizetype index, qint64 frame) {
    return [index, frame](CaptureSide& side) { moveBoundary(side, index, frame); };
};
const auto trimStart = [](qint64 frame) {
    return [frame](CaptureSide& side) { setTrimStart(side, frame); };
};
const auto trimEnd = [](qint64 frame) {
    return [frame](CaptureSide& side) { setTrimEnd(side, frame); };
};

INSTANTIATE_TEST_SUITE_P(
    Cases, BoundaryAndTrimEdits,
    ::testing::Values(
        EditCase{"AddAtFrameZeroIgnored", {}, add(0), {}},
        EditCase{"AddAtFirstFrame", {}, add(1), {{1}}},
        EditCase{"AddAtLastFrame", {}, add(F - 1), {{F - 1}}},
        EditCase{"AddAtEndIgnored", {}, add(F), {}},
        EditCase{"AddTwiceStoresOne", {{24'000}}, add(24'000), {{24'000}}},
        EditCase{"AddKeepsOrder", {{100, 300}}, add(200), {{100, 200, 300}}},
        EditCase{"AddOnStartTrimIgnored", {{}, 1'000}, add(1'000), {{}, 1'000}},
        EditCase{"AddAfterStartTrim", {{}, 1'000}, add(1'001), {{1'001}, 1'000}},
        EditCase{"AddOnEndTrimIgnored", {{}, {}, 40'000}, add(40'000), {{}, {}, 40'000}},
        EditCase{"MoveStopsAfterPrevious", {{100, 200, 300}}, move(1, 50), {{100, 101, 300}}},
        EditCase{"MoveStopsBeforeNext", {{100, 200, 300}}, move(1, 1'000), {{100, 299, 300}}},
        EditCase{"MoveFirstStopsAfterStart", {{100, 200, 300}}, move(0, 0), {{1, 200, 300}}},
        EditCase{"MoveLastStopsBeforeEnd", {{100}, {}, 500}, move(0, F), {{499}, {}, 500}},
        EditCase{"MoveOutsideListIgnored", {{100}}, move(1, 50), {{100}}},
        EditCase{"DeleteRemovesIndex",
                 {{100, 200}},
                 [](CaptureSide& side) { deleteBoundary(side, 0); },
                 {{200}}},
        EditCase{"DeleteOutsideListIgnored",
                 {{100, 200}},
                 [](CaptureSide& side) { deleteBoundary(side, 2); },
                 {{100, 200}}},
        EditCase{"StartTrimStopsBelowBoundary", {{100}}, trimStart(250), {{100}, 99}},
        EditCase{"NegativeStartTrimIsAbsent", {{100}, 50}, trimStart(-5), {{100}}},
        EditCase{"StartTrimStopsBelowEndTrim", {{}, {}, 500}, trimStart(F), {{}, 499, 500}},
        EditCase{"EndTrimStopsAboveBoundary", {{100}}, trimEnd(50), {{100}, {}, 101}},
        EditCase{"EndTrimBeyondMasterIsAbsent", {{100}, {}, 500}, trimEnd(F + 10), {{100}}},
        EditCase{"EndTrimStopsAboveStartTrim", {{}, 700}, trimEnd(0), {{}, 700, 701}},
        EditCase{"UnsortedMarkersIgnoreTrims", {{300, 100}}, trimStart(50), {{300, 100}}},
        EditCase{"ResetClearsBoth",
                 {{100}, 10, 500},
                 [](CaptureSide& side) { resetTrim(side); },
                 {{100}}}),
    [](const auto& param) { return param.param.label; });

TEST(BoundaryAndTrimEdits, TrimRangesFollowTheNearestBoundary)
{
    const CaptureSide side = recordedSide({{100}});
    EXPECT_EQ(trimStartRange(side), (ClosedFrameRange{0, 99}));
    EXPECT_EQ(trimEndRange(side), (ClosedFrameRange{101, F}));
    EXPECT_EQ(trimStartRange(recordedSide({{}, 10, 20})), (ClosedFrameRange{0, 19}));
    EXPECT_EQ(trimEndRange(recordedSide({{}, 10, 20})), (ClosedFrameRange{11, F}));
    EXPECT_FALSE(trimStartRange(recordedSide({{200, 100}})));
    EXPECT_FALSE(trimEndRange(recordedSide({}, 0)));
}

TEST(BoundaryAndTrimEdits, SideWithoutMasterTakesNoEdit)
{
    CaptureSide side = testing::side(1, QStringLiteral("A"), 2);
    const CaptureSide before = side;
    EXPECT_FALSE(addBoundary(side, 10));
    EXPECT_FALSE(moveBoundary(side, 0, 10));
    EXPECT_FALSE(setTrimStart(side, 10));
    EXPECT_FALSE(setTrimEnd(side, 10));
    EXPECT_FALSE(trimStartRange(side));
    EXPECT_EQ(side, before);
}

TEST(BoundaryAndTrimEdits, AddedBoundaryReportsItsSortedIndex)
{
    CaptureSide side = recordedSide({{100, 300}});
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
    EXPECT_EQ((Layout{side.markers, side.trimStartFrame, side.trimEndFrame}), Layout{});
    EXPECT_EQ(side.tracks, before.tracks);
    EXPECT_FALSE(discardTake(side));
}

} // namespace
} // namespace brevalo
