#pragma once

// A second PipeWire client for the integration tests: creates and destroys null-audio-sink
// nodes (our "hardware"), switches the default sink, and feeds a virtual source from a stream
// of its own. Every wait is bounded.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_proxy;

namespace brevalo::test {

struct TestNodeSetup
{
    std::string name;
    std::string description;
    std::string mediaClass = "Audio/Sink";
    std::string positions = "[ FL FR ]";
    std::uint32_t rate = 48000;
    std::string format; // audio.format, empty: the graph's float
};

// A 24-bit value per frame index and channel, fed into a virtual source.
using PatternFunction = std::int32_t (*)(std::uint64_t frame, std::uint32_t channel);

class PipeWireTestGraph
{
public:
    PipeWireTestGraph();
    ~PipeWireTestGraph();
    PipeWireTestGraph(const PipeWireTestGraph&) = delete;
    PipeWireTestGraph& operator=(const PipeWireTestGraph&) = delete;

    bool connected() const { return core_ != nullptr; }

    // Returns a handle (0 on failure); the node lives until removeNode or the graph's end.
    int addNode(const TestNodeSetup& setup);
    void removeNode(int handle);
    // Sets the configured default sink, which the session manager turns into the default.
    bool setDefaultSink(const std::string& nodeName);

    // Plays pattern(frame, channel) << 8 as 32-bit integer planar samples (positions AUX0…)
    // into the node's input ports of the same names, linked directly (a virtual source's
    // input side). False when the stream does not run within the timeout.
    bool feed(const std::string& nodeName, std::uint32_t channels, std::uint32_t rate,
              PatternFunction pattern);
    void stopFeeding();
    std::uint64_t framesFed() const { return framesFed_.load(); }
    void addFed(std::uint32_t frames); // from the feeder's process callback

    bool roundTrip();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    std::atomic<std::uint64_t> framesFed_{0};
};

// Polls a condition every few milliseconds until it holds or the timeout passes.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(4000));

} // namespace brevalo::test
