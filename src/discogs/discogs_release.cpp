#include "discogs/discogs_release.h"

#include "discogs/discogs_errors.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QVariant>

#include <cmath>
#include <type_traits>
#include <utility>

namespace brevalo {

namespace {

// The list a decoder of one element builds.
template <typename Decode>
using ItemsOf = QList<std::invoke_result_t<Decode, const QJsonValue&, const QString&>>;

// Reads one JSON object, naming every failure by the key path from the document's root so that
// a change of the service can be told from a broken transfer.
class ObjectReader
{
public:
    ObjectReader(const QJsonValue& value, QString path) : path_(std::move(path))
    {
        if (!value.isObject()) {
            fail(path_, QStringLiteral("expected an object"));
        }
        object_ = value.toObject();
    }

    QString requiredText(const char* key) const { return text(key, require(key)); }

    std::optional<QString> optionalText(const char* key) const
    {
        const QJsonValue value = object_.value(QLatin1String(key));
        if (isAbsent(value)) {
            return std::nullopt;
        }
        return text(key, value);
    }

    std::int64_t requiredInteger(const char* key) const { return integer(key, require(key)); }

    std::optional<std::int64_t> optionalInteger(const char* key) const
    {
        const QJsonValue value = object_.value(QLatin1String(key));
        if (isAbsent(value)) {
            return std::nullopt;
        }
        return integer(key, value);
    }

    template <typename Decode> ItemsOf<Decode> requiredList(const char* key, Decode decode) const
    {
        return list(key, require(key), decode);
    }

    template <typename Decode>
    std::optional<ItemsOf<Decode>> optionalList(const char* key, Decode decode) const
    {
        const QJsonValue value = object_.value(QLatin1String(key));
        if (isAbsent(value)) {
            return std::nullopt;
        }
        return list(key, value, decode);
    }

    std::optional<QStringList> optionalTextList(const char* key) const
    {
        return optionalList(key, [](const QJsonValue& item, const QString& itemPath) {
            if (!item.isString()) {
                fail(itemPath, QStringLiteral("expected text"));
            }
            return item.toString();
        });
    }

    [[noreturn]] static void fail(const QString& path, const QString& problem)
    {
        throw DiscogsDecodingError(
            QStringLiteral("The Discogs reply couldn't be read: %1 (at “%2”).")
                .arg(problem, path.isEmpty() ? QStringLiteral("top level") : path));
    }

private:
    static bool isAbsent(const QJsonValue& value) { return value.isUndefined() || value.isNull(); }

    QString keyPath(const char* key) const
    {
        return path_.isEmpty() ? QString::fromLatin1(key)
                               : path_ + QLatin1Char('.') + QLatin1String(key);
    }

    QJsonValue require(const char* key) const
    {
        const QJsonValue value = object_.value(QLatin1String(key));
        if (value.isUndefined()) {
            fail(keyPath(key), QStringLiteral("the key is missing"));
        }
        return value;
    }

    QString text(const char* key, const QJsonValue& value) const
    {
        if (!value.isString()) {
            fail(keyPath(key), QStringLiteral("expected text"));
        }
        return value.toString();
    }

    std::int64_t integer(const char* key, const QJsonValue& value) const
    {
        if (!value.isDouble()) {
            fail(keyPath(key), QStringLiteral("expected an integer"));
        }
        // Qt keeps integral JSON numbers that fit in 64 bits as integers; anything else arrives
        // as a double and is accepted only when it is integral and in range.
        const QVariant variant = value.toVariant();
        if (variant.typeId() == QMetaType::LongLong) {
            return variant.toLongLong();
        }
        const double number = value.toDouble();
        constexpr double twoTo63 = 9223372036854775808.0;
        if (!std::isfinite(number) || std::trunc(number) != number || number < -twoTo63 ||
            number >= twoTo63) {
            fail(keyPath(key), QStringLiteral("expected a 64-bit integer"));
        }
        return static_cast<std::int64_t>(number);
    }

    template <typename Decode>
    ItemsOf<Decode> list(const char* key, const QJsonValue& value, Decode decode) const
    {
        const QString listPath = keyPath(key);
        if (!value.isArray()) {
            fail(listPath, QStringLiteral("expected a list"));
        }
        const QJsonArray array = value.toArray();
        ItemsOf<Decode> items;
        items.reserve(array.size());
        for (qsizetype index = 0; index < array.size(); ++index) {
            items.append(
                decode(array.at(index), QStringLiteral("%1[%2]").arg(listPath).arg(index)));
        }
        return items;
    }

    QString path_;
    QJsonObject object_;
};

DiscogsRelease::Artist decodeArtist(const QJsonValue& value, const QString& path)
{
    const ObjectReader reader(value, path);
    return {reader.requiredText("name"), reader.optionalText("join")};
}

DiscogsRelease::Label decodeLabel(const QJsonValue& value, const QString& path)
{
    const ObjectReader reader(value, path);
    return {reader.requiredText("name"), reader.optionalText("catno")};
}

DiscogsRelease::Format decodeFormat(const QJsonValue& value, const QString& path)
{
    const ObjectReader reader(value, path);
    return {reader.requiredText("name"), reader.optionalText("qty"),
            reader.optionalTextList("descriptions")};
}

DiscogsRelease::Track decodeTrack(const QJsonValue& value, const QString& path)
{
    const ObjectReader reader(value, path);
    DiscogsRelease::Track track;
    track.position = reader.requiredText("position");
    track.title = reader.requiredText("title");
    track.type_ = reader.optionalText("type_");
    track.artists = reader.optionalList("artists", decodeArtist);
    track.sub_tracks = reader.optionalList("sub_tracks", decodeTrack);
    return track;
}

DiscogsRelease::Image decodeImage(const QJsonValue& value, const QString& path)
{
    const ObjectReader reader(value, path);
    return {reader.optionalText("type"), reader.optionalText("uri")};
}

DiscogsSearchResult decodeSearchResult(const QJsonValue& value, const QString& path)
{
    const ObjectReader reader(value, path);
    DiscogsSearchResult result;
    result.id = reader.requiredInteger("id");
    result.title = reader.requiredText("title");
    result.year = reader.optionalText("year");
    result.country = reader.optionalText("country");
    result.label = reader.optionalTextList("label");
    result.catno = reader.optionalText("catno");
    result.format = reader.optionalTextList("format");
    return result;
}

QJsonValue parseDocument(const QByteArray& json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        ObjectReader::fail(QStringLiteral("offset %1").arg(error.offset),
                           QStringLiteral("not valid JSON, %1").arg(error.errorString()));
    }
    if (document.isArray()) {
        return document.array();
    }
    return document.object();
}

} // namespace

bool DiscogsRelease::Track::operator==(const Track&) const = default;

QString DiscogsSearchResult::subtitle() const
{
    QStringList parts;
    for (const std::optional<QString>& part : {year, country, catno}) {
        if (part) {
            parts.append(*part);
        }
    }
    if (format) {
        parts.append(format->join(QStringLiteral(", ")));
    }
    return parts.join(QStringLiteral(" \u00B7 "));
}

DiscogsRelease decodeDiscogsRelease(const QByteArray& json)
{
    const ObjectReader reader(parseDocument(json), QString());
    DiscogsRelease release;
    release.id = reader.requiredInteger("id");
    release.title = reader.requiredText("title");
    release.artists = reader.optionalList("artists", decodeArtist);
    release.year = reader.optionalInteger("year");
    release.released = reader.optionalText("released");
    release.genres = reader.optionalTextList("genres");
    release.styles = reader.optionalTextList("styles");
    release.labels = reader.optionalList("labels", decodeLabel);
    release.country = reader.optionalText("country");
    release.formats = reader.optionalList("formats", decodeFormat);
    release.tracklist = reader.requiredList("tracklist", decodeTrack);
    release.images = reader.optionalList("images", decodeImage);
    return release;
}

DiscogsSearchResponse decodeDiscogsSearchResponse(const QByteArray& json)
{
    const ObjectReader reader(parseDocument(json), QString());
    return {reader.requiredList("results", decodeSearchResult)};
}

} // namespace brevalo
