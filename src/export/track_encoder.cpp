#include "export/track_encoder.h"

#include <FLAC/metadata.h>

#include <cstdlib>
#include <cstring>

namespace brevalo {

namespace {

constexpr unsigned channelCount = 2;
constexpr unsigned compressionLevel = 5;
constexpr std::uint32_t coverColourDepth = 32;

// The strings and the picture data are copied by libFLAC, hence the casts: the copy flag is true
// everywhere, so nothing is written through these pointers.
FLAC__byte* mutableBytes(const void* bytes)
{
    return static_cast<FLAC__byte*>(const_cast<void*>(bytes));
}

char* mutableText(const char* text)
{
    return const_cast<char*>(text);
}

bool appendComments(FLAC__StreamMetadata* tags, const char* const* comments, std::uint32_t count)
{
    for (std::uint32_t i = 0; i < count; ++i) {
        if (comments[i] == nullptr) {
            return false;
        }
        FLAC__StreamMetadata_VorbisComment_Entry entry;
        entry.length = static_cast<FLAC__uint32>(std::strlen(comments[i]));
        entry.entry = mutableBytes(comments[i]);
        if (!FLAC__metadata_object_vorbiscomment_append_comment(tags, entry, true)) {
            return false;
        }
    }
    return true;
}

FLAC__StreamMetadata* makePicture(const std::uint8_t* bytes, std::uint32_t byteCount,
                                  std::uint32_t width, std::uint32_t height)
{
    FLAC__StreamMetadata* picture = FLAC__metadata_object_new(FLAC__METADATA_TYPE_PICTURE);
    if (picture == nullptr) {
        return nullptr;
    }
    // A new picture block already carries an empty description and zero colours.
    picture->data.picture.type = FLAC__STREAM_METADATA_PICTURE_TYPE_FRONT_COVER;
    picture->data.picture.width = width;
    picture->data.picture.height = height;
    picture->data.picture.depth = coverColourDepth;
    if (!FLAC__metadata_object_picture_set_mime_type(picture, mutableText("image/png"), true) ||
        !FLAC__metadata_object_picture_set_data(picture, mutableBytes(bytes), byteCount, true)) {
        FLAC__metadata_object_delete(picture);
        return nullptr;
    }
    return picture;
}

bool configure(TrackEncoder* record, std::uint32_t sampleRate, std::uint32_t bitsPerSample,
               std::uint64_t totalSamplesEstimate)
{
    FLAC__StreamEncoder* encoder = record->encoder;
    FLAC__StreamMetadata* blocks[] = {record->tags, record->picture};
    const unsigned blockCount = record->picture != nullptr ? 2 : 1;
    return FLAC__stream_encoder_set_channels(encoder, channelCount) &&
           FLAC__stream_encoder_set_bits_per_sample(encoder, bitsPerSample) &&
           FLAC__stream_encoder_set_sample_rate(encoder, sampleRate) &&
           FLAC__stream_encoder_set_total_samples_estimate(encoder, totalSamplesEstimate) &&
           FLAC__stream_encoder_set_compression_level(encoder, compressionLevel) &&
           FLAC__stream_encoder_set_verify(encoder, true) &&
           // libFLAC copies the pointer array; the blocks stay ours until destroy.
           FLAC__stream_encoder_set_metadata(encoder, blocks, blockCount);
}

} // namespace

TrackEncoder* track_encoder_create(const char* path, std::uint32_t sampleRate,
                                   std::uint32_t bitsPerSample, std::uint64_t totalSamplesEstimate,
                                   const char* const* comments, std::uint32_t commentCount,
                                   const std::uint8_t* coverBytes, std::uint32_t coverByteCount,
                                   std::uint32_t coverWidth, std::uint32_t coverHeight)
{
    if (path == nullptr || (commentCount > 0 && comments == nullptr)) {
        return nullptr;
    }
    auto* record = static_cast<TrackEncoder*>(std::calloc(1, sizeof(TrackEncoder)));
    if (record == nullptr) {
        return nullptr;
    }
    record->encoder = FLAC__stream_encoder_new();
    record->tags = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    if (record->encoder == nullptr || record->tags == nullptr ||
        !appendComments(record->tags, comments, commentCount)) {
        track_encoder_destroy(record);
        return nullptr;
    }
    if (coverBytes != nullptr && coverByteCount > 0) {
        record->picture = makePicture(coverBytes, coverByteCount, coverWidth, coverHeight);
        if (record->picture == nullptr) {
            track_encoder_destroy(record);
            return nullptr;
        }
    }
    if (!configure(record, sampleRate, bitsPerSample, totalSamplesEstimate) ||
        FLAC__stream_encoder_init_file(record->encoder, path, nullptr, nullptr) !=
            FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        track_encoder_destroy(record);
        return nullptr;
    }
    return record;
}

bool track_encoder_process(TrackEncoder* encoder, const std::int32_t* interleaved,
                           std::uint32_t frameCount)
{
    if (encoder == nullptr || (frameCount > 0 && interleaved == nullptr)) {
        return false;
    }
    return FLAC__stream_encoder_process_interleaved(encoder->encoder, interleaved, frameCount);
}

bool track_encoder_finish(TrackEncoder* encoder)
{
    if (encoder == nullptr) {
        return false;
    }
    return FLAC__stream_encoder_finish(encoder->encoder);
}

void track_encoder_destroy(TrackEncoder* encoder)
{
    if (encoder == nullptr) {
        return;
    }
    if (encoder->encoder != nullptr) {
        FLAC__stream_encoder_delete(encoder->encoder);
    }
    if (encoder->tags != nullptr) {
        FLAC__metadata_object_delete(encoder->tags);
    }
    if (encoder->picture != nullptr) {
        FLAC__metadata_object_delete(encoder->picture);
    }
    std::free(encoder);
}

} // namespace brevalo
