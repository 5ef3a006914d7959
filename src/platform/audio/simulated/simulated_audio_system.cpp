#include "platform/audio/simulated/simulated_audio_system.h"

#include "platform/audio/samplerate_varispeed.h"
#include "platform/audio/simulated/simulated_hardware.h"

#include <algorithm>
#include <cmath>

namespace brevalo {

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

namespace {

// Numbers a new unit among all units and among its kind, lets the fault rules refuse its
// creation, and otherwise wraps what make builds so that its later calls can fail on purpose.
template <typename State, typename Unit, typename Make>
std::int32_t createFaultableUnit(State& state, UnitKind kind, std::uint32_t State::*kindCount,
                                 std::unique_ptr<Unit>& unit, Make make)
{
    std::uint32_t ordinal = 0;
    std::uint32_t kindOrdinal = 0;
    {
        std::lock_guard lock(state.modelMutex);
        ordinal = ++state.unitsCreated;
        kindOrdinal = ++(state.*kindCount);
    }
    SimCall call;
    call.operation = AudioOperation::createUnit;
    call.unitKind = kind;
    call.unitOrdinal = ordinal;
    call.kindOrdinal = kindOrdinal;
    if (auto s = state.check(call)) {
        unit.reset();
        return s;
    }
    unit = withFaults(state.faults, make(), ordinal, kindOrdinal);
    return 0;
}

} // namespace

std::int32_t SimulatedAudioSystem::createIOUnit(std::unique_ptr<IOUnit>& unit)
{
    return createFaultableUnit(*state_, UnitKind::io, &State::ioUnitsCreated, unit,
                               [this] { return makeSimIOUnit(state_); });
}

std::int32_t SimulatedAudioSystem::createVarispeedUnit(std::unique_ptr<VarispeedUnit>& unit)
{
    return createFaultableUnit(*state_, UnitKind::varispeed, &State::varispeedUnitsCreated, unit,
                               [] { return std::make_unique<SamplerateVarispeed>(); });
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
    state_->faults->inject(rule);
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
    state_->faults->clear();
}

std::uint64_t SimulatedAudioSystem::callCount(AudioOperation operation) const
{
    return state_->faults->callCount(operation);
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

} // namespace brevalo
