// Integration tests of the PipeWire backend against a running PipeWire + WirePlumber session
// (scripts/test-env.sh starts a private one through scripts/pipewire-session.sh). Inside that
// environment a missing daemon fails every test; elsewhere the tests are skipped.
//
// Each test creates its own null-audio-sink nodes with names unique to the test process, so
// tests running in parallel against one daemon do not see each other's devices.

#include "platform/audio/audio_system.h"
#include "platform/audio/audio_test_units.h"
#include "platform/audio/pipewire/pipewire_audio_system.h"
#include "platform/audio/pipewire/pipewire_test_graph.h"

#include <gtest/gtest.h>

// Node setups name only the fields a test cares about; the others keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace brevalo {
namespace {

using namespace test;

TestNodeSetup virtualSource(const std::string& name, const std::string& positions,
                            std::uint32_t rate = 48000, const std::string& format = "")
{
    return {name, name, "Audio/Source/Virtual", positions, rate, format};
}

class PipeWireBackend : public ::testing::Test
{
protected:
    void SetUp() override
    {
        system_ = PipeWireAudioSystem::connect(std::chrono::milliseconds(3000));
        if (!system_) {
            if (pipeWireDaemonRequired()) {
                FAIL() << "no PipeWire server reachable in the test environment";
            }
            GTEST_SKIP() << "no PipeWire server reachable";
        }
        graph_ = std::make_unique<PipeWireTestGraph>(system_->pipeWireHardware());
    }

    AudioHardware& hw() { return system_->hardware(); }

    std::unique_ptr<PipeWireAudioSystem> system_;
    std::unique_ptr<PipeWireTestGraph> graph_; // ends before the connection it uses
};

TEST_F(PipeWireBackend, CatalogDescribesNodesFromTheRegistryAndReportsTheDefaultSink)
{
    const auto uid = uniqueTestName("interface");
    const ObjectId device = graph_->plug({uid, "Test Interface 4x", "Audio/Source/Virtual",
                                          "[ AUX0 AUX1 AUX2 AUX3 ]", 96000, "S24"});
    ASSERT_NE(device, unknownObject);

    std::vector<ObjectId> ids;
    ASSERT_EQ(hw().devices(ids), 0);
    EXPECT_NE(std::find(ids.begin(), ids.end(), device), ids.end());
    std::string text;
    ASSERT_EQ(hw().name(device, text), 0);
    EXPECT_EQ(text, "Test Interface 4x");
    ASSERT_EQ(hw().deviceUID(device, text), 0);
    EXPECT_EQ(text, uid);
    std::vector<std::uint32_t> config;
    ASSERT_EQ(hw().streamConfiguration(device, Scope::input, config), 0);
    EXPECT_EQ(config, std::vector<std::uint32_t>{4});
    ASSERT_EQ(hw().streamConfiguration(device, Scope::output, config), 0);
    EXPECT_TRUE(config.empty());
    ASSERT_EQ(hw().elementName(device, Scope::input, 4, text), 0);
    EXPECT_EQ(text, "AUX3");
    EXPECT_NE(hw().elementName(device, Scope::input, 5, text), 0);
    std::uint32_t value = 0;
    ASSERT_EQ(hw().isAlive(device, value), 0);
    EXPECT_EQ(value, 1u);
    ASSERT_EQ(hw().bufferFrameSize(device, value), 0);
    EXPECT_GT(value, 0u);
    ASSERT_EQ(hw().streams(device, Scope::input, ids), 0);
    ASSERT_EQ(ids.size(), 1u);
    ASSERT_EQ(hw().startingChannel(ids[0], value), 0);
    EXPECT_EQ(value, 1u);
    StreamFormat physical;
    ASSERT_EQ(hw().physicalFormat(ids[0], physical), 0);
    EXPECT_EQ(physical, StreamFormat::physicalInteger(96000.0, 4, 24));

    // A stereo sink names its front pair as the preferred stereo channels, its monitor is not an
    // input device, and a switch of the default sink is reported.
    const auto sinkUID = uniqueTestName("speakers");
    const ObjectId sink = graph_->plug({sinkUID, "Speakers", "Audio/Sink", "[ FC FL FR ]"});
    ASSERT_NE(sink, unknownObject);
    EXPECT_TRUE(waitUntil([&] {
        std::array<std::uint32_t, 2> pair{};
        return hw().preferredChannelsForStereo(sink, Scope::output, pair) == 0 &&
               pair == std::array<std::uint32_t, 2>{2, 3};
    }));
    ASSERT_EQ(hw().streamConfiguration(sink, Scope::input, config), 0);
    EXPECT_TRUE(config.empty());

    const auto otherUID = uniqueTestName("headphones");
    const ObjectId other = graph_->plug({otherUID, "Headphones"});
    ASSERT_NE(other, unknownObject);
    ObjectId current = unknownObject;
    ASSERT_TRUE(graph_->setDefaultSink(sinkUID));
    ASSERT_TRUE(
        waitUntil([&] { return hw().defaultOutputDevice(current) == 0 && current == sink; }));
    CallLog log;
    const auto registration =
        listen(hw(), systemObject, HardwareProperty::defaultOutputDevice, log);
    ASSERT_TRUE(graph_->setDefaultSink(otherUID));
    EXPECT_TRUE(log.waitFor(systemObject, HardwareProperty::defaultOutputDevice));
    ASSERT_TRUE(
        waitUntil([&] { return hw().defaultOutputDevice(current) == 0 && current == other; }));
    EXPECT_EQ(hw().removePropertyListener(registration), 0);
}

// ----- audio through real streams -------------------------------------------------------------

TEST_F(PipeWireBackend, HotPlugEndsTheTakeAndFindsTheSameUIDUnderAFreshID)
{
    // A second source the captured stream could be moved to if the backend let it.
    ASSERT_NE(graph_->plug(virtualSource(uniqueTestName("other"), "[ AUX0 AUX1 ]")), unknownObject);
    const auto setup = virtualSource(uniqueTestName("turntable"), "[ AUX0 AUX1 ]");
    int handle = 0;
    const ObjectId first = graph_->plug(setup, &handle);
    ASSERT_NE(first, unknownObject);
    CallLog deviceLog;
    const ListenerRegistration registrations[] = {
        listen(hw(), first, HardwareProperty::deviceIsAlive, deviceLog),
        listen(hw(), first, HardwareProperty::ioStoppedAbnormally, deviceLog)};
    Capture capture;
    auto unit = makeCaptureUnit(*system_, first, StreamFormat::float32Planar(48000.0, 2), &capture);
    ASSERT_EQ(unit->initialize(), 0);
    ASSERT_EQ(unit->start(), 0);
    ASSERT_TRUE(waitUntil([&] { return capture.blocks.load() >= 3; }));

    graph_->removeNode(handle);
    EXPECT_TRUE(deviceLog.waitFor(first, HardwareProperty::deviceIsAlive));
    EXPECT_TRUE(deviceLog.waitFor(first, HardwareProperty::ioStoppedAbnormally));
    // Moved to the other source, the stream would go on delivering blocks.
    const auto blocks = capture.blocks.load();
    EXPECT_FALSE(waitUntil([&] { return capture.blocks.load() > blocks + 2; },
                           std::chrono::milliseconds(300)));
    ObjectId found = first;
    ASSERT_TRUE(waitUntil([&] { return hw().deviceForUID(setup.name, found) == 0 && found == 0; }));
    std::string text;
    EXPECT_EQ(hw().name(first, text), status::badObject);

    const ObjectId second = graph_->plug(setup);
    ASSERT_NE(second, unknownObject);
    EXPECT_NE(second, first) << "a stale id must not name the new node";
    EXPECT_EQ(hw().name(first, text), status::badObject);
    ASSERT_EQ(hw().name(second, text), 0);
    EXPECT_EQ(text, setup.name);
    // The unit stays bound to the node that went away, not to its namesake.
    EXPECT_EQ(unit->stop(), 0);
    EXPECT_EQ(unit->start(), status::deviceUnavailable);
    EXPECT_EQ(unit->uninitialize(), 0);
    EXPECT_NE(unit->initialize(), 0);
    EXPECT_EQ(unit->dispose(), 0);
    for (const auto& r : registrations) {
        EXPECT_EQ(hw().removePropertyListener(r), 0);
    }
}

// 32 kHz is not among the server's allowed rates: the graph runs at the closest allowed one
// until an integer capture stream forces the node's own rate for as long as it runs; a float
// client takes the graph's audio converted to the node's rate. Either way the graph's blocks
// exceed the client's slice and arrive in slices of it.
TEST_F(PipeWireBackend, CaptureAtARateTheGraphDoesNotAllowInSlicesOfTheClientsSize)
{
    for (const bool integer : {true, false}) {
        SCOPED_TRACE(integer ? "integer" : "float");
        const ObjectId device =
            graph_->plug(virtualSource(uniqueTestName("oddrate"), "[ FL FR ]", 32000, "S16"));
        ASSERT_NE(device, unknownObject);
        std::vector<ObjectId> streams;
        ASSERT_EQ(hw().streams(device, Scope::input, streams), 0);
        StreamFormat format;
        ASSERT_EQ(hw().physicalFormat(streams.at(0), format), 0);
        EXPECT_EQ(format, StreamFormat::physicalInteger(32000.0, 2, 16)) << "the node's own rate";

        Capture capture;
        capture.integer = integer;
        format = integer ? StreamFormat::int32Planar(32000.0, 2)
                         : StreamFormat::float32Planar(32000.0, 2);
        auto unit = makeCaptureUnit(*system_, device, format, &capture, {}, 16);
        ASSERT_EQ(unit->initialize(), 0);
        ASSERT_EQ(unit->streamFormat(Scope::output, inputElement, format), 0);
        EXPECT_EQ(format.sampleRate, 32000.0);
        ASSERT_EQ(unit->start(), 0);
        EXPECT_TRUE(waitUntil([&] { return capture.frames.load() >= 6400; }));
        EXPECT_EQ(capture.failure.load(), 0);
        ASSERT_EQ(unit->stop(), 0);
        EXPECT_GE(capture.blocks.load(), capture.frames.load() / 16);
    }
}

TEST_F(PipeWireBackend, AutomaticBackendChoosesTheServerWhenReachable)
{
    auto system = createAudioSystem(AudioBackend::automatic);
    ASSERT_TRUE(system);
    EXPECT_EQ(system->backendName(), "pipewire");
    std::unique_ptr<VarispeedUnit> varispeed;
    EXPECT_TRUE(system->findComponent(UnitKind::varispeed));
    EXPECT_EQ(system->createVarispeedUnit(varispeed), 0);
    EXPECT_TRUE(varispeed);
}

} // namespace
} // namespace brevalo
