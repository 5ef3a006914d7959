#pragma once

#include <atomic>
#include <cstdint>

namespace brevalo {

// Lock-free hand-over of planar stereo float audio between the monitoring input callback
// (producer) and the output callback with its varispeed pull (consumer), plus the meters, counters
// and error word the control thread polls.
//
// Threads: exactly one producer, one consumer and one control thread. Only the producer stores
// writeIndex, raises the peaks, sets the clip latches, counts overruns and sets resyncPending; only
// the consumer stores readIndex, primed and gain, counts underruns and takes resyncPending; the
// control thread takes peaks and errors, clears clip latches and sets muted. Index stores are
// releases after the copy, paired with acquire loads on the other side.
//
// Created zero-filled: not primed, unmuted, gain 0, every counter and peak 0. The record must not
// be destroyed while either callback can still run.
struct MonitorRing
{
    float* left;                // capacity frames, producer writes samples
    float* right;               // capacity frames
    std::uint64_t capacity;     // frames per channel, a power of two >= 1024
    std::uint64_t mask;         // capacity - 1: frame index i lives in slot i & mask
    std::uint64_t targetFrames; // fill that priming waits for and a resync restores, < capacity
    std::atomic<std::uint64_t> writeIndex;   // total frames ever written
    std::atomic<std::uint64_t> readIndex;    // total frames ever consumed or skipped
    std::atomic<std::uint8_t> primed;        // consumer is playing out
    std::atomic<std::uint8_t> resyncPending; // an overrun happened; consumer must jump forward
    std::atomic<std::uint8_t> muted;         // mute request for the gain ramp
    std::atomic<float> gain;                 // current ramped output gain, 0 ... 1
    std::atomic<std::uint32_t> leftPeak;     // bit pattern of an f32 >= 0
    std::atomic<std::uint32_t> rightPeak;
    std::atomic<std::uint8_t> leftClip;
    std::atomic<std::uint8_t> rightClip;
    std::atomic<std::uint64_t> underruns;
    std::atomic<std::uint64_t> overruns;
    std::atomic<std::int32_t> errorStatus; // first non-zero status since the last take
};

struct MonitorRingPeaks
{
    float leftPeak;
    float rightPeak;
    bool leftClipped;
    bool rightClipped;
};

// Block peaks at or above this (compared in single precision) latch the channel's clip lamp.
inline constexpr float monitorRingClipThreshold = 0.9999f;
// Smallest capacity handed out, in frames per channel.
inline constexpr std::uint32_t monitorRingMinimumCapacity = 1024;

// Control thread. Capacity is rounded up to a power of two of at least 1024 frames; a target that
// does not fit below the capacity becomes capacity / 2. Returns null when memory is short.
MonitorRing* monitor_ring_create(std::uint32_t requestedCapacity, std::uint32_t requestedTarget);
// Control thread, after both callbacks have stopped. Null is a no-op.
void monitor_ring_destroy(MonitorRing* ring);

// Input I/O thread. Stores the whole block and returns frames, or drops it whole, counts an overrun
// and returns 0. Peaks and clip latches count the block either way.
std::uint64_t monitor_ring_write(MonitorRing* ring, const float* left, const float* right,
                                 std::uint32_t frames);
// Output I/O thread. Fills both destinations completely: with audio when the result is frames,
// with silence when it is 0 (waiting for the fill, resynchronising after an overrun, or underrun).
// A resync skips forward so that at most targetFrames of the newest frames stay buffered.
std::uint64_t monitor_ring_read(MonitorRing* ring, float* left, float* right, std::uint32_t frames);
// Output I/O thread, on the final output buffers: one-pole gain ramp (8 ms time constant) towards 0
// when muted, else 1. A sample rate <= 1 uses the 48 kHz coefficient.
void monitor_ring_apply_gain(MonitorRing* ring, float* left, float* right, std::uint32_t frames,
                             double sampleRate);

// Control thread.
void monitor_ring_set_muted(MonitorRing* ring, bool muted);
// Control thread: largest absolute samples since the previous take; clip latches are read, not
// cleared.
MonitorRingPeaks monitor_ring_take_peaks(MonitorRing* ring);
void monitor_ring_clear_clips(MonitorRing* ring);
void monitor_ring_clear_left_clip(MonitorRing* ring);
void monitor_ring_clear_right_clip(MonitorRing* ring);

// Output I/O thread or control thread.
std::uint64_t monitor_ring_buffered_frames(const MonitorRing* ring);
std::uint64_t monitor_ring_target_frames(const MonitorRing* ring);
// Control thread.
std::uint64_t monitor_ring_underruns(const MonitorRing* ring);
std::uint64_t monitor_ring_overruns(const MonitorRing* ring);

// Any I/O callback. Status 0 is ignored; the first non-zero status wins until taken.
void monitor_ring_report_error(MonitorRing* ring, std::int32_t status);
// Control thread: the recorded status (0 = none), clearing it.
std::int32_t monitor_ring_take_error(MonitorRing* ring);

} // namespace brevalo
