#pragma once

#include <FLAC/format.h>
#include <FLAC/stream_encoder.h>

#include <cstdint>

namespace brevalo {

// One FLAC file being written: a libFLAC stream encoder in verify mode together with the metadata
// blocks it writes ahead of the audio. A plain record with free functions so the export's inner
// loop stays a straight call into libFLAC.
//
// Threads: one encoder belongs to one thread at a time (the export worker); none of the functions
// lock. Only track_encoder_create allocates (libFLAC keeps its buffers from then on); nothing here
// logs or throws.
struct TrackEncoder
{
    FLAC__StreamEncoder* encoder;  // owned
    FLAC__StreamMetadata* tags;    // owned; the Vorbis comment block
    FLAC__StreamMetadata* picture; // owned; the front cover, null without a cover
};

// Creates the file at path (libFLAC opens it; an existing file would be truncated, so callers
// check first) and writes the stream header with the comment block and, when coverBytes is
// non-null and coverByteCount non-zero, a front-cover PNG picture block holding those bytes.
// Comments are "NAME=value" UTF-8 strings, copied. Encoding settings: 2 channels, compression
// level 5, verify on. Returns null, with everything released, on any failure.
TrackEncoder* track_encoder_create(const char* path, std::uint32_t sampleRate,
                                   std::uint32_t bitsPerSample, std::uint64_t totalSamplesEstimate,
                                   const char* const* comments, std::uint32_t commentCount,
                                   const std::uint8_t* coverBytes, std::uint32_t coverByteCount,
                                   std::uint32_t coverWidth, std::uint32_t coverHeight);

// Encodes frameCount interleaved stereo frames (left, right, left, ...) whose values fit the
// stream's bits per sample. False when libFLAC refuses, including a verify mismatch; the encoder
// is then unusable.
bool track_encoder_process(TrackEncoder* encoder, const std::int32_t* interleaved,
                           std::uint32_t frameCount);

// Encodes what is buffered, verifies it, rewrites the stream info and closes the file.
bool track_encoder_finish(TrackEncoder* encoder);

// Releases the encoder and both blocks. Null is a no-op. An encoder that was not finished closes
// its file as it stands.
void track_encoder_destroy(TrackEncoder* encoder);

} // namespace brevalo
