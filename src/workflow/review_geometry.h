#pragma once

// Where review navigation lands: the stops of a side, and the waveform's visible range after a
// scroll or a zoom. Pure functions; frame positions are stereo frames of the side's master.

#include "capture/capture_project.h"

namespace brevalo {

// Stops are S, the markers in their stored order, then E. The next stop is the first one after
// playhead (playhead itself when there is none); the previous stop, scanning backwards, the first
// one before playhead (S when there is none).
qint64 nextStop(const CaptureSide& side, qint64 playhead);
qint64 previousStop(const CaptureSide& side, qint64 playhead);

// The visible range moved to fraction (0 ... 1, NaN as 0) of the room left beside its span in a
// master of frameCount frames; the span is kept.
FrameRange scrolledRange(const FrameRange& visible, double fraction, qint64 frameCount);

// The visible range scaled by factor around the playhead (limited to the visible range): at least
// minimumZoomSpan frames (or the whole master when shorter), at most the whole master. A factor
// that is not a positive number changes nothing.
FrameRange zoomedRange(const FrameRange& visible, double factor, qint64 playhead,
                       qint64 frameCount);

inline constexpr qint64 minimumZoomSpan = 32;

} // namespace brevalo
