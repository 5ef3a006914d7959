#include "workflow/review_geometry.h"

#include "workflow/capture_edits.h"

#include <algorithm>
#include <cmath>

namespace brevalo {

namespace {

QList<qint64> stops(const CaptureSide& side)
{
    QList<qint64> result;
    result.reserve(side.markers.size() + 2);
    result.append(trimmedStart(side));
    result.append(side.markers);
    result.append(trimmedEnd(side));
    return result;
}

} // namespace

qint64 nextStop(const CaptureSide& side, qint64 playhead)
{
    for (const qint64 stop : stops(side)) {
        if (stop > playhead) {
            return stop;
        }
    }
    return playhead;
}

qint64 previousStop(const CaptureSide& side, qint64 playhead)
{
    const QList<qint64> all = stops(side);
    for (auto stop = all.crbegin(); stop != all.crend(); ++stop) {
        if (*stop < playhead) {
            return *stop;
        }
    }
    return trimmedStart(side);
}

FrameRange scrolledRange(const FrameRange& visible, double fraction, qint64 frameCount)
{
    const qint64 span = visible.length();
    const qint64 room = std::max<qint64>(frameCount - span, 0);
    const double position = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    const auto start = static_cast<qint64>(position * static_cast<double>(room));
    return {start, start + span};
}

FrameRange zoomedRange(const FrameRange& visible, double factor, qint64 playhead, qint64 frameCount)
{
    if (!std::isfinite(factor) || factor <= 0 || frameCount < 1) {
        return visible;
    }
    const double scaled = factor * static_cast<double>(visible.length());
    const qint64 floor = std::min(minimumZoomSpan, frameCount);
    const qint64 span = scaled >= static_cast<double>(frameCount)
                            ? frameCount
                            : std::max(floor, static_cast<qint64>(scaled));
    const qint64 centre = std::clamp(playhead, visible.start, std::max(visible.start, visible.end));
    const qint64 start = std::clamp(centre - span / 2, qint64{0}, frameCount - span);
    return {start, start + span};
}

} // namespace brevalo
