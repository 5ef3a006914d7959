#pragma once

// Takes whose recording never finished (the application ended during a take, or the manifest
// was saved before the master was finalized) are recovered when a project is opened: the length
// is read from the master file itself and the take is marked for review.

#include "capture/capture_project.h"

#include <optional>

namespace brevalo {

// The stereo frames a master file holds, or none when it cannot be opened as audio.
std::optional<qint64> masterFileFrameCount(const QString& location);

// For every side whose master is not complete and whose file resolves and opens: frameCount is
// set to the file's length and the interruption keeps its text or gets the not-finalized one;
// isComplete stays false. Masters that cannot be read stay as stored. Only the document in
// memory changes; the next save writes the corrections. Main thread; reads file headers only.
void recoverUnfinalizedTakes(CaptureDocument& document);

inline const QString notFinalizedText =
    QStringLiteral("This take wasn't finalized. Audition it before accepting it for export.");

} // namespace brevalo
