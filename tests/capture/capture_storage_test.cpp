#include "capture/capture_storage.h"

#include "capture/capture_manifest.h"
#include "capture/project_fixtures.h"
#include "capture/safe_file_name.h"
#include "capture/scripted_panels.h"
#include "platform/errors.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brevalo {
namespace {

using testing::master;
using testing::project;

QString failure(const std::function<void()>& action)
{
    try {
        action();
    } catch (const CaptureError& error) {
        return error.message();
    }
    return QString();
}

const QString invalidReference = QStringLiteral("The project contains an invalid file reference.");
const QString outsideFolder = QStringLiteral("A project file points outside its folder.");
const QString coverRefused =
    QStringLiteral("Choose a PNG or JPEG cover image up to 12 MB and 8192 pixels.");
const QString noLibrary =
    QStringLiteral("Choose a project storage folder before creating a capture.");

QByteArray encodedImage(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QByteArray smallJpeg()
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return encodedImage(image, "JPEG");
}

quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        crc ^= static_cast<quint8>(byte);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

QByteArray pngChunk(const QByteArray& type, const QByteArray& data)
{
    QByteArray chunk(4, '\0');
    qToBigEndian(static_cast<quint32>(data.size()), chunk.data());
    const QByteArray body = type + data;
    QByteArray crc(4, '\0');
    qToBigEndian(crc32(body), crc.data());
    return chunk + body + crc;
}

// A valid PNG header that declares a huge bitmap but carries almost no pixel data.
QByteArray pngDeclaring(quint32 width, quint32 height)
{
    QByteArray header(13, '\0');
    qToBigEndian(width, header.data());
    qToBigEndian(height, header.data() + 4);
    header[8] = 8; // bits per channel
    header[9] = 6; // RGBA
    const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    const QByteArray idat = QByteArray::fromHex("789c6300010000050001"); // one zero byte
    return signature + pngChunk("IHDR", header) + pngChunk("IDAT", idat) +
           pngChunk("IEND", QByteArray());
}

class CaptureStorageTest : public ::testing::Test
{
protected:
    CaptureStorageTest()
        : root_(qEnvironmentVariableIsSet("BREVALO_TEST_TMP")
                    ? QDir(qEnvironmentVariable("BREVALO_TEST_TMP")).filePath("capture-XXXXXX")
                    : QDir::temp().filePath("capture-XXXXXX"))
    {
        if (qEnvironmentVariableIsSet("BREVALO_TEST_TMP")) {
            QDir().mkpath(qEnvironmentVariable("BREVALO_TEST_TMP"));
        }
    }

    void SetUp() override
    {
        ASSERT_TRUE(root_.isValid());
        libraryPath_ = root_.filePath(QStringLiteral("Library"));
        ASSERT_TRUE(QDir().mkpath(libraryPath_));
        settings_ = makeSettings();
        panels_ = std::make_shared<ScriptedPanels>();
    }

    std::shared_ptr<QSettings> makeSettings() const
    {
        return std::make_shared<QSettings>(root_.filePath(QStringLiteral("settings.ini")),
                                           QSettings::IniFormat);
    }

    CaptureStorage storageWithLibrary()
    {
        settings_->setValue(QLatin1String(CaptureStorage::libraryKey), libraryPath_);
        return CaptureStorage(settings_, panels_);
    }

    QStringList libraryEntries() const
    {
        return QDir(libraryPath_).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    static QByteArray readAll(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir root_;
    QString libraryPath_;
    std::shared_ptr<QSettings> settings_;
    std::shared_ptr<ScriptedPanels> panels_;
};

TEST_F(CaptureStorageTest, ChosenLibraryIsRememberedAndRestoredOnlyWhileItExists)
{
    CaptureStorage storage(settings_, panels_);
    panels_->folders = {std::nullopt, libraryPath_};
    EXPECT_FALSE(storage.chooseLibrary());
    EXPECT_FALSE(storage.library());
    EXPECT_EQ(storage.chooseLibrary(), libraryPath_);
    EXPECT_EQ(storage.access(), QStringList{libraryPath_});
    EXPECT_TRUE(panels_->folderRequests[0].canCreateFolders);
    EXPECT_EQ(CaptureStorage(makeSettings(), panels_).library(), libraryPath_);

    const QString gone = root_.filePath(QStringLiteral("Unplugged"));
    settings_->setValue(QLatin1String(CaptureStorage::libraryKey), gone);
    const CaptureStorage absent(settings_, panels_);
    EXPECT_FALSE(absent.library());
    EXPECT_TRUE(absent.access().isEmpty());
    EXPECT_EQ(settings_->value(QLatin1String(CaptureStorage::libraryKey)).toString(), gone);
}

TEST_F(CaptureStorageTest, CreatesTheProjectFolderLayout)
{
    CaptureStorage storage = storageWithLibrary();
    CaptureProject p = project();
    p.artist = QStringLiteral("AC/DC");
    p.title = QStringLiteral("Live: 1979");
    p.id = QUuid::fromString(QStringLiteral("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"));

    const CaptureDocument document = storage.createProject(p, smallJpeg());
    const QString folder =
        QDir(libraryPath_).filePath(QStringLiteral("AC-DC - Live- 1979 - 0A1B2C3D.brcapture"));
    EXPECT_EQ(document.directory, folder);
    for (const char* name : {"Masters", "Artwork", "Waveforms", "Exports"}) {
        EXPECT_TRUE(QFileInfo(QDir(folder).filePath(QLatin1String(name))).isDir()) << name;
    }
    ASSERT_TRUE(document.project.artworkPath);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Artwork/[0-9A-F]{8}(-[0-9A-F]{4}){3}-"
                                                  "[0-9A-F]{12}\\.png$"))
                    .match(*document.project.artworkPath)
                    .hasMatch());
    EXPECT_EQ(QImage(QDir(folder).filePath(*document.project.artworkPath), "PNG").size(),
              QSize(40, 30));

    p.artworkPath = document.project.artworkPath;
    EXPECT_EQ(document.project, p);
    EXPECT_EQ(storage.load(folder), document);

    // Names of three and four bytes per character still make a folder the file system takes.
    p = project();
    p.artist = QString(120, QChar(0x3042));
    p.title = QStringLiteral("🎸").repeated(120);
    EXPECT_TRUE(QFileInfo(storage.createProject(p).directory).isDir());
}

TEST_F(CaptureStorageTest, CreatingWithoutALibraryAsksForOneAfterValidating)
{
    CaptureStorage storage(settings_, panels_);
    CaptureProject blank = project();
    blank.title = QStringLiteral("  ");
    EXPECT_EQ(failure([&] { storage.createProject(blank); }),
              QStringLiteral("Enter an artist, album title, and at least one side."));
    EXPECT_TRUE(panels_->folderRequests.empty()) << "validation comes first";

    panels_->folders = {std::nullopt, libraryPath_};
    EXPECT_EQ(failure([&] { storage.createProject(project()); }), noLibrary);
    EXPECT_TRUE(libraryEntries().isEmpty());
    const CaptureDocument document = storage.createProject(project());
    EXPECT_EQ(storage.library(), libraryPath_);
    EXPECT_TRUE(QFileInfo(QDir(document.directory).filePath("project.json")).isFile());
}

TEST_F(CaptureStorageTest, CreateNeverMergesIntoAFolderAndRemovesItsOwnAfterAFailure)
{
    CaptureStorage storage = storageWithLibrary();
    EXPECT_EQ(failure([&] { storage.createProject(project(), QByteArray("not an image")); }),
              coverRefused);
    CaptureProject undated = project();
    undated.createdAt = QDateTime();
    EXPECT_FALSE(failure([&] { storage.createProject(undated); }).isEmpty());
    EXPECT_TRUE(libraryEntries().isEmpty());

    const CaptureProject p = project();
    const QString folder = QDir(libraryPath_).filePath(projectFolderName(p.artist, p.title, p.id));
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_TRUE(failure([&] { storage.createProject(p); }).contains(QStringLiteral("exists")));
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_FALSE(QFileInfo(QDir(folder).filePath("project.json")).exists());
}

TEST_F(CaptureStorageTest, ResolveRefusesAbsoluteAndParentReferences)
{
    CaptureStorage storage = storageWithLibrary();
    const CaptureDocument document = storage.createProject(project());
    for (const QString& path :
         {QString("/etc/passwd"), QString("Masters/../project.json"), QString(".."),
          QString("Masters/.."), QString("a//../b"), QString::fromUtf16(u"Masters/a\0b", 11)}) {
        EXPECT_EQ(failure([&] { CaptureStorage::resolve(document, path); }), invalidReference)
            << path.toStdString();
    }
    // "..." and "..x" are ordinary names.
    EXPECT_EQ(CaptureStorage::resolve(document, QStringLiteral("Masters/...")),
              QDir(document.directory).filePath("Masters/..."));
    // Missing files resolve; redundant separators and "." are standardized away.
    EXPECT_EQ(CaptureStorage::resolve(document, QStringLiteral("Masters//./take.caf")),
              QDir(document.directory).filePath("Masters/take.caf"));
    EXPECT_EQ(failure([&] { CaptureStorage::resolve(document, QString()); }), outsideFolder);
}

TEST_F(CaptureStorageTest, ResolveFollowsLinksAndRefusesThoseLeadingOut)
{
    CaptureStorage storage = storageWithLibrary();
    const CaptureDocument document = storage.createProject(project());
    const QDir folder(document.directory);
    const QString elsewhere = root_.filePath(QStringLiteral("OtherDisk"));
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    ASSERT_TRUE(QDir(folder.filePath(QStringLiteral("Masters"))).removeRecursively());

    // Link target, link name, a path through the link, and what it resolves to (empty: refused).
    const struct
    {
        QString target, link, path, resolved;
    } rows[] = {
        {elsewhere, "Masters", "Masters/a.caf", {}},               // a linked Masters folder
        {root_.filePath("nowhere/x"), "dangling", "dangling", {}}, // dangling, leading out
        {"Artwork", "Covers", "Covers/c.png", folder.filePath("Artwork/c.png")}, // stays inside
        {"../../OtherDisk", "Up", "Up/x", {}}, // climbs out through ".." after resolution
        {"loop", "loop", "loop/x", {}},        // cannot be resolved: refused instead of spinning
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(QFile::link(row.target, folder.filePath(row.link))) << row.link.toStdString();
        if (row.resolved.isEmpty()) {
            EXPECT_EQ(failure([&] { CaptureStorage::resolve(document, row.path); }), outsideFolder)
                << row.path.toStdString();
        } else {
            EXPECT_EQ(CaptureStorage::resolve(document, row.path), row.resolved);
        }
    }
}

TEST_F(CaptureStorageTest, ResolveWorksThroughALinkedLibrary)
{
    // The project folder itself may sit behind a link; containment is judged after resolving.
    const QString alias = root_.filePath(QStringLiteral("Alias"));
    ASSERT_TRUE(QFile::link(libraryPath_, alias));
    settings_->setValue(QLatin1String(CaptureStorage::libraryKey), alias);
    CaptureStorage storage(settings_, panels_);
    const CaptureDocument document = storage.createProject(project());
    EXPECT_TRUE(document.directory.startsWith(alias));
    EXPECT_EQ(CaptureStorage::resolve(document, QStringLiteral("Masters/a.caf")),
              QDir(libraryPath_).filePath(QDir(document.directory).dirName() + "/Masters/a.caf"));
}

TEST_F(CaptureStorageTest, LoadChecksEveryReferenceButNotThatFilesExist)
{
    CaptureStorage storage = storageWithLibrary();
    CaptureDocument document = storage.createProject(project());
    document.project.sides[0].master = master(1000);
    storage.save(document);
    EXPECT_EQ(storage.load(document.directory), document); // the master file is missing

    const auto loadWith = [&](const std::function<void(CaptureProject&)>& change) {
        CaptureProject p = document.project;
        change(p);
        QFile file(QDir(document.directory).filePath("project.json"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(encodeManifest(p));
        file.close();
        return failure([&] { storage.load(document.directory); });
    };
    EXPECT_EQ(loadWith([](CaptureProject& p) {
                  p.sides[0].master->path = QStringLiteral("Masters/../../x.caf");
              }),
              invalidReference);
    EXPECT_EQ(loadWith([](CaptureProject& p) { p.artworkPath = QStringLiteral("/tmp/a.png"); }),
              invalidReference);
    EXPECT_EQ(loadWith([](CaptureProject& p) { p.schemaVersion = 2; }),
              QStringLiteral("This project needs a newer version of Capture."));

    ASSERT_TRUE(QFile::link(root_.path(), QDir(document.directory).filePath("Outside")));
    EXPECT_EQ(loadWith([](CaptureProject& p) { p.artworkPath = QStringLiteral("Outside/a.png"); }),
              outsideFolder);

    QFile::remove(QDir(document.directory).filePath("project.json"));
    EXPECT_TRUE(failure([&] {
                    storage.load(document.directory);
                }).startsWith(QStringLiteral("“project.json” could not be read: ")));

    // A FIFO in place of the manifest must not hold the caller until someone writes to it.
    const QByteArray fifo = QFile::encodeName(QDir(document.directory).filePath("project.json"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    auto loading = std::async(std::launch::async,
                              [&] { return failure([&] { storage.load(document.directory); }); });
    if (loading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "load blocked on a FIFO";
        ::close(::open(fifo.constData(), O_WRONLY | O_NONBLOCK)); // releases the reader
    }
    EXPECT_EQ(loading.get(),
              QStringLiteral("“project.json” could not be read: it is not a regular file."));
}

TEST_F(CaptureStorageTest, SaveReplacesTheManifestWhole)
{
    CaptureStorage storage = storageWithLibrary();
    CaptureDocument document = storage.createProject(project());
    const QString manifest = QDir(document.directory).filePath("project.json");
    const QByteArray before = readAll(manifest);

    CaptureDocument changed = document;
    changed.project.title = QStringLiteral("Changed");
    QByteArray seenInTemporary;
    storage.setBeforeReplaceHook([&](const QString& temporary) {
        EXPECT_TRUE(QFileInfo(temporary).fileName().startsWith(QLatin1Char('.')));
        EXPECT_EQ(QFileInfo(temporary).absolutePath(), document.directory);
        seenInTemporary = readAll(temporary);
        EXPECT_EQ(readAll(manifest), before); // not replaced yet
        throw CaptureError(QStringLiteral("interrupted"));
    });
    EXPECT_EQ(failure([&] { storage.save(changed); }), QStringLiteral("interrupted"));
    EXPECT_EQ(seenInTemporary, encodeManifest(changed.project));
    EXPECT_EQ(readAll(manifest), before);
    EXPECT_EQ(storage.load(document.directory), document);
    EXPECT_EQ(QDir(document.directory).entryList(QDir::Files | QDir::Hidden),
              QStringList{"project.json"});

    storage.setBeforeReplaceHook({});
    storage.save(changed);
    EXPECT_EQ(storage.load(document.directory), changed);

    // An invalid project is never written.
    CaptureDocument invalid = changed;
    invalid.project.sides.clear();
    EXPECT_FALSE(failure([&] { storage.save(invalid); }).isEmpty());
    EXPECT_EQ(storage.load(document.directory), changed);

    changed.directory = root_.filePath(QStringLiteral("Missing.brcapture"));
    EXPECT_TRUE(failure([&] {
                    storage.save(changed);
                }).startsWith(QStringLiteral("“project.json” could not be saved: ")));
}

TEST_F(CaptureStorageTest, SaveArtworkWritesAFreshFileButNeverThroughALinkOut)
{
    CaptureStorage storage = storageWithLibrary();
    const CaptureDocument document = storage.createProject(project());
    const QString first = storage.saveArtwork(smallJpeg(), document);
    EXPECT_NE(storage.saveArtwork(smallJpeg(), document), first);
    EXPECT_TRUE(QFileInfo(QDir(document.directory).filePath(first)).isFile());

    const QString elsewhere = root_.filePath(QStringLiteral("Elsewhere"));
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    ASSERT_TRUE(QDir(QDir(document.directory).filePath("Artwork")).removeRecursively());
    ASSERT_TRUE(QFile::link(elsewhere, QDir(document.directory).filePath("Artwork")));
    EXPECT_EQ(failure([&] { storage.saveArtwork(smallJpeg(), document); }), outsideFolder);
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
}

TEST_F(CaptureStorageTest, NormalizesCoversToPngWithinTheSizeLimits)
{
    QImage decoded;
    ASSERT_TRUE(decoded.loadFromData(CaptureStorage::normalizeArtwork(smallJpeg()), "PNG"));
    EXPECT_EQ(decoded.size(), QSize(40, 30));

    QImage edge(8192, 1, QImage::Format_RGB32);
    edge.fill(Qt::white);
    EXPECT_NO_THROW(CaptureStorage::normalizeArtwork(encodedImage(edge, "PNG")));
    QImage tooWide(8193, 1, QImage::Format_RGB32);
    tooWide.fill(Qt::white);
    for (const QByteArray& refused : {encodedImage(tooWide, "PNG"), QByteArray(12'000'001, '\0'),
                                      QByteArray(), QByteArray("GIF89a garbage")}) {
        EXPECT_EQ(failure([&] { CaptureStorage::normalizeArtwork(refused); }), coverRefused);
    }
}

TEST_F(CaptureStorageTest, RefusesHugeDeclaredSizesBeforeAllocatingThem)
{
    // Both headers are tiny; the first declares 40 gigabytes of pixels, the second 216 MB,
    // which would fit under the decoder's own allocation limit.
    for (const auto& [width, height] : {std::pair{100000u, 100000u}, std::pair{9000u, 6000u}}) {
        const QByteArray bomb = pngDeclaring(width, height);
        ASSERT_LT(bomb.size(), 100);
        QBuffer buffer;
        buffer.setData(bomb);
        ASSERT_EQ(QImageReader(&buffer).size(), QSize(int(width), int(height)));
        EXPECT_EQ(failure([&] { CaptureStorage::normalizeArtwork(bomb); }), coverRefused);
    }
}

TEST_F(CaptureStorageTest, PickersRecordAccessAndReadTheChosenCover)
{
    CaptureStorage storage = storageWithLibrary();
    const CaptureDocument created = storage.createProject(project());
    panels_->folders = {std::nullopt, created.directory, root_.filePath(QStringLiteral("Exports"))};
    EXPECT_FALSE(storage.openProject());
    EXPECT_EQ(storage.openProject(), created);
    EXPECT_EQ(panels_->folderRequests[1].startDirectory, libraryPath_);
    EXPECT_EQ(storage.chooseExportDestination(), root_.filePath(QStringLiteral("Exports")));
    EXPECT_EQ(storage.access(), (QStringList{libraryPath_, created.directory,
                                             root_.filePath(QStringLiteral("Exports"))}));

    const QString image = root_.filePath(QStringLiteral("cover.jpg"));
    QFile file(image);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(smallJpeg());
    file.close();
    panels_->images = {image, root_.filePath(QStringLiteral("gone.jpg"))};
    EXPECT_EQ(storage.chooseArtwork(), CaptureStorage::normalizeArtwork(smallJpeg()));
    EXPECT_TRUE(failure([&] {
                    storage.chooseArtwork();
                }).startsWith(QStringLiteral("“gone.jpg” could not be read: ")));
    EXPECT_EQ(storage.access().size(), 3); // picked images are not kept open
    storage.releaseAllAccess();
    EXPECT_TRUE(storage.access().isEmpty());

    CaptureStorage withoutPanels(settings_, nullptr);
    EXPECT_FALSE(withoutPanels.openProject());
    EXPECT_FALSE(withoutPanels.chooseArtwork());
}

} // namespace
} // namespace brevalo
