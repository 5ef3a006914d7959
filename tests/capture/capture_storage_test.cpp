#include "capture/capture_storage.h"

#include "capture/capture_manifest.h"
#include "capture/project_fixtures.h"
#include "capture/safe_file_name.h"
#include "capture/scripted_panels.h"

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

using testing::failure;
using testing::master;
using testing::project;

const QString invalidReference = QStringLiteral("The project contains an invalid file reference.");
const QString outsideFolder = QStringLiteral("A project file points outside its folder.");
const QString coverRefused =
    QStringLiteral("Choose a PNG or JPEG cover image up to 12 MB and 8192 pixels.");

QByteArray encodedImage(QSize size, const char* format)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QByteArray smallJpeg()
{
    return encodedImage({40, 30}, "JPEG");
}

// A small JPEG whose frame header declares the given size: a few hundred bytes standing for a
// huge bitmap.
QByteArray jpegDeclaring(quint16 width, quint16 height)
{
    QByteArray bytes = smallJpeg();
    const qsizetype frame = bytes.indexOf(QByteArray("\xFF\xC0", 2));
    qToBigEndian(height, bytes.data() + frame + 5);
    qToBigEndian(width, bytes.data() + frame + 7);
    return bytes;
}

class CaptureStorageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root_.isValid());
        ASSERT_TRUE(QDir().mkpath(libraryPath_));
    }

    std::shared_ptr<QSettings> makeSettings() const
    {
        return std::make_shared<QSettings>(root_.filePath(QStringLiteral("settings.ini")),
                                           QSettings::IniFormat);
    }

    CaptureStorage storageWithLibrary(const QString& library)
    {
        settings_->setValue(QLatin1String(CaptureStorage::libraryKey), library);
        return CaptureStorage(settings_, panels_);
    }

    bool libraryIsEmpty() const
    {
        return QDir(libraryPath_).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    static QByteArray readAll(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static void write(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    QTemporaryDir root_;
    QString libraryPath_ = root_.filePath(QStringLiteral("Library"));
    std::shared_ptr<QSettings> settings_ = makeSettings();
    std::shared_ptr<ScriptedPanels> panels_ = std::make_shared<ScriptedPanels>();
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
    const CaptureStorage absent = storageWithLibrary(gone);
    EXPECT_FALSE(absent.library());
    EXPECT_TRUE(absent.access().isEmpty());
    EXPECT_EQ(settings_->value(QLatin1String(CaptureStorage::libraryKey)).toString(), gone);
}

TEST_F(CaptureStorageTest, CreatesTheProjectFolderLayout)
{
    CaptureStorage storage = storageWithLibrary(libraryPath_);
    CaptureProject p = project();
    const CaptureDocument document = storage.createProject(p, smallJpeg());
    const QDir folder(document.directory);
    EXPECT_EQ(folder.path(),
              QDir(libraryPath_).filePath(projectFolderName(p.artist, p.title, p.id)));
    for (const char* name : {"Masters", "Artwork", "Waveforms", "Exports"}) {
        EXPECT_TRUE(QFileInfo(folder.filePath(QLatin1String(name))).isDir()) << name;
    }
    ASSERT_TRUE(document.project.artworkPath);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Artwork/[0-9A-F]{8}(-[0-9A-F]{4}){3}-"
                                                  "[0-9A-F]{12}\\.png$"))
                    .match(*document.project.artworkPath)
                    .hasMatch());
    EXPECT_EQ(QImage(folder.filePath(*document.project.artworkPath), "PNG").size(), QSize(40, 30));
    const QString another = storage.saveArtwork(smallJpeg(), document);
    EXPECT_NE(another, *document.project.artworkPath) << "each cover gets a fresh file";
    EXPECT_TRUE(QFileInfo(folder.filePath(another)).isFile());
    p.artworkPath = document.project.artworkPath;
    EXPECT_EQ(document.project, p);
    EXPECT_EQ(storage.load(folder.path()), document);

    // Names of three and four bytes per character still make a folder the file system takes.
    p = project();
    p.artist = QString(120, QChar(0x3042));
    p.title = QStringLiteral("🎸").repeated(120);
    EXPECT_TRUE(QFileInfo(storage.createProject(p).directory).isDir());
}

TEST_F(CaptureStorageTest, CreateAsksForALibraryAfterValidatingAndNeverLeavesAHalfProject)
{
    CaptureStorage storage(settings_, panels_);
    CaptureProject blank = project();
    blank.title = QStringLiteral("  ");
    EXPECT_EQ(failure([&] { storage.createProject(blank); }),
              QStringLiteral("Enter an artist, album title, and at least one side."));
    EXPECT_TRUE(panels_->folderRequests.empty()) << "validation comes first";
    panels_->folders = {std::nullopt, libraryPath_};
    EXPECT_EQ(failure([&] { storage.createProject(project()); }),
              QStringLiteral("Choose a project storage folder before creating a capture."));

    // Failures after the folder was made remove it again.
    EXPECT_EQ(failure([&] { storage.createProject(project(), QByteArray("not an image")); }),
              coverRefused);
    EXPECT_EQ(storage.library(), libraryPath_);
    CaptureProject undated = project();
    undated.createdAt = QDateTime();
    EXPECT_FALSE(failure([&] { storage.createProject(undated); }).isEmpty());
    EXPECT_TRUE(libraryIsEmpty());

    // An existing folder is never merged into.
    const CaptureProject p = project();
    const QString folder = QDir(libraryPath_).filePath(projectFolderName(p.artist, p.title, p.id));
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_TRUE(failure([&] { storage.createProject(p); }).contains(QStringLiteral("exists")));
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_FALSE(QFileInfo(QDir(folder).filePath("project.json")).exists());
}

TEST_F(CaptureStorageTest, ResolveKeepsEveryReferenceInsideTheProjectFolder)
{
    // The library itself sits behind a link; containment is judged after resolving.
    const QString alias = root_.filePath(QStringLiteral("Alias"));
    ASSERT_TRUE(QFile::link(libraryPath_, alias));
    const CaptureDocument document = storageWithLibrary(alias).createProject(project());
    ASSERT_TRUE(document.directory.startsWith(alias));
    const QDir folder(QDir(libraryPath_).filePath(QDir(document.directory).dirName()));
    const QString elsewhere = root_.filePath(QStringLiteral("OtherDisk"));
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    ASSERT_TRUE(QDir(folder.filePath(QStringLiteral("Masters"))).removeRecursively());
    const std::pair<QString, QString> links[] = {{elsewhere, "Masters"},
                                                 {root_.filePath("nowhere/x"), "dangling"},
                                                 {"Artwork", "Covers"},
                                                 {"../../OtherDisk", "Up"},
                                                 {"loop", "loop"}};
    for (const auto& [target, name] : links) {
        ASSERT_TRUE(QFile::link(target, folder.filePath(name))) << name.toStdString();
    }

    // What each reference resolves to, or why it is refused.
    const std::pair<QString, QString> rows[] = {
        {"Artwork//./a.png", folder.filePath("Artwork/a.png")}, // need not exist
        {"Artwork/...", folder.filePath("Artwork/...")},        // an ordinary name
        {"Covers/c.png", folder.filePath("Artwork/c.png")},     // a link staying inside
        {"/etc/passwd", invalidReference},
        {"Masters/../project.json", invalidReference},
        {"..", invalidReference},
        {"Masters/..", invalidReference},
        {"a//../b", invalidReference},
        {QString::fromUtf16(u"Masters/a\0b", 11), invalidReference},
        {"", outsideFolder},
        {"Masters/a.caf", outsideFolder}, // a linked Masters folder
        {"dangling", outsideFolder},      // dangling, leading out
        {"Up/x", outsideFolder},          // climbs out through ".." after resolution
        {"loop/x", outsideFolder},        // cannot be resolved: refused instead of spinning
    };
    for (const auto& [path, expected] : rows) {
        QString resolved;
        const QString error = failure([&] { resolved = CaptureStorage::resolve(document, path); });
        EXPECT_EQ(error.isEmpty() ? resolved : error, expected) << path.toStdString();
    }

    // A cover is never written through a link leading out.
    ASSERT_TRUE(QDir(folder.filePath("Artwork")).removeRecursively());
    ASSERT_TRUE(QFile::link(elsewhere, folder.filePath("Artwork")));
    EXPECT_EQ(failure([&] { storageWithLibrary(alias).saveArtwork(smallJpeg(), document); }),
              outsideFolder);
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
}

TEST_F(CaptureStorageTest, LoadChecksEveryReferenceButNotThatFilesExist)
{
    CaptureStorage storage = storageWithLibrary(libraryPath_);
    CaptureDocument document = storage.createProject(project());
    document.project.sides[0].master = master(1000);
    storage.save(document);
    EXPECT_EQ(storage.load(document.directory), document); // the master file is missing

    const QString manifest = QDir(document.directory).filePath("project.json");
    ASSERT_TRUE(QFile::link(root_.path(), QDir(document.directory).filePath("Outside")));
    const std::pair<std::function<void(CaptureProject&)>, QString> rows[] = {
        {[](CaptureProject& p) { p.sides[0].master->path = "Masters/../../x.caf"; },
         invalidReference},
        {[](CaptureProject& p) { p.artworkPath = "/tmp/a.png"; }, invalidReference},
        {[](CaptureProject& p) { p.artworkPath = "Outside/a.png"; }, outsideFolder},
        {[](CaptureProject& p) { p.schemaVersion = 2; },
         QStringLiteral("This project needs a newer version of Capture.")},
    };
    for (const auto& [change, message] : rows) {
        CaptureProject p = document.project;
        change(p);
        write(manifest, encodeManifest(p));
        EXPECT_EQ(failure([&] { storage.load(document.directory); }), message);
    }

    QFile::remove(manifest);
    EXPECT_TRUE(failure([&] {
                    storage.load(document.directory);
                }).startsWith(QStringLiteral("“project.json” could not be read: ")));

    // A FIFO in place of the manifest must not hold the caller until someone writes to it.
    const QByteArray fifo = QFile::encodeName(manifest);
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
    CaptureStorage storage = storageWithLibrary(libraryPath_);
    const CaptureDocument document = storage.createProject(project());
    const QString manifest = QDir(document.directory).filePath("project.json");
    const QByteArray before = readAll(manifest);

    // Interrupted between writing the new manifest and putting it in place.
    CaptureDocument changed = document;
    changed.project.title = QStringLiteral("Changed");
    QByteArray seenInTemporary;
    storage.setBeforeReplaceHook([&](const QString& temporary) {
        EXPECT_TRUE(QFileInfo(temporary).fileName().startsWith(QLatin1Char('.')));
        EXPECT_EQ(QFileInfo(temporary).absolutePath(), document.directory);
        seenInTemporary = readAll(temporary);
        EXPECT_EQ(readAll(manifest), before);
        throw CaptureError(QStringLiteral("interrupted"));
    });
    EXPECT_EQ(failure([&] { storage.save(changed); }), QStringLiteral("interrupted"));
    EXPECT_EQ(seenInTemporary, encodeManifest(changed.project));
    EXPECT_EQ(readAll(manifest), before);
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

TEST_F(CaptureStorageTest, NormalizesCoversToPngWithinTheSizeLimits)
{
    QImage decoded;
    ASSERT_TRUE(decoded.loadFromData(CaptureStorage::normalizeArtwork(smallJpeg()), "PNG"));
    EXPECT_EQ(decoded.size(), QSize(40, 30));
    EXPECT_NO_THROW(CaptureStorage::normalizeArtwork(encodedImage({8192, 1}, "PNG")));

    // Headers declaring 14 gigabytes of pixels, and 216 MB, which would fit under the decoder's
    // own allocation limit.
    const QByteArray bombs[] = {jpegDeclaring(60'000, 60'000), jpegDeclaring(9000, 6000)};
    for (const QByteArray& bomb : bombs) {
        QBuffer buffer;
        buffer.setData(bomb);
        ASSERT_GE(QImageReader(&buffer).size().width(), 9000) << "a header read as declared";
    }
    for (const QByteArray& refused :
         {encodedImage({8193, 1}, "PNG"), bombs[0], bombs[1], QByteArray(12'000'001, '\0'),
          QByteArray(), QByteArray("GIF89a garbage")}) {
        EXPECT_EQ(failure([&] { CaptureStorage::normalizeArtwork(refused); }), coverRefused);
    }
}

TEST_F(CaptureStorageTest, PickersRecordAccessAndReadTheChosenCover)
{
    CaptureStorage storage = storageWithLibrary(libraryPath_);
    const CaptureDocument created = storage.createProject(project());
    const QString exports = root_.filePath(QStringLiteral("Exports"));
    panels_->folders = {std::nullopt, created.directory, exports};
    EXPECT_FALSE(storage.openProject());
    EXPECT_EQ(storage.openProject(), created);
    EXPECT_EQ(panels_->folderRequests[1].startDirectory, libraryPath_);
    EXPECT_EQ(storage.chooseExportDestination(), exports);
    EXPECT_EQ(storage.access(), (QStringList{libraryPath_, created.directory, exports}));

    write(root_.filePath(QStringLiteral("cover.jpg")), smallJpeg());
    panels_->images = {root_.filePath(QStringLiteral("cover.jpg")),
                       root_.filePath(QStringLiteral("gone.jpg"))};
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
