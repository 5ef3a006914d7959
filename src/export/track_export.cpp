#include "export/track_export.h"

#include "capture/atomic_file.h"
#include "capture/capture_storage.h"
#include "capture/safe_file_name.h"
#include "export/track_encoder.h"
#include "platform/errors.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brevalo {

namespace {

constexpr qint64 chunkFrames = 8192;
constexpr qint64 progressSteps = 1000;

QString notReadyMessage()
{
    return QStringLiteral("Every selected side needs a completed master and exactly one region "
                          "per expected track.");
}

QString coverMessage()
{
    return QStringLiteral("The stored cover image couldn't be read.");
}

QString formatMismatchMessage()
{
    return QStringLiteral("The stored master differs from its saved native format or duration. "
                          "Export stopped.");
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString joined(const QString& folder, const QString& name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

bool pathExists(const QString& path)
{
    struct stat status
    {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

void throwIfStopped(const std::stop_token& stop)
{
    if (stop.stop_requested()) {
        throw ExportCancelled();
    }
}

// The same bounds CaptureSide::regions() relies on, spelled out for a side about to be cut.
bool isReady(const CaptureSide& side)
{
    if (!side.master || !side.master->isComplete || side.master->frameCount < 1) {
        return false;
    }
    if (side.tracks.isEmpty() || side.tracks.size() != side.markers.size() + 1) {
        return false;
    }
    const qint64 frames = side.master->frameCount;
    const qint64 start = side.trimStartFrame.value_or(0);
    const qint64 end = side.trimEndFrame.value_or(frames);
    if (side.trimStartFrame && (*side.trimStartFrame < 0 || *side.trimStartFrame >= end)) {
        return false;
    }
    if (side.trimEndFrame && (*side.trimEndFrame <= start || *side.trimEndFrame > frames)) {
        return false;
    }
    qint64 previous = start;
    for (const qint64 marker : side.markers) {
        // Strictly ascending from the trim start: sorted, unique and after the start in one go.
        if (marker <= previous || marker >= end || marker >= frames) {
            return false;
        }
        previous = marker;
    }
    return true;
}

struct SndfileCloser
{
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

struct EncoderDestroyer
{
    void operator()(TrackEncoder* encoder) const { track_encoder_destroy(encoder); }
};
using EncoderHandle = std::unique_ptr<TrackEncoder, EncoderDestroyer>;

// libsndfile's codes as statuses: a file it cannot parse reads like the platform's "unsupported
// data format"; a system failure keeps its errno, negated.
std::int32_t sndfileStatus(SNDFILE* file, int savedErrno)
{
    const int code = sf_error(file);
    if (code == SF_ERR_SYSTEM) {
        return savedErrno != 0 ? -savedErrno : status::paramError;
    }
    return code == SF_ERR_NO_ERROR ? status::paramError : status::unsupportedFormat;
}

SndfileHandle openMaster(const QString& path, SF_INFO& info)
{
    // Read-only and never created: the master is immutable and export only reads it.
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            throw CaptureError(QStringLiteral("The master recording is missing."));
        }
        throw CoreAudioFailure(QStringLiteral("Open the immutable master"), -error);
    }
    info = SF_INFO{};
    SNDFILE* file = sf_open_fd(descriptor, SFM_READ, &info, SF_TRUE);
    if (file == nullptr) {
        const int error = errno;
        throw CoreAudioFailure(QStringLiteral("Open the immutable master"),
                               sndfileStatus(nullptr, error));
    }
    return SndfileHandle(file);
}

qint64 storedBitDepth(const SF_INFO& info)
{
    switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_16:
        return 16;
    case SF_FORMAT_PCM_24:
        return 24;
    case SF_FORMAT_PCM_32:
        return 32;
    default:
        return 0; // float, 8-bit, compressed: nothing a master is written as
    }
}

// ---- album layout -------------------------------------------------------------------------

std::optional<TrackCover> readCover(const CaptureDocument& document)
{
    if (!document.project.artworkPath) {
        return std::nullopt;
    }
    const QString path = CaptureStorage::resolve(document, *document.project.artworkPath);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw CaptureError(QStringLiteral("“") + QFileInfo(path).fileName() +
                           QStringLiteral("” could not be read: ") + file.errorString() +
                           QLatin1Char('.'));
    }
    // One byte past the limit is enough to refuse a file without reading all of it.
    TrackCover cover;
    cover.bytes = file.read(exportCoverByteLimit + 1);
    if (file.error() != QFileDevice::NoError) {
        throw CaptureError(QStringLiteral("“") + QFileInfo(path).fileName() +
                           QStringLiteral("” could not be read: ") + file.errorString() +
                           QLatin1Char('.'));
    }
    if (cover.bytes.size() > exportCoverByteLimit) {
        throw CaptureError(coverMessage());
    }
    QBuffer buffer(&cover.bytes);
    buffer.open(QIODevice::ReadOnly);
    // Only the header is read: the pixel size, never the pixels.
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!reader.canRead() || !size.isValid()) {
        throw CaptureError(coverMessage());
    }
    cover.width = static_cast<quint32>(size.width());
    cover.height = static_cast<quint32>(size.height());
    return cover;
}

struct Numbering
{
    qint64 disc = 1;
    qint64 trackOffset = 0;
    qint64 trackTotal = 0;
};

// Over all sides of the project, whichever are exported.
Numbering numberingOf(const CaptureProject& project, qsizetype sideIndex,
                      const std::map<qint64, qint64>& discOfRecord)
{
    const qint64 record = project.sides.at(sideIndex).record;
    Numbering numbering;
    numbering.disc = discOfRecord.at(record);
    for (qsizetype i = 0; i < project.sides.size(); ++i) {
        const auto& other = project.sides.at(i);
        if (other.record != record) {
            continue;
        }
        numbering.trackTotal += other.tracks.size();
        if (i < sideIndex) {
            numbering.trackOffset += other.tracks.size();
        }
    }
    return numbering;
}

QStringList trackComments(const CaptureProject& project, const CaptureTrack& track,
                          qint64 trackNumber, const Numbering& numbering, qsizetype recordCount)
{
    const auto entry = [](const char* name, const QString& value) {
        return QLatin1String(name) + QLatin1Char('=') + value;
    };
    QStringList comments{
        entry("TITLE", track.title),
        entry("ARTIST", track.artist.isEmpty() ? project.artist : track.artist),
        entry("ALBUM", project.title),
        entry("ALBUMARTIST", project.albumArtist.isEmpty() ? project.artist : project.albumArtist),
        entry("TRACKNUMBER", QString::number(trackNumber)),
        entry("TRACKTOTAL", QString::number(numbering.trackTotal)),
        entry("DISCNUMBER", QString::number(numbering.disc)),
        entry("DISCTOTAL", QString::number(recordCount)),
        entry("TAGS", captureSourceRawValue(project.source)),
    };
    if (!project.date.isEmpty()) {
        comments.append(entry("DATE", project.date));
    }
    for (const auto& genre : project.genres) {
        if (!genre.isEmpty()) {
            comments.append(entry("GENRE", genre));
        }
    }
    if (project.discogsReleaseID) {
        comments.append(entry("DISCOGS_RELEASE_ID", QString::number(*project.discogsReleaseID)));
    }
    return comments;
}

qsizetype utf8Size(QStringView text)
{
    return text.toUtf8().size();
}

QString trackFileName(qint64 disc, qint64 trackNumber, qsizetype recordCount, const QString& title)
{
    const QString number = recordCount < 2 ? QString::asprintf("%02lld", trackNumber)
                                           : QString::asprintf("%02lld-%02lld", disc, trackNumber);
    const QString prefix = number + QStringLiteral(" - ");
    const QString suffix = QStringLiteral(".flac");
    return prefix +
           fitFileNameComponents({safeFileNameComponent(title)},
                                 utf8Size(prefix) + utf8Size(suffix))[0] +
           suffix;
}

// "<artist> - <title> - <8 hex>", artist and title shortened to fit the byte limit.
QString albumFolderName(const CaptureProject& project, const QUuid& id)
{
    const QString separator = QStringLiteral(" - ");
    const QString tail = separator + shortUuid(id);
    const QStringList parts = fitFileNameComponents(
        {safeFileNameComponent(project.artist), safeFileNameComponent(project.title)},
        utf8Size(separator) + utf8Size(tail));
    return parts[0] + separator + parts[1] + tail;
}

// Moves the finished folder into place without ever replacing what is there: rename(2) would
// silently replace an existing empty folder of the album's name.
void moveIntoPlace(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    int result =
        ::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without the flag: claim the name with an exclusive mkdir, then replace
        // that empty folder of our own. Someone filling it meanwhile makes the rename fail.
        result = ::mkdir(target.constData(), 0777);
        if (result == 0) {
            result = ::rename(source.constData(), target.constData());
            if (result != 0) {
                const int error = errno;
                ::rmdir(target.constData());
                errno = error;
            }
        }
    }
    if (result == 0) {
        return;
    }
    const int error = errno;
    const QString names = QStringLiteral("“") + QFileInfo(from).fileName() +
                          QStringLiteral("” couldn't be moved to “") +
                          QFileInfo(QFileInfo(to).absolutePath()).fileName() + QStringLiteral("”");
    if (error == EEXIST || error == ENOTEMPTY) {
        throw CaptureError(names +
                           QStringLiteral(" because an item with the same name already exists."));
    }
    throw CaptureError(names + QStringLiteral(": ") + systemError(error) + QLatin1Char('.'));
}

// Counts work done and calls the handler only when it has something new to say.
class ProgressReporter
{
public:
    ProgressReporter(const ExportProgressHandler& handler, qint64 trackTotal, qint64 frameTotal)
        : handler_(handler), step_(std::max<qint64>(1, frameTotal / progressSteps))
    {
        progress_.trackTotal = trackTotal;
        progress_.frameTotal = frameTotal;
        publish();
    }

    void addFrames(qint64 frames)
    {
        progress_.framesDone += frames;
        if (progress_.framesDone >= nextReport_) {
            publish();
        }
    }

    void finishTrack()
    {
        ++progress_.tracksDone;
        publish();
    }

private:
    void publish()
    {
        nextReport_ = progress_.framesDone + step_;
        if (handler_) {
            handler_(progress_);
        }
    }

    const ExportProgressHandler& handler_;
    ExportProgress progress_;
    qint64 step_;
    qint64 nextReport_ = 0;
};

} // namespace

void encodeTrack(const QString& masterPath, const CaptureMaster& master, qint64 startFrame,
                 qint64 endFrame, const QString& trackPath, const QStringList& comments,
                 const std::optional<TrackCover>& cover, const std::stop_token& stop,
                 const std::function<void(qint64)>& framesEncoded)
{
    // A range running backwards is as empty as one of length zero.
    if (pathExists(trackPath) || endFrame <= startFrame) {
        throw CaptureError(
            QStringLiteral("The export destination already exists or the track is empty."));
    }
    SF_INFO info{};
    const SndfileHandle file = openMaster(masterPath, info);
    if (info.frames < 0) {
        throw CoreAudioFailure(QStringLiteral("Verify master duration"), status::paramError);
    }
    const qint64 bitDepth = storedBitDepth(info);
    if (info.channels != 2 || static_cast<double>(info.samplerate) != master.sampleRate ||
        bitDepth == 0 || bitDepth != master.bitDepth || startFrame < 0 || info.frames < endFrame) {
        throw CaptureError(formatMismatchMessage());
    }
    if (sf_seek(file.get(), startFrame, SEEK_SET) < 0) {
        throw CoreAudioFailure(QStringLiteral("Seek to the track boundary"),
                               sndfileStatus(file.get(), errno));
    }

    std::vector<QByteArray> utf8;
    utf8.reserve(static_cast<size_t>(comments.size()));
    std::vector<const char*> commentPointers;
    commentPointers.reserve(static_cast<size_t>(comments.size()));
    for (const auto& comment : comments) {
        utf8.push_back(comment.toUtf8());
        commentPointers.push_back(utf8.back().constData());
    }
    const bool withCover = cover && !cover->bytes.isEmpty() &&
                           cover->bytes.size() <= std::numeric_limits<std::uint32_t>::max();
    const QByteArray nativePath = QFile::encodeName(trackPath);
    const EncoderHandle encoder(track_encoder_create(
        nativePath.constData(), static_cast<std::uint32_t>(master.sampleRate),
        static_cast<std::uint32_t>(bitDepth), static_cast<std::uint64_t>(endFrame - startFrame),
        commentPointers.data(), static_cast<std::uint32_t>(commentPointers.size()),
        withCover ? reinterpret_cast<const std::uint8_t*>(cover->bytes.constData()) : nullptr,
        withCover ? static_cast<std::uint32_t>(cover->bytes.size()) : 0,
        withCover ? cover->width : 0, withCover ? cover->height : 0));
    if (!encoder) {
        throw CaptureError(QStringLiteral(
            "Couldn't create the FLAC encoder. Check storage space and permissions."));
    }

    // libsndfile hands back every integer format left-justified in 32 bits; the arithmetic
    // shift restores the native value with its sign.
    const int shift = static_cast<int>(32 - bitDepth);
    std::vector<std::int32_t> buffer(static_cast<size_t>(chunkFrames * 2));
    qint64 remaining = endFrame - startFrame;
    while (remaining > 0) {
        throwIfStopped(stop);
        const sf_count_t wanted = std::min(remaining, chunkFrames);
        const sf_count_t got = sf_readf_int(file.get(), buffer.data(), wanted);
        if (got < wanted && sf_error(file.get()) != SF_ERR_NO_ERROR) {
            throw CoreAudioFailure(QStringLiteral("Read the source track"),
                                   sndfileStatus(file.get(), errno));
        }
        if (got <= 0) {
            throw CaptureError(QStringLiteral("The master ended before the track boundary."));
        }
        std::int32_t* const samples = buffer.data();
        const auto count = static_cast<size_t>(got) * 2;
        for (size_t i = 0; i < count; ++i) {
            samples[i] >>= shift;
        }
        if (!track_encoder_process(encoder.get(), samples, static_cast<std::uint32_t>(got))) {
            throw CaptureError(QStringLiteral("FLAC encoding or audio verification failed. Check "
                                              "available storage space."));
        }
        remaining -= got;
        if (framesEncoded) {
            framesEncoded(got);
        }
    }
    if (!track_encoder_finish(encoder.get())) {
        throw CaptureError(QStringLiteral("Couldn't finish and verify the FLAC track."));
    }
}

CaptureExportResult exportSides(const CaptureDocument& document, const QString& destination,
                                const std::optional<QUuid>& sideID, const ExportOptions& options)
{
    const CaptureProject& project = document.project;
    project.validate();

    std::vector<qsizetype> selected;
    for (qsizetype i = 0; i < project.sides.size(); ++i) {
        if (!sideID || project.sides.at(i).id == *sideID) {
            selected.push_back(i);
        }
    }
    if (selected.empty() || !std::all_of(selected.begin(), selected.end(), [&](qsizetype i) {
            return isReady(project.sides.at(i));
        })) {
        throw CaptureError(notReadyMessage());
    }

    const auto makeUuid = [&] {
        return options.makeUuid ? options.makeUuid() : QUuid::createUuid();
    };
    const QString albumPath =
        joined(QFileInfo(destination).absoluteFilePath(), albumFolderName(project, makeUuid()));
    const QString temporaryPath = joined(QFileInfo(destination).absoluteFilePath(),
                                         QStringLiteral(".capture-export-") +
                                             makeUuid().toString(QUuid::WithoutBraces).toUpper());
    makeDirectory(temporaryPath);

    try {
        const std::optional<TrackCover> cover = readCover(document);

        std::map<qint64, qint64> discOfRecord;
        for (const auto& side : project.sides) {
            discOfRecord.emplace(side.record, 0);
        }
        qint64 disc = 0;
        for (auto& [record, number] : discOfRecord) {
            number = ++disc;
        }
        const qsizetype recordCount = project.recordCount();

        qint64 trackTotal = 0;
        qint64 frameTotal = 0;
        for (const qsizetype index : selected) {
            for (const auto& region : project.sides.at(index).regions()) {
                ++trackTotal;
                frameTotal += region.length();
            }
        }
        ProgressReporter progress(options.progress, trackTotal, frameTotal);
        const auto addFrames = [&](qint64 frames) { progress.addFrames(frames); };

        qint64 trackCount = 0;
        for (const qsizetype index : selected) {
            const CaptureSide& side = project.sides.at(index);
            const Numbering numbering = numberingOf(project, index, discOfRecord);
            const QList<FrameRange> regions = side.regions();
            for (qsizetype i = 0; i < regions.size(); ++i) {
                throwIfStopped(options.stop);
                const CaptureTrack& track = side.tracks.at(i);
                const qint64 trackNumber = numbering.trackOffset + i + 1;
                const QString fileName =
                    trackFileName(numbering.disc, trackNumber, recordCount, track.title);
                const QStringList comments =
                    trackComments(project, track, trackNumber, numbering, recordCount);
                const QString masterPath = CaptureStorage::resolve(document, side.master->path);
                encodeTrack(masterPath, *side.master, regions.at(i).start, regions.at(i).end,
                            joined(temporaryPath, fileName), comments, cover, options.stop,
                            addFrames);
                progress.finishTrack();
            }
            trackCount += regions.size();
        }
        moveIntoPlace(temporaryPath, albumPath);
        return CaptureExportResult{albumPath, trackCount};
    } catch (...) {
        // Everything in the hidden folder is this call's own; a failure to remove it must not
        // hide the error that stopped the export.
        QDir(temporaryPath).removeRecursively();
        throw;
    }
}

} // namespace brevalo
