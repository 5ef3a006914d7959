#include "platform/audio/simulated_audio_system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

using namespace brevalo;

namespace {

SimDevice fourChannelInterface()
{
    SimDevice d = SimDevice::input("usb-1234", "Interface", 4, 96000.0, 24);
    d.inputChannelNames = {"Mic 1", "Mic 2", "Line 3", "Line 4"};
    d.preferredInputStereo = std::array<std::uint32_t, 2>{3, 4};
    d.bufferFrameSize = 256;
    return d;
}

// Records every notification with the thread it arrived on.
struct Recorder
{
    struct Event
    {
        ObjectId object;
        PropertyAddress address;
        std::thread::id thread;
    };
    std::mutex mutex;
    std::vector<Event> events;

    PropertyListener listener()
    {
        return [this](ObjectId object, const PropertyAddress& address) {
            std::lock_guard lock(mutex);
            events.push_back({object, address, std::this_thread::get_id()});
        };
    }
    std::vector<HardwareProperty> selectors(ObjectId object)
    {
        std::lock_guard lock(mutex);
        std::vector<HardwareProperty> result;
        for (const auto& e : events) {
            if (e.object == object) {
                result.push_back(e.address.selector);
            }
        }
        return result;
    }
    std::size_t size()
    {
        std::lock_guard lock(mutex);
        return events.size();
    }
};

ListenerRegistration listen(AudioHardware& hw, ObjectId object, HardwareProperty selector,
                            Recorder& recorder, Scope scope = Scope::global)
{
    ListenerRegistration registration;
    EXPECT_EQ(
        hw.addPropertyListener(object, {selector, scope, 0}, recorder.listener(), registration), 0);
    return registration;
}

} // namespace

TEST(SimulatedHardware, DescribesDevicesAsTheyWereAdded)
{
    SimulatedAudioSystem sim;
    auto& hw = sim.hardware();
    const ObjectId input = sim.addDevice(fourChannelInterface());
    const ObjectId output = sim.addDevice(SimDevice::output("out-1", "Speakers", 2, 48000.0));

    std::vector<ObjectId> ids;
    ASSERT_EQ(hw.devices(ids), 0);
    EXPECT_EQ(ids, (std::vector<ObjectId>{input, output}));
    ObjectId defaultOutput = unknownObject;
    ASSERT_EQ(hw.defaultOutputDevice(defaultOutput), 0);
    EXPECT_EQ(defaultOutput, output); // the first output device becomes the default

    std::string text;
    ASSERT_EQ(hw.deviceUID(input, text), 0);
    EXPECT_EQ(text, "usb-1234");
    ASSERT_EQ(hw.name(input, text), 0);
    EXPECT_EQ(text, "Interface");
    ObjectId found = unknownObject;
    ASSERT_EQ(hw.deviceForUID("usb-1234", found), 0);
    EXPECT_EQ(found, input);

    std::vector<std::uint32_t> channels;
    ASSERT_EQ(hw.streamConfiguration(input, Scope::input, channels), 0);
    EXPECT_EQ(channels, (std::vector<std::uint32_t>{4}));
    ASSERT_EQ(hw.streamConfiguration(input, Scope::output, channels), 0);
    EXPECT_TRUE(channels.empty());
    ASSERT_EQ(hw.elementName(input, Scope::input, 3, text), 0);
    EXPECT_EQ(text, "Line 3");
    std::array<std::uint32_t, 2> preferred{};
    ASSERT_EQ(hw.preferredChannelsForStereo(input, Scope::input, preferred), 0);
    EXPECT_EQ(preferred, (std::array<std::uint32_t, 2>{3, 4}));

    double rate = 0.0;
    ASSERT_EQ(hw.nominalSampleRate(input, rate), 0);
    EXPECT_EQ(rate, 96000.0);
    std::uint32_t value = 0;
    ASSERT_EQ(hw.bufferFrameSize(input, value), 0);
    EXPECT_EQ(value, 256u);
    ASSERT_EQ(hw.isAlive(input, value), 0);
    EXPECT_EQ(value, 1u);
    EXPECT_FALSE(hw.hasProperty(input, {HardwareProperty::usesVariableBufferFrameSizes}));
    EXPECT_EQ(hw.usesVariableBufferFrameSizes(input, value), status::unknownProperty);

    std::vector<ObjectId> streams;
    ASSERT_EQ(hw.streams(input, Scope::input, streams), 0);
    ASSERT_EQ(streams.size(), 1u);
    ASSERT_EQ(hw.startingChannel(streams[0], value), 0);
    EXPECT_EQ(value, 1u);
    StreamFormat format;
    ASSERT_EQ(hw.physicalFormat(streams[0], format), 0);
    EXPECT_EQ(format, StreamFormat::physicalInteger(96000.0, 4, 24));
    EXPECT_EQ(format.formatID, formatLinearPCM);
    EXPECT_FALSE(format.isFloat());
}

TEST(SimulatedHardware, GivesStreamsTheirStartingChannelsAndOwnFormats)
{
    SimulatedAudioSystem sim;
    SimDevice d = SimDevice::input("multi", "Multi", 2, 48000.0, 24);
    d.inputStreams.push_back(SimStream{2, 32, true});
    d.inputStreams.push_back(SimStream{1, 16, false, formatLinearPCM, 44100.0});
    const ObjectId device = sim.addDevice(d);
    auto& hw = sim.hardware();
    std::vector<ObjectId> streams;
    ASSERT_EQ(hw.streams(device, Scope::input, streams), 0);
    ASSERT_EQ(streams.size(), 3u);
    std::vector<std::uint32_t> starts;
    for (ObjectId s : streams) {
        std::uint32_t start = 0;
        ASSERT_EQ(hw.startingChannel(s, start), 0);
        starts.push_back(start);
    }
    EXPECT_EQ(starts, (std::vector<std::uint32_t>{1, 3, 5}));
    StreamFormat format;
    ASSERT_EQ(hw.physicalFormat(streams[1], format), 0);
    EXPECT_TRUE(format.isFloat());
    EXPECT_EQ(format.sampleRate, 48000.0);
    ASSERT_EQ(hw.physicalFormat(streams[2], format), 0);
    EXPECT_EQ(format.bitsPerChannel, 16u);
    EXPECT_EQ(format.sampleRate, 44100.0); // a stream apart from its device's rate
}

TEST(SimulatedHardware, AbsentPropertiesAreReportedAbsent)
{
    SimulatedAudioSystem sim;
    const ObjectId device = sim.addDevice(SimDevice::input("plain", "Plain", 2, 48000.0, 16));
    auto& hw = sim.hardware();
    std::string text;
    std::array<std::uint32_t, 2> preferred{};
    EXPECT_FALSE(hw.hasProperty(device, {HardwareProperty::elementName, Scope::input, 1}));
    EXPECT_EQ(hw.elementName(device, Scope::input, 1, text), status::unknownProperty);
    EXPECT_FALSE(
        hw.hasProperty(device, {HardwareProperty::preferredChannelsForStereo, Scope::input, 0}));
    EXPECT_EQ(hw.preferredChannelsForStereo(device, Scope::input, preferred),
              status::unknownProperty);
    EXPECT_EQ(hw.name(4242, text), status::badObject);
}

TEST(SimulatedHardware, InjectedReadFailureHitsOnlyTheNamedDeviceAndProperty)
{
    SimulatedAudioSystem sim;
    const ObjectId broken = sim.addDevice(SimDevice::input("a", "A", 2, 48000.0, 24));
    const ObjectId healthy = sim.addDevice(SimDevice::input("b", "B", 2, 48000.0, 24));
    sim.injectFault({.operation = AudioOperation::readProperty,
                     .object = broken,
                     .property = HardwareProperty::deviceUID,
                     .times = 0,
                     .status = status::unknownProperty});
    sim.injectFault({.operation = AudioOperation::hasProperty,
                     .object = broken,
                     .property = HardwareProperty::name,
                     .times = 0});
    auto& hw = sim.hardware();
    std::string text;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(hw.deviceUID(broken, text), status::unknownProperty);
    }
    EXPECT_EQ(hw.deviceUID(healthy, text), 0);
    EXPECT_EQ(hw.name(broken, text), 0);
    EXPECT_FALSE(hw.hasProperty(broken, {HardwareProperty::name}));
    EXPECT_TRUE(hw.hasProperty(healthy, {HardwareProperty::name}));

    sim.failNext(AudioOperation::readProperty, status::memoryFull);
    std::vector<ObjectId> ids;
    EXPECT_EQ(hw.devices(ids), status::memoryFull);
    EXPECT_EQ(hw.devices(ids), 0);
}

TEST(SimulatedHardware, ListenersRunOnTheNotificationThreadAndStopAfterRemoval)
{
    SimulatedAudioSystem sim;
    auto& hw = sim.hardware();
    Recorder recorder;
    const auto registration = listen(hw, systemObject, HardwareProperty::devices, recorder);

    sim.addDevice(SimDevice::input("a", "A", 2, 48000.0, 24));
    sim.drainNotifications();
    ASSERT_EQ(recorder.size(), 1u);
    EXPECT_EQ(recorder.events[0].thread, sim.notificationThreadID());
    EXPECT_NE(recorder.events[0].thread, std::this_thread::get_id());
    EXPECT_EQ(recorder.events[0].address.selector, HardwareProperty::devices);

    ASSERT_EQ(hw.removePropertyListener(registration), 0);
    EXPECT_EQ(hw.removePropertyListener(registration), status::paramError);
    sim.addDevice(SimDevice::input("b", "B", 2, 48000.0, 24));
    sim.drainNotifications();
    EXPECT_EQ(recorder.size(), 1u);
}

TEST(SimulatedHardware, RemovingOneOfTwoEqualRegistrationsKeepsTheOther)
{
    SimulatedAudioSystem sim;
    auto& hw = sim.hardware();
    Recorder recorder;
    const auto first = listen(hw, systemObject, HardwareProperty::defaultOutputDevice, recorder);
    const auto second = listen(hw, systemObject, HardwareProperty::defaultOutputDevice, recorder);
    EXPECT_NE(first, second);
    ASSERT_EQ(hw.removePropertyListener(first), 0);
    sim.addDevice(SimDevice::output("o", "O", 2, 48000.0));
    sim.drainNotifications();
    EXPECT_EQ(recorder.size(), 1u);
    ASSERT_EQ(hw.removePropertyListener(second), 0);
}

TEST(SimulatedHardware, RemovalWaitsForARunningListenerToReturn)
{
    SimulatedAudioSystem sim;
    auto& hw = sim.hardware();
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    std::atomic<bool> finished{false};
    ListenerRegistration registration;
    ASSERT_EQ(hw.addPropertyListener(
                  systemObject, {HardwareProperty::devices},
                  [&](ObjectId, const PropertyAddress&) {
                      entered = true;
                      while (!release) {
                          std::this_thread::yield();
                      }
                      finished = true;
                  },
                  registration),
              0);
    sim.addDevice(SimDevice::input("a", "A", 2, 48000.0, 24));
    while (!entered) {
        std::this_thread::yield();
    }
    std::atomic<bool> finishedWhenRemoved{false};
    std::thread remover([&] {
        EXPECT_EQ(hw.removePropertyListener(registration), 0);
        finishedWhenRemoved = finished.load();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    release = true;
    remover.join();
    EXPECT_TRUE(finishedWhenRemoved);
}

TEST(SimulatedHardware, DeviceChangesPostTheMatchingNotifications)
{
    SimulatedAudioSystem sim;
    auto& hw = sim.hardware();
    const ObjectId device = sim.addDevice(fourChannelInterface());
    const ObjectId stream = sim.streamIDs(device, Scope::input).at(0);
    Recorder recorder;
    for (auto selector : {HardwareProperty::deviceIsAlive, HardwareProperty::nominalSampleRate,
                          HardwareProperty::bufferFrameSize, HardwareProperty::deviceHasChanged,
                          HardwareProperty::ioStoppedAbnormally}) {
        listen(hw, device, selector, recorder);
    }
    listen(hw, device, HardwareProperty::streams, recorder, Scope::input);
    listen(hw, device, HardwareProperty::streamConfiguration, recorder, Scope::input);
    Recorder outputSide;
    listen(hw, device, HardwareProperty::streamConfiguration, outputSide, Scope::output);
    listen(hw, stream, HardwareProperty::physicalFormat, recorder);
    sim.drainNotifications();

    using P = HardwareProperty;
    ASSERT_TRUE(sim.setNominalSampleRate(device, 48000.0));
    ASSERT_TRUE(sim.setNominalSampleRate(device, 48000.0)); // no change, no notification
    sim.drainNotifications();
    EXPECT_EQ(recorder.selectors(device), (std::vector<P>{P::nominalSampleRate}));
    EXPECT_EQ(recorder.selectors(stream), (std::vector<P>{P::physicalFormat}));
    StreamFormat format;
    ASSERT_EQ(hw.physicalFormat(stream, format), 0);
    EXPECT_EQ(format.sampleRate, 48000.0);

    recorder.events.clear();
    ASSERT_TRUE(sim.setPhysicalFormat(stream, SimStream{4, 16, false}));
    ASSERT_TRUE(sim.setBufferFrameSize(device, 1024));
    ASSERT_TRUE(sim.setAlive(device, false));
    ASSERT_TRUE(sim.notifyDeviceHasChanged(device));
    ASSERT_TRUE(sim.notifyIOStoppedAbnormally(device));
    sim.drainNotifications();
    EXPECT_EQ(recorder.selectors(stream), (std::vector<P>{P::physicalFormat}));
    EXPECT_EQ(recorder.selectors(device),
              (std::vector<P>{P::bufferFrameSize, P::deviceIsAlive, P::deviceHasChanged,
                              P::ioStoppedAbnormally}));

    recorder.events.clear();
    ASSERT_TRUE(sim.setStreams(device, Scope::input, {SimStream{2, 24, false}}));
    sim.drainNotifications();
    EXPECT_EQ(recorder.selectors(device), (std::vector<P>{P::streams, P::streamConfiguration}));
    EXPECT_EQ(outputSide.size(), 0u);
    EXPECT_NE(sim.streamIDs(device, Scope::input).at(0), stream);
    EXPECT_EQ(hw.physicalFormat(stream, format), status::badObject);
}

TEST(SimulatedHardware, RemovingTheDefaultOutputMovesTheDefaultAndNotifies)
{
    SimulatedAudioSystem sim;
    auto& hw = sim.hardware();
    const ObjectId first = sim.addDevice(SimDevice::output("o1", "One", 2, 48000.0));
    const ObjectId second = sim.addDevice(SimDevice::output("o2", "Two", 2, 44100.0));
    Recorder system;
    listen(hw, systemObject, HardwareProperty::devices, system);
    listen(hw, systemObject, HardwareProperty::defaultOutputDevice, system);
    Recorder device;
    listen(hw, first, HardwareProperty::deviceIsAlive, device);

    ASSERT_TRUE(sim.removeDevice(first));
    sim.drainNotifications();
    EXPECT_EQ(device.size(), 1u);
    EXPECT_EQ(system.selectors(systemObject),
              (std::vector<HardwareProperty>{HardwareProperty::devices,
                                             HardwareProperty::defaultOutputDevice}));
    ObjectId current = unknownObject;
    ASSERT_EQ(hw.defaultOutputDevice(current), 0);
    EXPECT_EQ(current, second);
    EXPECT_FALSE(sim.removeDevice(first));
}

TEST(SimulatedHardware, HonoursARequestedObjectIDSoATestCanReuseOne)
{
    SimulatedAudioSystem sim;
    SimDevice d = SimDevice::input("first", "First", 2, 48000.0, 24);
    d.id = 77;
    ASSERT_EQ(sim.addDevice(d), 77u);
    ASSERT_TRUE(sim.removeDevice(77));
    SimDevice other = SimDevice::input("second", "Second", 2, 48000.0, 24);
    other.id = 77;
    ASSERT_EQ(sim.addDevice(other), 77u);
    std::string uid;
    ASSERT_EQ(sim.hardware().deviceUID(77, uid), 0);
    EXPECT_EQ(uid, "second");         // same id, another device: compare by uid
    EXPECT_NE(sim.addDevice(d), 77u); // taken: the simulation picks a free id
}

TEST(SimulatedHardware, ScriptsTheCapturePermission)
{
    SimulatedAudioSystem sim;
    auto& permission = sim.capturePermission();
    EXPECT_EQ(permission.authorizationStatus(), AudioCaptureAuthorization::authorized);

    sim.setAuthorization(AudioCaptureAuthorization::notDetermined);
    sim.setPermissionAnswer(std::nullopt);
    std::atomic<int> answers{0};
    std::atomic<bool> granted{true};
    std::thread::id answeredOn;
    permission.requestAccess([&](bool g) {
        granted = g;
        answeredOn = std::this_thread::get_id();
        ++answers;
    });
    sim.drainNotifications();
    EXPECT_EQ(answers, 0); // waits for the script
    EXPECT_EQ(sim.permissionRequestCount(), 1u);
    ASSERT_TRUE(sim.answerPermissionRequest(false));
    sim.drainNotifications();
    EXPECT_EQ(answers, 1);
    EXPECT_FALSE(granted);
    EXPECT_EQ(answeredOn, sim.notificationThreadID());
    EXPECT_EQ(permission.authorizationStatus(), AudioCaptureAuthorization::denied);
    EXPECT_FALSE(sim.answerPermissionRequest(true));

    sim.setAuthorization(AudioCaptureAuthorization::notDetermined);
    sim.setPermissionAnswer(true);
    permission.requestAccess([&](bool g) {
        granted = g;
        ++answers;
    });
    sim.drainNotifications();
    EXPECT_EQ(answers, 2);
    EXPECT_TRUE(granted);
    EXPECT_EQ(permission.authorizationStatus(), AudioCaptureAuthorization::authorized);
}

TEST(SimulatedHardware, ReadsDeviceDescriptionsFromJSON)
{
    SimulatedAudioSystem sim;
    const auto ids = sim.addDevicesFromJSON(R"({
        "devices": [
            {"uid": "tt", "name": "Turntable", "nominalSampleRate": 96000, "clockPPM": 20,
             "inputStreams": [{"channels": 2, "bitsPerChannel": 24}],
             "inputChannelNames": ["L", "R"], "preferredInputStereo": [2, 1],
             "inputSignals": [{"channel": 1, "kind": "counting"}]},
            {"uid": "spk", "name": "Speakers", "outputStreams": [{"channels": 2, "isFloat": true}]},
            {"uid": "hdmi", "name": "HDMI", "outputStreams": [{"channels": 8, "isFloat": true}]}
        ],
        "defaultOutput": "hdmi"})");
    ASSERT_EQ(ids.size(), 3u);
    const auto turntable = sim.device(ids[0]);
    ASSERT_TRUE(turntable.has_value());
    EXPECT_EQ(turntable->nominalSampleRate, 96000.0);
    EXPECT_EQ(turntable->clockPPM, 20.0);
    EXPECT_EQ(turntable->inputStreams, (std::vector<SimStream>{SimStream{2, 24, false}}));
    EXPECT_EQ(turntable->inputChannelNames, (std::vector<std::string>{"L", "R"}));
    EXPECT_EQ(turntable->preferredInputStereo, (std::array<std::uint32_t, 2>{2, 1}));
    EXPECT_EQ(sim.device(ids[1])->outputStreams.at(0).bitsPerChannel, 32u);
    ObjectId defaultOutput = unknownObject;
    ASSERT_EQ(sim.hardware().defaultOutputDevice(defaultOutput), 0);
    EXPECT_EQ(defaultOutput, ids[2]);
}

TEST(SimulatedHardware, AddsNothingFromAMalformedJSONDescription)
{
    SimulatedAudioSystem sim;
    EXPECT_TRUE(sim.addDevicesFromJSON("{").empty());
    EXPECT_TRUE(sim.addDevicesFromJSON(R"({"devices": {}})").empty());
    // The second device lacks a name: the first one is not added either.
    EXPECT_TRUE(sim.addDevicesFromJSON(R"({"devices": [{"uid": "a", "name": "A"}, {"uid": "b"}]})")
                    .empty());
    EXPECT_TRUE(
        sim.addDevicesFromJSON(R"({"devices": [{"uid": "a", "name": "A", "bufferFrameSize": -4}]})")
            .empty());
    EXPECT_TRUE(
        sim.addDevicesFromJSON(
               R"({"devices": [{"uid": "a", "name": "A", "inputSignals": [{"kind": "noise"}]}]})")
            .empty());
    std::vector<ObjectId> devices;
    ASSERT_EQ(sim.hardware().devices(devices), 0);
    EXPECT_TRUE(devices.empty());
}
