#include "app/meter_scale.h"

#include <algorithm>
#include <cmath>

namespace brevalo {

namespace {

constexpr int halfSegments = meterSegmentCount / 2;

std::array<double, meterSegmentCount + 1> makeBreakpoints()
{
    std::array<double, meterSegmentCount + 1> b{};
    for (int k = 0; k <= halfSegments; ++k) {
        b[static_cast<size_t>(k)] = -60.0 + 3.0 * k;
    }
    for (int k = halfSegments; k <= meterSegmentCount; ++k) {
        b[static_cast<size_t>(k)] = -12.0 + 0.75 * (k - halfSegments);
    }
    return b;
}

double breakpoint(int k)
{
    return meterBreakpoints()[static_cast<size_t>(k)];
}

// The first k in 1…32 with value ≤ B[k]; the callers have already handled the ends of the scale.
int firstBreakpointAtOrAbove(double value)
{
    for (int k = 1; k <= meterSegmentCount; ++k) {
        if (value <= breakpoint(k)) {
            return k;
        }
    }
    return meterSegmentCount;
}

} // namespace

const std::array<double, meterSegmentCount + 1>& meterBreakpoints()
{
    static const auto breakpoints = makeBreakpoints();
    return breakpoints;
}

double meterPosition(double dbfs)
{
    if (std::isnan(dbfs) || dbfs <= meterFloorDBFS) {
        return 0.0;
    }
    if (dbfs >= 0.0) {
        return 1.0;
    }
    const int k = firstBreakpointAtOrAbove(dbfs);
    const double low = breakpoint(k - 1);
    const double fraction = (dbfs - low) / (breakpoint(k) - low);
    return (k - 1 + fraction) / meterSegmentCount;
}

double meterValue(double position)
{
    const double clamped = std::isnan(position) ? 0.0 : std::clamp(position, 0.0, 1.0);
    const double s = meterSegmentCount * clamped;
    const int k = std::min(static_cast<int>(std::floor(s)), meterSegmentCount - 1);
    return breakpoint(k) + (s - k) * (breakpoint(k + 1) - breakpoint(k));
}

int litSegmentCount(double levelDBFS)
{
    if (std::isnan(levelDBFS) || levelDBFS <= meterFloorDBFS) {
        return 0;
    }
    if (levelDBFS >= 0.0) {
        return meterSegmentCount;
    }
    return firstBreakpointAtOrAbove(levelDBFS);
}

std::optional<int> peakSegment(double peakDBFS)
{
    if (std::isnan(peakDBFS) || peakDBFS <= meterFloorDBFS) {
        return std::nullopt;
    }
    if (peakDBFS >= 0.0) {
        return meterSegmentCount - 1;
    }
    return firstBreakpointAtOrAbove(peakDBFS) - 1;
}

bool isSegmentLit(int segment, double levelDBFS, double peakDBFS)
{
    return segment < litSegmentCount(levelDBFS) || peakSegment(peakDBFS) == segment;
}

SegmentColor segmentColor(int segment)
{
    const double centre = meterValue((segment + 0.5) / meterSegmentCount);
    if (centre > -3.0) {
        return SegmentColor::red;
    }
    if (centre > -12.0) {
        return SegmentColor::amber;
    }
    return SegmentColor::green;
}

QColor segmentQColor(SegmentColor color)
{
    switch (color) {
    case SegmentColor::red:
        return QColor::fromRgbF(1.0f, 0.22f, 0.16f);
    case SegmentColor::amber:
        return QColor::fromRgbF(1.0f, 0.65f, 0.145f);
    case SegmentColor::green:
        break;
    }
    return QColor::fromRgbF(0.18f, 0.8f, 0.41f);
}

const QList<ScaleMark>& scaleMarks()
{
    static const QList<ScaleMark> marks = [] {
        const QString minus(QChar(0x2212));
        QList<ScaleMark> list;
        for (int db : {-60, -30, -12, -6, -3, 0}) {
            list.append({db, db < 0 ? minus + QString::number(-db) : QString::number(db)});
        }
        return list;
    }();
    return marks;
}

} // namespace brevalo
