// Integration tests of the PipeWire backend against a running PipeWire + WirePlumber session
// (scripts/test-env.sh starts a private one through scripts/pipewire-session.sh). Inside that
// environment a missing daemon fails every test; elsewhere the tests are skipped.
//
// Each test creates its own null-audio-sink nodes with names unique to the test process, so
// tests running in parallel against one daemon do not see each other's devices.

#include "pipewire/pipewire_test_graph.h"
#include "platform/audio/audio_system.h"
#include "platform/audio/pipewire/pipewire_audio_system.h"
#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <new>
#include <numbers>
#include <set>

// Node setups name only the fields a test cares about; the others keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace brevalo {
namespace {

using test::TestNodeSetup;
using test::waitUntil;

bool daemonRequired()
{
    const char* env = std::getenv("BREVALO_TEST_ENV");
    const char* wanted = std::getenv("BREVALO_PIPEWIRE_TESTS");
    return env != nullptr && std::string(env) == "1" &&
           (wanted == nullptr || std::string(wanted) != "0");
}

std::string uniqueName(const std::string& stem)
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return "brevalo-test-" + stem + "-" + info->name() + "-" + std::to_string(::getpid());
}

TestNodeSetup virtualSource(const std::string& name, const std::string& positions,
                            std::uint32_t rate = 48000, const std::string& format = "")
{
    return {name, name, "Audio/Source/Virtual", positions, rate, format};
}

// Collects listener calls (on the notification thread) for a test to wait on.
class ListenerLog
{
public:
    void record(ObjectId object, const PropertyAddress& address, bool readBack)
    {
        readsBack += readBack ? 1 : 0;
        std::lock_guard lock(mutex_);
        calls_.insert({object, address.selector});
        threads_.insert(std::this_thread::get_id());
    }
    bool waitFor(ObjectId object, HardwareProperty selector)
    {
        return waitUntil([&] {
            std::lock_guard lock(mutex_);
            return calls_.count({object, selector}) != 0;
        });
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        calls_.clear();
    }
    std::set<std::thread::id> threads()
    {
        std::lock_guard lock(mutex_);
        return threads_;
    }

    std::atomic<int> readsBack{0};

private:
    std::mutex mutex_;
    std::set<std::pair<ObjectId, HardwareProperty>> calls_;
    std::set<std::thread::id> threads_;
};

class PipeWireBackend : public ::testing::Test
{
protected:
    void SetUp() override
    {
        system_ = PipeWireAudioSystem::connect(std::chrono::milliseconds(3000));
        if (!system_) {
            if (daemonRequired()) {
                FAIL() << "no PipeWire server reachable in the test environment";
            }
            GTEST_SKIP() << "no PipeWire server reachable";
        }
        graph_ = std::make_unique<test::PipeWireTestGraph>(system_->pipeWireHardware());
    }

    void TearDown() override
    {
        graph_.reset();
        system_.reset();
    }

    AudioHardware& hw() { return system_->hardware(); }

    ObjectId waitForDevice(const std::string& uid)
    {
        ObjectId device = unknownObject;
        waitUntil([&] { return hw().deviceForUID(uid, device) == 0 && device != unknownObject; });
        return device;
    }

    // Creates the node and waits until the model knows it with its format (its rate is the
    // node's); unknownObject when any step fails.
    ObjectId plug(const TestNodeSetup& setup, int* handle = nullptr)
    {
        const int h = graph_->addNode(setup);
        if (handle != nullptr) {
            *handle = h;
        }
        const ObjectId device = h != 0 ? waitForDevice(setup.name) : unknownObject;
        const bool ready = device != unknownObject && waitUntil([&] {
                               double r = 0.0;
                               return hw().nominalSampleRate(device, r) == 0 && r == setup.rate;
                           });
        return ready ? device : unknownObject;
    }

    void listen(ObjectId object, HardwareProperty selector, ListenerLog& log,
                ListenerRegistration& registration)
    {
        // The listener reads the model back, as the device catalog does; this must not deadlock
        // against the PipeWire thread loop that produced the change.
        const auto listener = [this, &log](ObjectId o, const PropertyAddress& a) {
            std::vector<ObjectId> ids;
            log.record(o, a, hw().devices(ids) == 0);
        };
        ASSERT_EQ(
            hw().addPropertyListener(object, {selector, Scope::global, 0}, listener, registration),
            0);
    }

    std::unique_ptr<PipeWireAudioSystem> system_;
    std::unique_ptr<test::PipeWireTestGraph> graph_;
};

TEST_F(PipeWireBackend, CatalogDescribesNodesFromTheRegistryAndReportsTheDefaultSink)
{
    const auto uid = uniqueName("interface");
    const ObjectId device = plug({uid, "Test Interface 4x", "Audio/Source/Virtual",
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
    const auto sinkUID = uniqueName("speakers");
    const ObjectId sink = plug({sinkUID, "Speakers", "Audio/Sink", "[ FC FL FR ]"});
    ASSERT_NE(sink, unknownObject);
    EXPECT_TRUE(waitUntil([&] {
        std::array<std::uint32_t, 2> pair{};
        return hw().preferredChannelsForStereo(sink, Scope::output, pair) == 0 &&
               pair == std::array<std::uint32_t, 2>{2, 3};
    }));
    ASSERT_EQ(hw().streamConfiguration(sink, Scope::input, config), 0);
    EXPECT_TRUE(config.empty());

    const auto otherUID = uniqueName("headphones");
    const ObjectId other = plug({otherUID, "Headphones"});
    ASSERT_NE(other, unknownObject);
    ObjectId current = unknownObject;
    ASSERT_TRUE(graph_->setDefaultSink(sinkUID));
    ASSERT_TRUE(
        waitUntil([&] { return hw().defaultOutputDevice(current) == 0 && current == sink; }));
    ListenerLog log;
    ListenerRegistration registration;
    listen(systemObject, HardwareProperty::defaultOutputDevice, log, registration);
    ASSERT_TRUE(graph_->setDefaultSink(otherUID));
    EXPECT_TRUE(log.waitFor(systemObject, HardwareProperty::defaultOutputDevice));
    ASSERT_TRUE(
        waitUntil([&] { return hw().defaultOutputDevice(current) == 0 && current == other; }));
    EXPECT_EQ(hw().removePropertyListener(registration), 0);
}

// ----- audio through real streams -------------------------------------------------------------

constexpr std::uint32_t captureCapacity = 96000 * 3;

// What an input callback collected; sized before the unit starts, so the callback only writes.
struct CaptureContext
{
    IOUnit* unit = nullptr;
    std::array<std::vector<std::int32_t>, 2> samples{std::vector<std::int32_t>(captureCapacity),
                                                     std::vector<std::int32_t>(captureCapacity)};
    std::atomic<std::uint32_t> frames{0};
    std::atomic<std::uint32_t> blocks{0};
    std::atomic<std::int32_t> renderStatus{0};
    std::uint32_t countFromBlock = 0; // 0: no allocation counting

    static std::int32_t input(void* refCon, RenderActionFlags& flags, const AudioTimeStamp& time,
                              std::uint32_t bus, std::uint32_t frames, AudioBufferList*)
    {
        auto& self = *static_cast<CaptureContext*>(refCon);
        const auto block = self.blocks.fetch_add(1) + 1;
        if (self.countFromBlock != 0 && block >= self.countFromBlock) {
            test::countAllocationsOnThisThread(true); // every later allocation here counts
        }
        const auto at = self.frames.load();
        if (at + frames > captureCapacity) {
            return 0;
        }
        AudioBufferList list;
        list.numberBuffers = 2;
        for (std::uint32_t c = 0; c < 2; ++c) {
            list.buffers[c] = {1, frames * 4, self.samples[c].data() + at};
        }
        const auto s = self.unit->render(flags, time, bus, frames, list);
        if (s != 0) {
            self.renderStatus.store(s); // kept: a later good block must not hide a refusal
            return s;
        }
        self.frames.store(at + frames);
        return 0;
    }
};

std::unique_ptr<IOUnit> makeInputUnit(AudioSystem& system, ObjectId device,
                                      const StreamFormat& format, CaptureContext& context)
{
    std::unique_ptr<IOUnit> unit;
    EXPECT_EQ(system.createIOUnit(unit), 0);
    EXPECT_EQ(unit->setEnableIO(Scope::input, inputElement, true), 0);
    EXPECT_EQ(unit->setEnableIO(Scope::output, outputElement, false), 0);
    EXPECT_EQ(unit->setCurrentDevice(device), 0);
    EXPECT_EQ(unit->setStreamFormat(Scope::output, inputElement, format), 0);
    const std::int32_t map[] = {0, 1};
    EXPECT_EQ(unit->setChannelMap(Scope::output, inputElement, map), 0);
    EXPECT_EQ(unit->setMaximumFramesPerSlice(8192), 0);
    context.unit = unit.get();
    EXPECT_EQ(unit->setInputCallback({CaptureContext::input, &context}), 0);
    return unit;
}

StreamFormat agreedFormat(IOUnit& unit)
{
    StreamFormat format;
    EXPECT_EQ(unit.streamFormat(Scope::output, inputElement, format), 0);
    return format;
}

TEST_F(PipeWireBackend, HotPlugEndsTheTakeAndFindsTheSameUIDUnderAFreshID)
{
    ListenerLog log;
    ListenerRegistration registration;
    listen(systemObject, HardwareProperty::devices, log, registration);

    // A second source the captured stream could be moved to if the backend let it.
    ASSERT_NE(plug(virtualSource(uniqueName("other"), "[ AUX0 AUX1 ]")), unknownObject);
    const auto setup = virtualSource(uniqueName("turntable"), "[ AUX0 AUX1 ]");
    int handle = 0;
    const ObjectId first = plug(setup, &handle);
    ASSERT_NE(first, unknownObject);
    ASSERT_TRUE(log.waitFor(systemObject, HardwareProperty::devices));
    ListenerLog deviceLog;
    ListenerRegistration aliveRegistration;
    ListenerRegistration stoppedRegistration;
    listen(first, HardwareProperty::deviceIsAlive, deviceLog, aliveRegistration);
    listen(first, HardwareProperty::ioStoppedAbnormally, deviceLog, stoppedRegistration);
    CaptureContext capture;
    auto unit = makeInputUnit(*system_, first, StreamFormat::float32Planar(48000.0, 2), capture);
    ASSERT_EQ(unit->initialize(), 0);
    ASSERT_EQ(unit->start(), 0);
    ASSERT_TRUE(waitUntil([&] { return capture.blocks.load() >= 3; }));
    log.clear();

    graph_->removeNode(handle);
    ASSERT_TRUE(log.waitFor(systemObject, HardwareProperty::devices));
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
    log.clear();

    ASSERT_NE(graph_->addNode(setup), 0);
    ASSERT_TRUE(log.waitFor(systemObject, HardwareProperty::devices));
    const ObjectId second = waitForDevice(setup.name);
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
    EXPECT_EQ(unit->dispose(), status::illegalOperation);

    EXPECT_GT(log.readsBack.load(), 0);
    const auto threads = log.threads();
    EXPECT_EQ(threads.size(), 1u) << "listeners run on one notification thread";
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
    for (const auto& r : {registration, aliveRegistration, stoppedRegistration}) {
        EXPECT_EQ(hw().removePropertyListener(r), 0);
    }
    EXPECT_NE(hw().removePropertyListener(registration), 0);
}

// Plays through an output unit into the node and captures the node's other side through the
// input unit, both in one client format, until `frames` frames arrived. The data thread must
// not allocate meanwhile.
void playAndCapture(AudioSystem& system, ObjectId device, IOUnit& input, const StreamFormat& format,
                    RenderCallback render, CaptureContext& capture, std::uint32_t frames)
{
    std::unique_ptr<IOUnit> output;
    ASSERT_EQ(system.createIOUnit(output), 0);
    ASSERT_EQ(output->setCurrentDevice(device), 0);
    ASSERT_EQ(output->setStreamFormat(Scope::input, outputElement, format), 0);
    ASSERT_EQ(output->setRenderCallback(Scope::input, outputElement, render), 0);
    ASSERT_EQ(output->initialize(), 0);
    ASSERT_EQ(input.initialize(), 0);
    EXPECT_EQ(agreedFormat(input), format);
    capture.countFromBlock = 20;
    ASSERT_EQ(output->start(), 0);
    ASSERT_EQ(input.start(), 0);
    const auto allocationsBefore = test::countedAllocations();
    EXPECT_TRUE(waitUntil([&] { return capture.frames.load() >= frames; }))
        << "captured " << capture.frames.load() << " frames in " << capture.blocks.load()
        << " blocks, render status " << capture.renderStatus.load();
    ASSERT_EQ(input.stop(), 0);
    ASSERT_EQ(output->stop(), 0);
    EXPECT_EQ(test::countedAllocations(), allocationsBefore)
        << "the process callbacks allocated on the data thread";
    EXPECT_EQ(capture.renderStatus.load(), 0);
    EXPECT_EQ(input.dispose(), 0);
    EXPECT_EQ(output->dispose(), 0);
}

struct SineContext
{
    double phase = 0.0;
    double step = 2.0 * std::numbers::pi * 1000.0 / 48000.0;

    static std::int32_t render(void* refCon, RenderActionFlags&, const AudioTimeStamp&,
                               std::uint32_t, std::uint32_t frames, AudioBufferList* buffers)
    {
        auto& self = *static_cast<SineContext*>(refCon);
        for (std::uint32_t i = 0; i < frames; ++i, self.phase += self.step) {
            for (std::uint32_t c = 0; c < buffers->numberBuffers; ++c) {
                static_cast<float*>(buffers->buffers[c].data)[i] =
                    static_cast<float>(0.5 * std::sin(self.phase));
            }
        }
        return 0;
    }
};

TEST_F(PipeWireBackend, SinePlayedOnAnOutputUnitArrivesThroughTheSinksMonitor)
{
    const ObjectId device = plug({uniqueName("loop"), "Loop", "Audio/Duplex"});
    ASSERT_NE(device, unknownObject);
    SineContext sine;
    CaptureContext capture;
    const auto format = StreamFormat::float32Planar(48000.0, 2);
    auto input = makeInputUnit(*system_, device, format, capture);
    playAndCapture(*system_, device, *input, format, {SineContext::render, &sine}, capture, 48000);

    const auto frames = capture.frames.load();
    for (std::uint32_t c = 0; c < 2; ++c) {
        const auto* samples = reinterpret_cast<const float*>(capture.samples[c].data());
        double energy = 0.0;
        for (std::uint32_t i = frames / 2; i < frames; ++i) {
            energy += double{samples[i]} * samples[i];
        }
        // A 0.5 sine has an RMS of 0.354; unity stream volumes keep it there.
        EXPECT_NEAR(std::sqrt(energy / (frames - frames / 2)), 0.5 / std::sqrt(2.0), 0.02)
            << "channel " << c;
    }
}

std::int32_t counterPattern(std::uint64_t frame, std::uint32_t channel)
{
    if (channel == 0) {
        return static_cast<std::int32_t>((frame + 1) & 0x7FFFFF); // never 0 in a test's length
    }
    // Every bit of a signed 24-bit sample, both signs.
    const auto h = static_cast<std::uint32_t>(frame * 2654435761u + 12345u);
    const auto v = static_cast<std::int32_t>((h >> 5) & 0xFFFFFF);
    return v >= 0x800000 ? v - 0x1000000 : v;
}

// Plays counterPattern left-justified in 32-bit integers.
struct PatternContext
{
    std::uint64_t frame = 0;

    static std::int32_t render(void* refCon, RenderActionFlags&, const AudioTimeStamp&,
                               std::uint32_t, std::uint32_t frames, AudioBufferList* buffers)
    {
        auto& self = *static_cast<PatternContext*>(refCon);
        for (std::uint32_t c = 0; c < buffers->numberBuffers; ++c) {
            auto* out = static_cast<std::int32_t*>(buffers->buffers[c].data);
            for (std::uint32_t i = 0; i < frames; ++i) {
                out[i] = static_cast<std::int32_t>(
                    static_cast<std::uint32_t>(counterPattern(self.frame + i, c)) << 8);
            }
        }
        self.frame += frames;
        return 0;
    }
};

// The node is a virtual source in the sense that matters here: a null-audio node at its own
// 24-bit format and rate whose input side is fed (by our output unit) and whose output side
// an input unit captures.
TEST_F(PipeWireBackend, TwentyFourBitPatternIsCapturedBitExactAtTheSourcesOwnRate)
{
    const ObjectId device = plug({uniqueName("bitexact"), "Bit-exact source", "Audio/Duplex",
                                  "[ AUX0 AUX1 ]", 96000, "S24"});
    ASSERT_NE(device, unknownObject);
    CaptureContext capture;
    const auto format = StreamFormat::int32Planar(96000.0, 2);
    auto unit = makeInputUnit(*system_, device, format, capture);

    // Refusals leave the unit as it was.
    EXPECT_EQ(unit->setCurrentDevice(0x7FFFFFFF), status::badObject);
    EXPECT_EQ(
        unit->setStreamFormat(Scope::output, inputElement, StreamFormat::int32Planar(44100.0, 2)),
        status::unsupportedFormat);
    EXPECT_EQ(unit->setStreamFormat(Scope::output, inputElement,
                                    StreamFormat::physicalInteger(96000.0, 2, 24)),
              status::formatNotSupported);
    EXPECT_EQ(unit->start(), status::uninitialized);
    RenderActionFlags flags = 0;
    AudioBufferList list;
    EXPECT_NE(unit->render(flags, {}, inputElement, 16, list), 0);
    StreamFormat hardwareSide;
    ASSERT_EQ(unit->streamFormat(Scope::input, inputElement, hardwareSide), 0);
    EXPECT_EQ(hardwareSide.sampleRate, 96000.0);

    PatternContext pattern;
    playAndCapture(*system_, device, *unit, format, {PatternContext::render, &pattern}, capture,
                   96000);
    std::uint32_t checked = 0;
    std::uint32_t mismatches = 0;
    std::uint32_t gaps = 0;
    std::int64_t previous = -1;
    for (std::uint32_t i = 0; i < capture.frames.load(); ++i) {
        const std::int32_t left = capture.samples[0][i];
        if (left == 0) {
            continue; // before the player reached the node
        }
        const auto frame = static_cast<std::uint64_t>((left >> 8) - 1);
        const auto expectedRight =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(counterPattern(frame, 1)) << 8);
        if (((left & 0xFF) != 0 || capture.samples[1][i] != expectedRight) && ++mismatches <= 5) {
            ADD_FAILURE() << "frame " << i << ": left " << left << " right "
                          << capture.samples[1][i] << " expected " << expectedRight;
        }
        gaps += previous >= 0 && static_cast<std::int64_t>(frame) != previous + 1 ? 1 : 0;
        previous = static_cast<std::int64_t>(frame);
        ++checked;
    }
    EXPECT_GT(checked, 48000u);
    EXPECT_EQ(mismatches, 0u);
    // A graph cycle the loaded test machine missed shows as a jump in the frame index, with
    // every sample around it intact; it is a scheduling fault, not a change of values.
    EXPECT_LE(gaps, 3u) << "samples were dropped or repeated";
}

TEST_F(PipeWireBackend, IntegerCaptureSwitchesTheGraphToARateItDoesNotAllow)
{
    // 32 kHz is not among the server's allowed rates: the graph runs at the closest allowed one
    // until an integer capture stream forces the node's own rate for as long as it runs.
    const ObjectId device = plug(virtualSource(uniqueName("oddrate"), "[ FL FR ]", 32000, "S16"));
    ASSERT_NE(device, unknownObject);
    std::vector<ObjectId> streams;
    ASSERT_EQ(hw().streams(device, Scope::input, streams), 0);
    ASSERT_EQ(streams.size(), 1u);
    StreamFormat physical;
    ASSERT_EQ(hw().physicalFormat(streams[0], physical), 0);
    EXPECT_EQ(physical.bitsPerChannel, 16u);
    EXPECT_EQ(physical.sampleRate, 32000.0) << "the physical rate is the node's own";

    CaptureContext capture;
    auto unit = makeInputUnit(*system_, device, StreamFormat::int32Planar(32000.0, 2), capture);
    ASSERT_EQ(unit->initialize(), 0);
    EXPECT_EQ(agreedFormat(*unit).sampleRate, 32000.0);
    ASSERT_EQ(unit->start(), 0);
    EXPECT_TRUE(waitUntil([&] { return capture.frames.load() >= 3200; }));
    EXPECT_EQ(capture.renderStatus.load(), 0);
    ASSERT_EQ(unit->stop(), 0);
}

TEST_F(PipeWireBackend, FloatClientTakesTheGraphsConvertedAudioAtItsOwnRate)
{
    const ObjectId device = plug(virtualSource(uniqueName("oddrate"), "[ FL FR ]", 32000, "S16"));
    ASSERT_NE(device, unknownObject);
    CaptureContext capture;
    auto unit = makeInputUnit(*system_, device, StreamFormat::float32Planar(32000.0, 2), capture);
    ASSERT_EQ(unit->initialize(), 0);
    EXPECT_EQ(agreedFormat(*unit).sampleRate, 32000.0);
    ASSERT_EQ(unit->start(), 0);
    EXPECT_TRUE(waitUntil([&] { return capture.frames.load() >= 16000; }));
    EXPECT_EQ(capture.renderStatus.load(), 0);
    ASSERT_EQ(unit->stop(), 0);
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
    std::atomic<int> granted{-1};
    system->capturePermission().requestAccess([&](bool g) { granted = g ? 1 : 0; });
    EXPECT_TRUE(waitUntil([&] { return granted.load() == 1; }));
    EXPECT_EQ(system->capturePermission().authorizationStatus(),
              AudioCaptureAuthorization::authorized);
}

} // namespace
} // namespace brevalo
