#pragma once

// The hardware model of the PipeWire backend: a cache of the registry's audio nodes, the
// "default" metadata (default sink) and the "settings" metadata (graph clock), kept up to date by
// registry, node and metadata events on a pw_thread_loop. Every read takes the thread loop's
// lock and answers from the cache, so a read never waits for the server.
//
// Devices are nodes of media.class Audio/Source, Audio/Source/Virtual (input side), Audio/Sink
// (output side) and Audio/Duplex (both). A device's uid is its node.name, its name its
// node.description. PipeWire hands a global id out again as soon as its object is gone, so our
// ObjectIds are our own: every new node gets a fresh id that is never used again in this
// process, and a node that comes back with the same node.name is found by its uid.
//
// Listener calls are posted to one SerialNotifier thread; the thread loop never calls a
// listener itself.
//
// When the server goes away (a crash, an update, a user restarting it) the model reports every
// device as gone through the ordinary notifications (deviceIsAlive, then the device list) and
// reconnects from the thread loop: the first attempt at once, then with a growing pause of at
// most 2 s (pipeWireReconnectDelay). A server that comes back announces its nodes through the
// registry again, and they get fresh ids like any newly plugged device. No caller ever waits for
// this: reads answer from the (then empty) cache, round trips fail at once.
//
// A lost connection's core is kept until the hardware is destroyed, so that streams and proxies
// the I/O units and tests still hold on it stay valid to destroy; it no longer carries anything.

#include "platform/audio/audio_hardware.h"
#include "platform/audio/property_listener_registry.h"
#include "platform/audio/serial_notifier.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_loop;
struct spa_source;

namespace brevalo {

// What the I/O units need to know about a device when they connect a stream to it.
struct PipeWireNodeTarget
{
    ObjectId device = unknownObject;
    std::string nodeName;
    std::uint64_t serial = 0;
    std::uint32_t channels = 0;
    std::vector<std::uint32_t> positions; // SPA channel position ids, one per channel
    double rate = 0.0;                    // the device's own rate
    double graphRate = 0.0;               // the rate streams of this device run at
    bool alive = false;
};

class PipeWireHardware final : public AudioHardware
{
public:
    ~PipeWireHardware() override;
    PipeWireHardware(const PipeWireHardware&) = delete;
    PipeWireHardware& operator=(const PipeWireHardware&) = delete;

    // Connects to the server and waits, at most timeout, for the first complete picture of its
    // nodes and metadata. Null when no server answers in time; failure then says why.
    static std::unique_ptr<PipeWireHardware> connect(std::chrono::milliseconds timeout,
                                                     std::string* failure = nullptr);

    // AudioHardware
    bool hasProperty(ObjectId object, const PropertyAddress& address) override;
    std::int32_t devices(std::vector<ObjectId>& deviceIDs) override;
    std::int32_t defaultOutputDevice(ObjectId& device) override;
    std::int32_t deviceForUID(const std::string& uid, ObjectId& device) override;
    std::int32_t deviceUID(ObjectId device, std::string& uid) override;
    std::int32_t name(ObjectId device, std::string& name) override;
    std::int32_t streamConfiguration(ObjectId device, Scope scope,
                                     std::vector<std::uint32_t>& channelsPerBuffer) override;
    std::int32_t elementName(ObjectId device, Scope scope, std::uint32_t channel,
                             std::string& name) override;
    std::int32_t preferredChannelsForStereo(ObjectId device, Scope scope,
                                            std::array<std::uint32_t, 2>& channels) override;
    std::int32_t nominalSampleRate(ObjectId device, double& rate) override;
    std::int32_t streams(ObjectId device, Scope scope, std::vector<ObjectId>& streamIDs) override;
    std::int32_t bufferFrameSize(ObjectId device, std::uint32_t& frames) override;
    std::int32_t usesVariableBufferFrameSizes(ObjectId device, std::uint32_t& frames) override;
    std::int32_t isAlive(ObjectId device, std::uint32_t& alive) override;
    std::int32_t startingChannel(ObjectId stream, std::uint32_t& channel) override;
    std::int32_t physicalFormat(ObjectId stream, StreamFormat& format) override;
    std::int32_t addPropertyListener(ObjectId object, const PropertyAddress& address,
                                     PropertyListener listener,
                                     ListenerRegistration& registration) override;
    std::int32_t removePropertyListener(const ListenerRegistration& registration) override;

    // For the I/O units and the system.
    pw_thread_loop* threadLoop() const { return threadLoop_; }
    // Under the thread loop's lock. Null while the server is gone; another core after a
    // reconnect.
    pw_core* core() const { return core_; }
    std::optional<PipeWireNodeTarget> target(ObjectId device, Scope scope);
    // Posts a listener call for a property of an object, from any non-realtime thread.
    void notify(ObjectId object, const PropertyAddress& address);
    SerialNotifier& notifier() { return *notifier_; }
    // Waits until the server has answered every request sent so far (a round trip), at most
    // timeout. False on timeout or a lost connection.
    bool roundTrip(std::chrono::milliseconds timeout);

    struct Model;

private:
    PipeWireHardware();

    void deliver(ObjectId object, const PropertyAddress& address);

    pw_thread_loop* threadLoop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    std::unique_ptr<Model> model_; // guarded by the thread loop's lock
    // Thread loop, under its lock: the reconnect timer and the cores of lost connections.
    spa_source* reconnectTimer_ = nullptr;
    std::vector<pw_core*> lostCores_;

    PropertyListenerRegistry listeners_;
    std::unique_ptr<SerialNotifier> notifier_;
};

} // namespace brevalo
