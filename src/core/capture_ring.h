#pragma once

#include <atomic>
#include <cstdint>

namespace brevalo {

// Lock-free single-producer/single-consumer ring of planar stereo 32-bit integer samples carrying
// a take from the recorder's input callback (producer) to the master writer's drain (consumer),
// together with the meter peaks, the take's first error status, the stop flag and the count of
// frames already stored in the master file.
//
// Threads: only the producer stores writeIndex and raises the peaks; only the drain stores
// readIndex and adds to framesWritten; the control thread requests the stop and takes the peaks;
// any thread (property listeners included) may report a status, and only the first one sticks.
// Once a status is recorded or the stop requested, the producer is refused for good.
struct CaptureRing
{
    std::int32_t* left;  // capacity frames
    std::int32_t* right; // capacity frames
    std::uint32_t
        capacity; // frames per channel, any value >= 1; frame i lives in slot i % capacity
    std::atomic<std::uint64_t> writeIndex;    // total frames ever written
    std::atomic<std::uint64_t> readIndex;     // total frames ever read
    std::atomic<std::uint64_t> framesWritten; // total frames the drain stored in the file
    // Bit patterns of non-negative f32 values, so they order like the floats as unsigned integers.
    std::atomic<std::uint32_t> leftPeak;
    std::atomic<std::uint32_t> rightPeak;
    std::atomic<std::int32_t> errorStatus; // 0 while healthy; -1 when the ring overflowed
    std::atomic<std::uint8_t> stopRequested;
};

// Control thread. Zero capacity or a failed allocation gives null.
CaptureRing* capture_ring_create(std::uint32_t capacity);
// Control thread, once the input callback and the drain are done. Null is a no-op.
void capture_ring_destroy(CaptureRing* ring);

// Input I/O thread. Returns 1 when the whole block was stored, 0 when refused: a status is already
// recorded, the stop was requested, or the block does not fit (which records -1).
int capture_ring_write(CaptureRing* ring, const std::int32_t* left, const std::int32_t* right,
                       std::uint32_t frames);
// Drain. Moves up to maximumFrames into the destinations; returns how many (0 when empty).
std::uint32_t capture_ring_read(CaptureRing* ring, std::int32_t* left, std::int32_t* right,
                                std::uint32_t maximumFrames);

// Any thread. A status already recorded is never replaced.
void capture_ring_report_error(CaptureRing* ring, std::int32_t status);
std::int32_t capture_ring_error(const CaptureRing* ring);

// Control thread sets, drain reads. The drain reads the flag before the ring so that every frame
// written before the request is stored.
void capture_ring_request_stop(CaptureRing* ring);
bool capture_ring_stop_requested(const CaptureRing* ring);

// Drain adds after each accepted file write; control thread reads.
std::uint64_t capture_ring_frames_written(const CaptureRing* ring);
void capture_ring_add_frames_written(CaptureRing* ring, std::uint32_t frames);

// Control thread: largest absolute sample (full scale 1.0) of the channel since its previous take;
// channel 0 is left, any other value right.
float capture_ring_take_peak(CaptureRing* ring, int channel);

} // namespace brevalo
