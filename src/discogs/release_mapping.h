#pragma once

#include "capture/capture_project.h"
#include "discogs/discogs_release.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace brevalo {

// Turning what the user typed into a Release ID, and a fetched release into a project draft.
// Pure functions, run on the caller's thread; none of them fails.

// A physical side as a Discogs position names it.
struct SidePosition
{
    std::int64_t record = 1;
    // Capital letters A to Z.
    QString label;

    bool operator==(const SidePosition&) const = default;
};

// The release id in a typed id ("1234", "+1234"), a release page URL (".../release/1234-Title")
// or a "[r1234]" reference. Master pages, "r1234" and non-positive plain numbers give none.
std::optional<std::int64_t> parseReleaseID(const QString& text);

// Record number and side label of a position such as "A1", "2-C3" or "10 B1"; none when the
// position names no side ("1", "Side A", ""), or when its label is too long to number.
std::optional<SidePosition> parseSidePosition(const QString& position);

// "Ann & Bob": names without their Discogs numbering suffix, linked by each artist's join word
// (a comma when it has none).
QString artistCredit(const QList<DiscogsRelease::Artist>& artists);

// The release date with unknown parts dropped ("1973-03-00" gives "1973-03"), else the year,
// else "".
QString releaseDateText(const DiscogsRelease& release);

// The primary image's URL as written, else the first image's; none when that image has no
// usable URL. The text goes to DiscogsClient::downloadArtwork unchanged.
std::optional<QString> coverImageURL(const DiscogsRelease& release);

// Adds one tracklist entry to the sides of a draft: headings add nothing, an index entry adds
// its parts, any other entry adds one track to the side of its position, creating the side on
// first appearance. Tracks without a usable position go to side "?" of record 1.
void addTrackToSides(const DiscogsRelease::Track& track, QList<CaptureSide>& sides);

// A new project draft for the release, created at `createdAt`; the user checks it before it
// becomes a project. Its source is vinyl: the caller keeps the source the user had chosen.
CaptureProject makeProjectDraft(const DiscogsRelease& release,
                                const QDateTime& createdAt = QDateTime::currentDateTimeUtc());

} // namespace brevalo
