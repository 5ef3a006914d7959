#include "platform/audio/simulated_audio_system.h"

#include "platform/audio/samplerate_varispeed.h"
#include "platform/audio/sim_signal_source.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace brevalo {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t operationCount = static_cast<std::size_t>(AudioOperation::removeListener) + 1;

// What one call of the simulation looks like to the failure rules.
struct Call
{
    AudioOperation operation = AudioOperation::any;
    std::optional<UnitKind> unitKind;
    std::uint32_t unitOrdinal = 0; // among all units
    std::uint32_t kindOrdinal = 0; // among units of the same kind
    std::optional<UnitProperty> unitProperty;
    std::optional<Scope> scope;
    std::optional<std::uint32_t> element;
    ObjectId object = unknownObject;
    std::optional<HardwareProperty> property;
};

bool operationMatches(AudioOperation rule, AudioOperation call)
{
    if (rule == AudioOperation::any || rule == call) {
        return true;
    }
    return rule == AudioOperation::configure &&
           (call == AudioOperation::setProperty || call == AudioOperation::getProperty ||
            call == AudioOperation::setParameter || call == AudioOperation::getParameter);
}

bool ruleMatches(const FaultRule& rule, const Call& call)
{
    if (!operationMatches(rule.operation, call.operation)) {
        return false;
    }
    if (rule.unitKind && rule.unitKind != call.unitKind) {
        return false;
    }
    if (rule.unitOrdinal != 0) {
        const std::uint32_t ordinal = rule.unitKind ? call.kindOrdinal : call.unitOrdinal;
        if (ordinal != rule.unitOrdinal) {
            return false;
        }
    }
    if (rule.unitProperty && rule.unitProperty != call.unitProperty) {
        return false;
    }
    if (rule.scope && rule.scope != call.scope) {
        return false;
    }
    if (rule.element && rule.element != call.element) {
        return false;
    }
    if (rule.object != unknownObject && rule.object != call.object) {
        return false;
    }
    return !rule.property || rule.property == call.property;
}

double effectiveRate(double nominal, double ppm)
{
    return nominal * (1.0 + ppm * 1e-6);
}

class SimIOUnit;

// A device's clock, block buffers and running units. Everything here is guarded by
// cycleMutex, which a block holds from its first to its last callback; the model's mutex is
// never taken while holding it.
struct DeviceRuntime
{
    ObjectId id = unknownObject;
    std::mutex cycleMutex;
    std::condition_variable wake;
    bool present = true;
    bool quit = false;
    bool alive = true;
    double nominalRate = 48000.0;
    double ppm = 0.0;
    std::uint32_t bufferFrames = 512;
    std::uint32_t capacity = 0; // frames the block buffers hold

    struct ChannelFormat
    {
        std::uint32_t bits = 24;
        bool isFloat = false;
    };
    std::vector<ChannelFormat> inputChannels;
    std::vector<ChannelFormat> outputChannels;
    std::vector<SimSignalSource> sources;
    std::vector<double> inputBlock; // channel-major, capacity frames each
    std::vector<float> outputMix;   // channel-major, capacity frames each

    // Clock: block index nextBlock ends at anchorNs + (nextBlock − anchorBlock + 1) periods.
    std::int64_t anchorNs = 0;
    std::uint64_t anchorBlock = 0;
    std::uint64_t nextBlock = 0;
    std::uint64_t framePosition = 0;
    std::uint64_t blocks = 0;

    std::vector<SimIOUnit*> running;
    std::uint32_t currentBlockFrames = 0; // non-zero while input callbacks run

    bool capturing = false;
    std::uint64_t captureLimit = 0;
    SimOutputCapture capture;

    std::thread thread;

    std::int64_t dueNs() const
    {
        const double rate = effectiveRate(nominalRate, ppm);
        const double periods = static_cast<double>(nextBlock - anchorBlock + 1);
        return anchorNs +
               static_cast<std::int64_t>(std::llround(periods * bufferFrames * 1e9 / rate));
    }

    void reanchor(std::int64_t nowNs)
    {
        anchorNs = nowNs;
        anchorBlock = nextBlock;
    }

    bool canRun() const { return present && alive && !running.empty(); }

    void resizeBuffers()
    {
        capacity = std::max(capacity, bufferFrames);
        inputBlock.assign(inputChannels.size() * capacity, 0.0);
        outputMix.assign(outputChannels.size() * capacity, 0.0f);
        sources.resize(inputChannels.size());
    }
};

} // namespace

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
        std::shared_ptr<DeviceRuntime> runtime;
    };
    struct ListenerEntry
    {
        ObjectId object = unknownObject;
        PropertyAddress address;
        std::uint64_t token = 0;
        std::shared_ptr<PropertyListener> listener;
    };

    explicit State(SimTimeMode mode) : timeMode(mode), epoch(Clock::now()) {}

    SimTimeMode timeMode;
    Clock::time_point epoch;
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
    std::vector<std::shared_ptr<DeviceRuntime>> scheduleScratch;
    std::mutex advanceMutex;

    // Failures.
    struct ArmedRule
    {
        FaultRule rule;
        std::uint32_t seen = 0;
        std::uint32_t failed = 0;
    };
    std::mutex faultMutex;
    std::vector<ArmedRule> rules;
    std::atomic<std::size_t> armedRules{0};
    std::array<std::atomic<std::uint64_t>, operationCount> calls{};

    // Notifications.
    std::mutex notifyMutex;
    std::condition_variable notifyWake;
    std::condition_variable notifyIdle;
    std::deque<std::function<void()>> tasks;
    std::uint64_t tasksPosted = 0;
    std::uint64_t tasksDone = 0;
    bool notifierQuit = false;
    std::vector<ListenerEntry> listeners;
    std::uint64_t nextToken = 1;
    std::uint64_t runningToken = 0;
    std::thread notifier;

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
        return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - epoch).count();
    }

    // ----- failures -------------------------------------------------------------------------

    // Realtime-safe while no rule is armed: one atomic increment and one atomic load.
    std::int32_t check(const Call& call)
    {
        calls[static_cast<std::size_t>(call.operation)].fetch_add(1, std::memory_order_relaxed);
        if (armedRules.load(std::memory_order_acquire) == 0) {
            return 0;
        }
        std::lock_guard lock(faultMutex);
        std::int32_t result = 0;
        for (auto& armed : rules) {
            if (!ruleMatches(armed.rule, call)) {
                continue;
            }
            ++armed.seen;
            if (armed.seen <= armed.rule.skip) {
                continue;
            }
            if (armed.rule.times != 0 && armed.failed >= armed.rule.times) {
                continue;
            }
            ++armed.failed;
            if (result == 0) {
                result = armed.rule.status;
            }
        }
        return result;
    }

    std::int32_t checkRead(ObjectId object, HardwareProperty property, Scope scope = Scope::global,
                           std::uint32_t element = 0)
    {
        Call call;
        call.operation = AudioOperation::readProperty;
        call.object = object;
        call.property = property;
        call.scope = scope;
        call.element = element;
        return check(call);
    }

    // ----- notifications --------------------------------------------------------------------

    void startNotifier()
    {
        notifier = std::thread([this] { notifierMain(); });
    }

    void stopNotifier()
    {
        {
            std::lock_guard lock(notifyMutex);
            notifierQuit = true;
        }
        notifyWake.notify_all();
        if (notifier.joinable()) {
            notifier.join();
        }
    }

    void notifierMain()
    {
        std::unique_lock lock(notifyMutex);
        while (true) {
            notifyWake.wait(lock, [this] { return notifierQuit || !tasks.empty(); });
            if (notifierQuit) {
                return;
            }
            auto task = std::move(tasks.front());
            tasks.pop_front();
            lock.unlock();
            task();
            lock.lock();
            ++tasksDone;
            notifyIdle.notify_all();
        }
    }

    void postTask(std::function<void()> task)
    {
        {
            std::lock_guard lock(notifyMutex);
            tasks.push_back(std::move(task));
            ++tasksPosted;
        }
        notifyWake.notify_one();
    }

    static bool addressMatches(const PropertyAddress& listening, const PropertyAddress& changed)
    {
        return listening.selector == changed.selector &&
               (listening.scope == Scope::global || listening.scope == changed.scope) &&
               (listening.element == 0 || listening.element == changed.element);
    }

    // Delivers to the listeners registered when the change happened that are still registered
    // when the notification is handled: a listener added later does not hear of an earlier
    // change, and one removed in between is not called.
    void notify(ObjectId object, HardwareProperty selector, Scope scope = Scope::global)
    {
        const PropertyAddress changed{selector, scope, 0};
        std::vector<ListenerEntry> targets;
        {
            std::lock_guard lock(notifyMutex);
            for (const auto& entry : listeners) {
                if (entry.object == object && addressMatches(entry.address, changed)) {
                    targets.push_back(entry);
                }
            }
        }
        if (targets.empty()) {
            return;
        }
        postTask([this, object, changed, targets = std::move(targets)] {
            for (const auto& entry : targets) {
                {
                    std::lock_guard lock(notifyMutex);
                    const bool stillRegistered =
                        std::any_of(listeners.begin(), listeners.end(),
                                    [&](const ListenerEntry& e) { return e.token == entry.token; });
                    if (!stillRegistered) {
                        continue;
                    }
                    runningToken = entry.token;
                }
                (*entry.listener)(object, changed);
                {
                    std::lock_guard lock(notifyMutex);
                    runningToken = 0;
                }
                notifyIdle.notify_all();
            }
        });
    }

    void drain()
    {
        if (std::this_thread::get_id() == notifier.get_id()) {
            return;
        }
        std::unique_lock lock(notifyMutex);
        const std::uint64_t target = tasksPosted;
        notifyIdle.wait(lock, [&] { return tasksDone >= target || notifierQuit; });
    }

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

    static std::vector<DeviceRuntime::ChannelFormat>
    channelFormats(const std::vector<SimStream>& streams)
    {
        std::vector<DeviceRuntime::ChannelFormat> formats;
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

    static void resetCapture(DeviceRuntime& runtime)
    {
        runtime.capture = SimOutputCapture{};
        runtime.capture.sampleRate = runtime.nominalRate;
        runtime.capture.channels.resize(runtime.outputChannels.size());
        for (auto& channel : runtime.capture.channels) {
            channel.reserve(static_cast<std::size_t>(runtime.captureLimit));
        }
    }

    // ----- I/O --------------------------------------------------------------------------------

    void runBlock(DeviceRuntime& runtime, std::int64_t dueNs);
    void ioThreadMain(std::shared_ptr<DeviceRuntime> runtime);
    void ensureIOThread(const std::shared_ptr<DeviceRuntime>& runtime)
    {
        if (timeMode != SimTimeMode::realTime || runtime->thread.joinable()) {
            return;
        }
        runtime->thread = std::thread([this, runtime] { ioThreadMain(runtime); });
    }

    static void stopIOThread(DeviceRuntime& runtime)
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

namespace {

// The device I/O unit of the simulation.
class SimIOUnit final : public IOUnit
{
public:
    using State = SimulatedAudioSystem::State;

    SimIOUnit(std::shared_ptr<State> state, std::uint32_t ordinal, std::uint32_t kindOrdinal)
        : state_(std::move(state)), ordinal_(ordinal), kindOrdinal_(kindOrdinal)
    {}

    ~SimIOUnit() override
    {
        if (!disposed_) {
            teardown();
        }
    }

    // ----- configuration ---------------------------------------------------------------------

    std::int32_t setEnableIO(Scope scope, std::uint32_t element, bool enable) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::enableIO, scope, element)) {
            return s;
        }
        if (const auto s = requireStopped()) {
            return s;
        }
        if (scope == Scope::input && element == inputElement) {
            inputEnabled_ = enable;
        } else if (scope == Scope::output && element == outputElement) {
            outputEnabled_ = enable;
        } else {
            return status::invalidElement;
        }
        return 0;
    }

    std::int32_t setCurrentDevice(ObjectId device) override
    {
        if (auto s =
                fault(AudioOperation::setProperty, UnitProperty::currentDevice, Scope::global, 0)) {
            return s;
        }
        if (const auto s = requireStopped()) {
            return s;
        }
        std::lock_guard lock(state_->modelMutex);
        const auto* record = state_->findDevice(device);
        if (record == nullptr) {
            return status::badObject;
        }
        device_ = device;
        runtime_ = record->runtime;
        return 0;
    }

    std::int32_t currentDevice(ObjectId& device) override
    {
        if (auto s =
                fault(AudioOperation::getProperty, UnitProperty::currentDevice, Scope::global, 0)) {
            return s;
        }
        if (disposed_) {
            return status::illegalOperation;
        }
        device = device_;
        return 0;
    }

    std::int32_t setMaximumFramesPerSlice(std::uint32_t frames) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::maximumFramesPerSlice,
                           Scope::global, 0)) {
            return s;
        }
        if (disposed_ || initialized_) {
            return status::illegalOperation;
        }
        if (frames == 0 || frames > 65536) {
            return status::paramError;
        }
        maximumFrames_ = frames;
        return 0;
    }

    std::int32_t maximumFramesPerSlice(std::uint32_t& frames) override
    {
        if (auto s = fault(AudioOperation::getProperty, UnitProperty::maximumFramesPerSlice,
                           Scope::global, 0)) {
            return s;
        }
        if (disposed_) {
            return status::illegalOperation;
        }
        frames = maximumFrames_;
        return 0;
    }

    std::int32_t setChannelMap(Scope scope, std::uint32_t element,
                               std::span<const std::int32_t> map) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::channelMap, scope, element)) {
            return s;
        }
        if (const auto s = requireStopped()) {
            return s;
        }
        if (map.empty() || map.size() > AudioBufferList::capacity) {
            return status::paramError;
        }
        for (const auto channel : map) {
            if (channel < -1) {
                return status::paramError;
            }
        }
        if (scope == Scope::output && element == inputElement) {
            inputMap_.assign(map.begin(), map.end());
        } else if (scope == Scope::input && element == outputElement) {
            outputMap_.assign(map.begin(), map.end());
        } else {
            return status::invalidScope;
        }
        return 0;
    }

    std::int32_t setStreamFormat(Scope scope, std::uint32_t element,
                                 const StreamFormat& format) override
    {
        if (auto s =
                fault(AudioOperation::setProperty, UnitProperty::streamFormat, scope, element)) {
            return s;
        }
        if (const auto s = requireStopped()) {
            return s;
        }
        const bool inputClient = scope == Scope::output && element == inputElement;
        const bool outputClient = scope == Scope::input && element == outputElement;
        if (!inputClient && !outputClient) {
            // The hardware side follows the device; it cannot be set.
            return status::illegalOperation;
        }
        if (!isClientFormat(format)) {
            return status::formatNotSupported;
        }
        if (device_ != unknownObject && format.sampleRate != deviceRate()) {
            return status::unsupportedFormat;
        }
        (inputClient ? inputClient_ : outputClient_) = format;
        return 0;
    }

    std::int32_t streamFormat(Scope scope, std::uint32_t element, StreamFormat& format) override
    {
        if (auto s =
                fault(AudioOperation::getProperty, UnitProperty::streamFormat, scope, element)) {
            return s;
        }
        if (disposed_) {
            return status::illegalOperation;
        }
        if (scope == Scope::output && element == inputElement) {
            format = inputClient_ ? *inputClient_ : defaultClient(Scope::input);
        } else if (scope == Scope::input && element == outputElement) {
            format = outputClient_ ? *outputClient_ : defaultClient(Scope::output);
        } else if (scope == Scope::input && element == inputElement) {
            format = hardwareFormat(Scope::input);
        } else if (scope == Scope::output && element == outputElement) {
            format = hardwareFormat(Scope::output);
        } else {
            return status::invalidElement;
        }
        return 0;
    }

    std::int32_t setInputCallback(RenderCallback callback) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::setInputCallback,
                           Scope::global, 0)) {
            return s;
        }
        if (const auto s = requireStopped()) {
            return s;
        }
        inputCallback_ = callback;
        return 0;
    }

    std::int32_t setRenderCallback(Scope scope, std::uint32_t element,
                                   RenderCallback callback) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::setRenderCallback, scope,
                           element)) {
            return s;
        }
        if (const auto s = requireStopped()) {
            return s;
        }
        if (scope != Scope::input || element != outputElement) {
            return status::invalidScope;
        }
        renderCallback_ = callback;
        return 0;
    }

    // ----- life cycle ------------------------------------------------------------------------

    std::int32_t initialize() override
    {
        if (auto s = fault(AudioOperation::initialize)) {
            return s;
        }
        if (disposed_) {
            return status::illegalOperation;
        }
        if (initialized_) {
            return 0;
        }
        if (device_ == unknownObject && outputEnabled_) {
            std::lock_guard lock(state_->modelMutex);
            if (const auto* record = state_->findDevice(state_->defaultOutput)) {
                device_ = record->description.id;
                runtime_ = record->runtime;
            }
        }
        if (!runtime_) {
            return status::deviceUnavailable;
        }
        {
            std::lock_guard lock(state_->modelMutex);
            const auto* record = state_->findDevice(device_);
            if (record == nullptr || !record->description.isAlive) {
                return status::deviceUnavailable;
            }
            const double rate = record->description.nominalSampleRate;
            if (inputEnabled_ && (record->description.inputStreams.empty() ||
                                  (inputClient_ && inputClient_->sampleRate != rate))) {
                return status::unsupportedFormat;
            }
            if (outputEnabled_ && (record->description.outputStreams.empty() ||
                                   (outputClient_ && outputClient_->sampleRate != rate))) {
                return status::unsupportedFormat;
            }
        }
        const StreamFormat output = outputClient_ ? *outputClient_ : defaultClient(Scope::output);
        try {
            renderScratch_.assign(std::size_t{output.channelsPerFrame} * maximumFrames_, 0.0f);
        } catch (const std::bad_alloc&) {
            return status::memoryFull;
        }
        initialized_ = true;
        return 0;
    }

    std::int32_t uninitialize() override
    {
        const auto s = fault(AudioOperation::uninitialize);
        if (disposed_) {
            return status::illegalOperation;
        }
        // Clean-up stays safe even when a failure is injected: the unit still stops.
        stopRunning();
        initialized_ = false;
        return s;
    }

    std::int32_t start() override
    {
        if (auto s = fault(AudioOperation::start)) {
            return s;
        }
        if (disposed_) {
            return status::illegalOperation;
        }
        if (!initialized_) {
            return status::uninitialized;
        }
        if (started_) {
            return 0;
        }
        {
            std::lock_guard lock(state_->modelMutex);
            const auto* record = state_->findDevice(device_);
            if (record == nullptr || record->runtime != runtime_ || !record->description.isAlive) {
                return status::deviceUnavailable;
            }
            const double rate = record->description.nominalSampleRate;
            if ((inputEnabled_ && inputClient_ && inputClient_->sampleRate != rate) ||
                (outputEnabled_ && outputClient_ && outputClient_->sampleRate != rate)) {
                return status::unsupportedFormat;
            }
        }
        {
            std::lock_guard lock(runtime_->cycleMutex);
            if (runtime_->running.empty()) {
                runtime_->reanchor(state_->nowNs());
            }
            runtime_->running.push_back(this);
            runtime_->wake.notify_all();
        }
        started_ = true;
        state_->ensureIOThread(runtime_);
        return 0;
    }

    std::int32_t stop() override
    {
        const auto s = fault(AudioOperation::stop);
        if (disposed_) {
            return status::illegalOperation;
        }
        stopRunning();
        return s;
    }

    std::int32_t dispose() override
    {
        const auto s = fault(AudioOperation::dispose);
        if (disposed_) {
            return status::illegalOperation;
        }
        teardown();
        return s;
    }

    // ----- realtime ----------------------------------------------------------------------------

    std::int32_t render(RenderActionFlags& /*flags*/, const AudioTimeStamp& /*time*/,
                        std::uint32_t bus, std::uint32_t frames, AudioBufferList& buffers) override
    {
        if (auto s = fault(AudioOperation::render, std::nullopt, std::nullopt, bus)) {
            return s;
        }
        if (disposed_ || !initialized_) {
            return status::uninitialized;
        }
        if (bus != inputElement || !inputEnabled_) {
            return status::invalidElement;
        }
        // Only valid inside this unit's input callback, while its device holds the block.
        DeviceRuntime* runtime = activeRuntime_;
        if (runtime == nullptr || runtime->currentBlockFrames == 0) {
            return status::illegalOperation;
        }
        if (frames > runtime->currentBlockFrames || frames > maximumFrames_) {
            return status::tooManyFramesToProcess;
        }
        // The device's rate comes from the runtime: the model's lock is never taken here.
        const StreamFormat format =
            inputClient_ ? *inputClient_ : StreamFormat::float32Planar(runtime->nominalRate, 2);
        if (format.sampleRate != runtime->nominalRate) {
            return status::unsupportedFormat;
        }
        if (buffers.numberBuffers < format.channelsPerFrame) {
            return status::paramError;
        }
        const auto deviceChannels = static_cast<std::int32_t>(runtime->inputChannels.size());
        for (std::uint32_t c = 0; c < format.channelsPerFrame; ++c) {
            auto& buffer = buffers.buffers[c];
            if (buffer.data == nullptr) {
                return status::paramError;
            }
            const std::int32_t source =
                c < inputMap_.size() ? inputMap_[c] : static_cast<std::int32_t>(c);
            buffer.numberChannels = 1;
            buffer.dataByteSize = frames * 4;
            if (source < 0 || source >= deviceChannels) {
                std::fill_n(static_cast<std::uint32_t*>(buffer.data), frames, 0u);
                continue;
            }
            const double* samples =
                runtime->inputBlock.data() + static_cast<std::size_t>(source) * runtime->capacity;
            const auto channelFormat = runtime->inputChannels[static_cast<std::size_t>(source)];
            if (format.isFloat()) {
                auto* out = static_cast<float*>(buffer.data);
                const double scale =
                    channelFormat.isFloat
                        ? 1.0
                        : std::ldexp(1.0, -(static_cast<int>(channelFormat.bits) - 1));
                for (std::uint32_t i = 0; i < frames; ++i) {
                    out[i] = static_cast<float>(samples[i] * scale);
                }
            } else {
                auto* out = static_cast<std::int32_t*>(buffer.data);
                for (std::uint32_t i = 0; i < frames; ++i) {
                    out[i] = leftJustified(samples[i], channelFormat);
                }
            }
        }
        return 0;
    }

    // Called by the device block with its cycleMutex held.
    void runInput(DeviceRuntime& runtime, const AudioTimeStamp& time, std::uint32_t frames)
    {
        if (!inputEnabled_ || inputCallback_.proc == nullptr) {
            return;
        }
        activeRuntime_ = &runtime;
        RenderActionFlags flags = 0;
        inputCallback_.proc(inputCallback_.refCon, flags, time, inputElement, frames, nullptr);
        activeRuntime_ = nullptr;
    }

    void runOutput(DeviceRuntime& runtime, const AudioTimeStamp& time, std::uint32_t frames)
    {
        if (!outputEnabled_ || renderCallback_.proc == nullptr || frames > maximumFrames_) {
            return;
        }
        const StreamFormat format =
            outputClient_ ? *outputClient_ : StreamFormat::float32Planar(runtime.nominalRate, 2);
        if (format.sampleRate != runtime.nominalRate) {
            return; // refused, never resampled: the device plays silence
        }
        if (renderScratch_.size() < std::size_t{format.channelsPerFrame} * maximumFrames_) {
            return; // the client format grew after initialize
        }
        AudioBufferList list;
        list.numberBuffers = format.channelsPerFrame;
        for (std::uint32_t c = 0; c < format.channelsPerFrame; ++c) {
            list.buffers[c].numberChannels = 1;
            list.buffers[c].dataByteSize = frames * 4;
            list.buffers[c].data = renderScratch_.data() + std::size_t{c} * maximumFrames_;
        }
        RenderActionFlags flags = 0;
        if (renderCallback_.proc(renderCallback_.refCon, flags, time, outputElement, frames,
                                 &list) != 0) {
            return;
        }
        const auto deviceChannels = static_cast<std::int32_t>(runtime.outputChannels.size());
        for (std::uint32_t c = 0; c < format.channelsPerFrame; ++c) {
            const std::int32_t target =
                c < outputMap_.size() ? outputMap_[c] : static_cast<std::int32_t>(c);
            if (target < 0 || target >= deviceChannels || list.buffers[c].data == nullptr) {
                continue;
            }
            float* mix =
                runtime.outputMix.data() + static_cast<std::size_t>(target) * runtime.capacity;
            const auto* source = static_cast<const float*>(list.buffers[c].data);
            for (std::uint32_t i = 0; i < frames; ++i) {
                mix[i] += source[i];
            }
        }
    }

    bool wantsInput() const { return inputEnabled_; }

private:
    static bool isClientFormat(const StreamFormat& f)
    {
        const bool planar32 = f.isLinearPCM() && f.isNonInterleaved() && f.bitsPerChannel == 32 &&
                              f.bytesPerFrame == 4 && f.bytesPerPacket == 4 &&
                              f.framesPerPacket == 1 && f.channelsPerFrame >= 1 &&
                              f.channelsPerFrame <= AudioBufferList::capacity;
        const std::uint32_t kind =
            f.formatFlags & (formatFlagIsFloat | formatFlagIsSignedInteger | formatFlagIsBigEndian);
        return planar32 && (kind == formatFlagIsFloat || kind == formatFlagIsSignedInteger) &&
               std::isfinite(f.sampleRate) && f.sampleRate > 0.0;
    }

    static std::int32_t leftJustified(double sample, DeviceRuntime::ChannelFormat format)
    {
        if (format.isFloat) {
            const double scaled = std::round(sample * 2147483648.0);
            return static_cast<std::int32_t>(std::clamp(scaled, -2147483648.0, 2147483647.0));
        }
        const auto code = static_cast<std::int64_t>(sample);
        const auto shift = 32 - static_cast<int>(std::min<std::uint32_t>(format.bits, 32));
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(code) << shift);
    }

    std::int32_t fault(AudioOperation operation, std::optional<UnitProperty> property = {},
                       std::optional<Scope> scope = {}, std::optional<std::uint32_t> element = {})
    {
        Call call;
        call.operation = operation;
        call.unitKind = UnitKind::io;
        call.unitOrdinal = ordinal_;
        call.kindOrdinal = kindOrdinal_;
        call.unitProperty = property;
        call.scope = scope;
        call.element = element;
        call.object = device_;
        return state_->check(call);
    }

    std::int32_t requireStopped() const
    {
        return disposed_ || started_ ? status::illegalOperation : 0;
    }

    double deviceRate() const
    {
        std::lock_guard lock(state_->modelMutex);
        const auto* record = state_->findDevice(device_);
        return record != nullptr ? record->description.nominalSampleRate : 0.0;
    }

    StreamFormat defaultClient(Scope side) const
    {
        (void)side;
        return StreamFormat::float32Planar(deviceRate(), 2);
    }

    StreamFormat hardwareFormat(Scope side) const
    {
        std::lock_guard lock(state_->modelMutex);
        const auto* record = state_->findDevice(device_);
        if (record == nullptr) {
            return {};
        }
        const auto& streams = side == Scope::input ? record->description.inputStreams
                                                   : record->description.outputStreams;
        std::uint32_t channels = 0;
        for (const auto& stream : streams) {
            channels += stream.channels;
        }
        if (streams.empty()) {
            return {};
        }
        const double rate = record->description.nominalSampleRate;
        return streams.front().isFloat
                   ? StreamFormat::physicalFloat(rate, channels)
                   : StreamFormat::physicalInteger(rate, channels, streams.front().bitsPerChannel);
    }

    void stopRunning()
    {
        if (!started_) {
            return;
        }
        {
            std::lock_guard lock(runtime_->cycleMutex);
            auto& running = runtime_->running;
            running.erase(std::remove(running.begin(), running.end(), this), running.end());
        }
        started_ = false;
    }

    void teardown()
    {
        stopRunning();
        initialized_ = false;
        disposed_ = true;
    }

    std::shared_ptr<State> state_;
    std::uint32_t ordinal_;
    std::uint32_t kindOrdinal_;

    bool inputEnabled_ = false;
    bool outputEnabled_ = true;
    ObjectId device_ = unknownObject;
    std::shared_ptr<DeviceRuntime> runtime_;
    std::uint32_t maximumFrames_ = 4096;
    std::vector<std::int32_t> inputMap_;
    std::vector<std::int32_t> outputMap_;
    std::optional<StreamFormat> inputClient_;
    std::optional<StreamFormat> outputClient_;
    RenderCallback inputCallback_;
    RenderCallback renderCallback_;
    bool initialized_ = false;
    bool started_ = false;
    bool disposed_ = false;

    std::vector<float> renderScratch_;
    DeviceRuntime* activeRuntime_ = nullptr;
};

// The varispeed of every backend, with the simulation's failure injection in front.
class SimVarispeedUnit final : public VarispeedUnit
{
public:
    using State = SimulatedAudioSystem::State;

    SimVarispeedUnit(std::shared_ptr<State> state, std::uint32_t ordinal, std::uint32_t kindOrdinal)
        : state_(std::move(state)), ordinal_(ordinal), kindOrdinal_(kindOrdinal)
    {}

    std::int32_t setMaximumFramesPerSlice(std::uint32_t frames) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::maximumFramesPerSlice,
                           Scope::global, 0)) {
            return s;
        }
        return unit_.setMaximumFramesPerSlice(frames);
    }
    std::int32_t maximumFramesPerSlice(std::uint32_t& frames) override
    {
        if (auto s = fault(AudioOperation::getProperty, UnitProperty::maximumFramesPerSlice,
                           Scope::global, 0)) {
            return s;
        }
        return unit_.maximumFramesPerSlice(frames);
    }
    std::int32_t setStreamFormat(Scope scope, std::uint32_t element,
                                 const StreamFormat& format) override
    {
        if (auto s =
                fault(AudioOperation::setProperty, UnitProperty::streamFormat, scope, element)) {
            return s;
        }
        return unit_.setStreamFormat(scope, element, format);
    }
    std::int32_t streamFormat(Scope scope, std::uint32_t element, StreamFormat& format) override
    {
        if (auto s =
                fault(AudioOperation::getProperty, UnitProperty::streamFormat, scope, element)) {
            return s;
        }
        return unit_.streamFormat(scope, element, format);
    }
    std::int32_t setRenderCallback(Scope scope, std::uint32_t element,
                                   RenderCallback callback) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::setRenderCallback, scope,
                           element)) {
            return s;
        }
        return unit_.setRenderCallback(scope, element, callback);
    }
    std::int32_t setRenderQuality(std::uint32_t quality) override
    {
        if (auto s =
                fault(AudioOperation::setProperty, UnitProperty::renderQuality, Scope::global, 0)) {
            return s;
        }
        return unit_.setRenderQuality(quality);
    }
    std::int32_t renderQuality(std::uint32_t& quality) override
    {
        if (auto s =
                fault(AudioOperation::getProperty, UnitProperty::renderQuality, Scope::global, 0)) {
            return s;
        }
        return unit_.renderQuality(quality);
    }
    std::int32_t setPlaybackRate(float rate) override
    {
        if (auto s = fault(AudioOperation::setParameter, std::nullopt, Scope::global, 0)) {
            return s;
        }
        return unit_.setPlaybackRate(rate);
    }
    std::int32_t playbackRate(float& rate) override
    {
        if (auto s = fault(AudioOperation::getParameter, std::nullopt, Scope::global, 0)) {
            return s;
        }
        return unit_.playbackRate(rate);
    }
    std::int32_t initialize() override
    {
        if (auto s = fault(AudioOperation::initialize)) {
            return s;
        }
        return unit_.initialize();
    }
    std::int32_t uninitialize() override
    {
        const auto s = fault(AudioOperation::uninitialize);
        const auto result = unit_.uninitialize();
        return s != 0 ? s : result;
    }
    std::int32_t dispose() override
    {
        const auto s = fault(AudioOperation::dispose);
        const auto result = unit_.dispose();
        return s != 0 ? s : result;
    }
    std::int32_t render(RenderActionFlags& flags, const AudioTimeStamp& time, std::uint32_t bus,
                        std::uint32_t frames, AudioBufferList& buffers) override
    {
        if (auto s = fault(AudioOperation::render, std::nullopt, std::nullopt, bus)) {
            return s;
        }
        return unit_.render(flags, time, bus, frames, buffers);
    }

private:
    std::int32_t fault(AudioOperation operation, std::optional<UnitProperty> property = {},
                       std::optional<Scope> scope = {}, std::optional<std::uint32_t> element = {})
    {
        Call call;
        call.operation = operation;
        call.unitKind = UnitKind::varispeed;
        call.unitOrdinal = ordinal_;
        call.kindOrdinal = kindOrdinal_;
        call.unitProperty = property;
        call.scope = scope;
        call.element = element;
        return state_->check(call);
    }

    std::shared_ptr<State> state_;
    std::uint32_t ordinal_;
    std::uint32_t kindOrdinal_;
    SamplerateVarispeed unit_;
};

} // namespace

// ----- I/O ----------------------------------------------------------------------------------

void SimulatedAudioSystem::State::runBlock(DeviceRuntime& runtime, std::int64_t dueNs)
{
    const std::uint32_t frames = runtime.bufferFrames;
    AudioTimeStamp time;
    time.sampleTime = static_cast<double>(runtime.framePosition);
    time.hostTime = static_cast<std::uint64_t>(std::max<std::int64_t>(dueNs, 0));
    time.rateScalar = 1.0 + runtime.ppm * 1e-6;

    const bool anyInput = std::any_of(runtime.running.begin(), runtime.running.end(),
                                      [](SimIOUnit* unit) { return unit->wantsInput(); });
    if (anyInput) {
        for (std::size_t c = 0; c < runtime.inputChannels.size(); ++c) {
            const auto format = runtime.inputChannels[c];
            runtime.sources[c].generate(
                runtime.framePosition, frames, static_cast<std::uint32_t>(c), runtime.nominalRate,
                format.bits, format.isFloat, runtime.inputBlock.data() + c * runtime.capacity);
        }
        runtime.currentBlockFrames = frames;
        // Index loop: a callback may not start or stop units, but stay robust if it does.
        for (std::size_t i = 0; i < runtime.running.size(); ++i) {
            runtime.running[i]->runInput(runtime, time, frames);
        }
        runtime.currentBlockFrames = 0;
    }

    if (!runtime.outputChannels.empty()) {
        std::fill(runtime.outputMix.begin(), runtime.outputMix.end(), 0.0f);
        for (std::size_t i = 0; i < runtime.running.size(); ++i) {
            runtime.running[i]->runOutput(runtime, time, frames);
        }
        if (runtime.capturing) {
            auto& capture = runtime.capture;
            const std::uint64_t kept = capture.framesPlayed - capture.framesNotKept;
            const std::uint64_t room =
                runtime.captureLimit > kept ? runtime.captureLimit - kept : 0;
            const auto keep = static_cast<std::uint32_t>(std::min<std::uint64_t>(room, frames));
            for (std::size_t c = 0; c < capture.channels.size(); ++c) {
                const float* mix = runtime.outputMix.data() + c * runtime.capacity;
                capture.channels[c].insert(capture.channels[c].end(), mix, mix + keep);
            }
            capture.framesPlayed += frames;
            capture.framesNotKept += frames - keep;
        }
    }

    runtime.framePosition += frames;
    ++runtime.nextBlock;
    ++runtime.blocks;
}

void SimulatedAudioSystem::State::ioThreadMain(std::shared_ptr<DeviceRuntime> runtime)
{
    std::unique_lock lock(runtime->cycleMutex);
    while (!runtime->quit) {
        if (!runtime->canRun()) {
            runtime->wake.wait(lock);
            continue;
        }
        std::int64_t due = runtime->dueNs();
        const std::int64_t now = nowNs();
        // A thread held up for long (a debugger, a loaded machine) resumes from now instead of
        // delivering a burst of late blocks.
        if (now - due > 1'000'000'000) {
            runtime->reanchor(now);
            due = runtime->dueNs();
        }
        if (now < due) {
            runtime->wake.wait_until(lock, epoch + std::chrono::nanoseconds(due));
            continue;
        }
        runBlock(*runtime, due);
    }
}

// ----- hardware reads -----------------------------------------------------------------------

bool SimulatedAudioSystem::State::hasProperty(ObjectId object, const PropertyAddress& address)
{
    Call call;
    call.operation = AudioOperation::hasProperty;
    call.object = object;
    call.property = address.selector;
    call.scope = address.scope;
    call.element = address.element;
    if (check(call) != 0) {
        return false;
    }
    std::lock_guard lock(modelMutex);
    if (object == systemObject) {
        return address.selector == HardwareProperty::devices ||
               address.selector == HardwareProperty::defaultOutputDevice ||
               address.selector == HardwareProperty::translateUIDToDevice;
    }
    if (streamIndex.contains(object)) {
        return address.selector == HardwareProperty::startingChannel ||
               address.selector == HardwareProperty::physicalFormat;
    }
    const auto* record = findDevice(object);
    if (record == nullptr) {
        return false;
    }
    const auto& d = record->description;
    switch (address.selector) {
    case HardwareProperty::elementName: {
        const auto& names =
            address.scope == Scope::output ? d.outputChannelNames : d.inputChannelNames;
        return address.element >= 1 && address.element <= names.size();
    }
    case HardwareProperty::preferredChannelsForStereo:
        return address.scope == Scope::output ? d.preferredOutputStereo.has_value()
                                              : d.preferredInputStereo.has_value();
    case HardwareProperty::usesVariableBufferFrameSizes:
        return d.variableBufferFrameSize != 0;
    case HardwareProperty::devices:
    case HardwareProperty::defaultOutputDevice:
    case HardwareProperty::translateUIDToDevice:
    case HardwareProperty::startingChannel:
    case HardwareProperty::physicalFormat:
        return false;
    default:
        return true;
    }
}

std::int32_t SimulatedAudioSystem::State::devices(std::vector<ObjectId>& deviceIDs)
{
    if (auto s = checkRead(systemObject, HardwareProperty::devices)) {
        return s;
    }
    std::lock_guard lock(modelMutex);
    deviceIDs.clear();
    for (const auto& record : devicesInOrder) {
        deviceIDs.push_back(record.description.id);
    }
    return 0;
}

std::int32_t SimulatedAudioSystem::State::defaultOutputDevice(ObjectId& device)
{
    if (auto s = checkRead(systemObject, HardwareProperty::defaultOutputDevice)) {
        return s;
    }
    std::lock_guard lock(modelMutex);
    device = defaultOutput;
    return 0;
}

std::int32_t SimulatedAudioSystem::State::deviceForUID(const std::string& uid, ObjectId& device)
{
    if (auto s = checkRead(systemObject, HardwareProperty::translateUIDToDevice)) {
        return s;
    }
    std::lock_guard lock(modelMutex);
    device = unknownObject;
    for (const auto& record : devicesInOrder) {
        if (record.description.uid == uid) {
            device = record.description.id;
            break;
        }
    }
    return 0;
}

#define BREVALO_SIM_DEVICE_READ(selector, scope, element)                                          \
    if (auto s = checkRead(device, selector, scope, element)) {                                    \
        return s;                                                                                  \
    }                                                                                              \
    std::lock_guard lock(modelMutex);                                                              \
    const auto* record = findDevice(device);                                                       \
    if (record == nullptr) {                                                                       \
        return status::badObject;                                                                  \
    }                                                                                              \
    const auto& d = record->description

std::int32_t SimulatedAudioSystem::State::deviceUID(ObjectId device, std::string& uid)
{
    BREVALO_SIM_DEVICE_READ(HardwareProperty::deviceUID, Scope::global, 0);
    uid = d.uid;
    return 0;
}

std::int32_t SimulatedAudioSystem::State::name(ObjectId device, std::string& deviceName)
{
    BREVALO_SIM_DEVICE_READ(HardwareProperty::name, Scope::global, 0);
    deviceName = d.name;
    return 0;
}

std::int32_t
SimulatedAudioSystem::State::streamConfiguration(ObjectId device, Scope scope,
                                                 std::vector<std::uint32_t>& channelsPerBuffer)
{
    BREVALO_SIM_DEVICE_READ(HardwareProperty::streamConfiguration, scope, 0);
    if (scope == Scope::global) {
        return status::unknownProperty;
    }
    channelsPerBuffer.clear();
    for (const auto& stream : scope == Scope::input ? d.inputStreams : d.outputStreams) {
        channelsPerBuffer.push_back(stream.channels);
    }
    return 0;
}

std::int32_t SimulatedAudioSystem::State::elementName(ObjectId device, Scope scope,
                                                      std::uint32_t channel,
                                                      std::string& elementText)
{
    BREVALO_SIM_DEVICE_READ(HardwareProperty::elementName, scope, channel);
    const auto& names = scope == Scope::output ? d.outputChannelNames : d.inputChannelNames;
    if (channel < 1 || channel > names.size()) {
        return status::unknownProperty;
    }
    elementText = names[channel - 1];
    return 0;
}

std::int32_t
SimulatedAudioSystem::State::preferredChannelsForStereo(ObjectId device, Scope scope,
                                                        std::array<std::uint32_t, 2>& channels)
{
    BREVALO_SIM_DEVICE_READ(HardwareProperty::preferredChannelsForStereo, scope, 0);
    const auto& preferred =
        scope == Scope::output ? d.preferredOutputStereo : d.preferredInputStereo;
    if (!preferred) {
        return status::unknownProperty;
    }
    channels = *preferred;
    return 0;
}

std::int32_t SimulatedAudioSystem::State::nominalSampleRate(ObjectId device, double& rate)
{
    BREVALO_SIM_DEVICE_READ(HardwareProperty::nominalSampleRate, Scope::global, 0);
    rate = d.nominalSampleRate;
    return 0;
}

std::int32_t SimulatedAudioSystem::State::streams(ObjectId device, Scope scope,
                                                  std::vector<ObjectId>& streamIDs)
{
    BREVALO_SIM_DEVICE_READ(HardwareProperty::streams, scope, 0);
    (void)d;
    if (scope == Scope::global) {
        streamIDs = record->inputStreamIDs;
        streamIDs.insert(streamIDs.end(), record->outputStreamIDs.begin(),
                         record->outputStreamIDs.end());
    } else {
        streamIDs = scope == Scope::input ? record->inputStreamIDs : record->outputStreamIDs;
    }
    return 0;
}

std::int32_t SimulatedAudioSystem::State::bufferFrameSize(ObjectId device, std::uint32_t& frames)
{
    BREVALO_SIM_DEVICE_READ(HardwareProperty::bufferFrameSize, Scope::global, 0);
    frames = d.bufferFrameSize;
    return 0;
}

std::int32_t SimulatedAudioSystem::State::usesVariableBufferFrameSizes(ObjectId device,
                                                                       std::uint32_t& frames)
{
    BREVALO_SIM_DEVICE_READ(HardwareProperty::usesVariableBufferFrameSizes, Scope::global, 0);
    if (d.variableBufferFrameSize == 0) {
        return status::unknownProperty;
    }
    frames = d.variableBufferFrameSize;
    return 0;
}

std::int32_t SimulatedAudioSystem::State::isAlive(ObjectId device, std::uint32_t& alive)
{
    BREVALO_SIM_DEVICE_READ(HardwareProperty::deviceIsAlive, Scope::global, 0);
    alive = d.isAlive ? 1 : 0;
    return 0;
}

#undef BREVALO_SIM_DEVICE_READ

std::int32_t SimulatedAudioSystem::State::startingChannel(ObjectId stream, std::uint32_t& channel)
{
    if (auto s = checkRead(stream, HardwareProperty::startingChannel)) {
        return s;
    }
    std::lock_guard lock(modelMutex);
    const auto it = streamIndex.find(stream);
    const DeviceRecord* record = it != streamIndex.end() ? findDevice(it->second.device) : nullptr;
    if (record == nullptr) {
        return status::badObject;
    }
    const bool input = it->second.scope == Scope::input;
    const auto& ids = input ? record->inputStreamIDs : record->outputStreamIDs;
    const auto& list = input ? record->description.inputStreams : record->description.outputStreams;
    std::uint32_t first = 1;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (ids[i] == stream) {
            channel = first;
            return 0;
        }
        first += list[i].channels;
    }
    return status::badObject;
}

std::int32_t SimulatedAudioSystem::State::physicalFormat(ObjectId stream, StreamFormat& format)
{
    if (auto s = checkRead(stream, HardwareProperty::physicalFormat)) {
        return s;
    }
    std::lock_guard lock(modelMutex);
    DeviceRecord* owner = nullptr;
    const SimStream* s = findStream(stream, &owner);
    if (s == nullptr) {
        return status::badObject;
    }
    const double rate = s->sampleRate > 0.0 ? s->sampleRate : owner->description.nominalSampleRate;
    format = s->isFloat ? StreamFormat::physicalFloat(rate, s->channels)
                        : StreamFormat::physicalInteger(rate, s->channels, s->bitsPerChannel);
    format.formatID = s->formatID;
    if (s->isFloat && s->bitsPerChannel != 32) {
        format.bitsPerChannel = s->bitsPerChannel;
    }
    return 0;
}

std::int32_t SimulatedAudioSystem::State::addPropertyListener(ObjectId object,
                                                              const PropertyAddress& address,
                                                              PropertyListener listener,
                                                              ListenerRegistration& registration)
{
    Call call;
    call.operation = AudioOperation::addListener;
    call.object = object;
    call.property = address.selector;
    call.scope = address.scope;
    call.element = address.element;
    if (auto s = check(call)) {
        return s;
    }
    if (!listener) {
        return status::paramError;
    }
    {
        std::lock_guard lock(modelMutex);
        if (!objectExists(object)) {
            return status::badObject;
        }
    }
    std::lock_guard lock(notifyMutex);
    ListenerEntry entry;
    entry.object = object;
    entry.address = address;
    entry.token = nextToken++;
    entry.listener = std::make_shared<PropertyListener>(std::move(listener));
    listeners.push_back(entry);
    registration = ListenerRegistration{object, address, entry.token};
    return 0;
}

std::int32_t
SimulatedAudioSystem::State::removePropertyListener(const ListenerRegistration& registration)
{
    Call call;
    call.operation = AudioOperation::removeListener;
    call.object = registration.objectID;
    call.property = registration.address.selector;
    call.scope = registration.address.scope;
    call.element = registration.address.element;
    if (auto s = check(call)) {
        return s;
    }
    std::unique_lock lock(notifyMutex);
    const auto it = std::find_if(listeners.begin(), listeners.end(), [&](const ListenerEntry& e) {
        return e.token == registration.token && e.object == registration.objectID &&
               e.address == registration.address;
    });
    if (it == listeners.end()) {
        return status::paramError;
    }
    listeners.erase(it);
    if (std::this_thread::get_id() != notifier.get_id()) {
        notifyIdle.wait(lock, [&] { return runningToken != registration.token; });
    }
    return 0;
}

void SimulatedAudioSystem::State::requestAccess(std::function<void(bool)> completion)
{
    std::optional<bool> answer;
    {
        std::lock_guard lock(modelMutex);
        ++permissionRequests;
        const auto current = authorization.load();
        if (current != AudioCaptureAuthorization::notDetermined) {
            answer = current == AudioCaptureAuthorization::authorized;
        } else if (permissionAnswer) {
            answer = *permissionAnswer;
            authorization =
                *answer ? AudioCaptureAuthorization::authorized : AudioCaptureAuthorization::denied;
        } else {
            pendingRequests.push_back(std::move(completion));
            return;
        }
    }
    postTask([completion = std::move(completion), granted = *answer] { completion(granted); });
}

// ----- SimDevice ----------------------------------------------------------------------------

SimDevice SimDevice::input(std::string uid, std::string name, std::uint32_t channels, double rate,
                           std::uint32_t bits)
{
    SimDevice d;
    d.uid = std::move(uid);
    d.name = std::move(name);
    d.nominalSampleRate = rate;
    d.inputStreams.push_back(SimStream{channels, bits, false, formatLinearPCM, 0.0});
    return d;
}

SimDevice SimDevice::output(std::string uid, std::string name, std::uint32_t channels, double rate)
{
    SimDevice d;
    d.uid = std::move(uid);
    d.name = std::move(name);
    d.nominalSampleRate = rate;
    d.outputStreams.push_back(SimStream{channels, 32, true, formatLinearPCM, 0.0});
    return d;
}

const char* audioOperationName(AudioOperation operation)
{
    switch (operation) {
    case AudioOperation::any:
        return "any";
    case AudioOperation::configure:
        return "configure";
    case AudioOperation::findComponent:
        return "findComponent";
    case AudioOperation::createUnit:
        return "createUnit";
    case AudioOperation::setProperty:
        return "setProperty";
    case AudioOperation::getProperty:
        return "getProperty";
    case AudioOperation::setParameter:
        return "setParameter";
    case AudioOperation::getParameter:
        return "getParameter";
    case AudioOperation::initialize:
        return "initialize";
    case AudioOperation::uninitialize:
        return "uninitialize";
    case AudioOperation::start:
        return "start";
    case AudioOperation::stop:
        return "stop";
    case AudioOperation::dispose:
        return "dispose";
    case AudioOperation::render:
        return "render";
    case AudioOperation::readProperty:
        return "readProperty";
    case AudioOperation::hasProperty:
        return "hasProperty";
    case AudioOperation::addListener:
        return "addListener";
    case AudioOperation::removeListener:
        return "removeListener";
    }
    return "unknown";
}

// ----- SimulatedAudioSystem -----------------------------------------------------------------

SimulatedAudioSystem::SimulatedAudioSystem(SimTimeMode mode) : state_(std::make_shared<State>(mode))
{
    state_->startNotifier();
}

SimulatedAudioSystem::~SimulatedAudioSystem()
{
    std::vector<std::shared_ptr<DeviceRuntime>> runtimes;
    {
        std::lock_guard lock(state_->modelMutex);
        for (auto& record : state_->devicesInOrder) {
            runtimes.push_back(record.runtime);
        }
    }
    for (auto& runtime : runtimes) {
        State::stopIOThread(*runtime);
    }
    state_->stopNotifier();
}

AudioHardware& SimulatedAudioSystem::hardware()
{
    return *state_;
}

AudioCapturePermission& SimulatedAudioSystem::capturePermission()
{
    return *state_;
}

bool SimulatedAudioSystem::findComponent(UnitKind kind)
{
    Call call;
    call.operation = AudioOperation::findComponent;
    call.unitKind = kind;
    return state_->check(call) == 0;
}

std::int32_t SimulatedAudioSystem::createIOUnit(std::unique_ptr<IOUnit>& unit)
{
    std::uint32_t ordinal = 0;
    std::uint32_t kindOrdinal = 0;
    {
        std::lock_guard lock(state_->modelMutex);
        ordinal = ++state_->unitsCreated;
        kindOrdinal = ++state_->ioUnitsCreated;
    }
    Call call;
    call.operation = AudioOperation::createUnit;
    call.unitKind = UnitKind::io;
    call.unitOrdinal = ordinal;
    call.kindOrdinal = kindOrdinal;
    if (auto s = state_->check(call)) {
        unit.reset();
        return s;
    }
    unit = std::make_unique<SimIOUnit>(state_, ordinal, kindOrdinal);
    return 0;
}

std::int32_t SimulatedAudioSystem::createVarispeedUnit(std::unique_ptr<VarispeedUnit>& unit)
{
    std::uint32_t ordinal = 0;
    std::uint32_t kindOrdinal = 0;
    {
        std::lock_guard lock(state_->modelMutex);
        ordinal = ++state_->unitsCreated;
        kindOrdinal = ++state_->varispeedUnitsCreated;
    }
    Call call;
    call.operation = AudioOperation::createUnit;
    call.unitKind = UnitKind::varispeed;
    call.unitOrdinal = ordinal;
    call.kindOrdinal = kindOrdinal;
    if (auto s = state_->check(call)) {
        unit.reset();
        return s;
    }
    unit = std::make_unique<SimVarispeedUnit>(state_, ordinal, kindOrdinal);
    return 0;
}

ObjectId SimulatedAudioSystem::addDevice(SimDevice description)
{
    std::lock_guard lock(state_->modelMutex);
    if (description.id == unknownObject || description.id == systemObject ||
        state_->objectExists(description.id)) {
        description.id = state_->allocateID();
    }
    State::DeviceRecord record;
    record.description = std::move(description);
    record.runtime = std::make_shared<DeviceRuntime>();
    record.runtime->id = record.description.id;
    state_->assignStreamIDs(record, Scope::input);
    state_->assignStreamIDs(record, Scope::output);
    state_->syncRuntime(record);
    const ObjectId id = record.description.id;
    const bool hasOutput = !record.description.outputStreams.empty();
    state_->devicesInOrder.push_back(std::move(record));
    state_->notify(systemObject, HardwareProperty::devices);
    if (state_->defaultOutput == unknownObject && hasOutput) {
        state_->defaultOutput = id;
        state_->notify(systemObject, HardwareProperty::defaultOutputDevice);
    }
    return id;
}

bool SimulatedAudioSystem::removeDevice(ObjectId device)
{
    std::shared_ptr<DeviceRuntime> runtime;
    {
        std::lock_guard lock(state_->modelMutex);
        auto& list = state_->devicesInOrder;
        const auto it = std::find_if(list.begin(), list.end(), [&](const auto& record) {
            return record.description.id == device;
        });
        if (it == list.end()) {
            return false;
        }
        runtime = it->runtime;
        for (ObjectId id : it->inputStreamIDs) {
            state_->streamIndex.erase(id);
        }
        for (ObjectId id : it->outputStreamIDs) {
            state_->streamIndex.erase(id);
        }
        list.erase(it);
        state_->notify(device, HardwareProperty::deviceIsAlive);
        state_->notify(systemObject, HardwareProperty::devices);
        if (state_->defaultOutput == device) {
            state_->defaultOutput = unknownObject;
            for (const auto& record : list) {
                if (!record.description.outputStreams.empty()) {
                    state_->defaultOutput = record.description.id;
                    break;
                }
            }
            state_->notify(systemObject, HardwareProperty::defaultOutputDevice);
        }
    }
    {
        std::lock_guard lock(runtime->cycleMutex);
        runtime->present = false;
    }
    State::stopIOThread(*runtime);
    return true;
}

bool SimulatedAudioSystem::setDefaultOutputDevice(ObjectId device)
{
    std::lock_guard lock(state_->modelMutex);
    if (device != unknownObject && state_->findDevice(device) == nullptr) {
        return false;
    }
    if (state_->defaultOutput != device) {
        state_->defaultOutput = device;
        state_->notify(systemObject, HardwareProperty::defaultOutputDevice);
    }
    return true;
}

namespace {

template <typename Change>
bool changeDevice(SimulatedAudioSystem::State& state, ObjectId device, Change change)
{
    std::lock_guard lock(state.modelMutex);
    auto* record = state.findDevice(device);
    if (record == nullptr) {
        return false;
    }
    change(*record);
    state.syncRuntime(*record);
    return true;
}

} // namespace

bool SimulatedAudioSystem::setAlive(ObjectId device, bool alive)
{
    return changeDevice(*state_, device, [&](State::DeviceRecord& record) {
        if (record.description.isAlive != alive) {
            record.description.isAlive = alive;
            state_->notify(device, HardwareProperty::deviceIsAlive);
        }
    });
}

bool SimulatedAudioSystem::setNominalSampleRate(ObjectId device, double rate)
{
    return changeDevice(*state_, device, [&](State::DeviceRecord& record) {
        if (record.description.nominalSampleRate == rate) {
            return;
        }
        record.description.nominalSampleRate = rate;
        state_->notify(device, HardwareProperty::nominalSampleRate);
        for (std::size_t i = 0; i < record.inputStreamIDs.size(); ++i) {
            if (record.description.inputStreams[i].sampleRate == 0.0) {
                state_->notify(record.inputStreamIDs[i], HardwareProperty::physicalFormat);
            }
        }
        for (std::size_t i = 0; i < record.outputStreamIDs.size(); ++i) {
            if (record.description.outputStreams[i].sampleRate == 0.0) {
                state_->notify(record.outputStreamIDs[i], HardwareProperty::physicalFormat);
            }
        }
    });
}

bool SimulatedAudioSystem::setClockPPM(ObjectId device, double ppm)
{
    return changeDevice(*state_, device,
                        [&](State::DeviceRecord& record) { record.description.clockPPM = ppm; });
}

bool SimulatedAudioSystem::setBufferFrameSize(ObjectId device, std::uint32_t frames)
{
    if (frames == 0) {
        return false;
    }
    return changeDevice(*state_, device, [&](State::DeviceRecord& record) {
        if (record.description.bufferFrameSize != frames) {
            record.description.bufferFrameSize = frames;
            state_->notify(device, HardwareProperty::bufferFrameSize);
        }
    });
}

bool SimulatedAudioSystem::setStreams(ObjectId device, Scope scope, std::vector<SimStream> streams)
{
    if (scope == Scope::global) {
        return false;
    }
    return changeDevice(*state_, device, [&](State::DeviceRecord& record) {
        (scope == Scope::input ? record.description.inputStreams
                               : record.description.outputStreams) = std::move(streams);
        state_->assignStreamIDs(record, scope);
        state_->notify(device, HardwareProperty::streams, scope);
        state_->notify(device, HardwareProperty::streamConfiguration, scope);
    });
}

bool SimulatedAudioSystem::setPhysicalFormat(ObjectId stream, SimStream format)
{
    std::lock_guard lock(state_->modelMutex);
    State::DeviceRecord* owner = nullptr;
    SimStream* current = state_->findStream(stream, &owner);
    if (current == nullptr) {
        return false;
    }
    const bool channelsChanged = current->channels != format.channels;
    *current = format;
    state_->notify(stream, HardwareProperty::physicalFormat);
    if (channelsChanged) {
        const Scope scope = state_->streamIndex[stream].scope;
        state_->notify(owner->description.id, HardwareProperty::streamConfiguration, scope);
    }
    state_->syncRuntime(*owner);
    return true;
}

bool SimulatedAudioSystem::notifyDeviceHasChanged(ObjectId device)
{
    std::lock_guard lock(state_->modelMutex);
    if (state_->findDevice(device) == nullptr) {
        return false;
    }
    state_->notify(device, HardwareProperty::deviceHasChanged);
    return true;
}

bool SimulatedAudioSystem::notifyIOStoppedAbnormally(ObjectId device)
{
    std::lock_guard lock(state_->modelMutex);
    if (state_->findDevice(device) == nullptr) {
        return false;
    }
    state_->notify(device, HardwareProperty::ioStoppedAbnormally);
    return true;
}

std::optional<SimDevice> SimulatedAudioSystem::device(ObjectId device) const
{
    std::lock_guard lock(state_->modelMutex);
    const auto* record = state_->findDevice(device);
    if (record == nullptr) {
        return std::nullopt;
    }
    return record->description;
}

std::vector<ObjectId> SimulatedAudioSystem::streamIDs(ObjectId device, Scope scope) const
{
    std::lock_guard lock(state_->modelMutex);
    const auto* record = state_->findDevice(device);
    if (record == nullptr) {
        return {};
    }
    return scope == Scope::output ? record->outputStreamIDs : record->inputStreamIDs;
}

bool SimulatedAudioSystem::setInputSignal(ObjectId device, std::uint32_t channel, SimSignal signal)
{
    SimSignalSource source;
    if (!source.load(signal)) {
        return false;
    }
    std::shared_ptr<DeviceRuntime> runtime;
    {
        std::lock_guard lock(state_->modelMutex);
        const auto* record = state_->findDevice(device);
        if (record == nullptr) {
            return false;
        }
        runtime = record->runtime;
    }
    std::lock_guard lock(runtime->cycleMutex);
    if (channel >= runtime->sources.size()) {
        return false;
    }
    runtime->sources[channel] = std::move(source);
    return true;
}

void SimulatedAudioSystem::captureOutput(ObjectId device, std::uint64_t maxFrames)
{
    std::shared_ptr<DeviceRuntime> runtime;
    {
        std::lock_guard lock(state_->modelMutex);
        const auto* record = state_->findDevice(device);
        if (record == nullptr) {
            return;
        }
        runtime = record->runtime;
    }
    std::lock_guard lock(runtime->cycleMutex);
    runtime->capturing = maxFrames > 0;
    runtime->captureLimit = maxFrames;
    State::resetCapture(*runtime);
}

SimOutputCapture SimulatedAudioSystem::outputCapture(ObjectId device) const
{
    std::shared_ptr<DeviceRuntime> runtime;
    {
        std::lock_guard lock(state_->modelMutex);
        const auto* record = state_->findDevice(device);
        if (record == nullptr) {
            return {};
        }
        runtime = record->runtime;
    }
    std::lock_guard lock(runtime->cycleMutex);
    return runtime->capture;
}

void SimulatedAudioSystem::injectFault(FaultRule rule)
{
    std::lock_guard lock(state_->faultMutex);
    state_->rules.push_back({rule, 0, 0});
    state_->armedRules.store(state_->rules.size(), std::memory_order_release);
}

void SimulatedAudioSystem::failNext(AudioOperation operation, std::int32_t failure)
{
    FaultRule rule;
    rule.operation = operation;
    rule.status = failure;
    injectFault(rule);
}

void SimulatedAudioSystem::clearFaults()
{
    std::lock_guard lock(state_->faultMutex);
    state_->rules.clear();
    state_->armedRules.store(0, std::memory_order_release);
}

std::uint64_t SimulatedAudioSystem::callCount(AudioOperation operation) const
{
    if (operation == AudioOperation::any || operation == AudioOperation::configure) {
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < operationCount; ++i) {
            if (operationMatches(operation, static_cast<AudioOperation>(i))) {
                total += state_->calls[i].load(std::memory_order_relaxed);
            }
        }
        return total;
    }
    return state_->calls[static_cast<std::size_t>(operation)].load(std::memory_order_relaxed);
}

std::uint32_t SimulatedAudioSystem::unitCount(UnitKind kind) const
{
    std::lock_guard lock(state_->modelMutex);
    return kind == UnitKind::io ? state_->ioUnitsCreated : state_->varispeedUnitsCreated;
}

SimTimeMode SimulatedAudioSystem::timeMode() const
{
    return state_->timeMode;
}

void SimulatedAudioSystem::advance(std::chrono::nanoseconds duration)
{
    if (state_->timeMode != SimTimeMode::manual || duration.count() <= 0) {
        return;
    }
    std::lock_guard advancing(state_->advanceMutex);
    const std::int64_t target = state_->manualNowNs.load() + duration.count();
    auto& schedule = state_->scheduleScratch;
    while (true) {
        {
            std::lock_guard lock(state_->modelMutex);
            schedule.clear();
            for (auto& record : state_->devicesInOrder) {
                schedule.push_back(record.runtime);
            }
        }
        DeviceRuntime* next = nullptr;
        std::int64_t nextDue = 0;
        for (auto& runtime : schedule) {
            std::lock_guard lock(runtime->cycleMutex);
            if (!runtime->canRun()) {
                continue;
            }
            const std::int64_t due = runtime->dueNs();
            if (due <= target &&
                (next == nullptr || due < nextDue || (due == nextDue && runtime->id < next->id))) {
                next = runtime.get();
                nextDue = due;
            }
        }
        if (next == nullptr) {
            break;
        }
        state_->manualNowNs.store(std::max(nextDue, state_->manualNowNs.load()));
        std::lock_guard lock(next->cycleMutex);
        if (next->canRun() && next->dueNs() == nextDue) {
            state_->runBlock(*next, nextDue);
        }
    }
    state_->manualNowNs.store(target);
    schedule.clear();
}

void SimulatedAudioSystem::advanceSeconds(double seconds)
{
    advance(std::chrono::nanoseconds(static_cast<std::int64_t>(std::llround(seconds * 1e9))));
}

std::chrono::nanoseconds SimulatedAudioSystem::now() const
{
    return std::chrono::nanoseconds(state_->nowNs());
}

std::uint64_t SimulatedAudioSystem::blockCount(ObjectId device) const
{
    std::shared_ptr<DeviceRuntime> runtime;
    {
        std::lock_guard lock(state_->modelMutex);
        const auto* record = state_->findDevice(device);
        if (record == nullptr) {
            return 0;
        }
        runtime = record->runtime;
    }
    std::lock_guard lock(runtime->cycleMutex);
    return runtime->blocks;
}

void SimulatedAudioSystem::drainNotifications()
{
    state_->drain();
}

std::thread::id SimulatedAudioSystem::notificationThreadID() const
{
    return state_->notifier.get_id();
}

void SimulatedAudioSystem::setAuthorization(AudioCaptureAuthorization authorization)
{
    state_->authorization = authorization;
}

void SimulatedAudioSystem::setPermissionAnswer(std::optional<bool> granted)
{
    std::lock_guard lock(state_->modelMutex);
    state_->permissionAnswer = granted;
}

bool SimulatedAudioSystem::answerPermissionRequest(bool granted)
{
    std::vector<std::function<void(bool)>> pending;
    {
        std::lock_guard lock(state_->modelMutex);
        pending.swap(state_->pendingRequests);
        if (pending.empty()) {
            return false;
        }
        state_->authorization =
            granted ? AudioCaptureAuthorization::authorized : AudioCaptureAuthorization::denied;
    }
    for (auto& completion : pending) {
        state_->postTask([completion = std::move(completion), granted] { completion(granted); });
    }
    return true;
}

std::uint32_t SimulatedAudioSystem::permissionRequestCount() const
{
    std::lock_guard lock(state_->modelMutex);
    return state_->permissionRequests;
}

void addDemoDevices(SimulatedAudioSystem& sim)
{
    SimDevice turntable =
        SimDevice::input("brevalo.sim.virtual-turntable", "Virtual Turntable", 2, 96000.0, 24);
    turntable.inputChannelNames = {"Left", "Right"};
    turntable.preferredInputStereo = std::array<std::uint32_t, 2>{1, 2};
    turntable.bufferFrameSize = 512;
    const ObjectId input = sim.addDevice(std::move(turntable));
    sim.setInputSignal(input, 0, SimSignal::albumSide());
    sim.setInputSignal(input, 1, SimSignal::albumSide());

    SimDevice output =
        SimDevice::output("brevalo.sim.virtual-output", "Virtual Output", 2, 48000.0);
    output.outputChannelNames = {"Left", "Right"};
    output.clockPPM = 35.0; // a little drift, so that rate compensation has work to do
    const ObjectId out = sim.addDevice(std::move(output));
    sim.setDefaultOutputDevice(out);
}

} // namespace brevalo
