#pragma once

// Boundary and trim edits of one side, as pure functions of a CaptureSide. The workflow
// controller runs each of them inside one edit transaction on a copy of the open project.
//
// Notation used below: F is the master's frameCount, S the start trim (0 when absent), E the end
// trim (F when absent), m1 < ... < mk the markers. Every position is a stereo frame of the master.
// None of these functions fails: invalid requests are clamped or ignored.

#include "capture/capture_project.h"

#include <optional>

namespace brevalo {

// A closed range of frame positions, lower and upper included.
struct ClosedFrameRange
{
    qint64 lower = 0;
    qint64 upper = 0;

    bool operator==(const ClosedFrameRange&) const = default;
};

// S and E of a side; both 0 without a master.
qint64 trimmedStart(const CaptureSide& side);
qint64 trimmedEnd(const CaptureSide& side);

// The start trims the side accepts: 0 ... (m1, or E without markers) − 1. None without a master,
// with F < 1 or with invalid boundaries.
std::optional<ClosedFrameRange> trimStartRange(const CaptureSide& side);
// The end trims the side accepts: (mk, or S without markers) + 1 ... F. Same conditions.
std::optional<ClosedFrameRange> trimEndRange(const CaptureSide& side);

// Clamp frame into trimStartRange and store it; 0 is stored as absent. False (side unchanged)
// when the side has no such range.
bool setTrimStart(CaptureSide& side, qint64 frame);
// Clamp frame into trimEndRange and store it; F is stored as absent.
bool setTrimEnd(CaptureSide& side, qint64 frame);
// Both trims absent. False when there was nothing to reset.
bool resetTrim(CaptureSide& side);

// Inserts a boundary at frame when S < frame < E and no marker is there yet; returns the new
// marker's index in the sorted list, or none when the request was ignored.
std::optional<qsizetype> addBoundary(CaptureSide& side, qint64 frame);
// Moves marker index to frame, kept at least one frame away from its neighbours (S and E for the
// outer markers), so the order never changes. False for an index outside the list.
bool moveBoundary(CaptureSide& side, qsizetype index, qint64 frame);
// Removes marker index; other indices remove nothing.
bool deleteBoundary(CaptureSide& side, qsizetype index);

// A side whose tracks can be exported: a complete master with frames, at least one expected
// track, one region per track and valid boundaries.
bool isExportable(const CaptureSide& side);

// Detaches the take (master, markers, trims) so the side can be recorded again. The master file
// itself is left where it is. False when the side has no master.
bool discardTake(CaptureSide& side);

} // namespace brevalo
