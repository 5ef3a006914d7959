#pragma once

// Plays one stereo pair of an input device on the system output in real time, through a
// three-unit graph: the input device's I/O unit writes each block into a MonitorRing; the output
// device's I/O unit renders a varispeed converter that pulls from the ring, applies the ring's
// mute ramp, and steers the varispeed's playback rate so that the ring's fill stays at its
// target. The two devices run on independent clocks; the steering is the drift compensation.
//
// Threads: start, stop, snapshot and ring belong to the main thread. The callbacks run on the
// devices' I/O threads and touch only their contexts and the ring, which stay alive until stop
// has stopped both device units.

#include "core/monitor_ring.h"
#include "monitor/monitoring_configuration.h"
#include "platform/audio/audio_system.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace brevalo {

// The drift buffer a configuration asks for, in input frames.
struct MonitorRingSizing
{
    // Fill that priming waits for and the rate control steers to; 0xFFFFFFFF when the
    // configuration gives no representable value.
    std::uint32_t targetFrames = 0;
    // At least one second of input and twice the target; the ring rounds it up to a power of two.
    std::uint64_t requestedCapacity = 0;

    bool operator==(const MonitorRingSizing&) const = default;
};

MonitorRingSizing monitorRingSizing(const MonitoringConfiguration& configuration);

// Realtime callback state. The engine owns them; the I/O threads only ever see them through the
// units' refCon pointers.
struct CaptureCallbackContext
{
    CaptureCallbackContext(MonitorRing* ring, std::uint32_t maximumFrames);

    MonitorRing* ring;
    std::uint32_t maximumFrames; // the input unit's slice size as read back after configuration
    std::vector<float> left;     // maximumFrames samples each, allocated here, never on I/O
    std::vector<float> right;
    AudioBufferList bufferList; // two mono buffers over left and right
    IOUnit* audioUnit = nullptr;
};

struct RingReadCallbackContext
{
    MonitorRing* ring;
};

struct PlaybackCallbackContext
{
    MonitorRing* ring;
    double outputSampleRate;
    VarispeedUnit* varispeedUnit;
    double filteredPlaybackRate = 1.0; // touched only by the playback callback
};

// The realtime callbacks, exposed so that tests can drive them with hand-made contexts.
std::int32_t monitorCaptureCallback(void* context, RenderActionFlags& flags,
                                    const AudioTimeStamp& time, std::uint32_t bus,
                                    std::uint32_t frames, AudioBufferList* buffers);
std::int32_t monitorRingReadCallback(void* context, RenderActionFlags& flags,
                                     const AudioTimeStamp& time, std::uint32_t bus,
                                     std::uint32_t frames, AudioBufferList* buffers);
std::int32_t monitorPlaybackCallback(void* context, RenderActionFlags& flags,
                                     const AudioTimeStamp& time, std::uint32_t bus,
                                     std::uint32_t frames, AudioBufferList* buffers);

class MonitoringEngine
{
public:
    // How stop waits for the fade-out. The default sleeps the calling thread; tests in simulated
    // time pass one that advances the simulation instead.
    using Sleep = std::function<void(std::chrono::nanoseconds)>;

    // The system must outlive the engine.
    explicit MonitoringEngine(AudioSystem& system, Sleep sleep = {});
    ~MonitoringEngine();
    MonitoringEngine(const MonitoringEngine&) = delete;
    MonitoringEngine& operator=(const MonitoringEngine&) = delete;

    // Stops any previous run first. Throws CoreAudioFailure naming the failed step; the engine
    // is then idle again (no unit, no ring).
    void start(const MonitoringConfiguration& configuration, bool muted);
    // Fades out (40 ms) when running, then tears everything down. Idempotent.
    void stop();
    // Empty unless a ring and a configuration are held.
    std::optional<RealtimeSnapshot> snapshot();

    // For mute and clip-lamp control from the main thread; null when idle.
    MonitorRing* ring() const { return ring_; }
    bool isRunning() const { return isRunning_; }
    const std::optional<MonitoringConfiguration>& configuration() const { return configuration_; }

    // How long stop lets the 8 ms gain ramp run before the units stop: five time constants.
    static constexpr std::chrono::milliseconds fadeOutDuration{40};

private:
    void configureInput(const MonitoringConfiguration& configuration);
    void configureVarispeed(const MonitoringConfiguration& configuration);
    void configureOutput(const MonitoringConfiguration& configuration);
    [[noreturn]] void fail(const char* operation, std::int32_t status);
    void check(std::int32_t status, const char* operation);
    template <typename Unit> std::unique_ptr<Unit> createUnit(UnitKind kind);

    AudioSystem& system_;
    Sleep sleep_;

    std::unique_ptr<IOUnit> inputUnit_;
    std::unique_ptr<VarispeedUnit> varispeedUnit_;
    std::unique_ptr<IOUnit> outputUnit_;
    MonitorRing* ring_ = nullptr;
    std::unique_ptr<CaptureCallbackContext> captureContext_;
    std::unique_ptr<RingReadCallbackContext> ringReadContext_;
    std::unique_ptr<PlaybackCallbackContext> playbackContext_;
    std::optional<MonitoringConfiguration> configuration_;
    bool isRunning_ = false;
};

} // namespace brevalo
