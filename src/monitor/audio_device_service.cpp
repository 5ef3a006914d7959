#include "monitor/audio_device_service.h"

#include <QCollator>

#include <algorithm>
#include <array>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace brevalo {

AudioDeviceService::AudioDeviceService(AudioHardware& hardware)
    : hardware_(hardware), slot_(std::make_shared<HandlerSlot>())
{}

AudioDeviceService::~AudioDeviceService()
{
    removeAll(globalListeners_);
    removeAll(selectedDeviceListeners_);
}

void AudioDeviceService::setChangeHandler(ChangeHandler handler)
{
    std::lock_guard lock(slot_->mutex);
    slot_->handler = std::move(handler);
}

// ----- catalog ------------------------------------------------------------------------------

QList<AudioInputDevice> AudioDeviceService::inputDevices()
{
    std::vector<ObjectId> ids;
    if (hardware_.devices(ids) != 0) {
        return {};
    }
    QList<AudioInputDevice> catalog;
    for (const ObjectId id : ids) {
        if (auto device = inputDevice(id)) {
            catalog.append(std::move(*device));
        }
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(catalog.begin(), catalog.end(),
                     [&](const AudioInputDevice& a, const AudioInputDevice& b) {
                         return collator.compare(a.name, b.name) < 0;
                     });
    return catalog;
}

std::optional<AudioOutputDevice> AudioDeviceService::defaultOutputDevice()
{
    ObjectId id = unknownObject;
    if (hardware_.defaultOutputDevice(id) != 0 || id == unknownObject) {
        return std::nullopt;
    }
    return outputDevice(id);
}

std::optional<AudioInputDevice> AudioDeviceService::inputDevice(std::uint32_t deviceID)
{
    const std::uint32_t channels = channelCount(deviceID, Scope::input);
    if (channels < 2) {
        return std::nullopt;
    }
    auto uid = stringProperty(deviceID, HardwareProperty::deviceUID);
    if (!uid) {
        return std::nullopt;
    }
    auto name = stringProperty(deviceID, HardwareProperty::name);
    if (!name) {
        return std::nullopt;
    }

    AudioInputDevice device;
    device.id = deviceID;
    device.uid = std::move(*uid);
    device.name = std::move(*name);

    for (std::uint32_t channel = 1; channel <= channels; ++channel) {
        const PropertyAddress address{HardwareProperty::elementName, Scope::input, channel};
        std::string text;
        if (hardware_.hasProperty(deviceID, address) &&
            hardware_.elementName(deviceID, Scope::input, channel, text) == 0) {
            device.channelNames.append(QString::fromStdString(text));
        } else {
            device.channelNames.append(QStringLiteral("Input ") + QString::number(channel));
        }
    }

    const auto makePair = [&](std::uint32_t left, std::uint32_t right) {
        AudioChannelPair pair;
        pair.leftChannel = static_cast<std::int32_t>(left);
        pair.rightChannel = static_cast<std::int32_t>(right);
        pair.leftName = device.channelNames.at(static_cast<qsizetype>(left));
        pair.rightName = device.channelNames.at(static_cast<qsizetype>(right));
        return pair;
    };
    const PropertyAddress preferredAddress{HardwareProperty::preferredChannelsForStereo,
                                           Scope::input, 0};
    std::array<std::uint32_t, 2> preferred{};
    if (hardware_.hasProperty(deviceID, preferredAddress) &&
        hardware_.preferredChannelsForStereo(deviceID, Scope::input, preferred) == 0 &&
        preferred[0] != 0 && preferred[1] != 0 && preferred[0] <= channels &&
        preferred[1] <= channels && preferred[0] != preferred[1]) {
        device.channelPairs.append(makePair(preferred[0] - 1, preferred[1] - 1));
    }
    for (std::uint32_t k = 0; k + 1 < channels; k += 2) {
        const bool listed = std::any_of(
            device.channelPairs.begin(), device.channelPairs.end(), [&](const AudioChannelPair& p) {
                return p.leftChannel == static_cast<std::int32_t>(k) &&
                       p.rightChannel == static_cast<std::int32_t>(k + 1);
            });
        if (!listed) {
            device.channelPairs.append(makePair(k, k + 1));
        }
    }

    device.nominalSampleRate = nominalSampleRate(deviceID);
    device.physicalFormat = physicalFormat(deviceID, Scope::input);
    device.bufferFrameSize = bufferFrameSize(deviceID);
    device.isAlive = isAlive(deviceID);
    return device;
}

std::optional<AudioOutputDevice> AudioDeviceService::outputDevice(std::uint32_t deviceID)
{
    if (channelCount(deviceID, Scope::output) < 1) {
        return std::nullopt;
    }
    auto uid = stringProperty(deviceID, HardwareProperty::deviceUID);
    if (!uid) {
        return std::nullopt;
    }
    auto name = stringProperty(deviceID, HardwareProperty::name);
    if (!name) {
        return std::nullopt;
    }
    AudioOutputDevice device;
    device.id = deviceID;
    device.uid = std::move(*uid);
    device.name = std::move(*name);
    device.nominalSampleRate = nominalSampleRate(deviceID);
    device.physicalFormat = physicalFormat(deviceID, Scope::output);
    device.bufferFrameSize = bufferFrameSize(deviceID);
    device.isAlive = isAlive(deviceID);
    return device;
}

std::uint32_t AudioDeviceService::channelCount(std::uint32_t device, Scope scope)
{
    std::vector<std::uint32_t> channelsPerBuffer;
    if (hardware_.streamConfiguration(device, scope, channelsPerBuffer) != 0) {
        return 0;
    }
    // 64-bit sum: a corrupt configuration must not wrap around into a plausible count.
    std::uint64_t total = 0;
    for (const auto channels : channelsPerBuffer) {
        total += channels;
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(total, UINT32_MAX));
}

std::optional<QString> AudioDeviceService::stringProperty(std::uint32_t device,
                                                          HardwareProperty property)
{
    if (!hardware_.hasProperty(device, {property, Scope::global, 0})) {
        return std::nullopt;
    }
    std::string text;
    const std::int32_t result = property == HardwareProperty::deviceUID
                                    ? hardware_.deviceUID(device, text)
                                    : hardware_.name(device, text);
    if (result != 0) {
        return std::nullopt;
    }
    return QString::fromStdString(text);
}

double AudioDeviceService::nominalSampleRate(std::uint32_t device)
{
    double rate = 0.0;
    return hardware_.nominalSampleRate(device, rate) == 0 ? rate : 0.0;
}

std::optional<AudioDeviceFormat> AudioDeviceService::physicalFormat(std::uint32_t device,
                                                                    Scope scope)
{
    std::vector<ObjectId> streams;
    if (hardware_.streams(device, scope, streams) != 0) {
        return std::nullopt;
    }
    std::set<std::pair<std::uint32_t, bool>> formats;
    for (const ObjectId stream : streams) {
        if (!hardware_.hasProperty(stream, {HardwareProperty::physicalFormat, Scope::global, 0})) {
            continue;
        }
        StreamFormat format;
        if (hardware_.physicalFormat(stream, format) != 0) {
            continue;
        }
        if (format.isLinearPCM() && format.bitsPerChannel != 0) {
            formats.emplace(format.bitsPerChannel, format.isFloat());
        }
    }
    if (formats.size() != 1) {
        return std::nullopt;
    }
    return AudioDeviceFormat{formats.begin()->first, formats.begin()->second};
}

std::uint32_t AudioDeviceService::bufferFrameSize(std::uint32_t device)
{
    std::uint32_t frames = 0;
    if (hardware_.bufferFrameSize(device, frames) != 0) {
        frames = 0;
    }
    std::uint32_t variable = 0;
    if (hardware_.usesVariableBufferFrameSizes(device, variable) == 0 && variable > frames) {
        frames = variable;
    }
    return frames;
}

bool AudioDeviceService::isAlive(std::uint32_t device)
{
    std::uint32_t alive = 0;
    return hardware_.isAlive(device, alive) == 0 && alive != 0;
}

// ----- listeners ----------------------------------------------------------------------------

void AudioDeviceService::startListening()
{
    if (isListening_) {
        return;
    }
    isListening_ = true;
    addListener(systemObject, {HardwareProperty::devices, Scope::global, 0}, Change::catalog,
                globalListeners_);
    addListener(systemObject, {HardwareProperty::defaultOutputDevice, Scope::global, 0},
                Change::defaultOutput, globalListeners_);
}

void AudioDeviceService::watchSelectedDevices(std::optional<std::uint32_t> inputDeviceID,
                                              std::optional<std::uint32_t> outputDeviceID)
{
    removeAll(selectedDeviceListeners_);
    if (inputDeviceID) {
        addDeviceListeners(*inputDeviceID, Scope::input);
    }
    if (outputDeviceID) {
        addDeviceListeners(*outputDeviceID, Scope::output);
    }
}

void AudioDeviceService::addDeviceListeners(std::uint32_t device, Scope scope)
{
    const PropertyAddress addresses[] = {
        {HardwareProperty::deviceIsAlive, Scope::global, 0},
        {HardwareProperty::streamConfiguration, scope, 0},
        {HardwareProperty::streams, scope, 0},
        {HardwareProperty::nominalSampleRate, Scope::global, 0},
        {HardwareProperty::bufferFrameSize, Scope::global, 0},
        {HardwareProperty::usesVariableBufferFrameSizes, Scope::global, 0},
        {HardwareProperty::deviceHasChanged, Scope::global, 0},
        {HardwareProperty::ioStoppedAbnormally, Scope::global, 0},
    };
    for (const auto& address : addresses) {
        addListener(device, address, Change::selectedDevice, selectedDeviceListeners_);
    }
    std::vector<ObjectId> streams;
    if (hardware_.streams(device, scope, streams) == 0) {
        for (const ObjectId stream : streams) {
            addListener(stream, {HardwareProperty::physicalFormat, Scope::global, 0},
                        Change::selectedDevice, selectedDeviceListeners_);
        }
    }
}

void AudioDeviceService::addListener(std::uint32_t object, const PropertyAddress& address,
                                     Change change, QList<ListenerRegistration>& into)
{
    // Weak: the hardware layer may deliver a notification that was queued before the service
    // removed its listeners; it must not keep the handler (and what it captures) alive.
    std::weak_ptr<HandlerSlot> weakSlot = slot_;
    PropertyListener listener = [weakSlot, change](ObjectId, const PropertyAddress&) {
        const auto slot = weakSlot.lock();
        if (!slot) {
            return;
        }
        ChangeHandler handler;
        {
            std::lock_guard lock(slot->mutex);
            handler = slot->handler;
        }
        if (handler) {
            handler(change);
        }
    };
    ListenerRegistration registration;
    if (hardware_.addPropertyListener(object, address, std::move(listener), registration) == 0) {
        into.append(registration);
    }
}

void AudioDeviceService::removeAll(QList<ListenerRegistration>& registrations)
{
    for (const auto& registration : registrations) {
        hardware_.removePropertyListener(registration);
    }
    registrations.clear();
}

} // namespace brevalo
