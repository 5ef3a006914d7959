#pragma once

// Layout edits of a project draft in the metadata sheet: sides and expected tracks. They change
// the draft in place and touch no file; the layout rules are checked only when the draft is
// confirmed or applied. Recordings belong to sides, so moving a track never moves audio.

#include "capture/capture_project.h"

namespace brevalo {

// Appends side n (counting from 0): labelled "A" ... "Z", then "Side 27" onwards, numbered two
// sides per record, with one "New track".
void addDraftSide(CaptureProject& draft);
// Removes every side with that id.
void deleteDraftSide(CaptureProject& draft, const QUuid& sideID);
// Appends "New track" at position label + (track count + 1).
void addDraftTrack(CaptureSide& side);
// Removes every track with that id.
void deleteDraftTrack(CaptureSide& side, const QUuid& trackID);
// Exchanges track index with its neighbour index + step (step −1 or +1); nothing at the ends.
void moveDraftTrack(CaptureSide& side, qsizetype index, int step);
// Removes the track from the source side and appends it unchanged to the destination; nothing
// when either side or the track is missing.
void moveDraftTrackToSide(CaptureProject& draft, const QUuid& trackID, const QUuid& sourceSideID,
                          const QUuid& destinationSideID);

// True when every recorded side of current is still in edited, with the same id and the same
// master, markers and trims. The metadata editor may change anything else.
bool keepsRecordedSides(const CaptureProject& current, const CaptureProject& edited);

} // namespace brevalo
