// Release JSON from Discogs through the decoder and the draft mapping, as a fetch does. Checks
// the mapping's promises on every release that decodes: every tracklist leaf lands on exactly
// one side, sides are unique, labels are capital letters or "?".
#include "discogs/discogs_release.h"
#include "discogs/release_mapping.h"

#include <QSet>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace brevalo;

namespace {

qsizetype leafCount(const QList<DiscogsRelease::Track>& tracks)
{
    qsizetype count = 0;
    for (const DiscogsRelease::Track& track : tracks) {
        if (track.type_ == QStringLiteral("heading")) {
            continue;
        }
        if (track.type_ == QStringLiteral("index") && track.sub_tracks &&
            !track.sub_tracks->isEmpty()) {
            count += leafCount(*track.sub_tracks);
        } else {
            ++count;
        }
    }
    return count;
}

bool isSideLabel(const QString& label)
{
    if (label == QStringLiteral("?")) {
        return true;
    }
    if (label.isEmpty()) {
        return false;
    }
    for (const QChar letter : label) {
        if (letter < QLatin1Char('A') || letter > QLatin1Char('Z')) {
            return false;
        }
    }
    return true;
}

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    // The same bytes as typed text: neither parser may fail on anything.
    const QString text = QString::fromUtf8(bytes);
    static_cast<void>(parseReleaseID(text));
    if (const auto side = parseSidePosition(text)) {
        check(isSideLabel(side->label) && side->label != QStringLiteral("?"));
    }

    try {
        const DiscogsSearchResponse response = decodeDiscogsSearchResponse(bytes);
        for (const DiscogsSearchResult& hit : response.results) {
            static_cast<void>(hit.subtitle());
        }
    } catch (const std::exception&) {
    }

    DiscogsRelease release;
    try {
        release = decodeDiscogsRelease(bytes);
    } catch (const std::exception&) {
        return 0;
    }
    static_cast<void>(coverImageURL(release));
    const CaptureProject draft = makeProjectDraft(release);
    check(draft.discogsReleaseID == release.id);

    qsizetype placed = 0;
    QSet<QString> seen;
    for (const CaptureSide& side : draft.sides) {
        check(isSideLabel(side.label));
        check(!side.tracks.isEmpty());
        const QString key = QString::number(side.record) + QLatin1Char('/') + side.label;
        check(!seen.contains(key));
        seen.insert(key);
        placed += side.tracks.size();
    }
    check(placed == leafCount(release.tracklist));
    return 0;
}
