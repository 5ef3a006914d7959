#pragma once

// Simulated audio hardware: devices described in code, changed at run time with the matching
// notifications, per-device clocks with a ppm offset, scriptable input signals, capture of what
// output devices played, failure injection for any call, and a scriptable capture permission.
//
// Two time modes. realTime: one I/O thread per device with a started unit, blocks at the
// device's buffer size paced by the steady clock. manual: nothing runs until a test calls
// advance(); then the block callbacks of every running device run on the calling thread in
// clock order, so an hour of audio runs in seconds and every run is the same.
//
// Usage in a test:
//     SimulatedAudioSystem sim;                          // manual time
//     SimDevice in = SimDevice::input("in-1", "Interface", 2, 96000.0, 24);
//     ObjectId input = sim.addDevice(in);
//     sim.setInputSignal(input, 0, SimSignal::counting());
//     sim.injectFault({.operation = AudioOperation::configure, .unitKind = UnitKind::io,
//                      .unitOrdinal = 2, .skip = 4, .status = status::paramError});
//     ... start the code under test on sim ...
//     sim.advance(std::chrono::seconds(10));
//     sim.drainNotifications();
//
// Threading: the model may be changed from any thread but not from inside a block callback,
// which runs holding its device's lock (stop a unit from outside its callbacks, too).
// Listeners and permission answers run on the one notification thread.

#include "platform/audio/audio_system.h"
#include "platform/audio/simulated/simulated_fault_injection.h"
#include "platform/audio/simulated/simulated_signal.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace brevalo {

// One device stream: interleaved linear PCM of channels channels.
struct SimStream
{
    std::uint32_t channels = 2;
    std::uint32_t bitsPerChannel = 24;
    bool isFloat = false;
    std::uint32_t formatID = formatLinearPCM;
    // 0: the device's nominal rate (and it follows that rate). Another value makes the stream
    // report a physical rate apart from the device's.
    double sampleRate = 0.0;

    bool operator==(const SimStream&) const = default;
};

struct SimDevice
{
    ObjectId id = unknownObject; // unknownObject: the simulation assigns one
    std::string uid;
    std::string name;
    double nominalSampleRate = 48000.0;
    double clockPPM = 0.0; // the device clock runs at rate × (1 + ppm / 1e6)
    std::uint32_t bufferFrameSize = 512;
    std::uint32_t variableBufferFrameSize = 0; // 0: the device has no such property
    std::vector<SimStream> inputStreams;
    std::vector<SimStream> outputStreams;
    std::vector<std::string> inputChannelNames; // empty: the device names no channel
    std::vector<std::string> outputChannelNames;
    std::optional<std::array<std::uint32_t, 2>> preferredInputStereo{};  // 1-based
    std::optional<std::array<std::uint32_t, 2>> preferredOutputStereo{}; // 1-based
    bool isAlive = true;

    // An input-only device with one stream of integer samples.
    static SimDevice input(std::string uid, std::string name, std::uint32_t channels, double rate,
                           std::uint32_t bits);
    // An output-only device with one stream of 32-bit float samples.
    static SimDevice output(std::string uid, std::string name, std::uint32_t channels, double rate);
};

enum class SimTimeMode
{
    realTime,
    manual
};

// What an output device played since capture was enabled: up to maxFrames frames per device
// channel are kept, later frames are only counted.
struct SimOutputCapture
{
    double sampleRate = 0.0;
    std::vector<std::vector<float>> channels;
    std::uint64_t framesPlayed = 0;
    std::uint64_t framesNotKept = 0;
};

class SimulatedAudioSystem final : public AudioSystem
{
public:
    explicit SimulatedAudioSystem(SimTimeMode mode = SimTimeMode::manual);
    ~SimulatedAudioSystem() override;
    SimulatedAudioSystem(const SimulatedAudioSystem&) = delete;
    SimulatedAudioSystem& operator=(const SimulatedAudioSystem&) = delete;

    // AudioSystem
    AudioHardware& hardware() override;
    AudioCapturePermission& capturePermission() override;
    bool findComponent(UnitKind kind) override;
    std::int32_t createIOUnit(std::unique_ptr<IOUnit>& unit) override;
    std::int32_t createVarispeedUnit(std::unique_ptr<VarispeedUnit>& unit) override;
    std::string backendName() const override { return "simulated"; }

    // Devices. Each change posts the notifications a real device would. Changes return false
    // for an unknown id.
    ObjectId addDevice(SimDevice device);
    // From a JSON document {"devices": [...], "defaultOutput": "<uid>"} whose device objects
    // carry SimDevice's field names; returns the ids added, empty on a malformed document.
    std::vector<ObjectId> addDevicesFromJSON(const std::string& json);
    bool removeDevice(ObjectId device);
    bool setDefaultOutputDevice(ObjectId device); // unknownObject: no default output
    bool setAlive(ObjectId device, bool alive);
    bool setNominalSampleRate(ObjectId device, double rate);
    bool setClockPPM(ObjectId device, double ppm);
    bool setBufferFrameSize(ObjectId device, std::uint32_t frames);
    // Replaces the streams of a scope: new stream ids, the channel count follows.
    bool setStreams(ObjectId device, Scope scope, std::vector<SimStream> streams);
    // Changes one stream's physical format in place (same stream id).
    bool setPhysicalFormat(ObjectId stream, SimStream format);
    bool notifyDeviceHasChanged(ObjectId device);
    bool notifyIOStoppedAbnormally(ObjectId device);
    std::optional<SimDevice> device(ObjectId device) const;
    std::vector<ObjectId> streamIDs(ObjectId device, Scope scope) const;

    // Input signals, per 0-based device input channel. Default: silence. False when the file
    // cannot be read or the channel does not exist.
    bool setInputSignal(ObjectId device, std::uint32_t channel, SimSignal signal);

    // Output capture (off by default, so that long runs stay small).
    void captureOutput(ObjectId device, std::uint64_t maxFrames);
    SimOutputCapture outputCapture(ObjectId device) const;

    // Failures.
    void injectFault(FaultRule rule);
    void failNext(AudioOperation operation, std::int32_t status);
    void clearFaults();
    // Calls of an operation seen so far (whether they failed or not).
    std::uint64_t callCount(AudioOperation operation) const;
    // Units of a kind created so far (FaultRule::unitOrdinal counts from the simulation's
    // creation, so a test can aim at "the next unit" with unitCount(kind) + 1).
    std::uint32_t unitCount(UnitKind kind) const;

    // Time.
    SimTimeMode timeMode() const;
    // Manual mode only: runs every device block that falls due within the duration.
    void advance(std::chrono::nanoseconds duration);
    void advanceSeconds(double seconds);
    // Simulated time (manual) or time since creation (real time).
    std::chrono::nanoseconds now() const;
    // Blocks the device's clock has delivered while a unit ran on it.
    std::uint64_t blockCount(ObjectId device) const;

    // Notifications: block until every notification posted so far has been delivered.
    void drainNotifications();
    std::thread::id notificationThreadID() const;

    // Permission. With an automatic answer a request is answered at once (on the notification
    // thread); without one it waits for answerPermissionRequest.
    void setAuthorization(AudioCaptureAuthorization status);
    void setPermissionAnswer(std::optional<bool> granted);
    bool answerPermissionRequest(bool granted); // false when no request is pending
    std::uint32_t permissionRequestCount() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace brevalo
