#pragma once

#include "capture/atomic_file.h"
#include "capture/capture_project.h"
#include "capture/file_panels.h"

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace brevalo {

// The storage folder ("library") and the project folders inside it: layout, manifest reads and
// atomic writes, the cover image, and the containment check every project-relative path passes
// before use. Main thread only; every operation is a short synchronous file operation. Failures
// are thrown as CaptureError.
class CaptureStorage
{
public:
    // The settings key holding the library folder's path.
    static constexpr const char* libraryKey = "captureLibraryBookmark";
    static constexpr qint64 artworkInputLimit = 12'000'000;  // bytes of a chosen image
    static constexpr int artworkPixelLimit = 8192;           // either dimension
    static constexpr qint64 artworkOutputLimit = 16'000'000; // a FLAC picture block holds less

    // Restores the library from the settings when the stored folder still exists; never fails.
    // Without panels every picker answers as if cancelled.
    CaptureStorage(std::shared_ptr<QSettings> settings, std::shared_ptr<FilePanels> panels);

    const std::optional<QString>& library() const { return library_; }
    // Locations opened through a picker and not yet released, in the order opened.
    const QStringList& access() const { return access_; }

    // None when cancelled; throws when the choice cannot be remembered (library unchanged).
    std::optional<QString> chooseLibrary();
    // None when cancelled; otherwise the loaded project or the load's failure.
    std::optional<CaptureDocument> openProject();
    // Creates "<artist> - <title> - <id>.brcapture" in the library with its subfolders, the
    // cover and the manifest. Any failure after the folder was made removes it again.
    CaptureDocument createProject(CaptureProject project,
                                  const std::optional<QByteArray>& cover = std::nullopt);
    std::optional<QString> chooseExportDestination();
    // Normalized PNG bytes of a picked image, or none when cancelled.
    std::optional<QByteArray> chooseArtwork();
    // Writes the normalized cover as "Artwork/<UUID>.png" and returns that relative path. An
    // earlier cover stays on disk.
    QString saveArtwork(const QByteArray& bytes, const CaptureDocument& document) const;
    void releaseAllAccess();

    // Validates, encodes and replaces "project.json" atomically.
    void save(const CaptureDocument& document) const;
    // Reads, decodes and validates "project.json" and proves that every path in it stays inside
    // the folder. Files the paths name need not exist.
    CaptureDocument load(const QString& folder) const;

    // Any accepted cover as PNG bytes that fit a FLAC picture block. The pixel size is read from
    // the image header before anything is decoded, so a small file declaring a huge image is
    // refused without allocating it.
    static QByteArray normalizeArtwork(const QByteArray& bytes);
    // The location of a project-relative path, guaranteed to lie inside the project folder after
    // symbolic links are followed.
    static QString resolve(const CaptureDocument& document, const QString& path);

    // Runs between writing the temporary manifest and replacing the old one (test seam).
    void setBeforeReplaceHook(BeforeReplaceHook hook) { beforeReplace_ = std::move(hook); }

private:
    void startAccess(const QString& location);

    std::shared_ptr<QSettings> settings_;
    std::shared_ptr<FilePanels> panels_;
    std::optional<QString> library_;
    QStringList access_;
    BeforeReplaceHook beforeReplace_;
};

} // namespace brevalo
