#include "export/track_export.h"

#include "capture/capture_storage.h"
#include "export/export_fixtures.h"
#include "platform/errors.h"

#include <QTemporaryDir>

#include <map>

namespace brevalo {
namespace {

using namespace brevalo::testing;

class TrackExportTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        QDir(root.path()).mkpath(QStringLiteral("Project/Masters"));
        QDir(root.path()).mkpath(QStringLiteral("Out"));
        document.directory = root.path() + QStringLiteral("/Project");
        destination = root.path() + QStringLiteral("/Out");
        document.project.id = QUuid::createUuid();
        document.project.artist = QStringLiteral("The Artist");
        document.project.title = QStringLiteral("The Album");
    }

    // A side whose tracks are 1000 frames apart, with a master of that many frames plus 500.
    CaptureSide& addSide(qint64 record, int tracks, int bits = 16, int rate = 44100)
    {
        CaptureSide side;
        side.id = QUuid::createUuid();
        side.record = record;
        side.label = QString(QChar(char16_t(u'A' + document.project.sides.size())));
        for (int i = 1; i <= tracks; ++i) {
            side.tracks.append({QUuid::createUuid(), {}, QStringLiteral("Song %1").arg(i), {}});
            if (i > 1) {
                side.markers.append((i - 1) * 1000);
            }
        }
        CaptureMaster master;
        master.path = QStringLiteral("Masters/") + side.label + QStringLiteral(".caf");
        master.sampleRate = rate;
        master.bitDepth = bits;
        master.frameCount = tracks * 1000 + 500;
        master.isComplete = true;
        side.master = master;
        samples[side.id] = writeMaster(masterPath(side), bits, rate, master.frameCount);
        document.project.sides.append(side);
        return document.project.sides.last();
    }

    QString masterPath(const CaptureSide& side) const
    {
        return document.directory + QLatin1Char('/') + side.master->path;
    }

    CaptureExportResult run(std::optional<QUuid> side = {}, const ExportOptions& options = {})
    {
        return exportSides(document, destination, side, options);
    }

    QTemporaryDir root;
    CaptureDocument document;
    QString destination;
    std::map<QUuid, std::vector<std::int32_t>> samples;
};

TEST_F(TrackExportTest, DecodedTracksEqualTheMasterRegionsAtNativeWidth)
{
    for (const auto& [bits, rate] : {std::pair{16, 44100}, {24, 96000}, {32, 192000}}) {
        SCOPED_TRACE(bits);
        document.project.sides.clear();
        // The last region spans two read chunks.
        CaptureSide& side = addSide(1, 3, bits, rate);
        side.master->frameCount = 30000;
        samples[side.id] = writeMaster(masterPath(side), bits, rate, 30000);
        side.markers = {9001, 18500};
        side.trimStartFrame = 37;
        side.trimEndFrame = 29990;
        QFile masterFile(masterPath(side));
        masterFile.open(QIODevice::ReadOnly);
        const QByteArray masterBytes = masterFile.readAll();
        masterFile.close();

        const auto result = run();
        ASSERT_EQ(result.trackCount, 3);
        const QStringList files = entries(result.directory);
        ASSERT_EQ(files.size(), 3);
        const qint64 bounds[] = {37, 9001, 18500, 29990};
        for (int i = 0; i < 3; ++i) {
            const auto track = decodeFlac(result.directory + QLatin1Char('/') + files.at(i));
            EXPECT_EQ(track.info.sample_rate, static_cast<unsigned>(rate));
            EXPECT_EQ(track.info.bits_per_sample, static_cast<unsigned>(bits));
            EXPECT_EQ(track.info.channels, 2u);
            EXPECT_EQ(track.info.total_samples,
                      static_cast<FLAC__uint64>(bounds[i + 1] - bounds[i]));
            const auto& master = samples[side.id];
            EXPECT_TRUE(std::equal(track.samples.begin(), track.samples.end(),
                                   master.begin() + bounds[i] * 2,
                                   master.begin() + bounds[i + 1] * 2));
            EXPECT_EQ(track.samples.size(), static_cast<size_t>(bounds[i + 1] - bounds[i]) * 2);
        }
        masterFile.open(QIODevice::ReadOnly);
        EXPECT_EQ(masterFile.readAll(), masterBytes);
    }
}

TEST_F(TrackExportTest, NumbersTracksOverAllSidesOfTheirRecord)
{
    addSide(1, 3);
    const QUuid sideB = addSide(1, 4).id;
    addSide(2, 5);
    // Name prefix, TRACKNUMBER, TRACKTOTAL and DISCNUMBER of every file, in name order.
    QStringList expected;
    for (int i = 1; i <= 7; ++i) {
        expected << QStringLiteral("01-%1 %2 7 1").arg(i, 2, 10, QLatin1Char('0')).arg(i);
    }
    for (int i = 1; i <= 5; ++i) {
        expected << QStringLiteral("02-%1 %2 5 2").arg(i, 2, 10, QLatin1Char('0')).arg(i);
    }
    const auto numbering = [](const QString& folder) {
        QStringList found;
        for (const auto& name : entries(folder)) {
            const auto comments = decodeFlac(folder + QLatin1Char('/') + name).comments;
            EXPECT_EQ(comments.at(7), QStringLiteral("DISCTOTAL=2"));
            found << name.left(5) + QLatin1Char(' ') + comments.at(4).mid(12) + QLatin1Char(' ') +
                         comments.at(5).mid(11) + QLatin1Char(' ') + comments.at(6).mid(11);
        }
        return found;
    };
    std::vector<ExportProgress> reports;
    const auto all = run({}, {{}, [&](const ExportProgress& p) { reports.push_back(p); }, {}});
    EXPECT_EQ(all.trackCount, 12);
    EXPECT_EQ(numbering(all.directory), expected);
    EXPECT_EQ(reports.front(), (ExportProgress{0, 12, 0, 13500}));
    EXPECT_EQ(reports.back(), (ExportProgress{12, 12, 13500, 13500}));
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end(), [](auto& a, auto& b) {
        return a.framesDone < b.framesDone || a.tracksDone < b.tracksDone;
    }));

    const auto onlyB = run(sideB);
    EXPECT_EQ(numbering(onlyB.directory), expected.mid(3, 4));
    EXPECT_TRUE(QFileInfo(onlyB.directory)
                    .fileName()
                    .startsWith(QStringLiteral("The Artist - The Album - ")));
}

TEST_F(TrackExportTest, TagsAndFileNamesFollowTheProject)
{
    struct Case
    {
        QString albumArtist, trackArtist, title, date;
        QStringList genres;
        std::optional<qint64> release;
        CaptureSource source;
        QString file;
        QStringList comments;
    };
    const QStringList numbering{QStringLiteral("TRACKNUMBER=1"), QStringLiteral("TRACKTOTAL=1"),
                                QStringLiteral("DISCNUMBER=1"), QStringLiteral("DISCTOTAL=1")};
    const Case cases[] = {
        {{},
         {},
         QStringLiteral("AC/DC: Live"),
         {},
         {},
         {},
         CaptureSource::vinyl,
         QStringLiteral("01 - AC-DC- Live.flac"),
         QStringList{QStringLiteral("TITLE=AC/DC: Live"), QStringLiteral("ARTIST=The Artist"),
                     QStringLiteral("ALBUM=The Album"), QStringLiteral("ALBUMARTIST=The Artist")} +
             numbering + QStringList{QStringLiteral("TAGS=vinyl-rip")}},
        {QStringLiteral("Various"),
         QStringLiteral("Guest"),
         QStringLiteral(".."),
         QStringLiteral("1977"),
         {QStringLiteral("Rock"), {}, QStringLiteral("Pop")},
         249504,
         CaptureSource::reelToReel,
         QStringLiteral("01 - Untitled.flac"),
         QStringList{QStringLiteral("TITLE=.."), QStringLiteral("ARTIST=Guest"),
                     QStringLiteral("ALBUM=The Album"), QStringLiteral("ALBUMARTIST=Various")} +
             numbering +
             QStringList{QStringLiteral("TAGS=r2r-rip"), QStringLiteral("DATE=1977"),
                         QStringLiteral("GENRE=Rock"), QStringLiteral("GENRE=Pop"),
                         QStringLiteral("DISCOGS_RELEASE_ID=249504")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        document.project.sides.clear();
        CaptureSide& side = addSide(1, 1);
        side.tracks[0].artist = c.trackArtist;
        side.tracks[0].title = c.title;
        document.project.albumArtist = c.albumArtist;
        document.project.date = c.date;
        document.project.genres = c.genres;
        document.project.discogsReleaseID = c.release;
        document.project.source = c.source;
        const auto result = run();
        ASSERT_EQ(entries(result.directory), QStringList{c.file});
        EXPECT_EQ(decodeFlac(result.directory + QLatin1Char('/') + c.file).comments, c.comments);
    }
}

TEST_F(TrackExportTest, EmbedsTheStoredCoverUpToItsLimit)
{
    addSide(1, 1);
    QDir(document.directory).mkdir(QStringLiteral("Artwork"));
    document.project.artworkPath = QStringLiteral("Artwork/cover.png");
    const QString coverPath = document.directory + QStringLiteral("/Artwork/cover.png");
    const QByteArray png = pngBytes(3, 2);
    // Bytes after the image's end do not stop a reader from taking its size.
    const auto padded = [&](qint64 size) { return png + QByteArray(size - png.size(), '\0'); };
    const struct
    {
        QByteArray bytes;
        bool embedded;
    } cases[] = {{png, true},
                 {padded(15'999'999), true},
                 {padded(16'000'000), false},
                 {QByteArray("not an image"), false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.size());
        QFile file(coverPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.bytes);
        file.close();
        if (!c.embedded) {
            try {
                run();
                ADD_FAILURE() << "exported";
            } catch (const CaptureError& error) {
                EXPECT_EQ(error.message(),
                          QStringLiteral("The stored cover image couldn't be read."));
            }
            EXPECT_TRUE(entries(destination).isEmpty());
            continue;
        }
        const auto result = run();
        const auto track = decodeFlac(result.directory + QStringLiteral("/01 - Song 1.flac"));
        EXPECT_EQ(track.blocks,
                  (std::vector{FLAC__METADATA_TYPE_STREAMINFO, FLAC__METADATA_TYPE_VORBIS_COMMENT,
                               FLAC__METADATA_TYPE_PICTURE}));
        EXPECT_EQ(track.picture.type, FLAC__STREAM_METADATA_PICTURE_TYPE_FRONT_COVER);
        EXPECT_EQ(track.pictureMime, QByteArray("image/png"));
        EXPECT_EQ(std::tuple(track.picture.width, track.picture.height, track.picture.depth,
                             track.picture.colors),
                  std::tuple(3u, 2u, 32u, 0u));
        EXPECT_TRUE(track.pictureData == c.bytes);
        QDir(result.directory).removeRecursively();
    }
}

TEST_F(TrackExportTest, FailuresAndCancellationLeaveNothingBehind)
{
    const QString notReady = QStringLiteral(
        "Every selected side needs a completed master and exactly one region per expected track.");
    const QString differs = QStringLiteral(
        "The stored master differs from its saved native format or duration. Export stopped.");
    const QUuid fixed = QUuid::fromString(QStringLiteral("12345678-9abc-def0-1234-56789abcdef0"));
    const QString album = QStringLiteral("The Artist - The Album - 12345678");
    struct Case
    {
        const char* name;
        std::function<void(TrackExportTest&, std::stop_source&)> arrange;
        QString error;
        QStringList left = {};
    };
    const Case cases[] = {
        {"master shorter than the last region",
         [](auto& t, auto&) {
             const auto& side = t.document.project.sides.last();
             writeMaster(t.masterPath(side), 16, 44100, side.master->frameCount - 1);
         },
         differs},
        {"master file missing",
         [](auto& t, auto&) { QFile::remove(t.masterPath(t.document.project.sides.last())); },
         QStringLiteral("The master recording is missing.")},
        {"bit depth differs from the file",
         [](auto& t, auto&) { t.document.project.sides.last().master->bitDepth = 24; }, differs},
        {"incomplete master",
         [](auto& t, auto&) { t.document.project.sides[0].master->isComplete = false; }, notReady},
        {"fails validation", [](auto& t, auto&) { t.document.project.artist.clear(); },
         QStringLiteral("Enter an artist, album title, and at least one side.")},
        {"destination missing", [](auto& t, auto&) { t.destination += QStringLiteral("/missing"); },
         QStringLiteral("The folder “.capture-export-12345678-9ABC-DEF0-1234-56789ABCDEF0” could "
                        "not be created: No such file or directory.")},
        {"empty album folder exists",
         [album](auto& t, auto&) { QDir(t.destination).mkdir(album); },
         QStringLiteral("“.capture-export-12345678-9ABC-DEF0-1234-56789ABCDEF0” couldn't be "
                        "moved to “Out” because an item with the same name already exists."),
         {album}},
        {"cancelled before the first track", [](auto&, auto& stop) { stop.request_stop(); },
         QStringLiteral("The export was cancelled.")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        document = CaptureDocument{};
        SetUp();
        addSide(1, 2);
        addSide(1, 3);
        std::stop_source stop;
        c.arrange(*this, stop);
        try {
            run({}, {stop.get_token(), {}, [fixed] { return fixed; }});
            ADD_FAILURE() << "exported";
        } catch (const std::exception& error) {
            EXPECT_EQ(QString::fromUtf8(error.what()), c.error);
        }
        EXPECT_EQ(entries(root.path() + QStringLiteral("/Out")), c.left);
        for (const auto& name : c.left) {
            EXPECT_TRUE(entries(root.path() + QStringLiteral("/Out/") + name).isEmpty());
        }
        QDir(root.path() + QStringLiteral("/Out")).removeRecursively();
    }

    // Cancelled while the second side is being written, with files already in the hidden folder.
    QDir(destination).mkpath(QStringLiteral("."));
    std::stop_source stop;
    const auto cancelLater = [&](const ExportProgress& p) {
        if (p.tracksDone == 3) {
            stop.request_stop();
        }
    };
    EXPECT_THROW(run({}, {stop.get_token(), cancelLater, {}}), ExportCancelled);
    EXPECT_TRUE(entries(destination).isEmpty());
}

} // namespace
} // namespace brevalo
