#include "discogs/release_mapping.h"

#include "capture/qt_printers.h"
#include "discogs/discogs_release.h"

#include <QSet>

#include <gtest/gtest.h>

#include <limits>
#include <utility>

using namespace brevalo;

namespace {

using Artist = DiscogsRelease::Artist;
using Track = DiscogsRelease::Track;

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
        {"Z1", SidePosition{13, "Z"}},
        {"0-B1", SidePosition{0, "B"}},
        // A record number too large falls back to the letters.
        {"99999999999999999999-C1", SidePosition{2, "C"}},
        // CRPXNLSKVLJFHG is exactly the largest signed 64-bit index; one more overflows.
        {"CRPXNLSKVLJFHG1",
         SidePosition{std::numeric_limits<std::int64_t>::max() / 2 + 1, "CRPXNLSKVLJFHG"}},
        {"CRPXNLSKVLJFHH1", std::nullopt}};
    for (const auto& [position, expected] : table) {
        EXPECT_EQ(parseSidePosition(position), expected) << position;
    }
    // Only spaces and tabs are trimmed, so a leading line break spoils the position.
    for (const char* position : {"\nA1", "1", "Side A", "", "A B", "2-", "A.x"}) {
        EXPECT_EQ(parseSidePosition(position), std::nullopt) << position;
    }
}

TEST(ArtistCredit, JoinsCleanedNamesWithTheirJoinWords)
{
    EXPECT_EQ(artistCredit({{"A", std::nullopt}, {"B", "Feat."}, {"C", "ignored, last"}}),
              "A , B Feat. C");
    EXPECT_EQ(artistCredit({{"A", ""}, {"B", std::nullopt}}), "A , B");
    EXPECT_EQ(artistCredit({}), QString());
    // Only a trailing numbering suffix goes; only the whole credit is trimmed.
    EXPECT_EQ(artistCredit({{"Ann Ray (Live)", std::nullopt}}), "Ann Ray (Live)");
    EXPECT_EQ(artistCredit({{"Ann Ray (2) Trio", std::nullopt}}), "Ann Ray (2) Trio");
    EXPECT_EQ(artistCredit({{"Ann (12)", "&"}, {" Bob (3)\t", std::nullopt}}), "Ann &  Bob (3)");
}

TEST(ReleaseDateText, DropsUnknownPartsAndFallsBackToTheYear)
{
    const std::tuple<std::optional<QString>, std::optional<std::int64_t>, QString> table[] = {
        {"1973-00-00", 1999, "1973"},
        {"1973-03-15", 1999, "1973-03-15"},
        {"1973-03", 1999, "1973-03"},
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

// The draft with its generated identifiers cleared, once they are known to be set and distinct.
CaptureProject withoutIDs(CaptureProject draft)
{
    QSet<QUuid> ids{std::exchange(draft.id, QUuid())};
    qsizetype count = 1;
    for (CaptureSide& side : draft.sides) {
        ids.insert(std::exchange(side.id, QUuid()));
        for (CaptureTrack& entry : side.tracks) {
            ids.insert(std::exchange(entry.id, QUuid()));
        }
        count += 1 + side.tracks.size();
    }
    EXPECT_EQ(ids.size(), count);
    EXPECT_FALSE(ids.contains(QUuid()));
    return draft;
}

TEST(MakeProjectDraft, GroupsTracksBySideInOrderOfFirstAppearance)
{
    // (record, label, track count) of every side, in order.
    using Layout = std::vector<std::tuple<std::int64_t, QString, qsizetype>>;
    const std::pair<QStringList, Layout> table[] = {
        {{"A1", "A2", "B1", "B2", "C1", "D1"},
         {{1, "A", 2}, {1, "B", 2}, {2, "C", 1}, {2, "D", 1}}},
        {{"B1", "A1", "B2"}, {{1, "B", 2}, {1, "A", 1}}},
        {{"1-A1", "A1"}, {{1, "A", 2}}},
        {{"1", "2", "3"}, {{1, "?", 3}}}};
    for (const auto& [positions, expected] : table) {
        DiscogsRelease release;
        for (const QString& position : positions) {
            release.tracklist.append({position, "t", {}, {}, {}});
        }
        Layout layout;
        for (const CaptureSide& side : makeProjectDraft(release).sides) {
            layout.emplace_back(side.record, side.label, side.tracks.size());
        }
        EXPECT_EQ(layout, expected) << positions.join(' ').toStdString();
    }
}

TEST(MakeProjectDraft, DecodesAReleaseAndFillsEveryFieldOfTheDraft)
{
    const DiscogsRelease release = decodeDiscogsRelease(R"json({
        "id": 249504, "title": "Harbour Lights", "unknown": {"ignored": true},
        "artists": [{"name": "Tide (2)", "join": "&", "anv": ""}, {"name": "Ola", "join": null}],
        "year": 1971, "released": "1971-02-00", "genres": ["Rock", "Jazz"], "styles": ["Dub"],
        "labels": [{"name": "Meridian", "catno": "MER 211/12 X"}, {"name": "Bare"}],
        "country": "Germany",
        "formats": [{"name": "Vinyl", "qty": "2", "descriptions": ["LP", "Album"]}, {"name": "CD"}],
        "tracklist": [
            {"position": " a1 ", "title": "Lantern", "type_": "track", "artists": [{"name": "G (4)"}]},
            {"position": "", "title": "Side B", "type_": "heading"},
            {"position": "A2", "title": "y", "type_": null, "sub_tracks": null, "artists": null},
            {"position": "B", "title": "Suite", "type_": "index", "sub_tracks": [
                {"position": "B1a", "title": "First Movement", "sub_tracks": []}]},
            {"position": "A5", "title": "Lone", "type_": "index", "sub_tracks": []},
            {"position": "A6", "title": "Six", "type_": "Heading"}],
        "images": [{"type": "secondary", "uri": "https://i.example/2.jpg"}, {"type": "primary"}]
    })json");

    // Absent and null optionals are both absent.
    constexpr std::nullopt_t none = std::nullopt;
    const Track movement{"B1a", "First Movement", none, none, QList<Track>()};
    const DiscogsRelease decoded{
        .id = 249504,
        .title = "Harbour Lights",
        .artists = QList<Artist>{{"Tide (2)", "&"}, {"Ola", none}},
        .year = 1971,
        .released = "1971-02-00",
        .genres = QStringList{"Rock", "Jazz"},
        .styles = QStringList{"Dub"},
        .labels = QList<DiscogsRelease::Label>{{"Meridian", "MER 211/12 X"}, {"Bare", none}},
        .country = "Germany",
        .formats = QList<DiscogsRelease::Format>{{"Vinyl", "2", QStringList{"LP", "Album"}},
                                                 {"CD", none, none}},
        .tracklist = {{" a1 ", "Lantern", "track", QList<Artist>{{"G (4)", none}}, none},
                      {"", "Side B", "heading", none, none},
                      {"A2", "y", none, none, none},
                      {"B", "Suite", "index", none, QList<Track>{movement}},
                      {"A5", "Lone", "index", none, QList<Track>()},
                      {"A6", "Six", "Heading", none, none}},
        .images = QList<DiscogsRelease::Image>{{"secondary", "https://i.example/2.jpg"},
                                               {"primary", none}}};
    EXPECT_TRUE(release == decoded);

    const QDateTime now = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
    CaptureProject expected;
    expected.createdAt = now;
    expected.discogsReleaseID = 249504;
    expected.artist = expected.albumArtist = "Tide & Ola";
    expected.title = "Harbour Lights";
    expected.date = "1971-02";
    expected.genres = QStringList{"Rock", "Jazz"};
    expected.labels = "Meridian · MER 211/12 X; Bare";
    expected.edition = "Germany · Vinyl, LP, Album / CD";
    // Headings add nothing; an index entry adds its parts, or itself when it has none. Tracks
    // keep their own texts, with no album artist fallback.
    const QList<CaptureTrack> onA = {{{}, " a1 ", "Lantern", "G"},
                                     {{}, "A2", "y", {}},
                                     {{}, "A5", "Lone", {}},
                                     {{}, "A6", "Six", {}}};
    expected.sides = {CaptureSide{{}, 1, "A", onA, {}, {}, {}, {}},
                      CaptureSide{{}, 1, "B", {{{}, "B1a", "First Movement", {}}}, {}, {}, {}, {}}};
    const CaptureProject draft = makeProjectDraft(release, now);
    EXPECT_TRUE(withoutIDs(draft) == expected);
    EXPECT_NO_THROW(draft.validate());
    EXPECT_NE(makeProjectDraft(release, now).id, draft.id);

    // Absent lists give empty texts; a format stands alone without a country.
    const DiscogsRelease bare = decodeDiscogsRelease(
        R"({"id": 7, "title": "Bare", "tracklist": [], "formats": [{"name": "Vinyl"}]})");
    CaptureProject bareExpected;
    bareExpected.createdAt = now;
    bareExpected.discogsReleaseID = 7;
    bareExpected.title = "Bare";
    bareExpected.edition = "Vinyl";
    EXPECT_TRUE(withoutIDs(makeProjectDraft(bare, now)) == bareExpected);
}

} // namespace
