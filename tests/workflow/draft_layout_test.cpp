#include "workflow/draft_layout.h"

#include "capture/project_fixtures.h"

#include <gtest/gtest.h>

namespace brevalo {
namespace {

QStringList positions(const CaptureSide& side)
{
    QStringList result;
    for (const auto& track : side.tracks) {
        result.append(track.position);
    }
    return result;
}

TEST(DraftLayout, NewSidesAreLetteredTwoPerRecord)
{
    CaptureProject draft = emptyDraft();
    addDraftSide(draft);
    const CaptureSide& c = draft.sides.last();
    EXPECT_EQ(c.label, "C");
    EXPECT_EQ(c.record, 2);
    EXPECT_EQ(positions(c), QStringList{"C1"});
    EXPECT_EQ(c.tracks[0].title, "New track");

    while (draft.sides.size() < 27) {
        addDraftSide(draft);
    }
    EXPECT_EQ(draft.sides[25].label, "Z");
    EXPECT_EQ(draft.sides[25].record, 13);
    EXPECT_EQ(draft.sides[26].label, "Side 27");
    EXPECT_EQ(draft.sides[26].record, 14);
}

TEST(DraftLayout, TracksAreAddedDeletedAndReordered)
{
    CaptureSide side = testing::side(1, QStringLiteral("B"), 2);
    addDraftTrack(side);
    EXPECT_EQ(positions(side), (QStringList{"B1", "B2", "B3"}));

    moveDraftTrack(side, 0, -1);
    moveDraftTrack(side, 2, +1);
    EXPECT_EQ(positions(side), (QStringList{"B1", "B2", "B3"}));
    moveDraftTrack(side, 2, -1);
    EXPECT_EQ(positions(side), (QStringList{"B1", "B3", "B2"}));

    deleteDraftTrack(side, side.tracks[1].id);
    EXPECT_EQ(positions(side), (QStringList{"B1", "B2"}));
}

TEST(DraftLayout, TrackMovesToTheEndOfAnotherSideUnchanged)
{
    CaptureProject draft = testing::project();
    draft.sides[1].master = testing::master(1000);
    const CaptureTrack moved = draft.sides[0].tracks[1];

    moveDraftTrackToSide(draft, moved.id, draft.sides[0].id, draft.sides[1].id);
    EXPECT_EQ(positions(draft.sides[0]), (QStringList{"A1"}));
    EXPECT_EQ(draft.sides[1].tracks.last(), moved);
    EXPECT_EQ(positions(draft.sides[1]), (QStringList{"B1", "B2", "A2"}));
    EXPECT_EQ(draft.sides[1].master, testing::master(1000));

    const CaptureProject before = draft;
    moveDraftTrackToSide(draft, moved.id, draft.sides[0].id, draft.sides[1].id);
    moveDraftTrackToSide(draft, moved.id, draft.sides[1].id, QUuid::createUuid());
    EXPECT_EQ(draft, before);

    deleteDraftSide(draft, draft.sides[0].id);
    EXPECT_EQ(draft.sides.size(), 1);
}

TEST(DraftLayout, MetadataEditMustKeepEveryRecordingAsItWas)
{
    CaptureProject current = testing::project();
    current.sides[0].master = testing::master(48'000);
    current.sides[0].markers = {24'000};

    const auto edited = [&](const std::function<void(CaptureProject&)>& change) {
        CaptureProject copy = current;
        change(copy);
        return keepsRecordedSides(current, copy);
    };
    EXPECT_TRUE(edited([](CaptureProject&) {}));
    EXPECT_TRUE(edited([](CaptureProject& p) { addDraftSide(p); }));
    EXPECT_TRUE(edited([](CaptureProject& p) { p.sides.removeAt(1); }));
    EXPECT_TRUE(edited([](CaptureProject& p) { p.sides[0].label = QStringLiteral("Z"); }));
    EXPECT_TRUE(edited([](CaptureProject& p) { addDraftTrack(p.sides[0]); }));
    EXPECT_FALSE(edited([](CaptureProject& p) { p.sides.removeAt(0); }));
    EXPECT_FALSE(edited([](CaptureProject& p) { p.sides[0].trimStartFrame = 5; }));
    EXPECT_FALSE(edited([](CaptureProject& p) { p.sides[0].trimEndFrame = 5; }));
    EXPECT_FALSE(edited([](CaptureProject& p) { p.sides[0].markers.clear(); }));
    EXPECT_FALSE(edited([](CaptureProject& p) { p.sides[0].master->frameCount = 1; }));
    EXPECT_FALSE(edited([](CaptureProject& p) { p.sides[0].id = QUuid::createUuid(); }));
}

} // namespace
} // namespace brevalo
