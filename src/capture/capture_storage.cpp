#include "capture/capture_storage.h"

#include "capture/capture_manifest.h"
#include "capture/safe_file_name.h"
#include "platform/errors.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QUuid>

#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brevalo {

namespace {

const QString manifestName = QStringLiteral("project.json");
// Manifests are a few kilobytes; anything this large is not one and is not read into memory.
constexpr qint64 manifestSizeLimit = 64 * 1024 * 1024;
// Symbolic links followed while resolving one path, as the kernel's own limit.
constexpr int linkLimit = 40;

QString invalidReferenceMessage()
{
    return QStringLiteral("The project contains an invalid file reference.");
}

QString outsideFolderMessage()
{
    return QStringLiteral("A project file points outside its folder.");
}

QString artworkRefusalMessage()
{
    return QStringLiteral("Choose a PNG or JPEG cover image up to 12 MB and 8192 pixels.");
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString joined(const QString& folder, const QString& name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// The absolute path with every symbolic link followed and ".", ".." and repeated slashes
// removed. Unlike realpath(3) it also works for paths that do not exist (yet): once a component
// is missing, the rest is appended as written. None when links loop or nest too deeply.
std::optional<QString> resolvedPath(const QString& absolutePath)
{
    QStringList pending = absolutePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString resolved = QStringLiteral("/");
    bool missing = false;
    int links = 0;
    while (!pending.isEmpty()) {
        const QString component = pending.takeFirst();
        if (component == QLatin1String(".")) {
            continue;
        }
        if (component == QLatin1String("..")) {
            resolved = parentOf(resolved);
            continue;
        }
        const QString next = joined(resolved, component);
        if (missing) {
            resolved = next;
            continue;
        }
        const QByteArray nativeNext = QFile::encodeName(next);
        struct stat status
        {};
        if (::lstat(nativeNext.constData(), &status) != 0) {
            missing = true;
            resolved = next;
            continue;
        }
        if (!S_ISLNK(status.st_mode)) {
            resolved = next;
            continue;
        }
        if (++links > linkLimit) {
            return std::nullopt;
        }
        QByteArray target(PATH_MAX, Qt::Uninitialized);
        const ssize_t length =
            ::readlink(nativeNext.constData(), target.data(), static_cast<size_t>(target.size()));
        if (length < 0 || length >= target.size()) {
            return std::nullopt;
        }
        target.truncate(length);
        const QString targetPath = QFile::decodeName(target);
        if (targetPath.startsWith(QLatin1Char('/'))) {
            resolved = QStringLiteral("/");
        }
        pending = targetPath.split(QLatin1Char('/'), Qt::SkipEmptyParts) + pending;
    }
    return resolved;
}

} // namespace

CaptureStorage::CaptureStorage(std::shared_ptr<QSettings> settings,
                               std::shared_ptr<FilePanels> panels)
    : settings_(std::move(settings)), panels_(std::move(panels))
{
    if (!settings_) {
        return;
    }
    const QString stored = settings_->value(QLatin1String(libraryKey)).toString();
    if (stored.isEmpty()) {
        return;
    }
    // A folder that is gone (an unmounted drive) leaves the library unset but keeps the stored
    // path, so the library comes back once the drive does.
    const QFileInfo folder(stored);
    if (!folder.isDir()) {
        return;
    }
    const QString location = folder.absoluteFilePath();
    startAccess(location);
    library_ = location;
}

void CaptureStorage::startAccess(const QString& location)
{
    // Plain file permissions govern access here; the list still records what was opened through
    // a picker so that releaseAllAccess has the same meaning everywhere.
    access_.append(location);
}

std::optional<QString> CaptureStorage::chooseLibrary()
{
    if (!panels_) {
        return std::nullopt;
    }
    FilePanels::FolderRequest request;
    request.title = QStringLiteral("Choose Capture project storage");
    request.message =
        QStringLiteral("Choose a folder on your working SSD or another writable drive.");
    request.canCreateFolders = true;
    const auto chosen = panels_->chooseFolder(request);
    if (!chosen) {
        return std::nullopt;
    }
    const QString location = QFileInfo(*chosen).absoluteFilePath();
    startAccess(location);
    if (settings_) {
        settings_->setValue(QLatin1String(libraryKey), location);
        settings_->sync();
        if (settings_->status() != QSettings::NoError) {
            throw CaptureError(QStringLiteral("The storage folder could not be remembered: the "
                                              "settings file could not be written."));
        }
    }
    library_ = location;
    return location;
}

std::optional<CaptureDocument> CaptureStorage::openProject()
{
    if (!panels_) {
        return std::nullopt;
    }
    FilePanels::FolderRequest request;
    request.title = QStringLiteral("Open Capture project folder");
    request.startDirectory = library_.value_or(QString());
    const auto chosen = panels_->chooseFolder(request);
    if (!chosen) {
        return std::nullopt;
    }
    const QString location = QFileInfo(*chosen).absoluteFilePath();
    startAccess(location);
    return load(location);
}

CaptureDocument CaptureStorage::createProject(CaptureProject project,
                                              const std::optional<QByteArray>& cover)
{
    project.validate();
    if (!library_) {
        chooseLibrary();
    }
    if (!library_) {
        throw CaptureError(
            QStringLiteral("Choose a project storage folder before creating a capture."));
    }
    const QString folder =
        joined(*library_, projectFolderName(project.artist, project.title, project.id));
    makeDirectory(folder);

    CaptureDocument document{std::move(project), folder};
    try {
        for (const char* name : {"Masters", "Artwork", "Waveforms", "Exports"}) {
            makeDirectory(joined(folder, QLatin1String(name)));
        }
        if (cover) {
            document.project.artworkPath = saveArtwork(*cover, document);
        }
        save(document);
    } catch (...) {
        // Only this call made the folder, so everything in it is ours to remove.
        QDir(folder).removeRecursively();
        throw;
    }
    return document;
}

std::optional<QString> CaptureStorage::chooseExportDestination()
{
    if (!panels_) {
        return std::nullopt;
    }
    FilePanels::FolderRequest request;
    request.title = QStringLiteral("Choose FLAC export destination");
    request.canCreateFolders = true;
    const auto chosen = panels_->chooseFolder(request);
    if (!chosen) {
        return std::nullopt;
    }
    const QString location = QFileInfo(*chosen).absoluteFilePath();
    startAccess(location);
    return location;
}

std::optional<QByteArray> CaptureStorage::chooseArtwork()
{
    if (!panels_) {
        return std::nullopt;
    }
    FilePanels::ImageRequest request;
    request.title = QStringLiteral("Choose album artwork");
    request.suffixes = {QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg"),
                        QStringLiteral("tif"), QStringLiteral("tiff")};
    const auto chosen = panels_->chooseImage(request);
    if (!chosen) {
        return std::nullopt;
    }
    QFile file(*chosen);
    if (!file.open(QIODevice::ReadOnly)) {
        throw CaptureError(QStringLiteral("“") + QFileInfo(*chosen).fileName() +
                           QStringLiteral("” could not be read: ") + file.errorString() +
                           QLatin1Char('.'));
    }
    // One byte past the limit is enough to refuse an oversized file without reading all of it.
    const QByteArray bytes = file.read(artworkInputLimit + 1);
    if (file.error() != QFileDevice::NoError) {
        throw CaptureError(QStringLiteral("“") + QFileInfo(*chosen).fileName() +
                           QStringLiteral("” could not be read: ") + file.errorString() +
                           QLatin1Char('.'));
    }
    return normalizeArtwork(bytes);
}

QByteArray CaptureStorage::normalizeArtwork(const QByteArray& bytes)
{
    if (bytes.size() > artworkInputLimit) {
        throw CaptureError(artworkRefusalMessage());
    }
    QByteArray input = bytes;
    QBuffer buffer(&input);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // Covers are shown upright the way photo viewers show them.
    reader.setAutoTransform(true);
    // The header's size decides before any pixel memory is allocated: a file of a few hundred
    // bytes can declare 100000 x 100000 pixels.
    const QSize declared = reader.size();
    if (!reader.canRead() || (declared.isValid() && (declared.width() > artworkPixelLimit ||
                                                     declared.height() > artworkPixelLimit))) {
        throw CaptureError(artworkRefusalMessage());
    }
    // Backstop for formats whose header does not tell the size: the largest accepted bitmap,
    // 8192 x 8192 at four bytes per pixel, in megabytes.
    reader.setAllocationLimit(artworkPixelLimit / 1024 * artworkPixelLimit / 1024 * 4);
    const QImage image = reader.read();
    if (image.isNull() || image.width() > artworkPixelLimit || image.height() > artworkPixelLimit) {
        throw CaptureError(artworkRefusalMessage());
    }

    QByteArray png;
    QBuffer output(&png);
    output.open(QIODevice::WriteOnly);
    QImageWriter writer(&output, "png");
    if (!writer.write(image) || png.isEmpty() || png.size() >= artworkOutputLimit) {
        throw CaptureError(
            QStringLiteral("The cover image is too large for FLAC picture metadata."));
    }
    return png;
}

QString CaptureStorage::saveArtwork(const QByteArray& bytes, const CaptureDocument& document) const
{
    const QByteArray png = normalizeArtwork(bytes);
    const QString path = QStringLiteral("Artwork/") +
                         QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                         QStringLiteral(".png");
    writeFileAtomically(resolve(document, path), png);
    return path;
}

void CaptureStorage::releaseAllAccess()
{
    access_.clear();
}

QString CaptureStorage::resolve(const CaptureDocument& document, const QString& path)
{
    // A NUL would cut the path short at the system call, after the check below looked at all
    // of it.
    if (path.startsWith(QLatin1Char('/')) || path.contains(QChar(u'\0')) ||
        path.split(QLatin1Char('/'), Qt::SkipEmptyParts).contains(QStringLiteral(".."))) {
        throw CaptureError(invalidReferenceMessage());
    }
    const QString folder = QFileInfo(document.directory).absoluteFilePath();
    const auto base = resolvedPath(folder);
    const auto candidate = resolvedPath(folder + QLatin1Char('/') + path);
    if (!base || !candidate) {
        throw CaptureError(outsideFolderMessage());
    }
    const QString prefix = joined(*base, QString());
    if (!candidate->startsWith(prefix)) {
        throw CaptureError(outsideFolderMessage());
    }
    return *candidate;
}

void CaptureStorage::save(const CaptureDocument& document) const
{
    document.project.validate();
    const QByteArray bytes = encodeManifest(document.project);
    writeFileAtomically(joined(document.directory, manifestName), bytes, beforeReplace_);
}

CaptureDocument CaptureStorage::load(const QString& folder) const
{
    const QString location = QFileInfo(folder).absoluteFilePath();
    QFile file(joined(location, manifestName));
    const auto readFailure = [](const QString& reason) {
        return CaptureError(QStringLiteral("“project.json” could not be read: ") + reason +
                            QLatin1Char('.'));
    };
    // Opened without blocking and checked before reading: a FIFO or device in place of the
    // manifest would otherwise hold the main thread in open() or read() indefinitely.
    const int descriptor = ::open(QFile::encodeName(file.fileName()).constData(),
                                  O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0) {
        throw readFailure(systemError(errno));
    }
    struct stat status
    {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        throw readFailure(QStringLiteral("it is not a regular file"));
    }
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        throw readFailure(file.errorString());
    }
    const QByteArray bytes = file.read(manifestSizeLimit + 1);
    if (file.error() != QFileDevice::NoError) {
        throw readFailure(file.errorString());
    }
    if (bytes.size() > manifestSizeLimit) {
        throw readFailure(QStringLiteral("it is too large to be a project manifest"));
    }

    CaptureDocument document{decodeManifest(bytes), location};
    document.project.validate();
    for (const auto& side : document.project.sides) {
        if (side.master) {
            resolve(document, side.master->path);
        }
    }
    if (document.project.artworkPath) {
        resolve(document, *document.project.artworkPath);
    }
    return document;
}

} // namespace brevalo
