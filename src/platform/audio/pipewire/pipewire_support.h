#pragma once

// Internal helpers of the PipeWire backend: the library headers (whose macros do not build
// cleanly under our warning flags), the thread-loop lock, and parsers for what the server sends
// as text (node properties, metadata JSON) and as format parameters.

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/param/audio/raw.h>
#include <spa/param/props.h>
#include <spa/pod/builder.h>
#include <spa/pod/iter.h>
#include <spa/utils/dict.h>
#pragma GCC diagnostic pop

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace brevalo {

// pw_init once per process, on first use.
void ensurePipeWireInitialized();

// The thread loop's lock is recursive, so a holder may take it again.
class ThreadLoopLock
{
public:
    explicit ThreadLoopLock(pw_thread_loop* loop) : loop_(loop) { pw_thread_loop_lock(loop_); }
    ~ThreadLoopLock() { pw_thread_loop_unlock(loop_); }
    ThreadLoopLock(const ThreadLoopLock&) = delete;
    ThreadLoopLock& operator=(const ThreadLoopLock&) = delete;

private:
    pw_thread_loop* loop_;
};

const char* dictValue(const spa_dict* dict, const char* key, const char* fallback);

// A node's sample format as PipeWire names it in "audio.format" (S16, S24LE, S24_32, S32, F32,
// F32P, ...). Unknown or absent: the graph's own 32-bit float, which is what a client receives.
struct PipeWireSampleFormat
{
    std::uint32_t bits = 32;
    bool isFloat = true;
};
PipeWireSampleFormat sampleFormatFromName(const std::string& name);
// A node's hardware format: its configured "audio.format" when set, else the resolution its ALSA
// device reports ("alsa.resolution_bits": 16, 24 or 32 integer bits), else the graph's float.
PipeWireSampleFormat hardwareFormat(const std::string& audioFormat, std::uint32_t resolutionBits);

// "[ AUX0 AUX1 ]", "FL,FR" or "FL FR": SPA channel position ids; unknown names become AUX
// positions by their index.
std::vector<std::uint32_t> parsePositionList(const std::string& text);
// AUX0, AUX1, ... for a node that names no positions.
std::vector<std::uint32_t> auxPositions(std::uint32_t channels);
// "FL", "AUX3": the short SPA name, or AUX<index> for an id SPA does not know.
std::string positionName(std::uint32_t position, std::uint32_t index);

// {"name": "alsa_output.usb-..."} → the name; "" when absent or malformed.
std::string jsonNameField(const std::string& json);
// "[ 44100, 48000 ]" or "44100 48000" → the numbers.
std::vector<double> parseNumberList(const std::string& text);

// The audio/raw fields of an EnumFormat or Format parameter; for a choice the default value.
struct PipeWireFormatInfo
{
    std::uint32_t format = 0; // SPA_AUDIO_FORMAT_*
    double rate = 0.0;
    std::uint32_t channels = 0;
    std::vector<std::uint32_t> positions;
};
bool parseRawFormat(const spa_pod* param, PipeWireFormatInfo& info);

// How long to wait before the next attempt to reach a server that went away, after
// failedAttempts attempts in a row that did not end in an answered connection: the first at
// once, then doubling from 250 ms up to 2 s.
std::chrono::milliseconds pipeWireReconnectDelay(unsigned failedAttempts);

} // namespace brevalo
