#include "capture/capture_project.h"

#include "platform/errors.h"

#include <QSet>

#include <algorithm>
#include <cmath>

namespace brevalo {

namespace {

// White space without line breaks (tab and the space separators): labels and track titles are
// checked against this narrower class than artist and title.
QString trimmedOfWhiteSpace(const QString& text)
{
    const auto isWhite = [](QChar c) {
        return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
    };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isWhite(text.at(begin))) {
        ++begin;
    }
    while (end > begin && isWhite(text.at(end - 1))) {
        --end;
    }
    return text.mid(begin, end - begin);
}

} // namespace

QList<CaptureSource> allCaptureSources()
{
    return {CaptureSource::vinyl, CaptureSource::cd, CaptureSource::tape, CaptureSource::reelToReel,
            CaptureSource::other};
}

QString captureSourceRawValue(CaptureSource source)
{
    switch (source) {
    case CaptureSource::vinyl:
        return QStringLiteral("vinyl-rip");
    case CaptureSource::cd:
        return QStringLiteral("cd-rip");
    case CaptureSource::tape:
        return QStringLiteral("tape-rip");
    case CaptureSource::reelToReel:
        return QStringLiteral("r2r-rip");
    case CaptureSource::other:
        return QStringLiteral("other-source");
    }
    return QStringLiteral("other-source");
}

std::optional<CaptureSource> captureSourceFromRawValue(const QString& rawValue)
{
    for (const auto source : allCaptureSources()) {
        if (captureSourceRawValue(source) == rawValue) {
            return source;
        }
    }
    return std::nullopt;
}

QString captureSourceLabel(CaptureSource source)
{
    switch (source) {
    case CaptureSource::vinyl:
        return QStringLiteral("Vinyl Record");
    case CaptureSource::cd:
        return QStringLiteral("CD");
    case CaptureSource::tape:
        return QStringLiteral("Cassette Tape");
    case CaptureSource::reelToReel:
        return QStringLiteral("Reel to Reel Player");
    case CaptureSource::other:
        return QStringLiteral("Other Source");
    }
    return QStringLiteral("Other Source");
}

qsizetype CaptureSide::regionCount() const
{
    return master ? markers.size() + 1 : 0;
}

bool CaptureSide::hasValidTrim() const
{
    if (!master) {
        return !trimStartFrame && !trimEndFrame;
    }
    const qint64 frames = master->frameCount;
    if (trimStartFrame && trimEndFrame) {
        return 0 <= *trimStartFrame && *trimStartFrame < *trimEndFrame && *trimEndFrame <= frames;
    }
    if (trimStartFrame) {
        return 0 <= *trimStartFrame && *trimStartFrame < frames;
    }
    if (trimEndFrame) {
        return 0 < *trimEndFrame && *trimEndFrame <= frames;
    }
    return true;
}

bool CaptureSide::hasValidBoundaries() const
{
    if (!hasValidTrim()) {
        return false;
    }
    if (!master) {
        return markers.isEmpty();
    }
    const qint64 frames = master->frameCount;
    const qint64 start = trimStartFrame.value_or(0);
    const qint64 end = trimEndFrame.value_or(frames);
    for (qsizetype i = 0; i < markers.size(); ++i) {
        const qint64 marker = markers.at(i);
        // Strictly ascending covers both "already sorted" and "no value twice".
        if (i > 0 && markers.at(i - 1) >= marker) {
            return false;
        }
        if (marker <= start || marker >= end || marker >= frames) {
            return false;
        }
    }
    return true;
}

QList<FrameRange> CaptureSide::regions() const
{
    if (!master || master->frameCount < 1 || !hasValidBoundaries()) {
        return {};
    }
    QList<FrameRange> result;
    result.reserve(markers.size() + 1);
    qint64 start = trimStartFrame.value_or(0);
    for (const qint64 marker : markers) {
        result.append({start, marker});
        start = marker;
    }
    result.append({start, trimEndFrame.value_or(master->frameCount)});
    return result;
}

QString CaptureSide::boundaryStatus() const
{
    if (!master) {
        return QStringLiteral("EXPECTED TRACKS: ") + QString::number(tracks.size());
    }
    if (!hasValidTrim()) {
        return QStringLiteral("INVALID SIDE TRIM");
    }
    if (!hasValidBoundaries()) {
        return QStringLiteral("INVALID BOUNDARIES");
    }
    const qsizetype difference = tracks.size() - regionCount();
    if (difference > 0) {
        return QString::number(difference) +
               (difference == 1 ? QStringLiteral(" TRACK") : QStringLiteral(" TRACKS")) +
               QStringLiteral(" MISSING");
    }
    if (difference == 0) {
        return QStringLiteral("TRACK COUNT MATCHES");
    }
    return QString::number(-difference) +
           (difference == -1 ? QStringLiteral(" EXTRA REGION") : QStringLiteral(" EXTRA REGIONS"));
}

QString CaptureSide::displayName() const
{
    return QStringLiteral("Record ") + QString::number(record) + QStringLiteral(" \u00B7 Side ") +
           label;
}

void CaptureProject::validate() const
{
    if (schemaVersion != currentSchemaVersion) {
        throw CaptureError(QStringLiteral("This project needs a newer version of Capture."));
    }
    if (artist.trimmed().isEmpty() || title.trimmed().isEmpty() || sides.isEmpty()) {
        throw CaptureError(QStringLiteral("Enter an artist, album title, and at least one side."));
    }

    QSet<QUuid> sideIDs;
    QSet<QString> sideKeys;
    for (const auto& side : sides) {
        const QString key = QString::number(side.record) + QLatin1Char(':') + side.label.toUpper();
        if (sideIDs.contains(side.id) || sideKeys.contains(key)) {
            throw CaptureError(QStringLiteral(
                "Each physical side must have a unique record number and side label."));
        }
        sideIDs.insert(side.id);
        sideKeys.insert(key);
    }

    QList<qint64> records;
    for (const auto& side : sides) {
        records.append(side.record);
    }
    std::sort(records.begin(), records.end());
    records.erase(std::unique(records.begin(), records.end()), records.end());
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (records.at(i) != i + 1) {
            throw CaptureError(QStringLiteral(
                "Number the physical records consecutively, starting with Record 1."));
        }
    }

    if (discogsReleaseID && *discogsReleaseID < 1) {
        throw CaptureError(QStringLiteral(
            "Enter a positive Discogs Release ID or leave it empty for a manual project."));
    }

    QSet<QUuid> trackIDs;
    for (const auto& side : sides) {
        for (const auto& track : side.tracks) {
            if (trackIDs.contains(track.id)) {
                throw CaptureError(
                    QStringLiteral("Each expected track must have a unique identity."));
            }
            trackIDs.insert(track.id);
        }
    }

    for (const auto& side : sides) {
        const bool titled = std::all_of(side.tracks.begin(), side.tracks.end(), [](const auto& t) {
            return !trimmedOfWhiteSpace(t.title).isEmpty();
        });
        if (side.record < 1 || trimmedOfWhiteSpace(side.label).isEmpty() || side.tracks.isEmpty() ||
            !titled || !side.hasValidTrim() || !side.hasValidBoundaries()) {
            throw CaptureError(QStringLiteral("Check the side layout, track titles, and "
                                              "boundaries for ") +
                               side.displayName() + QLatin1Char('.'));
        }
        if (side.master) {
            const auto& master = *side.master;
            const bool bitDepthKnown =
                master.bitDepth == 16 || master.bitDepth == 24 || master.bitDepth == 32;
            if (!std::isfinite(master.sampleRate) || master.sampleRate <= 0 || !bitDepthKnown ||
                master.frameCount < 0) {
                throw CaptureError(QStringLiteral("The master format is invalid for ") +
                                   side.displayName() + QLatin1Char('.'));
            }
        }
    }
}

qsizetype CaptureProject::recordCount() const
{
    QSet<qint64> records;
    for (const auto& side : sides) {
        records.insert(side.record);
    }
    return records.size();
}

CaptureSide* CaptureProject::side(const QUuid& sideID)
{
    for (auto& candidate : sides) {
        if (candidate.id == sideID) {
            return &candidate;
        }
    }
    return nullptr;
}

const CaptureSide* CaptureProject::side(const QUuid& sideID) const
{
    for (const auto& candidate : sides) {
        if (candidate.id == sideID) {
            return &candidate;
        }
    }
    return nullptr;
}

bool CaptureProject::swapRecordings(const QUuid& first, const QUuid& second)
{
    CaptureSide* a = side(first);
    CaptureSide* b = side(second);
    if (a == nullptr || b == nullptr || a == b) {
        return false;
    }
    if (a->master == b->master && a->markers == b->markers &&
        a->trimStartFrame == b->trimStartFrame && a->trimEndFrame == b->trimEndFrame) {
        return false;
    }
    std::swap(a->master, b->master);
    std::swap(a->markers, b->markers);
    std::swap(a->trimStartFrame, b->trimStartFrame);
    std::swap(a->trimEndFrame, b->trimEndFrame);
    return true;
}

CaptureProject emptyDraft()
{
    CaptureProject project;
    project.schemaVersion = CaptureProject::currentSchemaVersion;
    project.id = QUuid::createUuid();
    project.createdAt = QDateTime::currentDateTimeUtc();
    project.source = CaptureSource::vinyl;

    const auto makeSide = [](const QString& label, const QString& trackTitle) {
        CaptureSide side;
        side.id = QUuid::createUuid();
        side.record = 1;
        side.label = label;
        side.tracks.append(
            CaptureTrack{QUuid::createUuid(), label + QLatin1Char('1'), trackTitle, QString()});
        return side;
    };
    project.sides.append(makeSide(QStringLiteral("A"), QStringLiteral("Track 1")));
    project.sides.append(makeSide(QStringLiteral("B"), QStringLiteral("Track 2")));
    return project;
}

} // namespace brevalo
