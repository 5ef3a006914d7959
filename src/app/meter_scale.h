#pragma once

// The level meter's scale: where a dBFS value sits on the bar, which of the 32 segments are lit,
// which one shows the held peak and the colour of each. Pure functions, so that the drawing code
// only paints what these decide.

#include <QColor>
#include <QList>
#include <QString>

#include <array>
#include <optional>

namespace brevalo {

inline constexpr int meterSegmentCount = 32;
// dBFS at the left end of the bar; every meter value is clamped to it.
inline constexpr double meterFloorDBFS = -60.0;

// B[0…32]: 3 dB steps from −60 to −12 over the lower half, 0.75 dB steps from −12 to 0 over the
// upper half, so the range where levels are set gets half of the bar.
const std::array<double, meterSegmentCount + 1>& meterBreakpoints();

// Position of a dBFS value along the bar, 0…1 (0 for NaN).
double meterPosition(double dbfs);
// The inverse of meterPosition for a position 0…1 (clamped).
double meterValue(double position);

// Segments lit by a level: 0…32.
int litSegmentCount(double levelDBFS);
// The single segment that shows a held peak, none at the floor.
std::optional<int> peakSegment(double peakDBFS);
// Whether segment i is drawn at full opacity.
bool isSegmentLit(int segment, double levelDBFS, double peakDBFS);
// Opacity of a dark segment.
inline constexpr double unlitSegmentOpacity = 0.12;

enum class SegmentColor
{
    green,
    amber,
    red,
};
// By the segment's centre value: red above −3 dBFS, amber above −12 dBFS.
SegmentColor segmentColor(int segment);
QColor segmentQColor(SegmentColor color);

struct ScaleMark
{
    int db = 0;
    QString label; // with U+2212 MINUS SIGN

    bool operator==(const ScaleMark&) const = default;
};
const QList<ScaleMark>& scaleMarks();

} // namespace brevalo
