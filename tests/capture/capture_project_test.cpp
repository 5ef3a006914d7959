#include "capture/capture_project.h"

#include "capture/project_fixtures.h"
#include "platform/errors.h"

#include <gtest/gtest.h>

#include <limits>

namespace brevalo {
namespace {

using testing::master;
using testing::project;
using testing::side;

QString validationMessage(const CaptureProject& candidate)
{
    try {
        candidate.validate();
    } catch (const CaptureError& error) {
        return error.message();
    }
    return QString();
}

const QString newerVersion = QStringLiteral("This project needs a newer version of Capture.");
const QString missingBasics =
    QStringLiteral("Enter an artist, album title, and at least one side.");
const QString duplicateSide =
    QStringLiteral("Each physical side must have a unique record number and side label.");
const QString recordGap =
    QStringLiteral("Number the physical records consecutively, starting with Record 1.");
const QString badRelease =
    QStringLiteral("Enter a positive Discogs Release ID or leave it empty for a manual project.");
const QString duplicateTrack = QStringLiteral("Each expected track must have a unique identity.");

QString layoutMessage(const QString& sideName)
{
    return QStringLiteral("Check the side layout, track titles, and boundaries for ") + sideName +
           QLatin1Char('.');
}

QString masterMessage(const QString& sideName)
{
    return QStringLiteral("The master format is invalid for ") + sideName + QLatin1Char('.');
}

TEST(CaptureSourceTest, RawValuesAndLabelsAreFixed)
{
    const QStringList raw = {"vinyl-rip", "cd-rip", "tape-rip", "r2r-rip", "other-source"};
    const QStringList labels = {"Vinyl Record", "CD", "Cassette Tape", "Reel to Reel Player",
                                "Other Source"};
    const auto sources = allCaptureSources();
    ASSERT_EQ(sources.size(), 5);
    for (qsizetype i = 0; i < sources.size(); ++i) {
        EXPECT_EQ(captureSourceRawValue(sources[i]), raw[i]);
        EXPECT_EQ(captureSourceLabel(sources[i]), labels[i]);
        EXPECT_EQ(captureSourceFromRawValue(raw[i]), sources[i]);
    }
    EXPECT_FALSE(captureSourceFromRawValue(QStringLiteral("Vinyl-Rip")));
    EXPECT_FALSE(captureSourceFromRawValue(QStringLiteral("vinyl")));
}

TEST(ValidateTest, ReportsTheFirstFailingRuleInOrder)
{
    // Break every rule at once, then mend them one at a time: each step must surface the next
    // rule's message, which pins the order.
    CaptureProject p = project();
    p.schemaVersion = 2;
    p.artist = QStringLiteral(" \n\t");
    p.sides = {side(1, QStringLiteral("A")), side(1, QStringLiteral("a")),
               side(3, QStringLiteral("C"))};
    p.discogsReleaseID = 0;
    p.sides[2].tracks.append(p.sides[0].tracks[0]);
    p.sides[1].tracks[0].title = QStringLiteral("  ");
    p.sides[1].master = master(1000);
    p.sides[1].master->bitDepth = 20;

    EXPECT_EQ(validationMessage(p), newerVersion);
    p.schemaVersion = 1;
    EXPECT_EQ(validationMessage(p), missingBasics);
    p.artist = QStringLiteral("Artist");
    EXPECT_EQ(validationMessage(p), duplicateSide);
    p.sides[1].label = QStringLiteral("B");
    EXPECT_EQ(validationMessage(p), recordGap);
    p.sides[2].record = 2;
    EXPECT_EQ(validationMessage(p), badRelease);
    p.discogsReleaseID = 1;
    EXPECT_EQ(validationMessage(p), duplicateTrack);
    p.sides[2].tracks.removeLast();
    EXPECT_EQ(validationMessage(p), layoutMessage(QStringLiteral("Record 1 \u00B7 Side B")));
    p.sides[1].tracks[0].title = QStringLiteral("Title");
    EXPECT_EQ(validationMessage(p), masterMessage(QStringLiteral("Record 1 \u00B7 Side B")));
    p.sides[1].master->bitDepth = 24;
    EXPECT_EQ(validationMessage(p), QString());
}

TEST(ValidateTest, AcceptsOnlySchemaVersionOne)
{
    CaptureProject p = project();
    for (const qint64 version : {qint64(0), qint64(2), qint64(-1)}) {
        p.schemaVersion = version;
        EXPECT_EQ(validationMessage(p), newerVersion) << version;
    }
}

TEST(ValidateTest, ArtistAndTitleAreTrimmedOfLineBreaksToo)
{
    CaptureProject p = project();
    p.title = QStringLiteral("\n\u2003\r\n");
    EXPECT_EQ(validationMessage(p), missingBasics);
    p.title = QStringLiteral("x");
    p.sides.clear();
    EXPECT_EQ(validationMessage(p), missingBasics);
}

TEST(ValidateTest, RecordsMustBeNumberedFromOneWithoutGaps)
{
    CaptureProject p = project();
    p.sides = {side(1, "A"), side(1, "B"), side(2, "C"), side(2, "D")};
    EXPECT_EQ(validationMessage(p), QString());
    EXPECT_EQ(p.recordCount(), 2);

    p.sides = {side(2, "D"), side(1, "A")}; // order of sides does not matter
    EXPECT_EQ(validationMessage(p), QString());
    p.sides = {side(1, "A"), side(3, "B")};
    EXPECT_EQ(validationMessage(p), recordGap);
    p.sides = {side(2, "A")};
    EXPECT_EQ(validationMessage(p), recordGap);
    p.sides = {side(0, "A"), side(1, "B")};
    EXPECT_EQ(validationMessage(p), recordGap);
}

TEST(ValidateTest, SideLabelsCollideIgnoringCaseOnTheSameRecordOnly)
{
    CaptureProject p = project();
    p.sides = {side(1, "A"), side(1, "a")};
    EXPECT_EQ(validationMessage(p), duplicateSide);
    p.sides = {side(1, "A"), side(2, "A")};
    EXPECT_EQ(validationMessage(p), QString());
    // Labels are compared untrimmed.
    p.sides = {side(1, "A"), side(1, "A ")};
    EXPECT_EQ(validationMessage(p), QString());
    // Full upper-casing: "ß" becomes "SS".
    p.sides = {side(1, QStringLiteral("\u00DF")), side(1, "SS")};
    EXPECT_EQ(validationMessage(p), duplicateSide);

    p.sides = {side(1, "A"), side(1, "B")};
    p.sides[1].id = p.sides[0].id;
    EXPECT_EQ(validationMessage(p), duplicateSide);
}

TEST(ValidateTest, TrackIdentitiesAreUniqueAcrossTheProject)
{
    CaptureProject p = project();
    p.sides[1].tracks[1].id = p.sides[0].tracks[0].id;
    EXPECT_EQ(validationMessage(p), duplicateTrack);
}

TEST(ValidateTest, SideLayoutNamesTheFirstBrokenSide)
{
    const QString sideA = layoutMessage(QStringLiteral("Record 1 \u00B7 Side A"));
    EXPECT_EQ(sideA, QStringLiteral("Check the side layout, track titles, and boundaries for "
                                    "Record 1 \u00B7 Side A."));

    CaptureProject p = project();
    p.sides[0].label = QStringLiteral(" \t\u00A0");
    EXPECT_EQ(validationMessage(p),
              layoutMessage(QStringLiteral("Record 1 \u00B7 Side  \t\u00A0")));

    // Labels and titles are trimmed of white space only: a line break is content here.
    p = project();
    p.sides[0].label = QStringLiteral("\n");
    p.sides[0].tracks[0].title = QStringLiteral("\n");
    EXPECT_EQ(validationMessage(p), QString());

    p = project();
    p.sides[0].tracks.clear();
    EXPECT_EQ(validationMessage(p), sideA);

    p = project();
    p.sides[0].markers = {10}; // markers without a master
    EXPECT_EQ(validationMessage(p), sideA);

    p = project();
    p.sides[0].trimEndFrame = 10; // trims without a master
    EXPECT_EQ(validationMessage(p), sideA);

    // Each side is checked completely before the next one.
    p = project();
    p.sides[0].master = master(100);
    p.sides[0].master->sampleRate = 0;
    p.sides[1].tracks[0].title = QString();
    EXPECT_EQ(validationMessage(p), masterMessage(QStringLiteral("Record 1 \u00B7 Side A")));
}

TEST(ValidateTest, MasterFormatMustBeUsable)
{
    const QString message = masterMessage(QStringLiteral("Record 1 \u00B7 Side A"));
    const auto withMaster = [](auto change) {
        CaptureProject p = project();
        p.sides[0].master = master(100);
        change(*p.sides[0].master);
        return validationMessage(p);
    };
    EXPECT_EQ(withMaster([](CaptureMaster&) {}), QString());
    EXPECT_EQ(withMaster([](CaptureMaster& m) { m.frameCount = 0; }), QString());
    EXPECT_EQ(withMaster([](CaptureMaster& m) { m.bitDepth = 16; }), QString());
    EXPECT_EQ(withMaster([](CaptureMaster& m) { m.bitDepth = 32; }), QString());
    EXPECT_EQ(withMaster([](CaptureMaster& m) { m.bitDepth = 8; }), message);
    EXPECT_EQ(withMaster([](CaptureMaster& m) { m.sampleRate = -44100; }), message);
    EXPECT_EQ(withMaster([](CaptureMaster& m) {
                  m.sampleRate = std::numeric_limits<double>::quiet_NaN();
              }),
              message);
    EXPECT_EQ(withMaster(
                  [](CaptureMaster& m) { m.sampleRate = std::numeric_limits<double>::infinity(); }),
              message);
    EXPECT_EQ(withMaster([](CaptureMaster& m) { m.frameCount = -1; }), message);
}

TEST(SideTrimTest, FollowsTheTrimRules)
{
    CaptureSide s = side(1, "A");
    EXPECT_TRUE(s.hasValidTrim());
    s.trimStartFrame = 0;
    EXPECT_FALSE(s.hasValidTrim()); // no trims without a master

    struct Case
    {
        std::optional<qint64> start;
        std::optional<qint64> end;
        bool valid;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, true},
        {0, std::nullopt, true},
        {999, std::nullopt, true},
        {1000, std::nullopt, false},
        {-1, std::nullopt, false},
        {std::nullopt, 1000, true},
        {std::nullopt, 1, true},
        {std::nullopt, 0, false},
        {std::nullopt, 1001, false},
        {0, 1000, true},
        {5, 5, false},
        {6, 5, false},
        {5, 6, true},
        {-1, 5, false},
    };
    s.master = master(1000);
    for (const auto& c : cases) {
        s.trimStartFrame = c.start;
        s.trimEndFrame = c.end;
        EXPECT_EQ(s.hasValidTrim(), c.valid) << c.start.value_or(-99) << " " << c.end.value_or(-99);
        if (!c.valid) {
            EXPECT_FALSE(s.hasValidBoundaries());
            EXPECT_EQ(s.boundaryStatus(), QStringLiteral("INVALID SIDE TRIM"));
        }
    }
}

TEST(SideBoundariesTest, MarkersMustBeSortedUniqueAndInsideTheTrim)
{
    CaptureSide s = side(1, "A", 3);
    s.master = master(1000);

    s.markers = {1, 999};
    EXPECT_TRUE(s.hasValidBoundaries());
    EXPECT_EQ(s.regions(), (QList<FrameRange>{{0, 1}, {1, 999}, {999, 1000}}));

    for (const QList<qint64>& bad : {QList<qint64>{0}, QList<qint64>{1000}, QList<qint64>{-5},
                                     QList<qint64>{500, 400}, QList<qint64>{400, 400}}) {
        s.markers = bad;
        EXPECT_FALSE(s.hasValidBoundaries()) << bad.first();
        EXPECT_TRUE(s.regions().isEmpty());
        EXPECT_EQ(s.boundaryStatus(), QStringLiteral("INVALID BOUNDARIES"));
    }

    s.trimStartFrame = 10;
    s.markers = {10};
    EXPECT_FALSE(s.hasValidBoundaries());
    s.markers = {11};
    EXPECT_TRUE(s.hasValidBoundaries());

    s.trimEndFrame = 500;
    s.markers = {11, 500};
    EXPECT_FALSE(s.hasValidBoundaries());
    s.markers = {11, 499};
    EXPECT_EQ(s.regions(), (QList<FrameRange>{{10, 11}, {11, 499}, {499, 500}}));
}

TEST(SideRegionsTest, CountsRegionsEvenWhenTheyCannotBeFormed)
{
    CaptureSide s = side(1, "A", 2);
    s.markers = {5};
    EXPECT_EQ(s.regionCount(), 0);
    EXPECT_TRUE(s.regions().isEmpty());

    s.master = master(1000);
    s.markers = {2000, 3000};
    EXPECT_EQ(s.regionCount(), 3);
    EXPECT_TRUE(s.regions().isEmpty());

    // A master still recording has no frames and so no regions, but one region counts.
    s.master = master(0);
    s.markers.clear();
    EXPECT_EQ(s.regionCount(), 1);
    EXPECT_TRUE(s.regions().isEmpty());

    s.master = master(1000);
    s.trimStartFrame = 100;
    s.trimEndFrame = 900;
    EXPECT_EQ(s.regions(), (QList<FrameRange>{{100, 900}}));
}

TEST(SideStatusTest, DescribesHowRegionsMatchTheTracks)
{
    CaptureSide s = side(1, "A", 2);
    EXPECT_EQ(s.boundaryStatus(), QStringLiteral("EXPECTED TRACKS: 2"));
    s.master = master(1000);
    EXPECT_EQ(s.boundaryStatus(), QStringLiteral("1 TRACK MISSING"));
    s.markers = {500};
    EXPECT_EQ(s.boundaryStatus(), QStringLiteral("TRACK COUNT MATCHES"));
    s.markers = {300, 600};
    EXPECT_EQ(s.boundaryStatus(), QStringLiteral("1 EXTRA REGION"));
    s.markers = {300, 600, 700};
    EXPECT_EQ(s.boundaryStatus(), QStringLiteral("2 EXTRA REGIONS"));

    CaptureSide four = side(1, "B", 4);
    four.master = master(1000);
    EXPECT_EQ(four.boundaryStatus(), QStringLiteral("3 TRACKS MISSING"));
    four.tracks.clear();
    EXPECT_EQ(four.boundaryStatus(), QStringLiteral("1 EXTRA REGION"));
}

TEST(SwapRecordingsTest, MovesTheRecordingAndLeavesTheTracklist)
{
    CaptureProject p = project();
    const CaptureProject original = [&] {
        p.sides[0].master = master(1000);
        p.sides[0].markers = {400};
        p.sides[0].trimStartFrame = 10;
        p.sides[0].trimEndFrame = 990;
        return p;
    }();

    ASSERT_TRUE(p.swapRecordings(p.sides[0].id, p.sides[1].id));
    EXPECT_FALSE(p.sides[0].master);
    EXPECT_TRUE(p.sides[0].markers.isEmpty());
    EXPECT_FALSE(p.sides[0].trimStartFrame);
    EXPECT_FALSE(p.sides[0].trimEndFrame);
    EXPECT_EQ(p.sides[1].master, original.sides[0].master);
    EXPECT_EQ(p.sides[1].markers, QList<qint64>{400});
    EXPECT_EQ(p.sides[1].trimStartFrame, 10);
    EXPECT_EQ(p.sides[1].trimEndFrame, 990);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(p.sides[i].id, original.sides[i].id);
        EXPECT_EQ(p.sides[i].label, original.sides[i].label);
        EXPECT_EQ(p.sides[i].record, original.sides[i].record);
        EXPECT_EQ(p.sides[i].tracks, original.sides[i].tracks);
    }

    ASSERT_TRUE(p.swapRecordings(p.sides[0].id, p.sides[1].id));
    EXPECT_EQ(p, original);
}

TEST(SwapRecordingsTest, RefusesWhenNothingWouldChange)
{
    CaptureProject p = project();
    const CaptureProject original = p;
    EXPECT_FALSE(p.swapRecordings(p.sides[0].id, p.sides[1].id)); // both unrecorded
    EXPECT_FALSE(p.swapRecordings(p.sides[0].id, p.sides[0].id));
    EXPECT_FALSE(p.swapRecordings(p.sides[0].id, QUuid::createUuid()));
    p.sides[0].master = master(10);
    p.sides[1].master = master(10);
    EXPECT_FALSE(p.swapRecordings(p.sides[0].id, p.sides[1].id)); // equal recordings
    p.sides[1].markers = {5};
    EXPECT_TRUE(p.swapRecordings(p.sides[0].id, p.sides[1].id));
    EXPECT_EQ(p.sides[0].markers, QList<qint64>{5});
    EXPECT_NE(original, p);
}

TEST(EmptyDraftTest, IsAValidTwoSidedManualProjectWithFreshIdentities)
{
    const CaptureProject draft = emptyDraft();
    EXPECT_EQ(draft.schemaVersion, 1);
    EXPECT_FALSE(draft.id.isNull());
    EXPECT_FALSE(draft.discogsReleaseID);
    EXPECT_FALSE(draft.artworkPath);
    EXPECT_EQ(draft.source, CaptureSource::vinyl);
    EXPECT_TRUE(draft.artist.isEmpty() && draft.albumArtist.isEmpty() && draft.title.isEmpty() &&
                draft.date.isEmpty() && draft.labels.isEmpty() && draft.edition.isEmpty() &&
                draft.genres.isEmpty());
    EXPECT_LE(qAbs(draft.createdAt.secsTo(QDateTime::currentDateTimeUtc())), 60);
    ASSERT_EQ(draft.sides.size(), 2);
    const QString positions[] = {"A1", "B1"};
    const QString titles[] = {"Track 1", "Track 2"};
    const QString labels[] = {"A", "B"};
    for (int i = 0; i < 2; ++i) {
        const CaptureSide& s = draft.sides[i];
        EXPECT_EQ(s.record, 1);
        EXPECT_EQ(s.label, labels[i]);
        EXPECT_FALSE(s.master);
        EXPECT_TRUE(s.markers.isEmpty());
        ASSERT_EQ(s.tracks.size(), 1);
        EXPECT_EQ(s.tracks[0].position, positions[i]);
        EXPECT_EQ(s.tracks[0].title, titles[i]);
        EXPECT_TRUE(s.tracks[0].artist.isEmpty());
    }
    EXPECT_NE(draft.sides[0].id, draft.sides[1].id);
    EXPECT_NE(draft.sides[0].tracks[0].id, draft.sides[1].tracks[0].id);
    EXPECT_NE(emptyDraft().id, draft.id);

    // Only the missing artist and title keep it from being saved.
    CaptureProject named = draft;
    named.artist = QStringLiteral("A");
    named.title = QStringLiteral("T");
    EXPECT_EQ(validationMessage(named), QString());
    EXPECT_EQ(validationMessage(draft), missingBasics);
}

} // namespace
} // namespace brevalo
