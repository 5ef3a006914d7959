#pragma once

// The simulation's state: its hardware model (devices, streams, listeners), its permission
// provider, its clock and the runtimes of its devices. Internal to the simulated backend.

#include "platform/audio/property_listener_registry.h"
#include "platform/audio/serial_notifier.h"
#include "platform/audio/simulated/simulated_audio_system.h"
#include "platform/audio/simulated/simulated_fault_injection.h"
#include "platform/audio/simulated/simulated_io_unit.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace brevalo {

struct SimulatedAudioSystem::State : AudioHardware, AudioCapturePermission
{
    struct StreamRecord
    {
        ObjectId id = unknownObject;
        ObjectId device = unknownObject;
        Scope scope = Scope::input;
    };
    struct DeviceRecord
    {
        SimDevice description;
        std::vector<ObjectId> inputStreamIDs;
        std::vector<ObjectId> outputStreamIDs;
        std::shared_ptr<SimDeviceRuntime> runtime;
    };

    explicit State(SimTimeMode mode) : timeMode(mode), epoch(std::chrono::steady_clock::now()) {}

    SimTimeMode timeMode;
    std::chrono::steady_clock::time_point epoch;
    std::atomic<std::int64_t> manualNowNs{0};

    // Model.
    mutable std::mutex modelMutex;
    std::vector<DeviceRecord> devicesInOrder;
    std::map<ObjectId, StreamRecord> streamIndex;
    ObjectId defaultOutput = unknownObject;
    ObjectId nextObjectID = 32;
    std::uint32_t unitsCreated = 0;
    std::uint32_t ioUnitsCreated = 0;
    std::uint32_t varispeedUnitsCreated = 0;
    std::vector<std::shared_ptr<SimDeviceRuntime>> scheduleScratch;
    std::mutex advanceMutex;

    // Failures: shared with the fault wrappers of the units, which may outlive the system.
    std::shared_ptr<SimFaults> faults = std::make_shared<SimFaults>();

    // Notifications. The notifier ends with the simulation; the state may live on in its units.
    PropertyListenerRegistry listeners;
    std::unique_ptr<SerialNotifier> notifier = std::make_unique<SerialNotifier>();

    // Permission.
    std::atomic<AudioCaptureAuthorization> authorization{AudioCaptureAuthorization::authorized};
    std::optional<bool> permissionAnswer = true;
    std::vector<std::function<void(bool)>> pendingRequests;
    std::uint32_t permissionRequests = 0;

    // ----- time ---------------------------------------------------------------------------

    std::int64_t nowNs() const
    {
        if (timeMode == SimTimeMode::manual) {
            return manualNowNs.load(std::memory_order_acquire);
        }
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now() - epoch)
            .count();
    }

    // ----- failures -------------------------------------------------------------------------

    std::int32_t check(const SimCall& call) { return faults->check(call); }

    // The fault check of one hardware call on a property of an object.
    std::int32_t checkProperty(AudioOperation operation, ObjectId object,
                               const PropertyAddress& address)
    {
        SimCall call;
        call.operation = operation;
        call.object = object;
        call.property = address.selector;
        call.scope = address.scope;
        call.element = address.element;
        return check(call);
    }

    std::int32_t checkRead(ObjectId object, HardwareProperty property, Scope scope = Scope::global,
                           std::uint32_t element = 0)
    {
        return checkProperty(AudioOperation::readProperty, object, {property, scope, element});
    }

    // ----- notifications --------------------------------------------------------------------

    void postTask(std::function<void()> task) { notifier->post(std::move(task)); }

    // Delivers to the listeners registered when the change happened that are still registered
    // when the notification is handled: a listener added later does not hear of an earlier
    // change, and one removed in between is not called.
    void notify(ObjectId object, HardwareProperty selector, Scope scope = Scope::global)
    {
        const PropertyAddress changed{selector, scope, 0};
        auto targets = listeners.matching(object, changed);
        if (targets.empty()) {
            return;
        }
        postTask([this, object, changed, targets = std::move(targets)] {
            listeners.deliver(targets, object, changed);
        });
    }

    void drain() { notifier->drain(); }

    // ----- model lookups (modelMutex held) ----------------------------------------------------

    DeviceRecord* findDevice(ObjectId id)
    {
        for (auto& record : devicesInOrder) {
            if (record.description.id == id) {
                return &record;
            }
        }
        return nullptr;
    }

    const DeviceRecord* findDevice(ObjectId id) const
    {
        return const_cast<State*>(this)->findDevice(id);
    }

    bool objectExists(ObjectId id) const
    {
        return id == systemObject || findDevice(id) != nullptr || streamIndex.contains(id);
    }

    SimStream* findStream(ObjectId stream, DeviceRecord** owner)
    {
        const auto it = streamIndex.find(stream);
        if (it == streamIndex.end()) {
            return nullptr;
        }
        DeviceRecord* record = findDevice(it->second.device);
        if (record == nullptr) {
            return nullptr;
        }
        auto& ids =
            it->second.scope == Scope::input ? record->inputStreamIDs : record->outputStreamIDs;
        auto& streams = it->second.scope == Scope::input ? record->description.inputStreams
                                                         : record->description.outputStreams;
        const auto pos = std::find(ids.begin(), ids.end(), stream);
        if (pos == ids.end()) {
            return nullptr;
        }
        if (owner != nullptr) {
            *owner = record;
        }
        return &streams[static_cast<std::size_t>(pos - ids.begin())];
    }

    ObjectId allocateID()
    {
        while (objectExists(nextObjectID)) {
            ++nextObjectID;
        }
        return nextObjectID++;
    }

    void assignStreamIDs(DeviceRecord& record, Scope scope)
    {
        auto& ids = scope == Scope::input ? record.inputStreamIDs : record.outputStreamIDs;
        for (ObjectId id : ids) {
            streamIndex.erase(id);
        }
        ids.clear();
        const auto& streams = scope == Scope::input ? record.description.inputStreams
                                                    : record.description.outputStreams;
        for (std::size_t i = 0; i < streams.size(); ++i) {
            const ObjectId id = allocateID();
            ids.push_back(id);
            streamIndex[id] = StreamRecord{id, record.description.id, scope};
        }
    }

    static std::vector<SimDeviceRuntime::ChannelFormat>
    channelFormats(const std::vector<SimStream>& streams)
    {
        std::vector<SimDeviceRuntime::ChannelFormat> formats;
        for (const auto& stream : streams) {
            for (std::uint32_t c = 0; c < stream.channels; ++c) {
                formats.push_back({stream.bitsPerChannel, stream.isFloat});
            }
        }
        return formats;
    }

    // Brings a runtime in line with its device description. Called with modelMutex held; takes
    // the runtime's cycleMutex inside, an order the I/O side never reverses (nothing running
    // under cycleMutex takes modelMutex).
    void syncRuntime(const DeviceRecord& record)
    {
        auto& runtime = *record.runtime;
        std::lock_guard lock(runtime.cycleMutex);
        const auto& d = record.description;
        const bool clockChanged = runtime.nominalRate != d.nominalSampleRate ||
                                  runtime.ppm != d.clockPPM ||
                                  runtime.bufferFrames != d.bufferFrameSize;
        if (clockChanged) {
            runtime.reanchor(nowNs());
        }
        runtime.nominalRate = d.nominalSampleRate;
        runtime.ppm = d.clockPPM;
        runtime.alive = d.isAlive;
        const auto inputs = channelFormats(d.inputStreams);
        const auto outputs = channelFormats(d.outputStreams);
        const bool layoutChanged = inputs.size() != runtime.inputChannels.size() ||
                                   outputs.size() != runtime.outputChannels.size() ||
                                   d.bufferFrameSize > runtime.capacity;
        runtime.inputChannels = inputs;
        runtime.outputChannels = outputs;
        runtime.bufferFrames = d.bufferFrameSize;
        if (layoutChanged) {
            runtime.resizeBuffers();
            if (runtime.capturing) {
                resetCapture(runtime);
            }
        }
        runtime.wake.notify_all();
    }

    static void resetCapture(SimDeviceRuntime& runtime)
    {
        runtime.capture = SimOutputCapture{};
        runtime.capture.sampleRate = runtime.nominalRate;
        runtime.capture.channels.resize(runtime.outputChannels.size());
        for (auto& channel : runtime.capture.channels) {
            channel.reserve(static_cast<std::size_t>(runtime.captureLimit));
        }
    }

    // ----- I/O --------------------------------------------------------------------------------

    void runBlock(SimDeviceRuntime& runtime, std::int64_t dueNs);
    void ioThreadMain(std::shared_ptr<SimDeviceRuntime> runtime);
    void ensureIOThread(const std::shared_ptr<SimDeviceRuntime>& runtime)
    {
        if (timeMode != SimTimeMode::realTime || runtime->thread.joinable()) {
            return;
        }
        runtime->thread = std::thread([this, runtime] { ioThreadMain(runtime); });
    }

    static void stopIOThread(SimDeviceRuntime& runtime)
    {
        {
            std::lock_guard lock(runtime.cycleMutex);
            runtime.quit = true;
        }
        runtime.wake.notify_all();
        if (runtime.thread.joinable() && runtime.thread.get_id() != std::this_thread::get_id()) {
            runtime.thread.join();
        }
    }

    // ----- AudioHardware -------------------------------------------------------------------

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

    // ----- AudioCapturePermission -----------------------------------------------------------

    AudioCaptureAuthorization authorizationStatus() override { return authorization.load(); }
    void requestAccess(std::function<void(bool granted)> completion) override;
};

} // namespace brevalo
