#include "discogs/discogs_release.h"

#include "capture/qt_printers.h"
#include "discogs/discogs_errors.h"

#include <gtest/gtest.h>

using namespace brevalo;

namespace {

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
    // Ids arrive as JSON numbers: an integral double is read, and the full 64-bit range.
    EXPECT_EQ(decodeDiscogsRelease(R"({"id": 12.0, "title": "", "tracklist": []})").id, 12);
    EXPECT_EQ(
        decodeDiscogsRelease(R"({"id": 9223372036854775807, "title": "", "tracklist": []})").id,
        INT64_MAX);
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
