// The simulation's hardware model as the layer's callers see it: property reads, listener
// registration and the capture permission.

#include "platform/audio/simulated/simulated_hardware.h"

namespace brevalo {

// ----- hardware reads -----------------------------------------------------------------------

bool SimulatedAudioSystem::State::hasProperty(ObjectId object, const PropertyAddress& address)
{
    if (checkProperty(AudioOperation::hasProperty, object, address) != 0) {
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
    if (auto s = checkProperty(AudioOperation::addListener, object, address)) {
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
    if (auto s = checkProperty(AudioOperation::removeListener, registration.objectID,
                               registration.address)) {
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

} // namespace brevalo
