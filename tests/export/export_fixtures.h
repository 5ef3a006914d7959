#pragma once

#include "capture/qt_printers.h"
#include "export/track_export.h"

#include <FLAC/stream_decoder.h>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <sndfile.h>

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace brevalo::testing {

// Writes a stereo CAF master of pseudo-random samples that reach both extremes of the width, and
// returns them interleaved at native width.
inline std::vector<std::int32_t> writeMaster(const QString& path, int bits, int rate, qint64 frames)
{
    const int subtype = bits == 16   ? SF_FORMAT_PCM_16
                        : bits == 24 ? SF_FORMAT_PCM_24
                                     : SF_FORMAT_PCM_32;
    SF_INFO info{0, rate, 2, SF_FORMAT_CAF | subtype | SF_ENDIAN_LITTLE, 0, 0};
    std::vector<std::int32_t> justified(static_cast<size_t>(frames) * 2), native(justified.size());
    std::uint32_t state = 1;
    for (size_t i = 0; i < justified.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        const std::uint32_t word = i == 0 ? 0x80000000u : i == 1 ? 0x7FFFFFFFu : state;
        justified[i] = static_cast<std::int32_t>(word >> (32 - bits) << (32 - bits));
        native[i] = static_cast<std::int32_t>(justified[i] / (std::int64_t{1} << (32 - bits)));
    }
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    EXPECT_EQ(sf_writef_int(file, justified.data(), frames), frames);
    sf_close(file);
    return native;
}

// Everything read back from one FLAC file.
struct DecodedTrack
{
    FLAC__StreamMetadata_StreamInfo info{};
    std::vector<FLAC__MetadataType> blocks;
    QStringList comments;
    FLAC__StreamMetadata_Picture picture{}; // without its pointers
    QByteArray pictureMime, pictureData;
    std::vector<std::int32_t> samples; // interleaved
};

inline DecodedTrack decodeFlac(const QString& path)
{
    DecodedTrack out;
    FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
    FLAC__stream_decoder_set_metadata_respond_all(decoder);
    const auto write = [](const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                          const FLAC__int32* const buffer[], void* data) {
        for (unsigned i = 0; i < frame->header.blocksize; ++i) {
            static_cast<DecodedTrack*>(data)->samples.insert(
                static_cast<DecodedTrack*>(data)->samples.end(), {buffer[0][i], buffer[1][i]});
        }
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    };
    const auto metadata = [](const FLAC__StreamDecoder*, const FLAC__StreamMetadata* block,
                             void* data) {
        auto& track = *static_cast<DecodedTrack*>(data);
        track.blocks.push_back(block->type);
        const auto& tags = block->data.vorbis_comment;
        const auto& picture = block->data.picture;
        if (block->type == FLAC__METADATA_TYPE_STREAMINFO) {
            track.info = block->data.stream_info;
        } else if (block->type == FLAC__METADATA_TYPE_VORBIS_COMMENT) {
            for (unsigned i = 0; i < tags.num_comments; ++i) {
                track.comments.append(
                    QString::fromUtf8(reinterpret_cast<const char*>(tags.comments[i].entry),
                                      tags.comments[i].length));
            }
        } else if (block->type == FLAC__METADATA_TYPE_PICTURE) {
            track.picture = picture;
            track.picture.mime_type = nullptr;
            track.picture.data = nullptr;
            track.pictureMime = QByteArray(picture.mime_type);
            track.pictureData =
                QByteArray(reinterpret_cast<const char*>(picture.data), picture.data_length);
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

inline QByteArray pngBytes(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::darkCyan);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return png;
}

// Every entry of a folder, hidden ones included, by name.
inline QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// A project folder with real masters and an export destination, in a folder of its own.
struct ExportSetup
{
    ExportSetup()
    {
        QDir(root.path()).mkpath("Project/Masters");
        QDir(root.path()).mkpath("Project/Artwork");
        QDir(root.path()).mkpath("Out");
        document.directory = root.filePath("Project");
        destination = root.filePath("Out");
        document.project.id = QUuid::createUuid();
        document.project.artist = "The Artist";
        document.project.title = "The Album";
    }

    // Tracks "Song 1", "Song 2", ... 1000 frames apart on a master of that many frames plus 500.
    CaptureSide& addSide(qint64 record, int tracks, int bits = 16, int rate = 44100)
    {
        CaptureSide side;
        side.id = QUuid::createUuid();
        side.record = record;
        side.label = QString::number(document.project.sides.size());
        for (int i = 1; i <= tracks; ++i) {
            side.tracks.append({QUuid::createUuid(), {}, QStringLiteral("Song %1").arg(i), {}});
            if (i > 1) {
                side.markers.append((i - 1) * 1000);
            }
        }
        side.master.emplace();
        side.master->path = "Masters/" + side.label + ".caf";
        side.master->sampleRate = rate;
        side.master->bitDepth = bits;
        side.master->frameCount = tracks * 1000 + 500;
        side.master->isComplete = true;
        samples[side.id] = writeMaster(masterPath(side), bits, rate, side.master->frameCount);
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
    QString destination;
    ExportOptions options;
    std::map<QUuid, std::vector<std::int32_t>> samples;
};

} // namespace brevalo::testing
