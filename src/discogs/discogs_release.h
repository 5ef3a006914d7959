#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace brevalo {

// A release as the Discogs release endpoint returns it. Members carry the service's own JSON key
// names; optional members are absent when the key is missing or null.
struct DiscogsRelease
{
    struct Artist
    {
        QString name;
        // The word joining this artist to the next one ("&", ",", "Feat.").
        std::optional<QString> join;

        bool operator==(const Artist&) const = default;
    };

    struct Label
    {
        QString name;
        std::optional<QString> catno;

        bool operator==(const Label&) const = default;
    };

    struct Format
    {
        QString name;
        std::optional<QString> qty;
        std::optional<QStringList> descriptions;

        bool operator==(const Format&) const = default;
    };

    struct Track
    {
        // Free text such as "A1", "2-C3" or "" (headings, CD tracks without sides).
        QString position;
        QString title;
        // "heading" and "index" are meaningful to the draft mapping; anything else is a track.
        std::optional<QString> type_;
        std::optional<QList<Artist>> artists;
        // The parts of an "index" track.
        std::optional<QList<Track>> sub_tracks;

        // Defaulted out of line: QList only compares element types whose equality is declared
        // by the time it is asked, which a recursive in-class default is not.
        bool operator==(const Track&) const;
    };

    struct Image
    {
        // "primary" marks the main image.
        std::optional<QString> type;
        std::optional<QString> uri;

        bool operator==(const Image&) const = default;
    };

    std::int64_t id = 0;
    QString title;
    std::optional<QList<Artist>> artists;
    std::optional<std::int64_t> year;
    // A date such as "1973-03-00"; zero month or day means unknown.
    std::optional<QString> released;
    std::optional<QStringList> genres;
    std::optional<QStringList> styles;
    std::optional<QList<Label>> labels;
    std::optional<QString> country;
    std::optional<QList<Format>> formats;
    QList<Track> tracklist;
    std::optional<QList<Image>> images;

    bool operator==(const DiscogsRelease&) const = default;
};

// One hit of the Discogs database search.
struct DiscogsSearchResult
{
    // The release id; identifies the hit in lists.
    std::int64_t id = 0;
    QString title;
    // Text here, unlike the release's integer year.
    std::optional<QString> year;
    std::optional<QString> country;
    std::optional<QStringList> label;
    std::optional<QString> catno;
    std::optional<QStringList> format;

    // The hit's display line: year, country, catno and the formats, present ones joined by " · ".
    QString subtitle() const;

    bool operator==(const DiscogsSearchResult&) const = default;
};

// The search reply's envelope; its other keys (pagination) are not used.
struct DiscogsSearchResponse
{
    QList<DiscogsSearchResult> results;

    bool operator==(const DiscogsSearchResponse&) const = default;
};

// Decoders of the service's JSON. Unknown keys are ignored; a required key that is missing or any
// key with a value of the wrong JSON type fails the whole decode with DiscogsDecodingError.
DiscogsRelease decodeDiscogsRelease(const QByteArray& json);
DiscogsSearchResponse decodeDiscogsSearchResponse(const QByteArray& json);

} // namespace brevalo
