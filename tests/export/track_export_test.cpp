#include "export/track_export.h"

#include "capture/capture_storage.h"
#include "export/export_fixtures.h"
#include "platform/errors.h"

#include <QtEndian>

namespace brevalo {
namespace {

using namespace brevalo::testing;

QString failure(ExportSetup& setup)
{
    try {
        setup.run();
    } catch (const std::exception& error) {
        return QString::fromUtf8(error.what());
    }
    return "exported";
}

TEST(TrackExportTest, DecodedTracksEqualTheMasterRegionsAtNativeWidth)
{
    for (const auto& [bits, rate] : {std::pair{16, 44100}, {24, 96000}, {32, 192000}}) {
        SCOPED_TRACE(bits);
        ExportSetup setup;
        CaptureSide& side = setup.addSide(1, 3, bits, rate);
        side.master->frameCount = 30000;
        const auto master = setup.samples[side.id] =
            writeMaster(setup.masterPath(side), bits, rate, 30000);
        // The trims cut both ends; the last region spans two read chunks.
        side.markers = {9001, 18500};
        side.trimStartFrame = 37;
        side.trimEndFrame = 29990;
        QFile masterFile(setup.masterPath(side));
        masterFile.open(QIODevice::ReadOnly);
        const QByteArray masterBytes = masterFile.readAll();

        const auto result = setup.run();
        const QStringList files = entries(result.directory);
        ASSERT_EQ(files.size(), 3);
        EXPECT_EQ(result.trackCount, 3);
        const qint64 bounds[] = {37, 9001, 18500, 29990};
        for (int i = 0; i < 3; ++i) {
            const auto track = decodeFlac(result.directory + '/' + files.at(i));
            EXPECT_EQ(std::tuple(track.info.sample_rate, track.info.bits_per_sample,
                                 track.info.channels, track.info.total_samples),
                      std::tuple(unsigned(rate), unsigned(bits), 2u,
                                 FLAC__uint64(bounds[i + 1] - bounds[i])));
            EXPECT_TRUE(track.samples == std::vector(master.begin() + bounds[i] * 2,
                                                     master.begin() + bounds[i + 1] * 2));
        }
        masterFile.seek(0);
        EXPECT_TRUE(masterFile.readAll() == masterBytes);
    }
}

TEST(TrackExportTest, NumbersTracksOverAllSidesOfTheirRecord)
{
    ExportSetup setup;
    setup.addSide(1, 3);
    const QUuid sideB = setup.addSide(1, 4).id;
    setup.addSide(2, 5);
    // File name prefix, TRACKNUMBER, TRACKTOTAL, DISCNUMBER and DISCTOTAL of every file.
    const QStringList expected{"01-01 1 7 1 2", "01-02 2 7 1 2", "01-03 3 7 1 2", "01-04 4 7 1 2",
                               "01-05 5 7 1 2", "01-06 6 7 1 2", "01-07 7 7 1 2", "02-01 1 5 2 2",
                               "02-02 2 5 2 2", "02-03 3 5 2 2", "02-04 4 5 2 2", "02-05 5 5 2 2"};
    const auto numbering = [](const QString& folder) {
        QStringList found;
        for (const auto& name : entries(folder)) {
            QStringList fields{name.left(5)};
            for (const auto& comment : decodeFlac(folder + '/' + name).comments.mid(4, 4)) {
                fields << comment.section('=', 1);
            }
            found << fields.join(' ');
        }
        return found;
    };
    std::vector<ExportProgress> reports;
    setup.options.progress = [&](const ExportProgress& p) { reports.push_back(p); };
    const auto all = setup.run();
    EXPECT_EQ(all.trackCount, 12);
    EXPECT_EQ(numbering(all.directory), expected);
    EXPECT_EQ(reports.front(), (ExportProgress{0, 12, 0, 13500}));
    EXPECT_EQ(reports.back(), (ExportProgress{12, 12, 13500, 13500}));
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end(), [](auto& a, auto& b) {
        return a.framesDone < b.framesDone || a.tracksDone < b.tracksDone;
    }));

    const auto onlyB = setup.run(sideB);
    EXPECT_EQ(numbering(onlyB.directory), expected.mid(3, 4));
    EXPECT_TRUE(QFileInfo(onlyB.directory).fileName().startsWith("The Artist - The Album - "));
}

TEST(TrackExportTest, TagsAndFileNamesFollowTheProject)
{
    const QStringList common{"ALBUM=The Album"};
    const QStringList numbers{"TRACKNUMBER=1", "TRACKTOTAL=1", "DISCNUMBER=1", "DISCTOTAL=1"};
    const struct
    {
        QString albumArtist, trackArtist, title, date;
        QStringList genres;
        std::optional<qint64> release;
        CaptureSource source;
        QString file;
        QStringList comments;
    } cases[] = {
        {{},
         {},
         "AC/DC: Live",
         {},
         {},
         {},
         CaptureSource::vinyl,
         "01 - AC-DC- Live.flac",
         QStringList{"TITLE=AC/DC: Live", "ARTIST=The Artist", "ALBUM=The Album",
                     "ALBUMARTIST=The Artist"} +
             numbers + QStringList{"TAGS=vinyl-rip"}},
        {"Various",
         "Guest",
         "..",
         "1977",
         {"Rock", "", "Pop"},
         249504,
         CaptureSource::reelToReel,
         "01 - Untitled.flac",
         QStringList{"TITLE=..", "ARTIST=Guest", "ALBUM=The Album", "ALBUMARTIST=Various"} +
             numbers +
             QStringList{"TAGS=r2r-rip", "DATE=1977", "GENRE=Rock", "GENRE=Pop",
                         "DISCOGS_RELEASE_ID=249504"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        ExportSetup setup;
        CaptureSide& side = setup.addSide(1, 1);
        side.tracks[0].artist = c.trackArtist;
        side.tracks[0].title = c.title;
        auto& project = setup.document.project;
        project.albumArtist = c.albumArtist;
        project.date = c.date;
        project.genres = c.genres;
        project.discogsReleaseID = c.release;
        project.source = c.source;
        const auto result = setup.run();
        ASSERT_EQ(entries(result.directory), QStringList{c.file});
        EXPECT_EQ(decodeFlac(result.directory + '/' + c.file).comments, c.comments);
    }
}

TEST(TrackExportTest, EmbedsTheStoredCoverUpToTheLimitOfAPictureBlock)
{
    const QByteArray png = pngBytes(3, 2);
    // Bytes after the image's end do not keep a reader from taking its size.
    const auto padded = [&](qint64 size) { return png + QByteArray(size - png.size(), '\0'); };
    const struct
    {
        QByteArray bytes;
        bool embedded;
    } cases[] = {{png, true},
                 {padded(15'999'999), true},
                 {padded(16'000'000), false},
                 {"not an image", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.size());
        ExportSetup setup;
        setup.addSide(1, 1);
        setup.document.project.artworkPath = "Artwork/cover.png";
        QFile file(setup.document.directory + "/Artwork/cover.png");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(c.bytes) == c.bytes.size());
        file.close();
        if (!c.embedded) {
            EXPECT_EQ(failure(setup), "The stored cover image couldn't be read.");
            EXPECT_TRUE(entries(setup.destination).isEmpty());
            continue;
        }
        const auto track = decodeFlac(setup.run().directory + "/01 - Song 1.flac");
        EXPECT_EQ(track.blocks,
                  (std::vector{FLAC__METADATA_TYPE_STREAMINFO, FLAC__METADATA_TYPE_VORBIS_COMMENT,
                               FLAC__METADATA_TYPE_PICTURE}));
        EXPECT_EQ(std::tuple(track.picture.type, track.picture.width, track.picture.height,
                             track.picture.depth, track.picture.colors, track.pictureMime),
                  std::tuple(FLAC__STREAM_METADATA_PICTURE_TYPE_FRONT_COVER, 3u, 2u, 32u, 0u,
                             QByteArray("image/png")));
        EXPECT_TRUE(track.pictureData == c.bytes);
    }
}

// A palette PNG of 30 KB whose rows each add 1 to the one above: its "up" filter makes the input
// tiny, while the unfiltered palette rows the encoder writes back do not compress.
TEST(TrackExportTest, CoversThatEncodeBeyondAPictureBlockAreRefused)
{
    const auto be32 = [](quint32 value) {
        QByteArray bytes(4, '\0');
        qToBigEndian(value, bytes.data());
        return bytes;
    };
    const auto chunk = [&](const char* type, const QByteArray& data) {
        QByteArray body = type + data;
        quint32 crc = 0xFFFFFFFFu;
        for (const char byte : body) {
            crc ^= quint8(byte);
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
            }
        }
        return be32(quint32(data.size())) + body + be32(~crc);
    };
    const int width = 8192, height = 2000;
    QByteArray rows(1, '\0'), palette;
    for (quint32 x = 0, noise = 7; x < quint32(width); ++x) {
        noise = noise * 1664525u + 1013904223u;
        rows += char(noise >> 24);
    }
    for (int y = 1; y < height; ++y) {
        rows += '\2' + QByteArray(width, '\1');
    }
    for (int i = 0; i < 256; ++i) {
        palette += QByteArray(1, char(i)) + char(255 - i) + char(i * 7);
    }
    const QByteArray header = be32(width) + be32(height) + QByteArray("\x08\x03\0\0\0", 5);
    const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n") + chunk("IHDR", header) +
                           chunk("PLTE", palette) + chunk("IDAT", qCompress(rows).mid(4)) +
                           chunk("IEND", {});
    try {
        CaptureStorage::normalizeArtwork(png);
        ADD_FAILURE() << "accepted";
    } catch (const CaptureError& error) {
        EXPECT_EQ(error.message(), "The cover image is too large for FLAC picture metadata.");
    }
}

TEST(TrackExportTest, FailuresAndCancellationLeaveNothingBehind)
{
    const QString notReady =
        "Every selected side needs a completed master and exactly one region per expected track.";
    const QString differs =
        "The stored master differs from its saved native format or duration. Export stopped.";
    const QString album = "The Artist - The Album - 12345678";
    const QString hidden = "“.capture-export-12345678-9ABC-DEF0-1234-56789ABCDEF0”";
    const struct
    {
        const char* name;
        std::function<void(ExportSetup&)> arrange;
        QString error;
        QStringList left = {};
    } cases[] = {
        {"master shorter than the last region",
         [](auto& s) { writeMaster(s.masterPath(s.document.project.sides[1]), 16, 44100, 3499); },
         differs},
        {"master missing",
         [](auto& s) { QFile::remove(s.masterPath(s.document.project.sides[1])); },
         "The master recording is missing."},
        {"bit depth differs", [](auto& s) { s.document.project.sides[1].master->bitDepth = 24; },
         differs},
        {"master incomplete",
         [](auto& s) { s.document.project.sides[0].master->isComplete = false; }, notReady},
        {"project invalid", [](auto& s) { s.document.project.artist.clear(); },
         "Enter an artist, album title, and at least one side."},
        {"destination missing", [](auto& s) { s.destination += "/missing"; },
         "The folder " + hidden + " could not be created: No such file or directory."},
        {"empty album folder exists",
         [&](auto& s) { QDir(s.destination).mkdir(album); },
         hidden + " couldn't be moved to “Out” because an item with the same name already exists.",
         {album}},
        {"cancelled before the first track",
         [](auto& s) {
             std::stop_source stop;
             stop.request_stop();
             s.options.stop = stop.get_token();
         },
         "The export was cancelled."},
        {"cancelled between tracks of the second side",
         [](auto& s) {
             std::stop_source stop;
             s.options.stop = stop.get_token();
             s.options.progress = [stop](const ExportProgress& p) mutable {
                 if (p.tracksDone == 3) {
                     stop.request_stop();
                 }
             };
         },
         "The export was cancelled."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExportSetup setup;
        setup.addSide(1, 2);
        setup.addSide(1, 3);
        setup.options.makeUuid = [] { return QUuid("12345678-9abc-def0-1234-56789abcdef0"); };
        c.arrange(setup);
        EXPECT_EQ(failure(setup), c.error);
        EXPECT_EQ(entries(setup.root.filePath("Out")), c.left);
        for (const auto& name : c.left) {
            EXPECT_TRUE(entries(setup.root.filePath("Out/" + name)).isEmpty());
        }
    }
}

} // namespace
} // namespace brevalo
