// Manifest decoding is the first thing done with a project folder someone else may have made:
// whatever the bytes, decoding, validation, the derived side values and the path checks must
// either succeed or throw CaptureError, and an accepted manifest must survive a write unchanged.

#include "capture/capture_manifest.h"
#include "capture/capture_storage.h"
#include "platform/errors.h"

#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// One empty folder for the whole run: the path checks only need a real place to start from.
const QString& projectFolder()
{
    static QTemporaryDir folder;
    static const QString path = folder.path();
    return path;
}

void checkPath(const brevalo::CaptureDocument& document, const QString& path)
{
    try {
        const QString resolved = brevalo::CaptureStorage::resolve(document, path);
        if (!resolved.startsWith(document.directory + QLatin1Char('/'))) {
            std::abort();
        }
    } catch (const brevalo::CaptureError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    brevalo::CaptureDocument document;
    document.directory = projectFolder();
    try {
        document.project = brevalo::decodeManifest(bytes);
    } catch (const brevalo::CaptureError&) {
        return 0;
    }
    for (const auto& side : document.project.sides) {
        const auto regions = side.regions();
        if (!regions.isEmpty() && regions.size() != side.regionCount()) {
            std::abort();
        }
        (void)side.boundaryStatus();
    }
    try {
        document.project.validate();
    } catch (const brevalo::CaptureError&) {
        return 0;
    }
    for (const auto& side : document.project.sides) {
        if (side.master) {
            checkPath(document, side.master->path);
        }
    }
    if (document.project.artworkPath) {
        checkPath(document, *document.project.artworkPath);
    }
    try {
        if (brevalo::decodeManifest(brevalo::encodeManifest(document.project)) !=
            document.project) {
            std::abort();
        }
    } catch (const brevalo::CaptureError&) {
        std::abort();
    }
    return 0;
}
