#pragma once

#include "capture/capture_project.h"
#include "recording/cancellation.h"
#include "recording/waveform_overviews.h"
#include "recording/waveform_peak.h"

#include <QList>
#include <QString>
#include <QtGlobal>

namespace brevalo {

// Peaks of the master file at `masterFile` (an absolute location) over frames [start, end):
// one peak per `framesPerPeak` frames (values below 1 count as 1), the last one covering what
// is left. Samples are read as integer / 2^(bits − 1), both channels together.
// Run on a worker thread. Memory: one 8192-frame buffer plus the result.
// Throws CancellationError when `cancellation` is tripped (checked before every read);
// CaptureError "The master is shorter than the saved recording. …" for a negative start or an
// end beyond the file; CaptureError "The master waveform couldn't be read." when a read
// delivers nothing; CaptureError naming the file for an open or read failure of the file itself.
QList<WaveformPeak> computePeaks(const QString& masterFile, qint64 start, qint64 end,
                                 qint64 framesPerPeak,
                                 const CancellationToken& cancellation = CancellationToken());

// Bars for the side's master over frames [rangeStart, rangeEnd) in about `columns` entries.
// Narrow views (fewer than 2048 frames per column) are read from the master directly; wide views
// are reduced from the master's cached overview, which is rebuilt and atomically rewritten
// whenever it is missing, unreadable or does not match the master. Decoded overviews stay in
// `overviews` so repeated wide views of the same master read no file.
// Empty for a side without a master, an empty master, an empty range or no columns.
// Run on a worker thread, one load at a time per caller. Throws what computePeaks throws, the
// containment check's CaptureError for a path leaving the project folder, and CaptureError
// when the cache cannot be written; a cancelled load writes nothing.
QList<WaveformPeak> loadWaveform(const CaptureDocument& document, const CaptureSide& side,
                                 qint64 rangeStart, qint64 rangeEnd, qint64 columns,
                                 const CancellationToken& cancellation = CancellationToken(),
                                 WaveformOverviews& overviews = WaveformOverviews::shared());

// Reduces cached peaks (2048 frames each) to the columns of frames [rangeStart, rangeEnd):
// groups of max(1, ⌊peaks in range / columns⌋) peaks, the range clipped to the peaks at hand.
QList<WaveformPeak> reducePeaks(const QList<WaveformPeak>& peaks, qint64 rangeStart,
                                qint64 rangeEnd, qint64 columns);

} // namespace brevalo
