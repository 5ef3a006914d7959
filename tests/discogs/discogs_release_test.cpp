#include "discogs/discogs_release.h"

#include "discogs/discogs_errors.h"

#include "qt_printers.h"

#include <gtest/gtest.h>

using namespace brevalo;

namespace {

bool failsToDecode(const QByteArray& json)
{
    try {
        decodeDiscogsRelease(json);
    } catch (const DiscogsDecodingError&) {
        return true;
    }
    return false;
}

QByteArray releaseWith(const QByteArray& extraKeys)
{
    return R"({"id": 1, "title": "T", "tracklist": [])" + extraKeys + "}";
}

TEST(DiscogsReleaseDecoding, DecodesEveryFieldOfAFullRelease)
{
    const DiscogsRelease release = decodeDiscogsRelease(R"json({
        "id": 249504, "title": "Harbour Lights", "unknown": {"ignored": true},
        "artists": [{"name": "Tide (2)", "join": "&", "anv": ""}, {"name": "Ola", "join": null}],
        "year": 1971, "released": "1971-02-00", "genres": ["Rock"], "styles": ["Dub"],
        "labels": [{"name": "Meridian", "catno": "MER 211/12 X"}, {"name": "Bare"}],
        "country": "Germany",
        "formats": [{"name": "Vinyl", "qty": "2", "descriptions": ["LP", "Album"]}],
        "tracklist": [
            {"position": "A1", "title": "Lantern", "type_": "track",
             "artists": [{"name": "Guest"}]},
            {"position": "", "title": "Side B", "type_": "heading"},
            {"position": "B", "title": "Suite", "type_": "index", "sub_tracks": [
                {"position": "B1a", "title": "First Movement", "sub_tracks": []}]}
        ],
        "images": [{"type": "secondary", "uri": "https://i.example/2.jpg"}, {"type": "primary"}]
    })json");

    EXPECT_EQ(release.id, 249504);
    EXPECT_EQ(release.title, QStringLiteral("Harbour Lights"));
    ASSERT_TRUE(release.artists.has_value());
    EXPECT_EQ(*release.artists,
              (QList<DiscogsRelease::Artist>{{QStringLiteral("Tide (2)"), QStringLiteral("&")},
                                             {QStringLiteral("Ola"), std::nullopt}}));
    EXPECT_EQ(release.year, 1971);
    EXPECT_EQ(release.released, QStringLiteral("1971-02-00"));
    EXPECT_EQ(release.genres, QStringList{QStringLiteral("Rock")});
    EXPECT_EQ(release.styles, QStringList{QStringLiteral("Dub")});
    EXPECT_EQ(release.labels, (QList<DiscogsRelease::Label>{
                                  {QStringLiteral("Meridian"), QStringLiteral("MER 211/12 X")},
                                  {QStringLiteral("Bare"), std::nullopt}}));
    EXPECT_EQ(release.country, QStringLiteral("Germany"));
    EXPECT_EQ(release.formats, (QList<DiscogsRelease::Format>{
                                   {QStringLiteral("Vinyl"), QStringLiteral("2"),
                                    QStringList{QStringLiteral("LP"), QStringLiteral("Album")}}}));
    ASSERT_EQ(release.tracklist.size(), 3);
    EXPECT_EQ(release.tracklist[0].type_, QStringLiteral("track"));
    EXPECT_EQ(release.tracklist[0].artists,
              (QList<DiscogsRelease::Artist>{{QStringLiteral("Guest"), std::nullopt}}));
    EXPECT_FALSE(release.tracklist[1].artists.has_value());
    ASSERT_TRUE(release.tracklist[2].sub_tracks.has_value());
    ASSERT_EQ(release.tracklist[2].sub_tracks->size(), 1);
    const DiscogsRelease::Track& part = release.tracklist[2].sub_tracks->first();
    EXPECT_EQ(part.position, QStringLiteral("B1a"));
    EXPECT_EQ(part.sub_tracks, QList<DiscogsRelease::Track>());
    EXPECT_EQ(release.images,
              (QList<DiscogsRelease::Image>{
                  {QStringLiteral("secondary"), QStringLiteral("https://i.example/2.jpg")},
                  {QStringLiteral("primary"), std::nullopt}}));
}

TEST(DiscogsReleaseDecoding, TracklistIsRequiredButMayBeEmpty)
{
    EXPECT_TRUE(failsToDecode(R"({"id": 1, "title": "T"})"));
    EXPECT_TRUE(failsToDecode(R"({"id": 1, "title": "T", "tracklist": null})"));
    const DiscogsRelease release = decodeDiscogsRelease(releaseWith(""));
    EXPECT_TRUE(release.tracklist.isEmpty());
    EXPECT_FALSE(release.artists.has_value());
    EXPECT_FALSE(release.images.has_value());
}

TEST(DiscogsReleaseDecoding, AbsentAndNullOptionalsAreBothAbsent)
{
    const DiscogsRelease release = decodeDiscogsRelease(R"({"id": 1, "title": "T",
        "year": null, "released": null, "genres": null, "tracklist": [
            {"position": "A1", "title": "x"},
            {"position": "A2", "title": "y", "type_": null, "sub_tracks": null, "artists": null}]})");
    EXPECT_FALSE(release.year.has_value());
    EXPECT_FALSE(release.released.has_value());
    EXPECT_FALSE(release.genres.has_value());
    for (const DiscogsRelease::Track& track : release.tracklist) {
        EXPECT_FALSE(track.type_.has_value());
        EXPECT_FALSE(track.sub_tracks.has_value());
        EXPECT_FALSE(track.artists.has_value());
    }
}

TEST(DiscogsReleaseDecoding, WrongJSONTypesFailTheWholeDecode)
{
    EXPECT_TRUE(failsToDecode(R"({"id": "1", "title": "T", "tracklist": []})"));
    EXPECT_TRUE(failsToDecode(R"({"id": 1, "title": 7, "tracklist": []})"));
    EXPECT_TRUE(failsToDecode(R"({"id": 1, "title": null, "tracklist": []})"));
    EXPECT_TRUE(failsToDecode(R"({"id": 1, "title": "T", "tracklist": {}})"));
    EXPECT_TRUE(failsToDecode(releaseWith(R"(, "year": "1973")")));
    EXPECT_TRUE(failsToDecode(releaseWith(R"(, "genres": ["Rock", 1])")));
    EXPECT_TRUE(failsToDecode(releaseWith(R"(, "artists": [{"join": "&"}])")));
    EXPECT_TRUE(failsToDecode(releaseWith(R"(, "images": ["https://i.example/1.jpg"])")));
    EXPECT_TRUE(failsToDecode(
        R"({"id": 1, "title": "T", "tracklist": [{"position": "A", "title": "x",
            "sub_tracks": [{"position": "A1"}]}]})"));
    // Deep inside a recursion the failure still surfaces.
    EXPECT_TRUE(failsToDecode("[]"));
    EXPECT_TRUE(failsToDecode("not json"));
    EXPECT_TRUE(failsToDecode(""));
}

TEST(DiscogsReleaseDecoding, IntegersMustBeIntegralAndFitIn64Bits)
{
    EXPECT_EQ(
        decodeDiscogsRelease(R"({"id": 9223372036854775807, "title": "T", "tracklist": []})").id,
        INT64_MAX);
    EXPECT_EQ(decodeDiscogsRelease(R"({"id": 12.0, "title": "T", "tracklist": []})").id, 12);
    EXPECT_EQ(decodeDiscogsRelease(releaseWith(R"(, "year": -3)")).year, -3);
    EXPECT_TRUE(failsToDecode(R"({"id": 12.5, "title": "T", "tracklist": []})"));
    EXPECT_TRUE(failsToDecode(R"({"id": 1e30, "title": "T", "tracklist": []})"));
    EXPECT_TRUE(failsToDecode(R"({"id": true, "title": "T", "tracklist": []})"));
}

TEST(DiscogsReleaseDecoding, ErrorNamesTheOffendingKey)
{
    try {
        decodeDiscogsRelease(R"({"id": 1, "title": "T", "tracklist": [{"position": "A1"}]})");
        FAIL() << "decoded without a title";
    } catch (const DiscogsDecodingError& error) {
        EXPECT_TRUE(error.description().contains(QStringLiteral("tracklist[0].title")))
            << error.what();
    }
}

TEST(DiscogsSearchDecoding, ResultsAreRequiredAndHitsDecode)
{
    EXPECT_THROW(decodeDiscogsSearchResponse(R"({"pagination": {}})"), DiscogsDecodingError);
    EXPECT_THROW(decodeDiscogsSearchResponse(R"({"results": [{"title": "no id"}]})"),
                 DiscogsDecodingError);
    EXPECT_THROW(
        decodeDiscogsSearchResponse(R"({"results": [{"id": 1, "title": "t", "year": 1973}]})"),
        DiscogsDecodingError);
    const DiscogsSearchResponse response = decodeDiscogsSearchResponse(R"({"results": [
        {"id": 5, "title": "A - B", "year": "1973", "country": "UK", "label": ["L1", "L2"],
         "catno": "XYZ 1", "format": ["Vinyl"], "thumb": "x"}]})");
    ASSERT_EQ(response.results.size(), 1);
    EXPECT_EQ(response.results[0],
              (DiscogsSearchResult{5, QStringLiteral("A - B"), QStringLiteral("1973"),
                                   QStringLiteral("UK"),
                                   QStringList{QStringLiteral("L1"), QStringLiteral("L2")},
                                   QStringLiteral("XYZ 1"), QStringList{QStringLiteral("Vinyl")}}));
}

TEST(DiscogsSearchResult, SubtitleJoinsThePresentPartsWithMiddleDots)
{
    DiscogsSearchResult hit;
    hit.year = QStringLiteral("1973");
    hit.catno = QStringLiteral("XYZ 1");
    hit.format = QStringList{QStringLiteral("Vinyl"), QStringLiteral("LP")};
    hit.label = QStringList{QStringLiteral("Not shown")};
    EXPECT_EQ(hit.subtitle(), QStringLiteral("1973 \u00B7 XYZ 1 \u00B7 Vinyl, LP"));

    hit.country = QStringLiteral("UK");
    hit.format = QStringList();
    EXPECT_EQ(hit.subtitle(), QStringLiteral("1973 \u00B7 UK \u00B7 XYZ 1 \u00B7 "));
    EXPECT_EQ(DiscogsSearchResult().subtitle(), QString());
}

} // namespace
