#include "discogs/discogs_release.h"

#include "discogs/discogs_errors.h"
#include "test_support.h"

using namespace brevalo;

namespace {

using Artist = DiscogsRelease::Artist;

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
            {"position": "A1", "title": "Lantern", "type_": "track", "artists": [{"name": "G"}]},
            {"position": "A2", "title": "y", "type_": null, "sub_tracks": null, "artists": null},
            {"position": "B", "title": "Suite", "type_": "index", "sub_tracks": [
                {"position": "B1a", "title": "First Movement", "sub_tracks": []}]}
        ],
        "images": [{"type": "secondary", "uri": "https://i.example/2.jpg"}, {"type": "primary"}]
    })json");

    using Track = DiscogsRelease::Track;
    const Track movement{"B1a", "First Movement", std::nullopt, std::nullopt, QList<Track>()};
    // Absent and null optionals are both absent.
    const DiscogsRelease expected{
        .id = 249504,
        .title = "Harbour Lights",
        .artists = QList<Artist>{{"Tide (2)", "&"}, {"Ola", std::nullopt}},
        .year = 1971,
        .released = "1971-02-00",
        .genres = QStringList{"Rock"},
        .styles = QStringList{"Dub"},
        .labels =
            QList<DiscogsRelease::Label>{{"Meridian", "MER 211/12 X"}, {"Bare", std::nullopt}},
        .country = "Germany",
        .formats = QList<DiscogsRelease::Format>{{"Vinyl", "2", QStringList{"LP", "Album"}}},
        .tracklist = {{"A1", "Lantern", "track", QList<Artist>{{"G", std::nullopt}}, std::nullopt},
                      {"A2", "y", std::nullopt, std::nullopt, std::nullopt},
                      {"B", "Suite", "index", std::nullopt, QList<Track>{movement}}},
        .images = QList<DiscogsRelease::Image>{{"secondary", "https://i.example/2.jpg"},
                                               {"primary", std::nullopt}}};
    EXPECT_TRUE(release == expected);

    // Ids arrive as JSON numbers: an integral double is read, and the full 64-bit range.
    EXPECT_EQ(decodeDiscogsRelease(R"({"id": 12.0, "title": "", "tracklist": []})").id, 12);
    EXPECT_EQ(
        decodeDiscogsRelease(R"({"id": 9223372036854775807, "title": "", "tracklist": []})").id,
        INT64_MAX);
}

TEST(DiscogsReleaseDecoding, MissingKeysAndWrongTypesFailTheWholeDecode)
{
    for (const QByteArray json :
         {R"({"id": 1, "title": "T"})", R"({"id": 1, "title": "T", "tracklist": null})",
          R"({"id": "1", "title": "T", "tracklist": []})",
          R"({"id": 12.5, "title": "T", "tracklist": []})",
          R"({"id": 1e30, "title": "T", "tracklist": []})",
          R"({"id": 1, "title": null, "tracklist": []})",
          R"({"id": 1, "title": "T", "tracklist": {}})",
          R"({"id": 1, "title": "T", "tracklist": [], "year": "1973"})",
          R"({"id": 1, "title": "T", "tracklist": [], "genres": ["Rock", 1]})",
          R"({"id": 1, "title": "T", "tracklist": [], "artists": [{"join": "&"}]})",
          R"({"id": 1, "title": "T", "tracklist": [], "images": ["https://i.example/1.jpg"]})",
          R"({"id": 1, "title": "T", "tracklist": [{"position": "A", "title": "x",
                 "sub_tracks": [{"position": "A1"}]}]})",
          "[]", "not json"}) {
        SCOPED_TRACE(json.constData());
        EXPECT_THROW(decodeDiscogsRelease(json), DiscogsDecodingError);
    }
    try {
        decodeDiscogsRelease(R"({"id": 1, "title": "T", "tracklist": [{"position": "A1"}]})");
        FAIL() << "decoded without a title";
    } catch (const DiscogsDecodingError& error) {
        EXPECT_TRUE(error.description().contains("tracklist[0].title")) << error.what();
    }
}

TEST(DiscogsSearchDecoding, ResultsAreRequiredAndHitsDecode)
{
    for (const QByteArray json : {R"({"pagination": {}})", R"({"results": [{"title": "no id"}]})",
                                  R"({"results": [{"id": 1, "title": "t", "year": 1973}]})"}) {
        EXPECT_THROW(decodeDiscogsSearchResponse(json), DiscogsDecodingError) << json.constData();
    }
    const DiscogsSearchResponse response = decodeDiscogsSearchResponse(R"({"results": [
        {"id": 5, "title": "A - B", "year": "1973", "country": "UK", "label": ["L1", "L2"],
         "catno": "XYZ 1", "format": ["Vinyl", "LP"], "thumb": "x"}, {"id": 6, "title": "C"}]})");
    EXPECT_EQ(response.results,
              (QList<DiscogsSearchResult>{{5, "A - B", "1973", "UK", QStringList{"L1", "L2"},
                                           "XYZ 1", QStringList{"Vinyl", "LP"}},
                                          {6, "C", {}, {}, {}, {}, {}}}));
    // The display line leaves out the labels and whatever is absent.
    EXPECT_EQ(response.results[0].subtitle(), "1973 · UK · XYZ 1 · Vinyl, LP");
    EXPECT_EQ(response.results[1].subtitle(), QString());
}

} // namespace
