#include "workflow/take_recovery.h"

#include "capture/capture_storage.h"

#include <QFile>

#include <sndfile.h>

namespace brevalo {

std::optional<qint64> masterFileFrameCount(const QString& location)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(location).constData(), SFM_READ, &info);
    if (file == nullptr) {
        return std::nullopt;
    }
    sf_close(file);
    return static_cast<qint64>(info.frames);
}

void recoverUnfinalizedTakes(CaptureDocument& document)
{
    for (CaptureSide& side : document.project.sides) {
        if (!side.master || side.master->isComplete) {
            continue;
        }
        std::optional<qint64> frames;
        try {
            frames = masterFileFrameCount(CaptureStorage::resolve(document, side.master->path));
        } catch (const std::exception&) {
            // A path that leaves the project folder is not read; the take stays as stored.
        }
        if (!frames) {
            continue;
        }
        side.master->frameCount = *frames;
        if (!side.master->interruption) {
            side.master->interruption = notFinalizedText;
        }
    }
}

} // namespace brevalo
