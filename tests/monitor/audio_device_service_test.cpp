// The device catalog read from simulated hardware: which devices appear, their
// pairs, formats and sizes, the order, the default output, and the listeners
// with their change kinds.

#include "monitor/audio_device_service.h"
#include "platform/audio/simulated/simulated_audio_system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <tuple>
#include <utility>
#include <vector>

namespace brevalo {
namespace {

using Change = AudioDeviceService::Change;

QStringList pairIdentities(const AudioInputDevice& device)
{
    QStringList ids;
    for (const auto& pair : device.channelPairs) {
        ids.append(pair.identity());
    }
    return ids;
}

SimDevice inputDevice(const char* uid, const char* name, std::uint32_t channels)
{
    return SimDevice::input(uid, name, channels, 48000.0, 24);
}

// Records change kinds from the notification thread.
struct ChangeLog
{
    void operator()(Change change)
    {
        std::lock_guard lock(mutex);
        changes.push_back(change);
    }
    std::vector<Change> take()
    {
        std::lock_guard lock(mutex);
        return std::exchange(changes, {});
    }
    std::mutex mutex;
    std::vector<Change> changes;
};

// ----- the input catalog
// ---------------------------------------------------------------------

// One line per listed device: name, pairs, and the physical format ("none" when
// streams disagree).
QStringList summary(const QList<AudioInputDevice>& devices)
{
    QStringList lines;
    for (const auto& device : devices) {
        lines.append(device.name + ' ' + pairIdentities(device).join(',') + ' ' +
                     (device.physicalFormat ? device.physicalFormat->displayText() : "none"));
    }
    return lines;
}

TEST(AudioDeviceCatalog, ListsStereoInputsByNameWithTheirAdjacentPairsAndAgreedFormat)
{
    SimulatedAudioSystem sim;
    sim.addDevice(inputDevice("mono", "Microphone", 1));
    sim.addDevice(SimDevice::output("out", "Speakers", 2, 48000.0));
    SimDevice octo = inputDevice("octo", "octo", 8);
    octo.inputChannelNames = {"Mic 1", "Mic 2", "Line 3"}; // the device names three channels
    sim.addDevice(octo);
    SimDevice mixed = inputDevice("mixed", "Mixer", 4);
    mixed.inputStreams = {SimStream{.channels = 2, .bitsPerChannel = 24},
                          SimStream{.channels = 2, .bitsPerChannel = 32, .isFloat = true}};
    sim.addDevice(mixed);
    SimDevice agreeing = inputDevice("agree", "MIXER", 4);
    agreeing.inputStreams = {SimStream{.channels = 2, .bitsPerChannel = 32, .isFloat = true},
                             SimStream{.channels = 2, .bitsPerChannel = 32, .isFloat = true}};
    sim.addDevice(agreeing);
    // A stream that is not linear PCM does not count either way.
    SimDevice encoded = inputDevice("encoded", "mixer", 4);
    encoded.inputStreams = {
        SimStream{.channels = 2, .bitsPerChannel = 16},
        SimStream{.channels = 2, .bitsPerChannel = 16, .formatID = fourCharCode("ac-3")}};
    sim.addDevice(encoded);
    sim.addDevice(inputDevice("five", "five", 5)); // the fifth channel is never paired
    const auto devices = AudioDeviceService(sim.hardware()).inputDevices();

    // Case-insensitive by name; equal names keep their enumeration order.
    EXPECT_EQ(summary(devices), (QStringList{"five 0-1,2-3 24-bit", "Mixer 0-1,2-3 none",
                                             "MIXER 0-1,2-3 32-bit float", "mixer 0-1,2-3 16-bit",
                                             "octo 0-1,2-3,4-5,6-7 24-bit"}));
    EXPECT_EQ(std::tuple(devices[0].uid, devices[0].nominalSampleRate, devices[0].bufferFrameSize,
                         devices[0].isAlive, devices[1].channelNames.size()),
              std::tuple(QStringLiteral("five"), 48000.0, 512u, true, 4));
    const auto& named = devices.back();
    EXPECT_EQ(named.channelNames, (QStringList{"Mic 1", "Mic 2", "Line 3", "Input 4", "Input 5",
                                               "Input 6", "Input 7", "Input 8"}));
    EXPECT_EQ(std::pair(named.channelPairs[1].leftName, named.channelPairs[1].rightName),
              std::pair(QStringLiteral("Line 3"), QStringLiteral("Input 4")));
}

TEST(AudioDeviceCatalog, PutsAValidPreferredPairFirstAndListsItOnce)
{
    struct Row
    {
        std::uint32_t channels;
        std::array<std::uint32_t, 2> preferred; // counted from one, as the device gives it
        QStringList pairs;
    };
    const Row rows[] = {
        {4, {3, 4}, {"2-3", "0-1"}},
        {4, {2, 3}, {"1-2", "0-1", "2-3"}},
        {2, {2, 1}, {"1-0", "0-1"}},
        // Outside the channels, or one channel twice: ignored.
        {4, {0, 2}, {"0-1", "2-3"}},
        {4, {1, 5}, {"0-1", "2-3"}},
        {4, {5, 1}, {"0-1", "2-3"}},
        {4, {3, 3}, {"0-1", "2-3"}},
    };
    for (const auto& row : rows) {
        SimulatedAudioSystem sim;
        SimDevice device = inputDevice("dev", "Device", row.channels);
        device.preferredInputStereo = row.preferred;
        sim.addDevice(device);
        const auto devices = AudioDeviceService(sim.hardware()).inputDevices();
        ASSERT_EQ(devices.size(), 1);
        EXPECT_EQ(pairIdentities(devices[0]), row.pairs)
            << row.preferred[0] << "+" << row.preferred[1];
        EXPECT_EQ(devices[0].channelPairs[0].leftName,
                  QStringLiteral("Input %1").arg(devices[0].channelPairs[0].leftChannel + 1));
    }
}

TEST(AudioDeviceCatalog, AnUnreadableIdentityDropsAnInputAndOtherReadsFallBack)
{
    // Per unreadable property: whether the input is still listed, and its rate,
    // buffer size and liveness then.
    struct Row
    {
        HardwareProperty property;
        bool listed;
        double rate = 48000.0;
        std::uint32_t buffer = 512;
        bool alive = true;
    };
    const Row rows[] = {
        {HardwareProperty::deviceUID, false},
        {HardwareProperty::name, false},
        {HardwareProperty::nominalSampleRate, true, 0.0},
        {HardwareProperty::bufferFrameSize, true, 48000.0, 0},
        {HardwareProperty::deviceIsAlive, true, 48000.0, 512, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.property));
        SimulatedAudioSystem sim;
        sim.injectFault(FaultRule{.operation = AudioOperation::readProperty,
                                  .object = sim.addDevice(inputDevice("in", "Interface", 2)),
                                  .property = row.property,
                                  .times = 0});
        const auto devices = AudioDeviceService(sim.hardware()).inputDevices();
        ASSERT_EQ(devices.size(), row.listed ? 1 : 0);
        if (row.listed) {
            EXPECT_EQ(std::tuple(devices[0].uid, devices[0].nominalSampleRate,
                                 devices[0].bufferFrameSize, devices[0].isAlive),
                      std::tuple(QStringLiteral("in"), row.rate, row.buffer, row.alive));
        }
    }
}

// ----- the default output
// --------------------------------------------------------------------

TEST(AudioDeviceCatalog, DescribesTheDefaultOutput)
{
    SimulatedAudioSystem sim;
    EXPECT_FALSE(AudioDeviceService(sim.hardware()).defaultOutputDevice());
    SimDevice out = SimDevice::output("out", "Speakers", 2, 44100.0);
    out.bufferFrameSize = 256;
    out.variableBufferFrameSize = 1024;
    const ObjectId outID = sim.addDevice(out);
    AudioDeviceService service(sim.hardware());
    EXPECT_EQ(service.defaultOutputDevice(),
              (AudioOutputDevice{outID, "out", "Speakers", 44100.0, AudioDeviceFormat{32, true},
                                 1024, true}));

    // A default without output channels, or with an unreadable name, is no
    // output.
    const ObjectId inputOnly = sim.addDevice(inputDevice("in", "Interface", 2));
    sim.setDefaultOutputDevice(inputOnly);
    EXPECT_FALSE(service.defaultOutputDevice());
    sim.setDefaultOutputDevice(outID);
    sim.injectFault(FaultRule{.operation = AudioOperation::readProperty,
                              .object = outID,
                              .property = HardwareProperty::name});
    EXPECT_FALSE(service.defaultOutputDevice());
    EXPECT_TRUE(service.defaultOutputDevice());
    sim.setDefaultOutputDevice(unknownObject);
    EXPECT_FALSE(service.defaultOutputDevice());
}

// ----- listeners
// -----------------------------------------------------------------------------

TEST(AudioDeviceListeners, GlobalOnesAreInstalledOnceAndWatchingReplacesThePerDeviceOnes)
{
    SimulatedAudioSystem sim;
    auto log = std::make_shared<ChangeLog>();
    AudioDeviceService service(sim.hardware());
    service.setChangeHandler([log](Change change) { (*log)(change); });
    service.startListening();
    service.startListening();
    EXPECT_EQ(service.globalListeners().size(), 2);
    EXPECT_EQ(sim.callCount(AudioOperation::addListener), 2u);

    SimDevice two = inputDevice("in", "Interface", 4);
    two.inputStreams = {SimStream{.channels = 2}, SimStream{.channels = 2}};
    const ObjectId input = sim.addDevice(two);
    sim.drainNotifications();
    EXPECT_EQ(log->take(), std::vector<Change>{Change::catalog});
    const ObjectId output = sim.addDevice(SimDevice::output("out", "Speakers", 2, 48000.0));
    sim.drainNotifications();
    EXPECT_EQ(log->take(), (std::vector<Change>{Change::catalog, Change::defaultOutput}));
    sim.setDefaultOutputDevice(unknownObject);
    sim.setDefaultOutputDevice(output);
    sim.drainNotifications();
    EXPECT_EQ(log->take(), (std::vector<Change>{Change::defaultOutput, Change::defaultOutput}));
    const ObjectId other = sim.addDevice(inputDevice("other", "Other", 2));
    sim.drainNotifications();
    log->take();

    // Eight device properties each, plus the format of every stream of the scope.
    service.watchSelectedDevices(input, output);
    EXPECT_EQ(service.selectedDeviceListeners().size(), 8 + 2 + 8 + 1);

    sim.setNominalSampleRate(input, 96000.0);
    sim.drainNotifications();
    auto changes = log->take();
    ASSERT_FALSE(changes.empty());
    EXPECT_TRUE(std::all_of(changes.begin(), changes.end(),
                            [](Change c) { return c == Change::selectedDevice; }));

    // Re-targeting: the old devices fall silent, the new one is heard.
    service.watchSelectedDevices(other, std::nullopt);
    EXPECT_EQ(service.selectedDeviceListeners().size(), 8 + 1);
    EXPECT_EQ(sim.callCount(AudioOperation::removeListener), 19u);
    sim.setNominalSampleRate(input, 48000.0);
    sim.setBufferFrameSize(output, 256);
    sim.drainNotifications();
    EXPECT_TRUE(log->take().empty());
    sim.notifyIOStoppedAbnormally(other);
    sim.drainNotifications();
    EXPECT_EQ(log->take(), std::vector<Change>{Change::selectedDevice});

    service.watchSelectedDevices(std::nullopt, std::nullopt);
    EXPECT_TRUE(service.selectedDeviceListeners().isEmpty());
    sim.notifyDeviceHasChanged(other);
    sim.drainNotifications();
    EXPECT_TRUE(log->take().empty());
}

TEST(AudioDeviceListeners, ADestroyedServiceRemovesItsListenersAndHearsNothing)
{
    SimulatedAudioSystem sim;
    const ObjectId input = sim.addDevice(inputDevice("in", "Interface", 2));
    sim.drainNotifications();
    auto log = std::make_shared<ChangeLog>();
    // The notification thread may deliver the queued changes while the service
    // still lives; only what arrives after it is gone counts.
    auto gone = std::make_shared<std::atomic<bool>>(false);
    {
        AudioDeviceService service(sim.hardware());
        service.setChangeHandler([log, gone](Change change) {
            if (gone->load()) {
                (*log)(change);
            }
        });
        service.startListening();
        service.watchSelectedDevices(input, std::nullopt);
        // Queued before the service goes away, delivered after.
        sim.setNominalSampleRate(input, 96000.0);
        sim.addDevice(inputDevice("second", "Second", 2));
    }
    gone->store(true);
    EXPECT_EQ(sim.callCount(AudioOperation::removeListener),
              sim.callCount(AudioOperation::addListener));
    sim.drainNotifications();
    sim.removeDevice(input);
    sim.drainNotifications();
    EXPECT_TRUE(log->take().empty());
    EXPECT_EQ(log.use_count(), 1) << "the handler was released with the service";
}

} // namespace
} // namespace brevalo
