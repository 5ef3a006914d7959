#include "platform/audio/simulated_audio_system.h"

#include "platform/audio/sim_state.h"

#include <algorithm>
#include <cmath>

namespace brevalo {

// ----- hardware reads -----------------------------------------------------------------------

bool SimulatedAudioSystem::State::hasProperty(ObjectId object, const PropertyAddress& address)
{
    SimCall call;
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
    SimCall call;
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
    registration = listeners.add(object, address, std::move(listener));
    return 0;
}

std::int32_t
SimulatedAudioSystem::State::removePropertyListener(const ListenerRegistration& registration)
{
    SimCall call;
    call.operation = AudioOperation::removeListener;
    call.object = registration.objectID;
    call.property = registration.address.selector;
    call.scope = registration.address.scope;
    call.element = registration.address.element;
    if (auto s = check(call)) {
        return s;
    }
    const bool wait = !notifier->onNotifierThread();
    return listeners.remove(registration, wait) ? 0 : status::paramError;
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
{}

SimulatedAudioSystem::~SimulatedAudioSystem()
{
    std::vector<std::shared_ptr<SimDeviceRuntime>> runtimes;
    {
        std::lock_guard lock(state_->modelMutex);
        for (auto& record : state_->devicesInOrder) {
            runtimes.push_back(record.runtime);
        }
    }
    for (auto& runtime : runtimes) {
        State::stopIOThread(*runtime);
    }
    // Runs the notifications already posted, then ends the thread. The notifier object stays,
    // so that a listener running meanwhile can still post (and drain) without a race.
    state_->notifier->shutdown();
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
    SimCall call;
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
    SimCall call;
    call.operation = AudioOperation::createUnit;
    call.unitKind = UnitKind::io;
    call.unitOrdinal = ordinal;
    call.kindOrdinal = kindOrdinal;
    if (auto s = state_->check(call)) {
        unit.reset();
        return s;
    }
    unit = makeSimIOUnit(state_, ordinal, kindOrdinal);
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
    SimCall call;
    call.operation = AudioOperation::createUnit;
    call.unitKind = UnitKind::varispeed;
    call.unitOrdinal = ordinal;
    call.kindOrdinal = kindOrdinal;
    if (auto s = state_->check(call)) {
        unit.reset();
        return s;
    }
    unit = makeSimVarispeedUnit(state_, ordinal, kindOrdinal);
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
    record.runtime = std::make_shared<SimDeviceRuntime>();
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
    std::shared_ptr<SimDeviceRuntime> runtime;
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
    std::shared_ptr<SimDeviceRuntime> runtime;
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
    std::shared_ptr<SimDeviceRuntime> runtime;
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
    std::shared_ptr<SimDeviceRuntime> runtime;
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
        for (std::size_t i = 0; i < simOperationCount; ++i) {
            if (simOperationMatches(operation, static_cast<AudioOperation>(i))) {
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
        SimDeviceRuntime* next = nullptr;
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
    std::shared_ptr<SimDeviceRuntime> runtime;
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
    return state_->notifier->threadID();
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
