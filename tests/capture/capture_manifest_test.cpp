#include "capture/capture_manifest.h"

#include "capture/project_fixtures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
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

// Sets (or, without a value, removes) the value at a dotted path such as "sides.0.master.path".
QJsonValue edited(const QJsonValue& node, QStringList path, const std::optional<QJsonValue>& value)
{
    const QString step = path.takeFirst();
    if (node.isArray()) {
        QJsonArray array = node.toArray();
        array[step.toInt()] = edited(array[step.toInt()], path, value);
        return array;
    }
    QJsonObject object = node.toObject();
    if (!path.isEmpty()) {
        object[step] = edited(object[step], path, value);
    } else if (value) {
        object[step] = *value;
    } else {
        object.remove(step);
    }
    return object;
}

QByteArray withEdit(const CaptureProject& p, const QString& path,
                    const std::optional<QJsonValue>& value = std::nullopt)
{
    const QJsonValue root = QJsonDocument::fromJson(encodeManifest(p)).object();
    return QJsonDocument(edited(root, path.split(QLatin1Char('.')), value).toObject()).toJson();
}

QString decodeFailure(const QByteArray& json)
{
    return testing::failure([&] { decodeManifest(json); });
}

TEST(ManifestTest, WritesSortedPrettyKeysUpperCaseIdsAndUtcSeconds)
{
    CaptureProject p = fullProject();
    p.id = QUuid::fromString(QStringLiteral("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"));
    p.createdAt = QDateTime(QDate(2024, 5, 1), QTime(14, 34, 56, 789), QTimeZone(7200));
    const QString text = QString::fromUtf8(encodeManifest(p));

    EXPECT_TRUE(text.contains(QStringLiteral("\n    \"albumArtist\": \"The Artist\",\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"id\": \"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D\"")));
    // UTC, with the fraction of the second cut off.
    EXPECT_TRUE(text.contains(QStringLiteral("\"createdAt\": \"2024-05-01T12:34:56Z\"")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"source\": \"r2r-rip\"")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"frameCount\": 9007199254740993")));
    EXPECT_FALSE(text.contains(QStringLiteral("null")));

    // Top-level keys appear in code-point order.
    QStringList keys;
    for (const auto& match : QRegularExpression(R"re(\n    "(\w+)":)re").globalMatch(text)) {
        keys.append(match.captured(1));
    }
    EXPECT_EQ(keys, (QStringList{"albumArtist", "artist", "artworkPath", "createdAt", "date",
                                 "discogsReleaseID", "edition", "genres", "id", "labels",
                                 "schemaVersion", "sides", "source", "title"}));

    // Absent optionals are left out, but markers are always written.
    CaptureProject plain = project();
    plain.sides[0].master = master(10);
    const QJsonObject root = QJsonDocument::fromJson(encodeManifest(plain)).object();
    EXPECT_FALSE(root.contains(QStringLiteral("discogsReleaseID")));
    EXPECT_FALSE(root.contains(QStringLiteral("artworkPath")));
    EXPECT_FALSE(encodeManifest(plain).contains("interruption"));
    EXPECT_EQ(root[QStringLiteral("sides")].toArray()[1].toObject().keys(),
              (QStringList{"id", "label", "markers", "record", "tracks"}));

    // Dates the format cannot hold are refused.
    plain.createdAt = QDateTime();
    EXPECT_THROW(encodeManifest(plain), CaptureError);
    plain.createdAt = QDateTime(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC);
    EXPECT_THROW(encodeManifest(plain), CaptureError);
}

TEST(ManifestTest, ReadsDatesAndUuidsInTheirCanonicalFormsOnly)
{
    EXPECT_EQ(parseManifestDate(QStringLiteral("2024-02-29T23:59:59Z")),
              QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59), Qt::UTC));
    for (const char* text : {"2024-05-01T12:34:56.5Z", "2024-05-01T12:34:56+02:00",
                             "2024-05-01T12:34:56", "2024-05-01 12:34:56Z", "2023-02-29T00:00:00Z",
                             "2024-05-01T24:00:00Z", "２０２4-05-01T12:34:56Z", ""}) {
        EXPECT_FALSE(parseManifestDate(QString::fromUtf8(text))) << text;
    }
    const QUuid id = QUuid::fromString(QStringLiteral("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"));
    EXPECT_EQ(parseManifestUuid(QStringLiteral("0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D")), id);
    EXPECT_EQ(parseManifestUuid(QStringLiteral("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d")), id);
    EXPECT_EQ(parseManifestUuid(QStringLiteral("00000000-0000-0000-0000-000000000000")), QUuid());
    EXPECT_FALSE(parseManifestUuid(QStringLiteral("{0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d}")));
    EXPECT_FALSE(parseManifestUuid(QStringLiteral("0a1b2c3d4e5f4a6b8c7d9e0f1a2b3c4d")));
    EXPECT_FALSE(parseManifestUuid(QStringLiteral("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4g")));
}

TEST(ManifestTest, RoundTripsEveryFieldAndReadsMissingOrNullOptionalsAsAbsent)
{
    const CaptureProject p = fullProject();
    EXPECT_EQ(decodeManifest(encodeManifest(p)), p);

    // Absent optionals, and the source as vinyl.
    const std::pair<const char*, std::function<void(CaptureProject&)>> rows[] = {
        {"source", [](CaptureProject& e) { e.source = CaptureSource::vinyl; }},
        {"discogsReleaseID", [](CaptureProject& e) { e.discogsReleaseID.reset(); }},
        {"artworkPath", [](CaptureProject& e) { e.artworkPath.reset(); }},
        {"sides.0.master", [](CaptureProject& e) { e.sides[0].master.reset(); }},
        {"sides.0.master.interruption",
         [](CaptureProject& e) { e.sides[0].master->interruption.reset(); }},
        {"sides.0.trimStartFrame", [](CaptureProject& e) { e.sides[0].trimStartFrame.reset(); }},
    };
    for (const auto& [path, change] : rows) {
        CaptureProject expected = p;
        change(expected);
        EXPECT_EQ(decodeManifest(withEdit(p, path)), expected) << path;
        EXPECT_EQ(decodeManifest(withEdit(p, path, QJsonValue())), expected) << path;
    }
    // Unknown keys are ignored and dropped on the next write.
    const CaptureProject back = decodeManifest(withEdit(p, "futureField", QJsonObject{{"x", 1}}));
    EXPECT_EQ(back, p);
    EXPECT_FALSE(encodeManifest(back).contains("futureField"));
    // Decoding does not validate: a manifest of the wrong version still decodes.
    EXPECT_EQ(decodeManifest(withEdit(p, "schemaVersion", 2)).schemaVersion, 2);
}

TEST(ManifestTest, RefusesMissingNullAndMistypedValuesAndMalformedJson)
{
    CaptureProject p = project();
    p.sides[0].master = master(100);
    EXPECT_EQ(decodeFailure(withEdit(p, "sides.0.markers")),
              QStringLiteral("The project manifest could not be read: the required key "
                             "“sides[0].markers” is missing."));
    EXPECT_TRUE(decodeFailure(withEdit(p, "title", QJsonValue()))
                    .contains(QStringLiteral("“title” is missing")));
    const QString keys = "schemaVersion id createdAt artist albumArtist title date genres labels "
                         "edition sides sides.0.id sides.0.record sides.0.label sides.0.tracks "
                         "sides.0.tracks.0.id sides.0.tracks.0.position sides.0.tracks.0.title "
                         "sides.0.tracks.0.artist sides.0.master.path sides.0.master.sampleRate "
                         "sides.0.master.bitDepth sides.0.master.frameCount "
                         "sides.0.master.inputDeviceUID sides.0.master.inputChannels "
                         "sides.0.master.hardwareFormat sides.0.master.clientFormat "
                         "sides.0.master.isComplete";
    for (const QString& key : keys.split(QLatin1Char(' '))) {
        EXPECT_FALSE(decodeFailure(withEdit(p, key)).isEmpty()) << key.toStdString();
        EXPECT_FALSE(decodeFailure(withEdit(p, key, QJsonValue())).isEmpty()) << key.toStdString();
    }

    // Paths and values of the wrong type.
    const QJsonArray mistyped = QJsonDocument::fromJson(R"([
        ["sides.0.record", "1"], ["sides.0.record", 1.5], ["sides.0.record", 1e300],
        ["sides.0.label", 1], ["sides.0.tracks", {}], ["sides.0.markers", ["1"]],
        ["sides.0.markers", [0.5]], ["sides.0.trimEndFrame", true], ["sides.0.id", "not-a-uuid"],
        ["sides.0.master", []], ["sides.0.master.isComplete", 1], ["genres", [1]],
        ["genres", "Rock"], ["createdAt", 0], ["createdAt", "2024-05-01T12:34:56.250Z"],
        ["schemaVersion", "1"], ["sides", [1]], ["source", "vinyl"], ["source", 1]
    ])")
                                    .array();
    ASSERT_EQ(mistyped.size(), 19);
    for (const QJsonValue& row : mistyped) {
        const QString path = row[0].toString();
        EXPECT_FALSE(decodeFailure(withEdit(p, path, row[1])).isEmpty()) << path.toStdString();
    }
    // A whole number written with a fraction part is still an integer.
    EXPECT_EQ(decodeManifest(withEdit(p, "sides.0.record", 1.0)).sides[0], p.sides[0]);

    EXPECT_TRUE(decodeFailure("{\"schemaVersion\": 1,")
                    .startsWith(QStringLiteral("The project manifest is not valid JSON: ")));
    EXPECT_FALSE(decodeFailure("[]").isEmpty());
    EXPECT_FALSE(decodeFailure("").isEmpty());
}

} // namespace
} // namespace brevalo
