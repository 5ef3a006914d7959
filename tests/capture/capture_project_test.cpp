#include "capture/capture_project.h"

#include "capture/project_fixtures.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

namespace brevalo {
namespace {

TEST(CaptureSourceTest, EveryCaseHasItsStoredValueAndLabelInDeclarationOrder)
{
    const std::tuple<CaptureSource, const char*, const char*> rows[] = {
        {CaptureSource::vinyl, "vinyl-rip", "Vinyl Record"},
        {CaptureSource::cd, "cd-rip", "CD"},
        {CaptureSource::tape, "tape-rip", "Cassette Tape"},
        {CaptureSource::reelToReel, "r2r-rip", "Reel to Reel Player"},
        {CaptureSource::other, "other-source", "Other Source"}};
    QList<CaptureSource> order;
    for (const auto& [source, raw, label] : rows) {
        order.append(source);
        EXPECT_EQ(captureSourceRawValue(source), QLatin1String(raw));
        EXPECT_EQ(captureSourceLabel(source), QLatin1String(label));
        EXPECT_EQ(captureSourceFromRawValue(QLatin1String(raw)), source);
        EXPECT_FALSE(captureSourceFromRawValue(QString::fromLatin1(raw).toUpper()));
    }
    EXPECT_EQ(allCaptureSources(), order);
}

using testing::master;
using testing::project;
using testing::side;
using Change = std::function<void(CaptureProject&)>;

QString validation(const CaptureProject& candidate)
{
    return testing::failure([&] { candidate.validate(); });
}

const QString missingBasics =
    QStringLiteral("Enter an artist, album title, and at least one side.");
const QString duplicateSide =
    QStringLiteral("Each physical side must have a unique record number and side label.");
const QString recordGap =
    QStringLiteral("Number the physical records consecutively, starting with Record 1.");
const QString sideA = QStringLiteral("Record 1 \u00B7 Side A");

QString layoutMessage(const QString& sideName)
{
    return QStringLiteral("Check the side layout, track titles, and boundaries for ") + sideName +
           QLatin1Char('.');
}

QString masterMessage(const QString& sideName)
{
    return QStringLiteral("The master format is invalid for ") + sideName + QLatin1Char('.');
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

    EXPECT_EQ(validation(p), QStringLiteral("This project needs a newer version of Capture."));
    p.schemaVersion = 1;
    EXPECT_EQ(validation(p), missingBasics);
    p.artist = QStringLiteral("Artist");
    EXPECT_EQ(validation(p), duplicateSide);
    p.sides[1].label = QStringLiteral("B");
    EXPECT_EQ(validation(p), recordGap);
    p.sides[2].record = 2;
    EXPECT_EQ(validation(p), QStringLiteral("Enter a positive Discogs Release ID or leave it "
                                            "empty for a manual project."));
    p.discogsReleaseID = 1;
    EXPECT_EQ(validation(p), QStringLiteral("Each expected track must have a unique identity."));
    p.sides[2].tracks.removeLast();
    EXPECT_EQ(validation(p), layoutMessage(QStringLiteral("Record 1 \u00B7 Side B")));
    p.sides[1].tracks[0].title = QStringLiteral("Title");
    EXPECT_EQ(validation(p), masterMessage(QStringLiteral("Record 1 \u00B7 Side B")));
    p.sides[1].master->bitDepth = 24;
    EXPECT_EQ(validation(p), QString());
}

TEST(ValidateTest, RecordNumberingAndLabelCollisions)
{
    const struct
    {
        QList<CaptureSide> sides;
        QString message;
    } rows[] = {
        {{side(1, "A"), side(1, "B"), side(2, "C"), side(2, "D")}, {}},
        {{side(2, "D"), side(1, "A")}, {}}, // order of sides does not matter
        {{side(1, "A"), side(3, "B")}, recordGap},
        {{side(2, "A")}, recordGap},
        {{side(0, "A"), side(1, "B")}, recordGap},
        {{side(1, "A"), side(1, "a")}, duplicateSide},
        {{side(1, "A"), side(2, "A")}, {}},
        {{side(1, "A"), side(1, "A ")}, {}}, // labels are compared untrimmed
        {{side(1, QStringLiteral("\u00DF")), side(1, "SS")}, duplicateSide}, // full upper-casing
    };
    for (const auto& row : rows) {
        CaptureProject p = project();
        p.sides = row.sides;
        EXPECT_EQ(validation(p), row.message) << row.sides.size();
    }
    CaptureProject p = project();
    p.sides[1].id = p.sides[0].id;
    EXPECT_EQ(validation(p), duplicateSide);
}

TEST(ValidateTest, SideLayoutAndMasterFormatNameTheFirstBrokenSide)
{
    const auto recorded = [](qint64 frames, int bitDepth, double rate) -> Change {
        return [=](CaptureProject& p) {
            p.sides[0].master = master(frames);
            p.sides[0].master->bitDepth = bitDepth;
            p.sides[0].master->sampleRate = rate;
        };
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<Change, QString> rows[] = {
        {[](CaptureProject& p) { p.sides[0].label = QStringLiteral(" \t\u00A0"); },
         layoutMessage(QStringLiteral("Record 1 \u00B7 Side  \t\u00A0"))},
        // Labels and titles are trimmed of white space only: a line break is content here.
        {[](CaptureProject& p) { p.sides[0].label = p.sides[0].tracks[0].title = "\n"; }, {}},
        {[](CaptureProject& p) { p.sides[0].tracks.clear(); }, layoutMessage(sideA)},
        {[](CaptureProject& p) { p.sides[0].markers = {10}; }, layoutMessage(sideA)},
        {[](CaptureProject& p) { p.sides[0].trimEndFrame = 10; }, layoutMessage(sideA)},
        // Each side is checked completely before the next one.
        {[&](CaptureProject& p) {
             recorded(100, 24, 0)(p);
             p.sides[1].tracks[0].title = QString();
         },
         masterMessage(sideA)},
        {recorded(0, 24, 96000), {}},
        {recorded(100, 16, 44100), {}},
        {recorded(100, 32, 48000), {}},
        {recorded(100, 8, 96000), masterMessage(sideA)},
        {recorded(100, 24, -44100), masterMessage(sideA)},
        {recorded(100, 24, nan), masterMessage(sideA)},
        {recorded(100, 24, inf), masterMessage(sideA)},
        {recorded(-1, 24, 96000), masterMessage(sideA)},
    };
    for (const auto& [change, message] : rows) {
        CaptureProject p = project();
        change(p);
        EXPECT_EQ(validation(p), message) << &change - &rows[0].first;
    }
}

TEST(SideTest, TrimRules)
{
    CaptureSide s = side(1, "A");
    s.trimStartFrame = 0;
    EXPECT_FALSE(s.hasValidTrim()); // no trims without a master

    const struct
    {
        std::optional<qint64> start, end;
        bool valid;
    } cases[] = {
        // clang-format off
        {std::nullopt, std::nullopt, true}, {0, std::nullopt, true}, {999, std::nullopt, true},
        {1000, std::nullopt, false}, {-1, std::nullopt, false}, {std::nullopt, 1000, true},
        {std::nullopt, 1, true}, {std::nullopt, 0, false}, {std::nullopt, 1001, false},
        {0, 1000, true}, {5, 5, false}, {6, 5, false}, {5, 6, true}, {-1, 5, false},
        // clang-format on
    };
    s.master = master(1000);
    for (const auto& c : cases) {
        s.trimStartFrame = c.start;
        s.trimEndFrame = c.end;
        EXPECT_EQ(s.hasValidTrim(), c.valid) << c.start.value_or(-99) << " " << c.end.value_or(-99);
        if (!c.valid) {
            EXPECT_EQ(s.boundaryStatus(), QStringLiteral("INVALID SIDE TRIM"));
        }
    }
}

TEST(SideTest, MarkersMustBeSortedUniqueAndInsideTheTrim)
{
    CaptureSide s = side(1, "A", 3);
    s.master = master(1000);
    s.markers = {1, 999};
    EXPECT_EQ(s.regions(), (QList<FrameRange>{{0, 1}, {1, 999}, {999, 1000}}));

    for (const QList<qint64>& bad : {QList<qint64>{0}, QList<qint64>{1000}, QList<qint64>{-5},
                                     QList<qint64>{500, 400}, QList<qint64>{400, 400}}) {
        s.markers = bad;
        EXPECT_FALSE(s.hasValidBoundaries()) << bad.first();
        EXPECT_TRUE(s.regions().isEmpty());
        EXPECT_EQ(s.boundaryStatus(), QStringLiteral("INVALID BOUNDARIES"));
    }

    s.trimStartFrame = 10;
    s.trimEndFrame = 500;
    s.markers = {10};
    EXPECT_FALSE(s.hasValidBoundaries());
    s.markers = {11, 500};
    EXPECT_FALSE(s.hasValidBoundaries());
    s.markers = {11, 499};
    EXPECT_EQ(s.regions(), (QList<FrameRange>{{10, 11}, {11, 499}, {499, 500}}));
    s.markers.clear();
    EXPECT_EQ(s.regions(), (QList<FrameRange>{{10, 500}}));

    // Regions are counted even when they cannot be formed; a master still recording has none.
    s = side(1, "A", 2);
    s.markers = {5};
    EXPECT_EQ(s.regionCount(), 0);
    s.master = master(1000);
    s.markers = {2000, 3000};
    EXPECT_EQ(s.regionCount(), 3);
    EXPECT_TRUE(s.regions().isEmpty());
    s.master = master(0);
    s.markers.clear();
    EXPECT_EQ(s.regionCount(), 1);
    EXPECT_TRUE(s.regions().isEmpty());
}

TEST(SideTest, StatusDescribesHowRegionsMatchTheTracks)
{
    CaptureSide s = side(1, "A", 2);
    EXPECT_EQ(s.boundaryStatus(), QStringLiteral("EXPECTED TRACKS: 2"));
    s.master = master(1000);
    const std::pair<QList<qint64>, const char*> rows[] = {
        {{}, "1 TRACK MISSING"},
        {{500}, "TRACK COUNT MATCHES"},
        {{300, 600}, "1 EXTRA REGION"},
        {{300, 600, 700}, "2 EXTRA REGIONS"},
    };
    for (const auto& [markers, status] : rows) {
        s.markers = markers;
        EXPECT_EQ(s.boundaryStatus(), QString::fromUtf8(status));
    }
    CaptureSide four = side(1, "B", 4);
    four.master = master(1000);
    EXPECT_EQ(four.boundaryStatus(), QStringLiteral("3 TRACKS MISSING"));
}

TEST(SwapRecordingsTest, MovesTheRecordingLeavesTheTracklistAndRefusesNoOps)
{
    const auto record = [](CaptureSide& s) {
        s.master = master(1000);
        s.markers = {400};
        s.trimStartFrame = 10;
        s.trimEndFrame = 990;
    };
    CaptureProject p = project();
    const CaptureProject unrecorded = p;
    EXPECT_FALSE(p.swapRecordings(p.sides[0].id, p.sides[1].id)); // both unrecorded
    EXPECT_FALSE(p.swapRecordings(p.sides[0].id, p.sides[0].id));
    record(p.sides[0]);
    EXPECT_FALSE(p.swapRecordings(p.sides[0].id, QUuid::createUuid()));
    const CaptureProject original = p;

    ASSERT_TRUE(p.swapRecordings(p.sides[0].id, p.sides[1].id));
    CaptureProject expected = unrecorded;
    record(expected.sides[1]);
    EXPECT_EQ(p, expected);
    ASSERT_TRUE(p.swapRecordings(p.sides[0].id, p.sides[1].id));
    EXPECT_EQ(p, original);

    record(p.sides[1]); // equal recordings
    EXPECT_FALSE(p.swapRecordings(p.sides[0].id, p.sides[1].id));
}

TEST(EmptyDraftTest, IsATwoSidedManualProjectNeedingOnlyArtistAndTitle)
{
    CaptureProject draft = emptyDraft();
    EXPECT_LE(qAbs(draft.createdAt.secsTo(QDateTime::currentDateTimeUtc())), 60);
    EXPECT_NE(emptyDraft().id, draft.id);
    EXPECT_EQ(validation(draft), missingBasics);
    draft.artist = QStringLiteral("A");
    draft.title = QStringLiteral("T");
    EXPECT_EQ(validation(draft), QString());
    ASSERT_EQ(draft.sides.size(), 2);
    EXPECT_EQ(std::tie(draft.sides[0].record, draft.sides[0].label), std::tuple(1, "A"));
    EXPECT_EQ(std::tie(draft.sides[1].record, draft.sides[1].label), std::tuple(1, "B"));
}

} // namespace
} // namespace brevalo
