#include "discogs/release_mapping.h"

#include "test_support.h"

#include <limits>

using namespace brevalo;

namespace {

using Artist = DiscogsRelease::Artist;
using Track = DiscogsRelease::Track;
using Layout = std::vector<std::tuple<std::int64_t, QString, qsizetype>>;

Track track(const QString& position, const QString& title = "t",
            std::optional<QString> type = std::nullopt)
{
    return Track{position, title, std::move(type), std::nullopt, std::nullopt};
}

// (record, label, track count) of every side, in order.
Layout layout(const QList<CaptureSide>& sides)
{
    Layout shape;
    for (const CaptureSide& side : sides) {
        shape.emplace_back(side.record, side.label, side.tracks.size());
    }
    return shape;
}

QList<CaptureSide> sidesFor(const QList<Track>& tracklist)
{
    QList<CaptureSide> sides;
    for (const Track& entry : tracklist) {
        addTrackToSides(entry, sides);
    }
    return sides;
}

TEST(ParseReleaseID, ReadsPlainIDsURLsAndReferencesOnly)
{
    for (const char* input :
         {"1234", "  1234 ", "1234\n", "+1234", "https://www.discogs.com/release/1234-Some-Title",
          "see [r1234] here", "\t[r1234]\r\n"}) {
        EXPECT_EQ(parseReleaseID(input), 1234) << input;
    }
    EXPECT_EQ(parseReleaseID("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    // The reference path has no lower bound: the fetch refuses 0 with its own message.
    EXPECT_EQ(parseReleaseID("[r0]"), 0);
    EXPECT_EQ(parseReleaseID("-5 /release/7"), 7);
    for (const char* input :
         {"-3", "0", "r1234", "", "   ", "https://www.discogs.com/master/55-Title", "12 34", "+",
          "1234abc", "[r99999999999999999999]", "99999999999999999999", "/release/-5",
          "[r\u0661\u0662]"}) {
        EXPECT_EQ(parseReleaseID(input), std::nullopt) << input;
    }
}

TEST(ParseSidePosition, DerivesRecordAndSideFromTheTable)
{
    const std::pair<const char*, std::optional<SidePosition>> table[] = {
        {"A1", SidePosition{1, "A"}},
        {"b2", SidePosition{1, "B"}},
        {"D4a", SidePosition{2, "D"}},
        {"2-C3", SidePosition{2, "C"}},
        {"1.A2", SidePosition{1, "A"}},
        {"10 B1", SidePosition{10, "B"}},
        {"A-1", SidePosition{1, "A"}},
        {"CD1-1", SidePosition{41, "CD"}},
        {" \tE1 \t", SidePosition{3, "E"}},
        {"Y1", SidePosition{13, "Y"}},
        {"Z1", SidePosition{13, "Z"}},
        {"AA1", SidePosition{14, "AA"}},
        {"0-B1", SidePosition{0, "B"}},
        // A record number too large falls back to the letters.
        {"99999999999999999999-C1", SidePosition{2, "C"}},
        // CRPXNLSKVLJFHG is exactly the largest signed 64-bit index; one more overflows.
        {"CRPXNLSKVLJFHG1",
         SidePosition{std::numeric_limits<std::int64_t>::max() / 2 + 1, "CRPXNLSKVLJFHG"}},
        {"CRPXNLSKVLJFHH1", std::nullopt},
        {"3-ZZZZZZZZZZZZZZZZZZZZ1", std::nullopt},
        // Only spaces and tabs are trimmed, so a leading line break spoils the position.
        {"\nA1", std::nullopt},
        {"1", std::nullopt},
        {"12", std::nullopt},
        {"Side A", std::nullopt},
        {"", std::nullopt},
        {"A B", std::nullopt},
        {"2-", std::nullopt},
        {"A.x", std::nullopt}};
    for (const auto& [position, expected] : table) {
        EXPECT_EQ(parseSidePosition(position), expected) << position;
    }
}

TEST(ArtistCredit, JoinsCleanedNamesWithTheirJoinWords)
{
    EXPECT_EQ(artistCredit({{"Ann", "&"}, {"Bob", std::nullopt}}), "Ann & Bob");
    EXPECT_EQ(artistCredit({{"A", std::nullopt}, {"B", "Feat."}, {"C", "ignored, last"}}),
              "A , B Feat. C");
    EXPECT_EQ(artistCredit({{"A", ""}, {"B", std::nullopt}}), "A , B");
    EXPECT_EQ(artistCredit({}), QString());
    // Only a trailing numbering suffix goes; only the whole credit is trimmed.
    EXPECT_EQ(artistCredit({{"Ann Ray (2)", std::nullopt}}), "Ann Ray");
    EXPECT_EQ(artistCredit({{"Ann Ray (Live)", std::nullopt}}), "Ann Ray (Live)");
    EXPECT_EQ(artistCredit({{"Ann Ray (2) Trio", std::nullopt}}), "Ann Ray (2) Trio");
    EXPECT_EQ(artistCredit({{"Ann (12)", "&"}, {" Bob (3)\t", std::nullopt}}), "Ann &  Bob (3)");
}

TEST(ReleaseDateText, DropsUnknownPartsAndFallsBackToTheYear)
{
    const std::tuple<std::optional<QString>, std::optional<std::int64_t>, QString> table[] = {
        {"1973-00-00", 1999, "1973"},
        {"1973-03-00", 1999, "1973-03"},
        {"1973-03-15", 1999, "1973-03-15"},
        {"1973-03", 1999, "1973-03"},
        {"-1973-", 1999, "-1973-"},
        {"1973--00", 1999, "1973"},
        {"1973-03-00-00", 1999, "1973-03-00-00"},
        {"", 1973, "1973"},
        {std::nullopt, 1973, "1973"},
        {"", 0, ""},
        {"", std::nullopt, ""}};
    for (const auto& [released, year, expected] : table) {
        DiscogsRelease release;
        release.released = released;
        release.year = year;
        EXPECT_EQ(releaseDateText(release), expected) << released.value_or("<none>").toStdString();
    }
}

TEST(CoverImageURL, PrefersThePrimaryImageAndNeverTriesAnother)
{
    using Images = QList<DiscogsRelease::Image>;
    const std::pair<std::optional<Images>, std::optional<QString>> table[] = {
        {std::nullopt, std::nullopt},
        {Images(), std::nullopt},
        {Images{{"secondary", "https://i.example/2.jpg"}, {"primary", std::nullopt}}, std::nullopt},
        {Images{{"secondary", "HTTPS://i.example/2.jpg"}}, "HTTPS://i.example/2.jpg"},
        {Images{{std::nullopt, "https://i.example/1.jpg"},
                {"primary", "https://i.example/p.jpg"},
                {"primary", "https://i.example/q.jpg"}},
         "https://i.example/p.jpg"},
        {Images{{"primary", "not a url"}, {"secondary", "https://i.example/2.jpg"}}, std::nullopt},
        {Images{{"Primary", ""}}, std::nullopt}};
    for (const auto& [images, expected] : table) {
        DiscogsRelease release;
        release.images = images;
        EXPECT_EQ(coverImageURL(release), expected);
    }
}

TEST(AddTrackToSides, GroupsBySideInOrderOfFirstAppearance)
{
    EXPECT_EQ(layout(sidesFor(
                  {track("A1"), track("A2"), track("B1"), track("B2"), track("C1"), track("D1")})),
              (Layout{{1, "A", 2}, {1, "B", 2}, {2, "C", 1}, {2, "D", 1}}));
    EXPECT_EQ(layout(sidesFor({track("B1"), track("A1"), track("B2")})),
              (Layout{{1, "B", 2}, {1, "A", 1}}));
    EXPECT_EQ(layout(sidesFor({track("1-A1"), track("A1")})), (Layout{{1, "A", 2}}));
    EXPECT_EQ(layout(sidesFor({track("1"), track("2"), track("3")})), (Layout{{1, "?", 3}}));
}

TEST(AddTrackToSides, HeadingsAddNothingAndIndexEntriesAddTheirParts)
{
    Track index = track("A3", "Suite", "index");
    index.sub_tracks = QList<Track>{track("A3a", "Movement 1"), track("A3b", "Movement 2")};
    Track bareIndex = track("A5", "Lone", "index");
    bareIndex.sub_tracks = QList<Track>();
    Track guest = track(" a1 ", "Song");
    guest.artists = QList<Artist>{{"Guest (4)", std::nullopt}};
    const QList<CaptureSide> sides =
        sidesFor({guest, track("", "Side B", "heading"), track("B1", "B one", "track"), index,
                  bareIndex, track("A6", "Six", "Heading")});

    ASSERT_EQ(layout(sides), (Layout{{1, "A", 5}, {1, "B", 1}}));
    QStringList titlesOnA;
    for (const CaptureTrack& onA : sides[0].tracks) {
        titlesOnA.append(onA.title);
    }
    EXPECT_EQ(titlesOnA, (QStringList{"Song", "Movement 1", "Movement 2", "Lone", "Six"}));
    // Tracks keep their own texts; sides and tracks get fresh identifiers and nothing else.
    const CaptureSide& side = sides[0];
    EXPECT_FALSE(side.id.isNull());
    EXPECT_FALSE(side.master.has_value());
    EXPECT_TRUE(side.markers.isEmpty());
    EXPECT_FALSE(side.trimStartFrame.has_value());
    EXPECT_FALSE(side.trimEndFrame.has_value());
    EXPECT_EQ(side.tracks[0].position, " a1 ");
    EXPECT_EQ(side.tracks[0].artist, "Guest");
    EXPECT_EQ(side.tracks[1].artist, QString()) << "no album artist fallback";
    EXPECT_FALSE(side.tracks[0].id.isNull());
    EXPECT_NE(side.tracks[0].id, side.tracks[1].id);
}

TEST(MakeProjectDraft, FillsEveryFieldFromTheRelease)
{
    DiscogsRelease release;
    release.id = 249504;
    release.title = "Night Works";
    release.artists = QList<Artist>{{"Ann Ray (2)", "&"}, {"Bob", std::nullopt}};
    release.released = "1973-00-00";
    release.genres = QStringList{"Jazz", "Rock"};
    release.labels = QList<DiscogsRelease::Label>{{"Northlight", "NL 804"}, {"Westway", {}}};
    release.country = "UK";
    release.formats = QList<DiscogsRelease::Format>{{"Vinyl", "2", QStringList{"LP", "Album"}},
                                                    {"CD", std::nullopt, std::nullopt}};
    release.tracklist = {track("A1"), track("B1")};
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);

    const CaptureProject draft = makeProjectDraft(release, now);
    EXPECT_EQ(draft.createdAt, now);
    EXPECT_EQ(draft.discogsReleaseID, 249504);
    EXPECT_EQ(draft.artist, "Ann Ray & Bob");
    EXPECT_EQ(draft.albumArtist, "Ann Ray & Bob");
    EXPECT_EQ(draft.title, "Night Works");
    EXPECT_EQ(draft.source, CaptureSource::vinyl);
    EXPECT_EQ(draft.date, "1973");
    EXPECT_EQ(draft.genres, (QStringList{"Jazz", "Rock"}));
    EXPECT_EQ(draft.labels, "Northlight · NL 804; Westway");
    EXPECT_EQ(draft.edition, "UK · Vinyl, LP, Album / CD");
    EXPECT_EQ(layout(draft.sides), (Layout{{1, "A", 1}, {1, "B", 1}}));
    EXPECT_NO_THROW(draft.validate());
    EXPECT_NE(makeProjectDraft(release, now).id, draft.id);

    // Absent lists give empty texts.
    DiscogsRelease bare;
    bare.id = 7;
    bare.title = "Bare";
    const CaptureProject empty = makeProjectDraft(bare);
    EXPECT_EQ(empty.artist, QString());
    EXPECT_EQ(empty.date, QString());
    EXPECT_TRUE(empty.genres.isEmpty());
    EXPECT_EQ(empty.labels, QString());
    EXPECT_EQ(empty.edition, QString());
    EXPECT_TRUE(empty.sides.isEmpty());
    EXPECT_TRUE(empty.createdAt.isValid());
    bare.formats = QList<DiscogsRelease::Format>{{"Vinyl", std::nullopt, std::nullopt}};
    EXPECT_EQ(makeProjectDraft(bare).edition, "Vinyl");
}

} // namespace
