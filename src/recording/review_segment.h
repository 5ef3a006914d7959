#pragma once

// One scheduled segment of a review: the frames [start, end) of the master on their way from the
// file to the output device. The reader side decodes the master into a ReviewFrameRing; the
// render side pulls from that ring only, converting with libsamplerate at a fixed ratio when the
// output runs at another rate than the master. Progress is counted in output frames actually
// played from the segment, so the playhead follows what is heard: the converter emits output
// aligned with its input's time line and only consumes input ahead of it.
//
// Threads: fill on the reader (one thread at a time, never concurrently with another fill);
// render on the output device's I/O thread, where it does not allocate, lock, block or touch the
// file; the counters from any thread.

#include "recording/review_frame_ring.h"

#include <QUuid>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

struct sf_private_tag;
struct SRC_STATE_tag;

namespace brevalo {

struct ReviewSegmentSetup
{
    QUuid token;                     // the schedule's generation
    std::int64_t frames = 0;         // master frames in the segment
    std::uint32_t fileChannels = 2;  // interleaved channels of the master
    double masterRate = 0.0;         // Hz
    double outputRate = 0.0;         // Hz
    std::uint32_t ringFrames = 0;    // master frames read ahead
    std::uint32_t maximumOutput = 0; // largest render request, output frames
};

class ReviewSegment
{
public:
    // Allocates everything the render side needs. Throws std::bad_alloc, or std::runtime_error
    // with libsamplerate's text when the converter cannot be created.
    explicit ReviewSegment(const ReviewSegmentSetup& setup);
    ~ReviewSegment();
    ReviewSegment(const ReviewSegment&) = delete;
    ReviewSegment& operator=(const ReviewSegment&) = delete;

    const QUuid& token() const { return setup_.token; }
    bool converts() const { return converter_ != nullptr; }

    // Reader. Decodes from the file's current position into the ring until the ring is full or
    // the segment is read; a short read (a truncated file) ends the segment there.
    void fill(sf_private_tag* file);
    bool readComplete() const { return ring_.finished(); }

    // Realtime. Writes frames output frames, silence past the segment's end or where the ring
    // ran dry.
    void render(float* left, float* right, std::uint32_t frames);

    // Any thread.
    // Master frames heard so far (never more than the segment).
    std::int64_t playedFrames() const;
    // Every frame of the segment has been played.
    bool drained() const { return drained_.load(std::memory_order_acquire); }
    // Output blocks that wanted segment audio and found the ring empty.
    std::uint64_t dryBlocks() const { return dryBlocks_.load(std::memory_order_relaxed); }

private:
    std::uint32_t pullDirect(float* left, float* right, std::uint32_t frames);
    std::uint32_t pullConverted(float* left, float* right, std::uint32_t frames);

    ReviewSegmentSetup setup_;
    ReviewFrameRing ring_;
    std::int64_t framesRead_ = 0;    // reader only
    std::vector<float> readScratch_; // reader only: masters that are not stereo
    SRC_STATE_tag* converter_ = nullptr;
    std::vector<float> convertScratch_; // render only: interleaved converter output
    std::uint64_t expectedOutput_ = 0;  // output frames the whole segment makes
    bool converterFlushed_ = false;     // render only
    std::atomic<std::uint64_t> outputPlayed_{0};
    std::atomic<bool> drained_{false};
    std::atomic<std::uint64_t> dryBlocks_{0};
};

} // namespace brevalo
