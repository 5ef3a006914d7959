#include "workflow/draft_layout.h"

namespace brevalo {

namespace {

const QString newTrackTitle = QStringLiteral("New track");

} // namespace

void addDraftSide(CaptureProject& draft)
{
    const qsizetype count = draft.sides.size();
    CaptureSide side;
    side.id = QUuid::createUuid();
    side.label = count < 26 ? QString(QChar(static_cast<char16_t>(u'A' + count)))
                            : QStringLiteral("Side ") + QString::number(count + 1);
    side.record = count / 2 + 1;
    side.tracks.append(
        CaptureTrack{QUuid::createUuid(), side.label + QLatin1Char('1'), newTrackTitle, QString()});
    draft.sides.append(side);
}

void deleteDraftSide(CaptureProject& draft, const QUuid& sideID)
{
    draft.sides.removeIf([&](const CaptureSide& side) { return side.id == sideID; });
}

void addDraftTrack(CaptureSide& side)
{
    side.tracks.append(CaptureTrack{QUuid::createUuid(),
                                    side.label + QString::number(side.tracks.size() + 1),
                                    newTrackTitle, QString()});
}

void deleteDraftTrack(CaptureSide& side, const QUuid& trackID)
{
    side.tracks.removeIf([&](const CaptureTrack& track) { return track.id == trackID; });
}

void moveDraftTrack(CaptureSide& side, qsizetype index, int step)
{
    const qsizetype other = index + step;
    if (index < 0 || index >= side.tracks.size() || other < 0 || other >= side.tracks.size()) {
        return;
    }
    side.tracks.swapItemsAt(index, other);
}

void moveDraftTrackToSide(CaptureProject& draft, const QUuid& trackID, const QUuid& sourceSideID,
                          const QUuid& destinationSideID)
{
    CaptureSide* source = draft.side(sourceSideID);
    CaptureSide* destination = draft.side(destinationSideID);
    if (source == nullptr || destination == nullptr) {
        return;
    }
    for (qsizetype i = 0; i < source->tracks.size(); ++i) {
        if (source->tracks.at(i).id == trackID) {
            const CaptureTrack track = source->tracks.takeAt(i);
            destination->tracks.append(track);
            return;
        }
    }
}

bool keepsRecordedSides(const CaptureProject& current, const CaptureProject& edited)
{
    for (const CaptureSide& side : current.sides) {
        if (!side.master) {
            continue;
        }
        const CaptureSide* kept = edited.side(side.id);
        if (kept == nullptr || kept->master != side.master || kept->markers != side.markers ||
            kept->trimStartFrame != side.trimStartFrame ||
            kept->trimEndFrame != side.trimEndFrame) {
            return false;
        }
    }
    return true;
}

} // namespace brevalo
