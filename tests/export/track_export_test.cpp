#include "export/track_export.h"

#include "capture/capture_storage.h"
#include "capture/qt_printers.h"
#include "platform/errors.h"
#include "support/test_masters.h"

#include <FLAC/stream_decoder.h>
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>
#include <zlib.h>

#include <tuple>
#include <utility>
#include <vector>

namespace brevalo {
namespace {

// Pseudo-random codes of `bits` bits; the first frame holds both extremes of the width.
std::int32_t masterCode(std::int64_t frame, int channel, int bits)
{
    const auto i = static_cast<std::uint32_t>(frame * 2 + channel);
    const std::uint32_t word = i == 0   ? 0x80000000u
                               : i == 1 ? 0x7FFFFFFFu
                                        : i * 2654435761u ^ (i * 40503u << 11);
    return static_cast<std::int32_t>(word) >> (32 - bits);
}

void writeMaster(const QString& path, int bits, int rate, qint64 frames)
{
    test::writeTestMaster(path, bits, rate, frames,
                          [bits](std::int64_t f, int c) { return masterCode(f, c, bits); });
}

struct DecodedTrack
{
    FLAC__StreamMetadata_StreamInfo info{};
    std::vector<FLAC__MetadataType> blocks;
    QStringList comments;
    std::tuple<int, unsigned, unsigned, QByteArray, QByteArray> picture; // type, size, MIME, data
    std::vector<std::int32_t> samples;                                   // interleaved
};

DecodedTrack decodeFlac(const QString& path)
{
    DecodedTrack out;
    FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
    FLAC__stream_decoder_set_metadata_respond_all(decoder);
    const auto write = [](const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                          const FLAC__int32* const buffer[], void* data) {
        auto& samples = static_cast<DecodedTrack*>(data)->samples;
        for (unsigned i = 0; i < frame->header.blocksize; ++i) {
            samples.insert(samples.end(), {buffer[0][i], buffer[1][i]});
        }
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    };
    const auto metadata = [](const FLAC__StreamDecoder*, const FLAC__StreamMetadata* block,
                             void* data) {
        auto& track = *static_cast<DecodedTrack*>(data);
        track.blocks.push_back(block->type);
        const auto& tags = block->data.vorbis_comment;
        for (unsigned i = 0;
             block->type == FLAC__METADATA_TYPE_VORBIS_COMMENT && i < tags.num_comments; ++i) {
            track.comments.append(QString::fromUtf8(
                reinterpret_cast<const char*>(tags.comments[i].entry), tags.comments[i].length));
        }
        if (block->type == FLAC__METADATA_TYPE_STREAMINFO) {
            track.info = block->data.stream_info;
        } else if (block->type == FLAC__METADATA_TYPE_PICTURE) {
            const auto& p = block->data.picture;
            track.picture = {p.type, p.width, p.height, QByteArray(p.mime_type),
                             QByteArray(reinterpret_cast<const char*>(p.data), p.data_length)};
        }
    };
    const auto error = [](const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {
        ADD_FAILURE() << "FLAC decoding error";
    };
    EXPECT_EQ(FLAC__stream_decoder_init_file(decoder, QFile::encodeName(path).constData(), write,
                                             metadata, error, &out),
              FLAC__STREAM_DECODER_INIT_STATUS_OK);
    EXPECT_TRUE(FLAC__stream_decoder_process_until_end_of_stream(decoder));
    FLAC__stream_decoder_delete(decoder);
    return out;
}

// The error text, or "succeeded".
QString failure(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& error) {
        return QString::fromUtf8(error.what());
    }
    return "succeeded";
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// A project folder with real masters and an export destination, in a folder of its own.
struct ExportSetup
{
    ExportSetup()
    {
        for (const char* folder : {"Project/Masters", "Project/Artwork", "Out"}) {
            QDir(root.path()).mkpath(folder);
        }
        document.directory = root.filePath("Project");
        document.project.artist = "The Artist";
        document.project.title = "The Album";
    }

    // Tracks "Song 1", "Song 2", ... `spacing` frames apart on a master that many frames per
    // track plus 500 long.
    CaptureSide& addSide(qint64 record, int tracks, int bits = 16, int rate = 44100,
                         int spacing = 1000)
    {
        CaptureSide side;
        side.id = QUuid::createUuid();
        side.record = record;
        side.label = QString::number(document.project.sides.size());
        for (int i = 1; i <= tracks; ++i) {
            side.tracks.append({QUuid::createUuid(), {}, QStringLiteral("Song %1").arg(i), {}});
            if (i > 1) {
                side.markers.append((i - 1) * spacing);
            }
        }
        side.master.emplace();
        side.master->path = "Masters/" + side.label + ".caf";
        side.master->sampleRate = rate;
        side.master->bitDepth = bits;
        side.master->frameCount = tracks * spacing + 500;
        side.master->isComplete = true;
        writeMaster(masterPath(side), bits, rate, side.master->frameCount);
        document.project.sides.append(side);
        return document.project.sides.last();
    }

    QString masterPath(const CaptureSide& side) const
    {
        return document.directory + '/' + side.master->path;
    }

    CaptureExportResult run(std::optional<QUuid> side = {})
    {
        return exportSides(document, destination, side, options);
    }

    QTemporaryDir root;
    CaptureDocument document;
    QString destination = root.filePath("Out");
    ExportOptions options;
};

// Three sides over two records, each at a format of its own, with regions of more than one read
// chunk, trimmed at both ends.
TEST(TrackExportTest, TracksAreTheMasterRegionsAtNativeWidthNumberedOverTheirRecord)
{
    ExportSetup setup;
    for (const auto& [record, tracks, bits, rate] :
         {std::tuple{1, 3, 16, 44100}, {1, 4, 24, 96000}, {2, 5, 32, 192000}}) {
        CaptureSide& side = setup.addSide(record, tracks, bits, rate, 9001);
        side.trimStartFrame = 37;
        side.trimEndFrame = side.master->frameCount - 10;
    }
    const auto& sides = setup.document.project.sides;
    QFile masterFile(setup.masterPath(sides[2]));
    ASSERT_TRUE(masterFile.open(QIODevice::ReadOnly));
    const QByteArray masterBytes = masterFile.readAll();

    const QString folder = setup.run().directory;
    const QStringList files = entries(folder);
    ASSERT_EQ(files.size(), 12);
    for (int file = 0; const auto& side : sides) {
        const auto bits = static_cast<int>(side.master->bitDepth);
        for (const auto& region : side.regions()) {
            SCOPED_TRACE(files.at(file).toStdString());
            const auto track = decodeFlac(folder + '/' + files.at(file++));
            EXPECT_EQ(std::tuple(track.info.sample_rate, track.info.bits_per_sample,
                                 track.info.channels, track.info.total_samples),
                      std::tuple(unsigned(side.master->sampleRate), unsigned(bits), 2u,
                                 FLAC__uint64(region.length())));
            std::int64_t wrong = 0;
            for (std::size_t k = 0; k < track.samples.size(); ++k) {
                wrong += track.samples[k] !=
                         masterCode(region.start + std::int64_t(k / 2), int(k % 2), bits);
            }
            EXPECT_EQ(wrong, 0);
        }
    }
    masterFile.seek(0);
    EXPECT_TRUE(masterFile.readAll() == masterBytes);

    // File name prefix, TRACKNUMBER, TRACKTOTAL, DISCNUMBER and DISCTOTAL of every file.
    const QStringList expected{"01-01 1 7 1 2", "01-02 2 7 1 2", "01-03 3 7 1 2", "01-04 4 7 1 2",
                               "01-05 5 7 1 2", "01-06 6 7 1 2", "01-07 7 7 1 2", "02-01 1 5 2 2",
                               "02-02 2 5 2 2", "02-03 3 5 2 2", "02-04 4 5 2 2", "02-05 5 5 2 2"};
    const auto numbering = [](const QString& exported) {
        QStringList found;
        for (const auto& name : entries(exported)) {
            QStringList fields{name.left(5)};
            for (const auto& comment : decodeFlac(exported + '/' + name).comments.mid(4, 4)) {
                fields << comment.section('=', 1);
            }
            found << fields.join(' ');
        }
        return found;
    };
    EXPECT_EQ(numbering(folder), expected);
    EXPECT_EQ(numbering(setup.run(sides[1].id).directory), expected.mid(3, 4));
}

TEST(TrackExportTest, TagsAndFileNamesFollowTheProject)
{
    const QStringList numbers{"TRACKNUMBER=1", "TRACKTOTAL=1", "DISCNUMBER=1", "DISCTOTAL=1"};
    const QString longTitle(120, QChar(u'音')); // 360 bytes: the name is cut to 255
    const auto exportOne = [](const std::function<void(CaptureProject&, CaptureTrack&)>& edit) {
        ExportSetup setup;
        edit(setup.document.project, setup.addSide(1, 1).tracks[0]);
        const QString folder = setup.run().directory;
        const QStringList files = entries(folder);
        return std::pair(files, files.size() == 1 ? decodeFlac(folder + '/' + files[0]).comments
                                                  : QStringList());
    };
    EXPECT_EQ(exportOne([&](auto&, auto& track) { track.title = longTitle; }),
              std::pair(QStringList{"01 - " + QString(81, QChar(u'音')) + ".flac"},
                        QStringList{"TITLE=" + longTitle, "ARTIST=The Artist", "ALBUM=The Album",
                                    "ALBUMARTIST=The Artist"} +
                            numbers + QStringList{"TAGS=vinyl-rip"}));
    EXPECT_EQ(exportOne([](auto& project, auto& track) {
                  project.albumArtist = "Various";
                  project.date = "1977";
                  project.genres = {"Rock", "", "Pop"};
                  project.discogsReleaseID = 249504;
                  project.source = CaptureSource::reelToReel;
                  track.artist = "Guest";
                  track.title = "AC/DC: Live";
              }),
              std::pair(QStringList{"01 - AC-DC- Live.flac"},
                        QStringList{"TITLE=AC/DC: Live", "ARTIST=Guest", "ALBUM=The Album",
                                    "ALBUMARTIST=Various"} +
                            numbers +
                            QStringList{"TAGS=r2r-rip", "DATE=1977", "GENRE=Rock", "GENRE=Pop",
                                        "DISCOGS_RELEASE_ID=249504"}));
}

// A palette PNG of 30 KB whose rows each add 1 to the row above: the "up" filter makes the
// file tiny, while the unfiltered palette rows written back on normalizing do not compress.
QByteArray pngBeyondAPictureBlock()
{
    const auto be32 = [](quint32 value) {
        QByteArray bytes(4, '\0');
        qToBigEndian(value, bytes.data());
        return bytes;
    };
    const auto chunk = [&](const char* type, const QByteArray& data) {
        const QByteArray body = type + data;
        const auto crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()));
        return be32(quint32(data.size())) + body + be32(quint32(crc));
    };
    QByteArray rows(1, '\0'), palette;
    for (quint32 x = 0, noise = 7; x < 8192; ++x) {
        rows += char((noise = noise * 1664525u + 1013904223u) >> 24);
    }
    for (int y = 1; y < 2000; ++y) {
        rows += '\2' + QByteArray(8192, '\1');
    }
    for (int i = 0; i < 256; ++i) {
        palette += QByteArray(1, char(i)) + char(255 - i) + char(i * 7);
    }
    return QByteArray("\x89PNG\r\n\x1a\n") +
           chunk("IHDR", be32(8192) + be32(2000) + QByteArray("\x08\x03\0\0\0", 5)) +
           chunk("PLTE", palette) + chunk("IDAT", qCompress(rows).mid(4)) + chunk("IEND", {});
}

TEST(TrackExportTest, CoversMustFitAPictureBlock)
{
    EXPECT_EQ(failure([] { CaptureStorage::normalizeArtwork(pngBeyondAPictureBlock()); }),
              "The cover image is too large for FLAC picture metadata.");

    QImage image(3, 2, QImage::Format_ARGB32);
    image.fill(Qt::darkCyan);
    QByteArray png;
    QBuffer buffer(&png);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "png"));
    // Bytes after the image's end do not keep a reader from taking its size.
    const auto padded = [&](qint64 size) { return png + QByteArray(size - png.size(), '\0'); };
    for (const QByteArray& cover : {padded(15'999'999), padded(16'000'000)}) {
        SCOPED_TRACE(cover.size());
        ExportSetup setup;
        setup.addSide(1, 1);
        setup.document.project.artworkPath = "Artwork/cover.png";
        QFile file(setup.document.directory + "/Artwork/cover.png");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(cover) == cover.size());
        file.close();
        if (cover.size() > 15'999'999) {
            EXPECT_EQ(failure([&] { setup.run(); }), "The stored cover image couldn't be read.");
            EXPECT_TRUE(entries(setup.destination).isEmpty());
            continue;
        }
        const auto track = decodeFlac(setup.run().directory + "/01 - Song 1.flac");
        EXPECT_EQ(track.blocks,
                  (std::vector{FLAC__METADATA_TYPE_STREAMINFO, FLAC__METADATA_TYPE_VORBIS_COMMENT,
                               FLAC__METADATA_TYPE_PICTURE}));
        EXPECT_EQ(track.picture, std::tuple(FLAC__STREAM_METADATA_PICTURE_TYPE_FRONT_COVER, 3u, 2u,
                                            QByteArray("image/png"), cover));
    }
}

TEST(TrackExportTest, FailuresAndCancellationLeaveNothingBehind)
{
    const QString differs =
        "The stored master differs from its saved native format or duration. Export stopped.";
    const QString album = "The Artist - The Album - 12345678";
    const QString hidden = "“.capture-export-12345678-9ABC-DEF0-1234-56789ABCDEF0”";
    const auto cancelAfter = [](qint64 tracks) {
        return [tracks](ExportSetup& s) {
            std::stop_source stop;
            s.options.stop = stop.get_token();
            s.options.progress = [=](const ExportProgress& p) mutable {
                if (p.tracksDone >= tracks) {
                    stop.request_stop();
                }
            };
        };
    };
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
        {"bit depth differs", [](auto& s) { s.document.project.sides[1].master->bitDepth = 24; },
         differs},
        {"empty album folder exists",
         [&](auto& s) { QDir(s.destination).mkdir(album); },
         hidden + " couldn't be moved to “Out” because an item with the same name already exists.",
         {album}},
        {"cancelled before the first track", cancelAfter(0), "The export was cancelled."},
        {"cancelled within the second side", cancelAfter(3), "The export was cancelled."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExportSetup setup;
        setup.addSide(1, 2);
        setup.addSide(1, 3);
        setup.options.makeUuid = [] { return QUuid("12345678-9abc-def0-1234-56789abcdef0"); };
        c.arrange(setup);
        EXPECT_EQ(failure([&] { setup.run(); }), c.error);
        EXPECT_EQ(entries(setup.root.filePath("Out")), c.left);
        for (const auto& name : c.left) {
            EXPECT_TRUE(entries(setup.root.filePath("Out/" + name)).isEmpty());
        }
    }
}

} // namespace
} // namespace brevalo

// Reading the cover's pixel size finds the image plugins through an application object.
int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
