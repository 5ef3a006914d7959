#pragma once

#include "capture/capture_project.h"
#include "recording/waveform_peak.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace brevalo {

// The on-disk overview of one master: the whole master reduced to one peak per 2048 frames,
// stored as JSON at "Waveforms/<master name>.json" in the project folder.
struct WaveformCache
{
    static constexpr qint64 currentVersion = 1;
    static constexpr qint64 standardFramesPerPeak = 2048;

    qint64 version = currentVersion;
    QString masterPath;    // the master's project-relative path at the time
    qint64 frameCount = 0; // the master's frame count at the time
    qint64 framesPerPeak = standardFramesPerPeak;
    QList<WaveformPeak> peaks; // in frame order; the last covers the remaining frames

    bool operator==(const WaveformCache&) const = default;

    // True when this overview may stand for the master: current version, same path and frame
    // count, 2048 frames per peak and exactly one peak per started group of 2048 frames.
    bool isValidFor(const CaptureMaster& master) const;
};

// ⌈frameCount / 2048⌉ for any frame count, 0 for none or a negative count (no overflow).
qint64 expectedPeakCount(qint64 frameCount);

// "Waveforms/" + the master file's name without its extension + ".json", project-relative.
QString waveformCachePath(const QString& masterPath);

// Compact JSON with every float in its shortest exact form. Throws CaptureError for a value
// JSON cannot carry (a non-finite float).
QByteArray encodeWaveformCache(const WaveformCache& cache);

// None for anything that is not a cache: not JSON, a missing key, a value of the wrong type,
// a number that is no integer where one is needed, or a peak outside −1.0 … 1.0 or not
// enclosing 0.0 (no master can produce one, so such a file was damaged or made by hand).
// Extra keys are ignored. Never throws for any input.
std::optional<WaveformCache> decodeWaveformCache(const QByteArray& bytes);

} // namespace brevalo
