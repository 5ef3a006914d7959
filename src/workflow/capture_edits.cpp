#include "workflow/capture_edits.h"

#include <algorithm>

namespace brevalo {

namespace {

// Trim edits need a master with frames and a consistent layout to clamp against.
bool acceptsTrimEdits(const CaptureSide& side)
{
    return side.master && side.master->frameCount >= 1 && side.hasValidBoundaries();
}

} // namespace

qint64 trimmedStart(const CaptureSide& side)
{
    return side.master ? side.trimStartFrame.value_or(0) : 0;
}

qint64 trimmedEnd(const CaptureSide& side)
{
    return side.master ? side.trimEndFrame.value_or(side.master->frameCount) : 0;
}

std::optional<ClosedFrameRange> trimStartRange(const CaptureSide& side)
{
    if (!acceptsTrimEdits(side)) {
        return std::nullopt;
    }
    const qint64 limit = side.markers.isEmpty() ? trimmedEnd(side) : side.markers.first();
    return ClosedFrameRange{0, limit - 1};
}

std::optional<ClosedFrameRange> trimEndRange(const CaptureSide& side)
{
    if (!acceptsTrimEdits(side)) {
        return std::nullopt;
    }
    const qint64 limit = side.markers.isEmpty() ? trimmedStart(side) : side.markers.last();
    return ClosedFrameRange{limit + 1, side.master->frameCount};
}

bool setTrimStart(CaptureSide& side, qint64 frame)
{
    const auto range = trimStartRange(side);
    if (!range) {
        return false;
    }
    const qint64 value = std::min(range->upper, std::max<qint64>(frame, 0));
    side.trimStartFrame = value == 0 ? std::nullopt : std::optional<qint64>(value);
    return true;
}

bool setTrimEnd(CaptureSide& side, qint64 frame)
{
    const auto range = trimEndRange(side);
    if (!range) {
        return false;
    }
    const qint64 frames = side.master->frameCount;
    const qint64 value = std::min(frames, std::max(frame, range->lower));
    side.trimEndFrame = value == frames ? std::nullopt : std::optional<qint64>(value);
    return true;
}

bool resetTrim(CaptureSide& side)
{
    if (!side.trimStartFrame && !side.trimEndFrame) {
        return false;
    }
    side.trimStartFrame.reset();
    side.trimEndFrame.reset();
    return true;
}

std::optional<qsizetype> addBoundary(CaptureSide& side, qint64 frame)
{
    if (!side.master || frame <= trimmedStart(side) || frame >= trimmedEnd(side) ||
        side.markers.contains(frame)) {
        return std::nullopt;
    }
    side.markers.append(frame);
    std::sort(side.markers.begin(), side.markers.end());
    return side.markers.indexOf(frame);
}

bool moveBoundary(CaptureSide& side, qsizetype index, qint64 frame)
{
    if (!side.master || index < 0 || index >= side.markers.size()) {
        return false;
    }
    const qint64 lower = (index == 0 ? trimmedStart(side) : side.markers.at(index - 1)) + 1;
    const qint64 upper =
        (index + 1 == side.markers.size() ? trimmedEnd(side) : side.markers.at(index + 1)) - 1;
    side.markers[index] = std::min(upper, std::max(frame, lower));
    return true;
}

bool deleteBoundary(CaptureSide& side, qsizetype index)
{
    if (index < 0 || index >= side.markers.size()) {
        return false;
    }
    side.markers.removeAt(index);
    if (side.markers.isEmpty()) {
        // An empty list keeps no buffer, so it compares like a freshly loaded one.
        side.markers = {};
    }
    return true;
}

bool isExportable(const CaptureSide& side)
{
    return side.master && side.master->isComplete && side.master->frameCount >= 1 &&
           !side.tracks.isEmpty() && side.tracks.size() == side.regionCount() &&
           side.hasValidBoundaries();
}

bool discardTake(CaptureSide& side)
{
    if (!side.master) {
        return false;
    }
    side.master.reset();
    side.markers = {};
    side.trimStartFrame.reset();
    side.trimEndFrame.reset();
    return true;
}

} // namespace brevalo
