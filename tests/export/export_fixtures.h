#pragma once

#include "capture/capture_project.h"
#include "capture/qt_printers.h"

#include <FLAC/stream_decoder.h>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <sndfile.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace brevalo::testing {

// Writes a stereo CAF master of pseudo-random native samples that reach both extremes of the
// width, and returns them interleaved at native width.
inline std::vector<std::int32_t> writeMaster(const QString& path, int bits, int rate, qint64 frames)
{
    const int subtype = bits == 16   ? SF_FORMAT_PCM_16
                        : bits == 24 ? SF_FORMAT_PCM_24
                                     : SF_FORMAT_PCM_32;
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_CAF | subtype | SF_ENDIAN_LITTLE;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    std::vector<std::int32_t> native(static_cast<size_t>(frames) * 2);
    std::vector<std::int32_t> justified(native.size());
    std::uint32_t state = 0x9E3779B9u ^ static_cast<std::uint32_t>(bits * rate);
    for (size_t i = 0; i < native.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        justified[i] = i == 0 ? INT32_MIN : i == 1 ? INT32_MAX : static_cast<std::int32_t>(state);
        justified[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(justified[i]) >>
                                                 (32 - bits) << (32 - bits));
        native[i] = justified[i] >> (32 - bits);
    }
    sf_writef_int(file, justified.data(), frames);
    sf_close(file);
    return native;
}

// Everything read back from one FLAC file.
struct DecodedTrack
{
    FLAC__StreamMetadata_StreamInfo info{};
    std::vector<FLAC__MetadataType> blocks;
    QStringList comments;
    FLAC__StreamMetadata_Picture picture{};
    QByteArray pictureMime;
    QByteArray pictureData;
    std::vector<std::int32_t> samples; // interleaved
};

inline DecodedTrack decodeFlac(const QString& path)
{
    DecodedTrack track;
    FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
    FLAC__stream_decoder_set_metadata_respond_all(decoder);
    const auto write = [](const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                          const FLAC__int32* const buffer[], void* data) {
        auto& samples = static_cast<DecodedTrack*>(data)->samples;
        for (unsigned i = 0; i < frame->header.blocksize; ++i) {
            samples.push_back(buffer[0][i]);
            samples.push_back(buffer[1][i]);
        }
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    };
    const auto metadata = [](const FLAC__StreamDecoder*, const FLAC__StreamMetadata* block,
                             void* data) {
        auto& out = *static_cast<DecodedTrack*>(data);
        out.blocks.push_back(block->type);
        if (block->type == FLAC__METADATA_TYPE_STREAMINFO) {
            out.info = block->data.stream_info;
        } else if (block->type == FLAC__METADATA_TYPE_VORBIS_COMMENT) {
            const auto& tags = block->data.vorbis_comment;
            for (unsigned i = 0; i < tags.num_comments; ++i) {
                out.comments.append(
                    QString::fromUtf8(reinterpret_cast<const char*>(tags.comments[i].entry),
                                      static_cast<qsizetype>(tags.comments[i].length)));
            }
        } else if (block->type == FLAC__METADATA_TYPE_PICTURE) {
            out.picture = block->data.picture;
            out.pictureMime = QByteArray(block->data.picture.mime_type);
            out.pictureData = QByteArray(reinterpret_cast<const char*>(block->data.picture.data),
                                         block->data.picture.data_length);
        }
    };
    const auto error = [](const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {
        ADD_FAILURE() << "FLAC decoding error";
    };
    EXPECT_EQ(FLAC__stream_decoder_init_file(decoder, QFile::encodeName(path).constData(), write,
                                             metadata, error, &track),
              FLAC__STREAM_DECODER_INIT_STATUS_OK)
        << path.toStdString();
    EXPECT_TRUE(FLAC__stream_decoder_process_until_end_of_stream(decoder));
    FLAC__stream_decoder_delete(decoder);
    track.picture.mime_type = nullptr; // owned by the decoder, gone now
    track.picture.data = nullptr;
    return track;
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

// The files of a folder, hidden ones included, by name.
inline QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

} // namespace brevalo::testing
