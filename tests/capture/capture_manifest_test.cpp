#include "capture/capture_manifest.h"

#include "capture/project_fixtures.h"
#include "platform/errors.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace brevalo {
namespace {

using testing::master;
using testing::project;

CaptureProject fullProject()
{
    CaptureProject p = project();
    p.discogsReleaseID = 1234567;
    p.source = CaptureSource::reelToReel;
    p.date = QStringLiteral("1979");
    p.genres = {QStringLiteral("Rock"), QStringLiteral("Électronique")};
    p.labels = QStringLiteral("Label – CAT 001");
    p.edition = QStringLiteral("UK, \"first\" press\n/ mono");
    p.artworkPath = QStringLiteral("Artwork/4E3B1B2A-0000-4000-8000-00000000000A.png");
    p.sides[0].master = master(qint64(1) << 53 | 1); // beyond a double's exact integers
    p.sides[0].master->interruption = QStringLiteral("The input device disappeared.");
    p.sides[0].master->isComplete = false;
    p.sides[0].markers = {48000, 96000};
    p.sides[0].trimStartFrame = 10;
    p.sides[0].trimEndFrame = 200000;
    p.sides[1].tracks[0].artist = QStringLiteral("Guest 🎷");
    return p;
}

QJsonObject encodedObject(const CaptureProject& p)
{
    return QJsonDocument::fromJson(encodeManifest(p)).object();
}

QByteArray withChange(const CaptureProject& p, const std::function<void(QJsonObject&)>& change)
{
    QJsonObject object = encodedObject(p);
    change(object);
    return QJsonDocument(object).toJson();
}

// Applies a change to the first side's object.
QByteArray withSideChange(const CaptureProject& p, const std::function<void(QJsonObject&)>& change)
{
    return withChange(p, [&](QJsonObject& root) {
        QJsonArray sides = root[QStringLiteral("sides")].toArray();
        QJsonObject side = sides[0].toObject();
        change(side);
        sides[0] = side;
        root[QStringLiteral("sides")] = sides;
    });
}

QString decodeFailure(const QByteArray& json)
{
    try {
        decodeManifest(json);
    } catch (const CaptureError& error) {
        return error.message();
    }
    return QString();
}

TEST(ManifestTest, RoundTripsEveryField)
{
    const CaptureProject p = fullProject();
    EXPECT_EQ(decodeManifest(encodeManifest(p)), p);
    const CaptureProject draft = [] {
        CaptureProject d = emptyDraft();
        d.createdAt = QDateTime(QDate(2000, 1, 1), QTime(0, 0), Qt::UTC);
        return d;
    }();
    EXPECT_EQ(decodeManifest(encodeManifest(draft)), draft);
}

TEST(ManifestTest, WritesSortedPrettyKeysUpperCaseIdsAndUtcSeconds)
{
    CaptureProject p = fullProject();
    p.id = QUuid::fromString(QStringLiteral("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"));
    p.createdAt = QDateTime(QDate(2024, 5, 1), QTime(14, 34, 56, 789), QTimeZone(7200));
    const QString text = QString::fromUtf8(encodeManifest(p));

    EXPECT_TRUE(text.contains(QStringLiteral("\n    \"albumArtist\": \"The Artist\",\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"id\": \"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D\"")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"createdAt\": \"2024-05-01T12:34:56Z\"")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"source\": \"r2r-rip\"")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"frameCount\": 9007199254740993")));
    EXPECT_FALSE(text.contains(QStringLiteral("null")));

    // Top-level keys appear in code-point order.
    const QStringList keys = {"albumArtist",      "artist",  "artworkPath", "createdAt", "date",
                              "discogsReleaseID", "edition", "genres",      "id",        "labels",
                              "schemaVersion",    "sides",   "source",      "title"};
    qsizetype previous = -1;
    for (const auto& key : keys) {
        const qsizetype at = text.indexOf(QStringLiteral("\n    \"") + key + QLatin1Char('"'));
        ASSERT_GT(at, previous) << key.toStdString();
        previous = at;
    }
}

TEST(ManifestTest, OmitsAbsentOptionalsButAlwaysWritesMarkers)
{
    const QJsonObject root = encodedObject(project());
    EXPECT_FALSE(root.contains(QStringLiteral("discogsReleaseID")));
    EXPECT_FALSE(root.contains(QStringLiteral("artworkPath")));
    const QJsonObject side = root[QStringLiteral("sides")].toArray()[0].toObject();
    EXPECT_EQ(side.keys(), (QStringList{"id", "label", "markers", "record", "tracks"}));
    EXPECT_TRUE(side[QStringLiteral("markers")].isArray());

    CaptureProject recorded = project();
    recorded.sides[0].master = master(10);
    const QJsonObject masterObject = encodedObject(recorded)[QStringLiteral("sides")]
                                         .toArray()[0]
                                         .toObject()[QStringLiteral("master")]
                                         .toObject();
    EXPECT_FALSE(masterObject.contains(QStringLiteral("interruption")));
    EXPECT_EQ(masterObject.size(), 9);
}

TEST(ManifestTest, TruncatesFractionalSeconds)
{
    CaptureProject p = project();
    p.createdAt = QDateTime(QDate(2024, 5, 1), QTime(12, 34, 56, 999), Qt::UTC);
    const CaptureProject back = decodeManifest(encodeManifest(p));
    EXPECT_EQ(back.createdAt, QDateTime(QDate(2024, 5, 1), QTime(12, 34, 56), Qt::UTC));
}

TEST(ManifestTest, RefusesDatesItCannotWrite)
{
    CaptureProject p = project();
    p.createdAt = QDateTime();
    EXPECT_THROW(encodeManifest(p), CaptureError);
    p.createdAt = QDateTime(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC);
    EXPECT_THROW(encodeManifest(p), CaptureError);
}

TEST(ManifestTest, ReadsDatesInTheOneFormatOnly)
{
    EXPECT_EQ(parseManifestDate(QStringLiteral("2024-02-29T23:59:59Z")),
              QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59), Qt::UTC));
    for (const char* text : {"2024-05-01T12:34:56.5Z", "2024-05-01T12:34:56+02:00",
                             "2024-05-01T12:34:56", "2024-05-01 12:34:56Z", "2023-02-29T00:00:00Z",
                             "2024-05-01T24:00:00Z", "２０２4-05-01T12:34:56Z", ""}) {
        EXPECT_FALSE(parseManifestDate(QString::fromUtf8(text))) << text;
    }
}

TEST(ManifestTest, AcceptsUuidsInEitherCaseButOnlyCanonical)
{
    const QUuid id = QUuid::fromString(QStringLiteral("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"));
    EXPECT_EQ(parseManifestUuid(QStringLiteral("0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D")), id);
    EXPECT_EQ(parseManifestUuid(QStringLiteral("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d")), id);
    EXPECT_EQ(parseManifestUuid(QStringLiteral("00000000-0000-0000-0000-000000000000")), QUuid());
    EXPECT_FALSE(parseManifestUuid(QStringLiteral("{0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d}")));
    EXPECT_FALSE(parseManifestUuid(QStringLiteral("0a1b2c3d4e5f4a6b8c7d9e0f1a2b3c4d")));
    EXPECT_FALSE(parseManifestUuid(QStringLiteral("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4g")));
}

TEST(ManifestTest, MissingOrNullSourceReadsAsVinyl)
{
    CaptureProject p = project();
    p.source = CaptureSource::cd;
    EXPECT_EQ(decodeManifest(withChange(p, [](QJsonObject& o) { o.remove("source"); })).source,
              CaptureSource::vinyl);
    EXPECT_EQ(
        decodeManifest(withChange(p, [](QJsonObject& o) { o["source"] = QJsonValue(); })).source,
        CaptureSource::vinyl);
    EXPECT_FALSE(
        decodeFailure(withChange(p, [](QJsonObject& o) { o["source"] = "vinyl"; })).isEmpty());
    EXPECT_FALSE(decodeFailure(withChange(p, [](QJsonObject& o) { o["source"] = 1; })).isEmpty());
}

TEST(ManifestTest, NullOptionalsAreAbsentButNullRequiredKeysAreMissing)
{
    CaptureProject p = project();
    p.discogsReleaseID = 5;
    const CaptureProject back = decodeManifest(withChange(p, [](QJsonObject& o) {
        o["discogsReleaseID"] = QJsonValue();
        o["artworkPath"] = QJsonValue();
    }));
    EXPECT_FALSE(back.discogsReleaseID);
    EXPECT_FALSE(back.artworkPath);

    const CaptureProject sideBack = decodeManifest(withSideChange(p, [](QJsonObject& s) {
        s["master"] = QJsonValue();
        s["trimStartFrame"] = QJsonValue();
    }));
    EXPECT_EQ(sideBack.sides[0], p.sides[0]);

    EXPECT_TRUE(decodeFailure(withChange(p, [](QJsonObject& o) {
                    o["title"] = QJsonValue();
                })).contains(QStringLiteral("“title” is missing")));
}

TEST(ManifestTest, EveryRequiredKeyIsRequired)
{
    CaptureProject p = project();
    p.sides[0].master = master(100);
    for (const char* key : {"schemaVersion", "id", "createdAt", "artist", "albumArtist", "title",
                            "date", "genres", "labels", "edition", "sides"}) {
        EXPECT_FALSE(decodeFailure(withChange(p, [&](QJsonObject& o) { o.remove(key); })).isEmpty())
            << key;
    }
    for (const char* key : {"id", "record", "label", "tracks", "markers"}) {
        EXPECT_FALSE(
            decodeFailure(withSideChange(p, [&](QJsonObject& s) { s.remove(key); })).isEmpty())
            << key;
    }
    for (const char* key : {"id", "position", "title", "artist"}) {
        EXPECT_FALSE(decodeFailure(withSideChange(p,
                                                  [&](QJsonObject& s) {
                                                      QJsonArray tracks = s["tracks"].toArray();
                                                      QJsonObject t = tracks[0].toObject();
                                                      t.remove(key);
                                                      tracks[0] = t;
                                                      s["tracks"] = tracks;
                                                  }))
                         .isEmpty())
            << key;
    }
    for (const char* key : {"path", "sampleRate", "bitDepth", "frameCount", "inputDeviceUID",
                            "inputChannels", "hardwareFormat", "clientFormat", "isComplete"}) {
        EXPECT_FALSE(decodeFailure(withSideChange(p,
                                                  [&](QJsonObject& s) {
                                                      QJsonObject m = s["master"].toObject();
                                                      m.remove(key);
                                                      s["master"] = m;
                                                  }))
                         .isEmpty())
            << key;
    }
}

TEST(ManifestTest, ASideWithoutMarkersDoesNotDecodeEvenUnrecorded)
{
    const CaptureProject p = project();
    ASSERT_FALSE(p.sides[0].master);
    EXPECT_EQ(decodeFailure(withSideChange(p, [](QJsonObject& s) { s.remove("markers"); })),
              QStringLiteral("The project manifest could not be read: the required key "
                             "“sides[0].markers” is missing."));
}

TEST(ManifestTest, RefusesValuesOfTheWrongType)
{
    CaptureProject p = project();
    p.sides[0].master = master(100);
    const std::pair<const char*, QJsonValue> sideValues[] = {
        {"record", "1"},
        {"record", 1.5},
        {"record", 1e300},
        {"label", 1},
        {"tracks", QJsonObject()},
        {"markers", QJsonArray{"1"}},
        {"markers", QJsonArray{0.5}},
        {"trimEndFrame", true},
        {"id", "not-a-uuid"},
        {"master", QJsonArray()},
    };
    for (const auto& [key, value] : sideValues) {
        EXPECT_FALSE(
            decodeFailure(withSideChange(p, [&](QJsonObject& s) { s[key] = value; })).isEmpty())
            << key;
    }
    const std::pair<const char*, QJsonValue> rootValues[] = {
        {"genres", QJsonArray{1}}, {"genres", "Rock"},
        {"createdAt", 0},          {"createdAt", "2024-05-01T12:34:56.250Z"},
        {"schemaVersion", "1"},    {"sides", QJsonArray{1}},
    };
    for (const auto& [key, value] : rootValues) {
        EXPECT_FALSE(
            decodeFailure(withChange(p, [&](QJsonObject& o) { o[key] = value; })).isEmpty())
            << key;
    }
    EXPECT_FALSE(decodeFailure(withSideChange(p, [](QJsonObject& s) {
                     QJsonObject m = s["master"].toObject();
                     m["isComplete"] = 1;
                     s["master"] = m;
                 })).isEmpty());
    // A whole number written with a fraction part is still an integer.
    EXPECT_EQ(decodeManifest(withSideChange(p, [](QJsonObject& s) { s["record"] = 1.0; })).sides[0],
              p.sides[0]);
}

TEST(ManifestTest, IgnoresUnknownKeysAndDropsThemOnTheNextWrite)
{
    const CaptureProject p = project();
    const CaptureProject back = decodeManifest(withChange(p, [](QJsonObject& o) {
        o["futureField"] = QJsonObject{{"x", 1}};
    }));
    EXPECT_EQ(back, p);
    EXPECT_FALSE(encodeManifest(back).contains("futureField"));
}

TEST(ManifestTest, ReportsMalformedJsonWithTheReadersDescription)
{
    EXPECT_TRUE(decodeFailure("{\"schemaVersion\": 1,")
                    .startsWith(QStringLiteral("The project manifest is not valid JSON: ")));
    EXPECT_FALSE(decodeFailure("[]").isEmpty());
    EXPECT_FALSE(decodeFailure("").isEmpty());
    // Decoding does not validate: a manifest of the wrong version still decodes.
    const CaptureProject newer =
        decodeManifest(withChange(project(), [](QJsonObject& o) { o["schemaVersion"] = 2; }));
    EXPECT_EQ(newer.schemaVersion, 2);
}

} // namespace
} // namespace brevalo
