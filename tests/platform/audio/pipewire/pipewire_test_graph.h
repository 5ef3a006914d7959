#pragma once

// The tests' side of the graph: creates and destroys null-audio-sink nodes (our "hardware") and
// switches the default sink. It shares the backend's connection (thread loop, core, round trip)
// and keeps only what the backend does not track: its own nodes, their ports, and the default
// metadata to write. Audio is fed with the backend's own output unit. Every wait is bounded.

#include "platform/audio/pipewire/pipewire_hardware.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

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

class PipeWireTestGraph
{
public:
    explicit PipeWireTestGraph(PipeWireHardware& hardware);
    ~PipeWireTestGraph();
    PipeWireTestGraph(const PipeWireTestGraph&) = delete;
    PipeWireTestGraph& operator=(const PipeWireTestGraph&) = delete;

    // Returns a handle (0 on failure) once every channel has its input port; the node lives
    // until removeNode or the graph's end.
    int addNode(const TestNodeSetup& setup);
    // addNode, then waits until the backend's model knows the node at its rate: the device, or
    // unknownObject when a step fails. handle, when given, receives addNode's handle.
    ObjectId plug(const TestNodeSetup& setup, int* handle = nullptr);
    void removeNode(int handle);
    // Sets the configured default sink, which the session manager turns into the default.
    bool setDefaultSink(const std::string& nodeName);

    struct Impl;

private:
    bool roundTrip();

    PipeWireHardware& hardware_;
    std::unique_ptr<Impl> impl_;
};

// Whether a missing PipeWire server is a failure (inside scripts/test-env.sh, unless
// BREVALO_PIPEWIRE_TESTS=0) rather than a reason to skip.
bool pipeWireDaemonRequired();

// A node name no other test process or earlier call of this one uses.
std::string uniqueTestName(const std::string& stem);

// Polls a condition every few milliseconds until it holds or the timeout passes.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(4000));
// The same for a thread that runs a Qt event loop: it processes its events meanwhile.
bool processUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

} // namespace brevalo::test
