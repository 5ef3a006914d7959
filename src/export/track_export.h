#pragma once

#include "capture/capture_project.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <QtGlobal>

#include <exception>
#include <functional>
#include <optional>
#include <stop_token>

namespace brevalo {

// What a finished export produced.
struct CaptureExportResult
{
    QString directory; // absolute path of the album folder
    qint64 trackCount = 0;

    bool operator==(const CaptureExportResult&) const = default;
};

// How far an export has come. Totals cover the selected sides only; frames are stereo frames of
// the masters.
struct ExportProgress
{
    qint64 tracksDone = 0;
    qint64 trackTotal = 0;
    qint64 framesDone = 0;
    qint64 frameTotal = 0;

    bool operator==(const ExportProgress&) const = default;
};

// Called on the export's own thread, at the start, whenever another tenth of a percent of the
// frames is done, after every track and at the end (at most about a thousand calls plus two per
// track), so the callback may post to another thread without throttling. It must not throw.
using ExportProgressHandler = std::function<void(const ExportProgress&)>;

// Thrown when the export saw its stop token requested; nothing is left at the destination.
class ExportCancelled : public std::exception
{
public:
    const char* what() const noexcept override { return "The export was cancelled."; }
};

struct ExportOptions
{
    // Tested before every track and before every chunk of at most 8192 frames.
    std::stop_token stop;
    ExportProgressHandler progress;
    // Makes the UUIDs of the album and temporary folder names; a new random one each call when
    // unset (test seam).
    std::function<QUuid()> makeUuid;
};

// The cover as embedded in every track: PNG bytes unchanged and the pixel size read from them.
struct TrackCover
{
    QByteArray bytes;
    quint32 width = 0;
    quint32 height = 0;
};

// Largest stored cover the export embeds; a FLAC metadata block holds less than 16 MiB.
inline constexpr qint64 exportCoverByteLimit = 15'999'999;

// Writes one FLAC file per expected track of the selected sides (all sides when sideID is unset)
// into "<artist> - <title> - <8 hex>" inside destination, which must exist. The tracks are
// written into a hidden folder beside it that is renamed into place only when all of them are
// done and verified; any failure or cancellation removes it, and an existing folder of the album's
// name is never replaced.
//
// Run on a worker thread, never on the main thread: it blocks for as long as libFLAC needs. It
// reads only the document it is given and the files the document names; the masters are opened
// read-only. Throws CaptureError (refusals, file-system failures), CoreAudioFailure (a master that
// cannot be opened, sought or read) or ExportCancelled.
CaptureExportResult exportSides(const CaptureDocument& document, const QString& destination,
                                const std::optional<QUuid>& sideID,
                                const ExportOptions& options = {});

// Encodes the master frames [startFrame, endFrame) into a new FLAC file at trackPath at the
// master's native rate and bit depth, with the comments ("NAME=value") and the cover. A partly
// written file is left behind on failure for the caller to remove. framesEncoded, when set, is
// called after every chunk with the number of frames it held. Same thread rule and errors as
// exportSides.
void encodeTrack(const QString& masterPath, const CaptureMaster& master, qint64 startFrame,
                 qint64 endFrame, const QString& trackPath, const QStringList& comments,
                 const std::optional<TrackCover>& cover, const std::stop_token& stop = {},
                 const std::function<void(qint64)>& framesEncoded = {});

} // namespace brevalo
