#include "platform/audio/audio_test_units.h"
#include "platform/audio/simulated/simulated_audio_system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

using namespace brevalo;

namespace {

using P = HardwareProperty;

using test::CallLog;
using test::listen;

} // namespace

TEST(SimulatedHardware, DescribesDevicesStreamsAndChannelsAsAddedAndAbsentPropertiesAsAbsent)
{
    SimulatedAudioSystem sim;
    auto& hw = sim.hardware();
    SimDevice d = SimDevice::input("usb-1234", "Interface", 4, 96000.0, 24);
    d.inputChannelNames = {"Mic 1", "Mic 2", "Line 3", "Line 4"};
    d.preferredInputStereo = std::array<std::uint32_t, 2>{3, 4};
    d.inputStreams.push_back(SimStream{2, 32, true});
    d.inputStreams.push_back(SimStream{1, 16, false, formatLinearPCM, 44100.0});
    const ObjectId input = sim.addDevice(d);
    const ObjectId output = sim.addDevice(SimDevice::output("out-1", "Speakers", 2, 48000.0));
    const ObjectId plain = sim.addDevice(SimDevice::input("plain", "Plain", 2, 48000.0, 16));

    std::vector<ObjectId> ids;
    ASSERT_EQ(hw.devices(ids), 0);
    EXPECT_EQ(ids, (std::vector<ObjectId>{input, output, plain}));
    ObjectId found = unknownObject;
    ASSERT_EQ(hw.defaultOutputDevice(found), 0);
    EXPECT_EQ(found, output); // the first output device becomes the default
    ASSERT_EQ(hw.deviceForUID("usb-1234", found), 0);
    EXPECT_EQ(found, input);

    std::vector<std::uint32_t> channels;
    ASSERT_EQ(hw.streamConfiguration(input, Scope::input, channels), 0);
    EXPECT_EQ(channels, (std::vector<std::uint32_t>{4, 2, 1}));
    ASSERT_EQ(hw.streamConfiguration(input, Scope::output, channels), 0);
    EXPECT_TRUE(channels.empty());
    std::string text;
    ASSERT_EQ(hw.elementName(input, Scope::input, 3, text), 0);
    EXPECT_EQ(text, "Line 3");
    std::array<std::uint32_t, 2> preferred{};
    ASSERT_EQ(hw.preferredChannelsForStereo(input, Scope::input, preferred), 0);
    EXPECT_EQ(preferred, (std::array<std::uint32_t, 2>{3, 4}));

    // Streams start where the previous one ended; each has its own format, the last one apart
    // from its device's rate.
    std::vector<ObjectId> streams;
    ASSERT_EQ(hw.streams(input, Scope::input, streams), 0);
    ASSERT_EQ(streams.size(), 3u);
    const StreamFormat want[] = {StreamFormat::physicalInteger(96000.0, 4, 24),
                                 StreamFormat::physicalFloat(96000.0, 2),
                                 StreamFormat::physicalInteger(44100.0, 1, 16)};
    for (std::size_t i = 0; i < 3; ++i) {
        std::uint32_t start = 0;
        ASSERT_EQ(hw.startingChannel(streams[i], start), 0);
        EXPECT_EQ(start, std::vector<std::uint32_t>({1, 5, 7})[i]);
        StreamFormat format;
        ASSERT_EQ(hw.physicalFormat(streams[i], format), 0);
        EXPECT_EQ(format, want[i]) << i;
    }

    std::uint32_t value = 0;
    EXPECT_FALSE(hw.hasProperty(input, {P::usesVariableBufferFrameSizes}));
    EXPECT_EQ(hw.usesVariableBufferFrameSizes(input, value), status::unknownProperty);
    EXPECT_FALSE(hw.hasProperty(plain, {P::elementName, Scope::input, 1}));
    EXPECT_EQ(hw.elementName(plain, Scope::input, 1, text), status::unknownProperty);
    EXPECT_FALSE(hw.hasProperty(plain, {P::preferredChannelsForStereo, Scope::input, 0}));
    EXPECT_EQ(hw.preferredChannelsForStereo(plain, Scope::input, preferred),
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
                     .property = P::deviceUID,
                     .times = 0,
                     .status = status::unknownProperty});
    sim.injectFault({.operation = AudioOperation::hasProperty,
                     .object = broken,
                     .property = P::name,
                     .times = 0});
    auto& hw = sim.hardware();
    std::string text;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(hw.deviceUID(broken, text), status::unknownProperty);
    }
    EXPECT_EQ(hw.deviceUID(healthy, text), 0);
    EXPECT_EQ(hw.name(broken, text), 0);
    EXPECT_FALSE(hw.hasProperty(broken, {P::name}));
    EXPECT_TRUE(hw.hasProperty(healthy, {P::name}));

    sim.failNext(AudioOperation::readProperty, status::memoryFull);
    std::vector<ObjectId> ids;
    EXPECT_EQ(hw.devices(ids), status::memoryFull);
    EXPECT_EQ(hw.devices(ids), 0);
}

TEST(SimulatedHardware, DeviceChangesPostTheMatchingNotifications)
{
    SimulatedAudioSystem sim;
    auto& hw = sim.hardware();
    const ObjectId device = sim.addDevice(SimDevice::input("in", "In", 4, 96000.0, 24));
    const ObjectId stream = sim.streamIDs(device, Scope::input).at(0);
    CallLog log;
    for (auto selector : {P::deviceIsAlive, P::nominalSampleRate, P::bufferFrameSize,
                          P::deviceHasChanged, P::ioStoppedAbnormally}) {
        listen(hw, device, selector, log);
    }
    listen(hw, device, P::streams, log, Scope::input);
    listen(hw, device, P::streamConfiguration, log, Scope::input);
    CallLog outputSide;
    listen(hw, device, P::streamConfiguration, outputSide, Scope::output);
    listen(hw, stream, P::physicalFormat, log);
    sim.drainNotifications();

    ASSERT_TRUE(sim.setNominalSampleRate(device, 48000.0));
    ASSERT_TRUE(sim.setNominalSampleRate(device, 48000.0)); // no change, no notification
    sim.drainNotifications();
    EXPECT_EQ(log.take(stream), (std::vector<P>{P::physicalFormat}));
    EXPECT_EQ(log.take(device), (std::vector<P>{P::nominalSampleRate}));
    StreamFormat format;
    ASSERT_EQ(hw.physicalFormat(stream, format), 0);
    EXPECT_EQ(format.sampleRate, 48000.0);

    ASSERT_TRUE(sim.setPhysicalFormat(stream, SimStream{4, 16, false}));
    ASSERT_TRUE(sim.setBufferFrameSize(device, 1024));
    ASSERT_TRUE(sim.setAlive(device, false));
    ASSERT_TRUE(sim.notifyDeviceHasChanged(device));
    ASSERT_TRUE(sim.notifyIOStoppedAbnormally(device));
    sim.drainNotifications();
    EXPECT_EQ(log.take(stream), (std::vector<P>{P::physicalFormat}));
    EXPECT_EQ(log.take(device), (std::vector<P>{P::bufferFrameSize, P::deviceIsAlive,
                                                P::deviceHasChanged, P::ioStoppedAbnormally}));

    ASSERT_TRUE(sim.setStreams(device, Scope::input, {SimStream{2, 24, false}}));
    sim.drainNotifications();
    EXPECT_EQ(log.take(device), (std::vector<P>{P::streams, P::streamConfiguration}));
    EXPECT_TRUE(outputSide.take(device).empty());
    EXPECT_NE(sim.streamIDs(device, Scope::input).at(0), stream);
    EXPECT_EQ(hw.physicalFormat(stream, format), status::badObject);
}

TEST(SimulatedHardware, RemovingTheDefaultOutputMovesTheDefaultAndNotifies)
{
    // The log outlives the simulation: the last additions below notify after the final drain.
    CallLog system;
    SimulatedAudioSystem sim;
    auto& hw = sim.hardware();
    const ObjectId first = sim.addDevice(SimDevice::output("o1", "One", 2, 48000.0));
    const ObjectId second = sim.addDevice(SimDevice::output("o2", "Two", 2, 44100.0));
    listen(hw, systemObject, P::devices, system);
    listen(hw, systemObject, P::defaultOutputDevice, system);

    ASSERT_TRUE(sim.removeDevice(first));
    sim.drainNotifications();
    EXPECT_EQ(system.take(systemObject), (std::vector<P>{P::devices, P::defaultOutputDevice}));
    ObjectId current = unknownObject;
    ASSERT_EQ(hw.defaultOutputDevice(current), 0);
    EXPECT_EQ(current, second);
    EXPECT_FALSE(sim.removeDevice(first));

    // A requested id is honoured once free again, so a test can reuse one.
    SimDevice again = SimDevice::input("again", "Again", 2, 48000.0, 24);
    again.id = first;
    ASSERT_EQ(sim.addDevice(again), first);
    std::string uid;
    ASSERT_EQ(hw.deviceUID(first, uid), 0);
    EXPECT_EQ(uid, "again");
    EXPECT_NE(sim.addDevice(again), first); // taken: the simulation picks a free id
}

TEST(SimulatedHardware, ScriptsTheCapturePermission)
{
    SimulatedAudioSystem sim;
    auto& permission = sim.capturePermission();
    EXPECT_EQ(permission.authorizationStatus(), AudioCaptureAuthorization::authorized);
    std::atomic<int> answers{0};
    std::atomic<bool> granted{true};
    const auto answer = [&](bool g) {
        granted = g;
        ++answers;
    };

    sim.setAuthorization(AudioCaptureAuthorization::notDetermined);
    sim.setPermissionAnswer(std::nullopt);
    permission.requestAccess(answer);
    sim.drainNotifications();
    EXPECT_EQ(answers, 0); // waits for the script
    EXPECT_EQ(sim.permissionRequestCount(), 1u);
    ASSERT_TRUE(sim.answerPermissionRequest(false));
    sim.drainNotifications();
    EXPECT_EQ(answers, 1);
    EXPECT_FALSE(granted);
    EXPECT_EQ(permission.authorizationStatus(), AudioCaptureAuthorization::denied);
    EXPECT_FALSE(sim.answerPermissionRequest(true));

    sim.setAuthorization(AudioCaptureAuthorization::notDetermined);
    sim.setPermissionAnswer(true);
    permission.requestAccess(answer);
    sim.drainNotifications();
    EXPECT_EQ(answers, 2);
    EXPECT_TRUE(granted);
    EXPECT_EQ(permission.authorizationStatus(), AudioCaptureAuthorization::authorized);
}

TEST(SimulatedHardware, ReadsDeviceDescriptionsFromJSONAndAddsNothingFromAMalformedOne)
{
    SimulatedAudioSystem sim;
    for (const char* malformed :
         {"{", R"({"devices": {}})",
          R"({"devices": [{"uid": "a", "name": "A"}, {"uid": "b"}]})", // second lacks a name
          R"({"devices": [{"uid": "a", "name": "A", "bufferFrameSize": -4}]})",
          R"({"devices": [{"uid": "a", "name": "A", "inputSignals": [{"kind": "noise"}]}]})"}) {
        EXPECT_TRUE(sim.addDevicesFromJSON(malformed).empty()) << malformed;
    }
    std::vector<ObjectId> devices;
    ASSERT_EQ(sim.hardware().devices(devices), 0);
    EXPECT_TRUE(devices.empty());

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
