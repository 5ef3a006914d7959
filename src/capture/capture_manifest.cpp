#include "capture/capture_manifest.h"

#include "platform/errors.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

namespace brevalo {

namespace {

bool isHexDigit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Reads one object of the manifest, naming the place of every problem so the message says
// where the file is damaged (for example "sides[1].tracks[0].title").
class ObjectReader
{
public:
    ObjectReader(QJsonObject object, QString where)
        : object_(std::move(object)), where_(std::move(where))
    {}

    QString place(const QString& key) const
    {
        return where_.isEmpty() ? key : where_ + QLatin1Char('.') + key;
    }

    [[noreturn]] void fail(const QString& detail) const
    {
        throw CaptureError(QStringLiteral("The project manifest could not be read: ") + detail +
                           QLatin1Char('.'));
    }

    [[noreturn]] void wrongType(const QString& key, const char* expected) const
    {
        fail(QStringLiteral("“") + place(key) + QStringLiteral("” is not ") +
             QLatin1String(expected));
    }

    // A present, non-null value, or none.
    std::optional<QJsonValue> optionalValue(const QString& key) const
    {
        const auto it = object_.constFind(key);
        if (it == object_.constEnd() || it->isNull()) {
            return std::nullopt;
        }
        return *it;
    }

    QJsonValue required(const QString& key) const
    {
        // A null value means absent, for required keys as for optional ones.
        const auto value = optionalValue(key);
        if (!value) {
            fail(QStringLiteral("the required key “") + place(key) +
                 QStringLiteral("” is missing"));
        }
        return *value;
    }

    QString text(const QString& key) const { return asText(key, required(key)); }

    QString asText(const QString& key, const QJsonValue& value) const
    {
        if (!value.isString()) {
            wrongType(key, "a string");
        }
        return value.toString();
    }

    qint64 integer(const QString& key) const { return asInteger(key, required(key)); }

    qint64 asInteger(const QString& key, const QJsonValue& value) const
    {
        if (!value.isDouble()) {
            wrongType(key, "an integer");
        }
        // Two different fallbacks tell a whole number that fits apart from one that does not.
        const qint64 first = value.toInteger(0);
        if (first != value.toInteger(1)) {
            wrongType(key, "an integer");
        }
        return first;
    }

    double number(const QString& key) const
    {
        const QJsonValue value = required(key);
        if (!value.isDouble()) {
            wrongType(key, "a number");
        }
        return value.toDouble();
    }

    bool boolean(const QString& key) const
    {
        const QJsonValue value = required(key);
        if (!value.isBool()) {
            wrongType(key, "a boolean");
        }
        return value.toBool();
    }

    QUuid uuid(const QString& key) const
    {
        const auto id = parseManifestUuid(text(key));
        if (!id) {
            wrongType(key, "a UUID");
        }
        return *id;
    }

    QJsonArray array(const QString& key) const
    {
        const QJsonValue value = required(key);
        if (!value.isArray()) {
            wrongType(key, "an array");
        }
        return value.toArray();
    }

    ObjectReader element(const QString& key, const QJsonArray& array, qsizetype index) const
    {
        const QString name =
            place(key) + QLatin1Char('[') + QString::number(index) + QLatin1Char(']');
        const QJsonValue value = array.at(index);
        if (!value.isObject()) {
            fail(QStringLiteral("“") + name + QStringLiteral("” is not an object"));
        }
        return ObjectReader(value.toObject(), name);
    }

    QString elementName(const QString& key, qsizetype index) const
    {
        return key + QLatin1Char('[') + QString::number(index) + QLatin1Char(']');
    }

    QList<qint64> integers(const QString& key) const
    {
        const QJsonArray values = array(key);
        QList<qint64> result;
        result.reserve(values.size());
        for (qsizetype i = 0; i < values.size(); ++i) {
            result.append(asInteger(elementName(key, i), values.at(i)));
        }
        return result;
    }

    QStringList texts(const QString& key) const
    {
        const QJsonArray values = array(key);
        QStringList result;
        result.reserve(values.size());
        for (qsizetype i = 0; i < values.size(); ++i) {
            result.append(asText(elementName(key, i), values.at(i)));
        }
        return result;
    }

    std::optional<qint64> optionalInteger(const QString& key) const
    {
        const auto value = optionalValue(key);
        return value ? std::optional<qint64>(asInteger(key, *value)) : std::nullopt;
    }

    std::optional<QString> optionalText(const QString& key) const
    {
        const auto value = optionalValue(key);
        return value ? std::optional<QString>(asText(key, *value)) : std::nullopt;
    }

private:
    QJsonObject object_;
    QString where_;
};

CaptureTrack readTrack(const ObjectReader& reader)
{
    CaptureTrack track;
    track.id = reader.uuid(QStringLiteral("id"));
    track.position = reader.text(QStringLiteral("position"));
    track.title = reader.text(QStringLiteral("title"));
    track.artist = reader.text(QStringLiteral("artist"));
    return track;
}

CaptureMaster readMaster(const ObjectReader& reader)
{
    CaptureMaster master;
    master.path = reader.text(QStringLiteral("path"));
    master.sampleRate = reader.number(QStringLiteral("sampleRate"));
    master.bitDepth = reader.integer(QStringLiteral("bitDepth"));
    master.frameCount = reader.integer(QStringLiteral("frameCount"));
    master.inputDeviceUID = reader.text(QStringLiteral("inputDeviceUID"));
    master.inputChannels = reader.integers(QStringLiteral("inputChannels"));
    master.hardwareFormat = reader.text(QStringLiteral("hardwareFormat"));
    master.clientFormat = reader.text(QStringLiteral("clientFormat"));
    master.isComplete = reader.boolean(QStringLiteral("isComplete"));
    master.interruption = reader.optionalText(QStringLiteral("interruption"));
    return master;
}

CaptureSide readSide(const ObjectReader& reader)
{
    CaptureSide side;
    side.id = reader.uuid(QStringLiteral("id"));
    side.record = reader.integer(QStringLiteral("record"));
    side.label = reader.text(QStringLiteral("label"));
    const QString tracksKey = QStringLiteral("tracks");
    const QJsonArray tracks = reader.array(tracksKey);
    for (qsizetype i = 0; i < tracks.size(); ++i) {
        side.tracks.append(readTrack(reader.element(tracksKey, tracks, i)));
    }
    const QString masterKey = QStringLiteral("master");
    if (const auto master = reader.optionalValue(masterKey)) {
        if (!master->isObject()) {
            reader.wrongType(masterKey, "an object");
        }
        side.master = readMaster(ObjectReader(master->toObject(), reader.place(masterKey)));
    }
    side.markers = reader.integers(QStringLiteral("markers"));
    side.trimStartFrame = reader.optionalInteger(QStringLiteral("trimStartFrame"));
    side.trimEndFrame = reader.optionalInteger(QStringLiteral("trimEndFrame"));
    return side;
}

CaptureProject readProject(const ObjectReader& reader)
{
    CaptureProject project;
    project.schemaVersion = reader.integer(QStringLiteral("schemaVersion"));
    project.id = reader.uuid(QStringLiteral("id"));
    const QString createdKey = QStringLiteral("createdAt");
    const auto created = parseManifestDate(reader.text(createdKey));
    if (!created) {
        reader.wrongType(createdKey, "an ISO 8601 date such as 2024-05-01T12:34:56Z");
    }
    project.createdAt = *created;
    project.discogsReleaseID = reader.optionalInteger(QStringLiteral("discogsReleaseID"));
    project.artist = reader.text(QStringLiteral("artist"));
    project.albumArtist = reader.text(QStringLiteral("albumArtist"));
    project.title = reader.text(QStringLiteral("title"));
    // Manifests written before the source existed are vinyl projects.
    const QString sourceKey = QStringLiteral("source");
    if (const auto raw = reader.optionalText(sourceKey)) {
        const auto source = captureSourceFromRawValue(*raw);
        if (!source) {
            reader.fail(QStringLiteral("“") + *raw + QStringLiteral("” is not a known source"));
        }
        project.source = *source;
    } else {
        project.source = CaptureSource::vinyl;
    }
    project.date = reader.text(QStringLiteral("date"));
    project.genres = reader.texts(QStringLiteral("genres"));
    project.labels = reader.text(QStringLiteral("labels"));
    project.edition = reader.text(QStringLiteral("edition"));
    project.artworkPath = reader.optionalText(QStringLiteral("artworkPath"));
    const QString sidesKey = QStringLiteral("sides");
    const QJsonArray sides = reader.array(sidesKey);
    for (qsizetype i = 0; i < sides.size(); ++i) {
        project.sides.append(readSide(reader.element(sidesKey, sides, i)));
    }
    return project;
}

QJsonArray integerArray(const QList<qint64>& values)
{
    QJsonArray array;
    for (const qint64 value : values) {
        array.append(QJsonValue(value));
    }
    return array;
}

QJsonObject trackObject(const CaptureTrack& track)
{
    QJsonObject object;
    object.insert(QStringLiteral("id"), manifestUuidText(track.id));
    object.insert(QStringLiteral("position"), track.position);
    object.insert(QStringLiteral("title"), track.title);
    object.insert(QStringLiteral("artist"), track.artist);
    return object;
}

QJsonObject masterObject(const CaptureMaster& master)
{
    QJsonObject object;
    object.insert(QStringLiteral("path"), master.path);
    object.insert(QStringLiteral("sampleRate"), master.sampleRate);
    object.insert(QStringLiteral("bitDepth"), QJsonValue(master.bitDepth));
    object.insert(QStringLiteral("frameCount"), QJsonValue(master.frameCount));
    object.insert(QStringLiteral("inputDeviceUID"), master.inputDeviceUID);
    object.insert(QStringLiteral("inputChannels"), integerArray(master.inputChannels));
    object.insert(QStringLiteral("hardwareFormat"), master.hardwareFormat);
    object.insert(QStringLiteral("clientFormat"), master.clientFormat);
    object.insert(QStringLiteral("isComplete"), master.isComplete);
    if (master.interruption) {
        object.insert(QStringLiteral("interruption"), *master.interruption);
    }
    return object;
}

QJsonObject sideObject(const CaptureSide& side)
{
    QJsonObject object;
    object.insert(QStringLiteral("id"), manifestUuidText(side.id));
    object.insert(QStringLiteral("record"), QJsonValue(side.record));
    object.insert(QStringLiteral("label"), side.label);
    QJsonArray tracks;
    for (const auto& track : side.tracks) {
        tracks.append(trackObject(track));
    }
    object.insert(QStringLiteral("tracks"), tracks);
    if (side.master) {
        object.insert(QStringLiteral("master"), masterObject(*side.master));
    }
    object.insert(QStringLiteral("markers"), integerArray(side.markers));
    if (side.trimStartFrame) {
        object.insert(QStringLiteral("trimStartFrame"), QJsonValue(*side.trimStartFrame));
    }
    if (side.trimEndFrame) {
        object.insert(QStringLiteral("trimEndFrame"), QJsonValue(*side.trimEndFrame));
    }
    return object;
}

} // namespace

std::optional<QString> manifestDateText(const QDateTime& date)
{
    if (!date.isValid()) {
        return std::nullopt;
    }
    const QDateTime utc = date.toUTC();
    const QDate day = utc.date();
    const QTime time = utc.time();
    if (day.year() < 0 || day.year() > 9999) {
        return std::nullopt;
    }
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02dZ", day.year(), day.month(), day.day(),
                             time.hour(), time.minute(), time.second());
}

std::optional<QDateTime> parseManifestDate(const QString& text)
{
    // yyyy-MM-ddTHH:mm:ssZ, checked character by character: the ISO parser alone would also
    // take fractions and offsets, which this format does not have.
    static constexpr char pattern[] = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != qsizetype(sizeof(pattern) - 1)) {
        return std::nullopt;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (pattern[i] == 'd' ? !isDigit(c) : c != QLatin1Char(pattern[i])) {
            return std::nullopt;
        }
    }
    const auto field = [&text](qsizetype from, qsizetype length) {
        return text.mid(from, length).toInt();
    };
    const QDate day(field(0, 4), field(5, 2), field(8, 2));
    const QTime time(field(11, 2), field(14, 2), field(17, 2));
    if (!day.isValid() || !time.isValid()) {
        return std::nullopt;
    }
    return QDateTime(day, time, Qt::UTC);
}

QString manifestUuidText(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> parseManifestUuid(const QString& text)
{
    if (text.size() != 36) {
        return std::nullopt;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text.at(i) != QLatin1Char('-') : !isHexDigit(text.at(i))) {
            return std::nullopt;
        }
    }
    return QUuid::fromString(text);
}

QByteArray encodeManifest(const CaptureProject& project)
{
    const auto created = manifestDateText(project.createdAt);
    if (!created) {
        throw CaptureError(
            QStringLiteral("The project's creation date cannot be written to its manifest."));
    }
    // QJsonObject keeps its keys sorted, which gives the sorted key order of the manifest.
    QJsonObject object;
    object.insert(QStringLiteral("schemaVersion"), QJsonValue(project.schemaVersion));
    object.insert(QStringLiteral("id"), manifestUuidText(project.id));
    object.insert(QStringLiteral("createdAt"), *created);
    if (project.discogsReleaseID) {
        object.insert(QStringLiteral("discogsReleaseID"), QJsonValue(*project.discogsReleaseID));
    }
    object.insert(QStringLiteral("artist"), project.artist);
    object.insert(QStringLiteral("albumArtist"), project.albumArtist);
    object.insert(QStringLiteral("title"), project.title);
    object.insert(QStringLiteral("source"), captureSourceRawValue(project.source));
    object.insert(QStringLiteral("date"), project.date);
    object.insert(QStringLiteral("genres"), QJsonArray::fromStringList(project.genres));
    object.insert(QStringLiteral("labels"), project.labels);
    object.insert(QStringLiteral("edition"), project.edition);
    if (project.artworkPath) {
        object.insert(QStringLiteral("artworkPath"), *project.artworkPath);
    }
    QJsonArray sides;
    for (const auto& side : project.sides) {
        sides.append(sideObject(side));
    }
    object.insert(QStringLiteral("sides"), sides);
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

CaptureProject decodeManifest(const QByteArray& json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        throw CaptureError(QStringLiteral("The project manifest is not valid JSON: ") +
                           error.errorString() + QStringLiteral(" at offset ") +
                           QString::number(error.offset) + QLatin1Char('.'));
    }
    if (!document.isObject()) {
        throw CaptureError(
            QStringLiteral("The project manifest could not be read: it is not a JSON object."));
    }
    return readProject(ObjectReader(document.object(), QString()));
}

} // namespace brevalo
