// Device descriptions for the simulation from JSON, so a demo or a manual test setup can be
// written without code:
//
// {"devices": [{"uid": "tt", "name": "Turntable", "nominalSampleRate": 96000,
//               "clockPPM": 20, "bufferFrameSize": 512, "variableBufferFrameSize": 0,
//               "inputStreams": [{"channels": 2, "bitsPerChannel": 24, "isFloat": false,
//                                 "sampleRate": 0}],
//               "outputStreams": [], "inputChannelNames": ["L", "R"],
//               "outputChannelNames": [], "preferredInputStereo": [1, 2],
//               "preferredOutputStereo": [1, 2], "isAlive": true,
//               "inputSignals": [{"channel": 0, "kind": "sine", "frequency": 1000,
//                                 "amplitude": 0.5, "path": "", "fileChannel": 0}]}],
//  "defaultOutput": "uid of an output"}
//
// Every key but uid and name is optional. kind is one of silence, sine, counting, file,
// albumSide.

#include "platform/audio/simulated/simulated_audio_system.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace brevalo {

namespace {

struct SignalEntry
{
    std::uint32_t channel = 0;
    SimSignal signal;
};

struct DeviceEntry
{
    SimDevice device;
    std::vector<SignalEntry> inputSignals;
};

bool readCount(const QJsonObject& o, const char* key, std::uint32_t& out)
{
    if (!o.contains(QLatin1String(key))) {
        return true;
    }
    const double v = o.value(QLatin1String(key)).toDouble(-1.0);
    if (v < 0.0 || v > 1e9 || v != static_cast<double>(static_cast<std::uint32_t>(v))) {
        return false;
    }
    out = static_cast<std::uint32_t>(v);
    return true;
}

// An optional array under key: each item goes through readItem, which refuses what it cannot
// read; a missing key leaves out as it is.
template <typename Item>
bool readArray(const QJsonObject& o, const char* key, std::vector<Item>& out,
               bool (*readItem)(const QJsonValue&, Item&))
{
    const QJsonValue value = o.value(QLatin1String(key));
    if (value.isUndefined()) {
        return true;
    }
    if (!value.isArray()) {
        return false;
    }
    for (const QJsonValue& item : value.toArray()) {
        Item read{};
        if (!readItem(item, read)) {
            return false;
        }
        out.push_back(std::move(read));
    }
    return true;
}

bool readStream(const QJsonValue& item, SimStream& stream)
{
    if (!item.isObject()) {
        return false;
    }
    const QJsonObject s = item.toObject();
    if (!readCount(s, "channels", stream.channels) ||
        !readCount(s, "bitsPerChannel", stream.bitsPerChannel) || stream.channels == 0 ||
        stream.channels > 64 || stream.bitsPerChannel == 0 || stream.bitsPerChannel > 32) {
        return false;
    }
    stream.isFloat = s.value(QLatin1String("isFloat")).toBool(false);
    if (stream.isFloat && !s.contains(QLatin1String("bitsPerChannel"))) {
        stream.bitsPerChannel = 32;
    }
    stream.sampleRate = s.value(QLatin1String("sampleRate")).toDouble(0.0);
    return true;
}

bool readName(const QJsonValue& item, std::string& name)
{
    if (!item.isString()) {
        return false;
    }
    name = item.toString().toStdString();
    return true;
}

bool readPair(const QJsonObject& o, const char* key,
              std::optional<std::array<std::uint32_t, 2>>& out)
{
    const QJsonValue value = o.value(QLatin1String(key));
    if (value.isUndefined()) {
        return true;
    }
    const QJsonArray pair = value.toArray();
    if (pair.size() != 2) {
        return false;
    }
    const double l = pair.at(0).toDouble(-1.0);
    const double r = pair.at(1).toDouble(-1.0);
    if (l < 0.0 || r < 0.0 || l > 1024.0 || r > 1024.0) {
        return false;
    }
    out =
        std::array<std::uint32_t, 2>{static_cast<std::uint32_t>(l), static_cast<std::uint32_t>(r)};
    return true;
}

bool readSignals(const QJsonObject& o, std::vector<SignalEntry>& out)
{
    const QJsonValue value = o.value(QLatin1String("inputSignals"));
    if (value.isUndefined()) {
        return true;
    }
    if (!value.isArray()) {
        return false;
    }
    for (const QJsonValue& item : value.toArray()) {
        const QJsonObject s = item.toObject();
        SignalEntry entry;
        if (!readCount(s, "channel", entry.channel) ||
            !readCount(s, "fileChannel", entry.signal.fileChannel)) {
            return false;
        }
        const QString kind = s.value(QLatin1String("kind")).toString();
        if (kind == QLatin1String("silence")) {
            entry.signal.kind = SimSignal::Kind::silence;
        } else if (kind == QLatin1String("sine")) {
            entry.signal.kind = SimSignal::Kind::sine;
        } else if (kind == QLatin1String("counting")) {
            entry.signal.kind = SimSignal::Kind::counting;
        } else if (kind == QLatin1String("file")) {
            entry.signal.kind = SimSignal::Kind::file;
        } else if (kind == QLatin1String("albumSide")) {
            entry.signal.kind = SimSignal::Kind::albumSide;
        } else {
            return false;
        }
        entry.signal.frequency = s.value(QLatin1String("frequency")).toDouble(1000.0);
        entry.signal.amplitude = s.value(QLatin1String("amplitude")).toDouble(0.5);
        entry.signal.path = s.value(QLatin1String("path")).toString().toStdString();
        out.push_back(entry);
    }
    return true;
}

bool readDevice(const QJsonObject& o, DeviceEntry& entry)
{
    SimDevice& d = entry.device;
    if (!o.value(QLatin1String("uid")).isString() || !o.value(QLatin1String("name")).isString()) {
        return false;
    }
    d.uid = o.value(QLatin1String("uid")).toString().toStdString();
    d.name = o.value(QLatin1String("name")).toString().toStdString();
    d.nominalSampleRate = o.value(QLatin1String("nominalSampleRate")).toDouble(48000.0);
    d.clockPPM = o.value(QLatin1String("clockPPM")).toDouble(0.0);
    d.isAlive = o.value(QLatin1String("isAlive")).toBool(true);
    return readCount(o, "bufferFrameSize", d.bufferFrameSize) && d.bufferFrameSize > 0 &&
           d.bufferFrameSize <= 65536 &&
           readCount(o, "variableBufferFrameSize", d.variableBufferFrameSize) &&
           readArray(o, "inputStreams", d.inputStreams, readStream) &&
           readArray(o, "outputStreams", d.outputStreams, readStream) &&
           readArray(o, "inputChannelNames", d.inputChannelNames, readName) &&
           readArray(o, "outputChannelNames", d.outputChannelNames, readName) &&
           readPair(o, "preferredInputStereo", d.preferredInputStereo) &&
           readPair(o, "preferredOutputStereo", d.preferredOutputStereo) &&
           readSignals(o, entry.inputSignals) && d.nominalSampleRate > 0.0 &&
           d.nominalSampleRate <= 1e6 && d.clockPPM > -1e5 && d.clockPPM < 1e5;
}

} // namespace

std::vector<ObjectId> SimulatedAudioSystem::addDevicesFromJSON(const std::string& json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return {};
    }
    const QJsonObject root = document.object();
    const QJsonValue list = root.value(QLatin1String("devices"));
    if (!list.isArray()) {
        return {};
    }
    // Everything is checked before anything is added, so a bad document changes nothing.
    std::vector<DeviceEntry> entries;
    for (const QJsonValue& item : list.toArray()) {
        DeviceEntry entry;
        if (!item.isObject() || !readDevice(item.toObject(), entry)) {
            return {};
        }
        entries.push_back(std::move(entry));
    }
    std::vector<ObjectId> ids;
    for (auto& entry : entries) {
        const ObjectId id = addDevice(entry.device);
        for (const auto& signal : entry.inputSignals) {
            setInputSignal(id, signal.channel, signal.signal);
        }
        ids.push_back(id);
    }
    const std::string defaultUID =
        root.value(QLatin1String("defaultOutput")).toString().toStdString();
    if (!defaultUID.empty()) {
        ObjectId device = unknownObject;
        if (hardware().deviceForUID(defaultUID, device) == 0 && device != unknownObject) {
            setDefaultOutputDevice(device);
        }
    }
    return ids;
}

} // namespace brevalo
