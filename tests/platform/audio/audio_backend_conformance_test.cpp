// The contract every backend of the audio layer keeps, run against each: the simulated
// hardware (in real time, on its own I/O threads) and PipeWire on the test session that
// scripts/test-env.sh starts. Outside that environment the PipeWire cases are skipped.
//
// Each case works on a "loop" device of its own: two input and two output channels at 24 bits,
// whose input carries the counting pattern (simCountingCode at 24 bits). The simulation
// generates it; on PipeWire a duplex null node carries what an output unit of the case plays
// into it, so every case also plays that pattern into the device.

#include "platform/audio/audio_test_units.h"
#include "platform/audio/pipewire/pipewire_audio_system.h"
#include "platform/audio/simulated/simulated_audio_system.h"

#include <map>

namespace brevalo {
namespace {

using namespace test;
using P = HardwareProperty;

class SimulatedSetup
{
public:
    SimulatedSetup() : sim_(SimTimeMode::realTime) {}
    bool available() const { return true; }
    AudioSystem& system() { return sim_; }

    ObjectId plugLoop(const std::string& stem, double rate)
    {
        SimDevice d = SimDevice::input(stem, stem, 2, rate, 24);
        d.outputStreams.push_back(SimStream{2, 32, true});
        const ObjectId device = sim_.addDevice(d);
        for (std::uint32_t c = 0; c < 2; ++c) {
            sim_.setInputSignal(device, c, SimSignal::counting());
        }
        return device;
    }
    void unplug(ObjectId device) { sim_.removeDevice(device); }

private:
    SimulatedAudioSystem sim_;
};

class PipeWireSetup
{
public:
    PipeWireSetup() : system_(PipeWireAudioSystem::connect(std::chrono::milliseconds(3000)))
    {
        if (system_) {
            graph_ = std::make_unique<PipeWireTestGraph>(system_->pipeWireHardware());
        }
    }
    bool available() const { return system_ != nullptr; }
    AudioSystem& system() { return *system_; }

    ObjectId plugLoop(const std::string& stem, double rate)
    {
        const auto name = uniqueTestName(stem);
        int handle = 0;
        const ObjectId device = graph_->plug(
            {name, name, "Audio/Duplex", "[ AUX0 AUX1 ]", static_cast<std::uint32_t>(rate), "S24"},
            &handle);
        handles_[device] = handle;
        return device;
    }
    void unplug(ObjectId device) { graph_->removeNode(handles_[device]); }

private:
    std::unique_ptr<PipeWireAudioSystem> system_;
    std::unique_ptr<PipeWireTestGraph> graph_;
    std::map<ObjectId, int> handles_;
};

template <typename Backend> class AudioBackendConformance : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!backend_.available()) {
            if (pipeWireDaemonRequired()) {
                FAIL() << "no PipeWire server reachable in the test environment";
            }
            GTEST_SKIP() << "no PipeWire server reachable";
        }
    }

    AudioSystem& system() { return backend_.system(); }
    AudioHardware& hw() { return backend_.system().hardware(); }

    Backend backend_;
};

using Backends = ::testing::Types<SimulatedSetup, PipeWireSetup>;
struct BackendNames
{
    template <typename T> static std::string GetName(int)
    {
        return std::is_same_v<T, SimulatedSetup> ? "Simulated" : "PipeWire";
    }
};
TYPED_TEST_SUITE(AudioBackendConformance, Backends, BackendNames);

TYPED_TEST(AudioBackendConformance, ListenersRunOnOneNotificationThreadUntilTheirRemoval)
{
    auto& hw = this->hw();
    CallLog log;
    const auto first = listen(hw, systemObject, P::devices, log);
    const auto second = listen(hw, systemObject, P::devices, log);
    EXPECT_NE(first, second);

    const ObjectId device = this->backend_.plugLoop("listened", 48000.0);
    ASSERT_NE(device, unknownObject);
    ASSERT_TRUE(waitUntil([&] { return log.count(systemObject, P::devices) >= 2; }));
    const auto alive = listen(hw, device, P::deviceIsAlive, log);

    // Removing one of two equal registrations keeps the other.
    ASSERT_EQ(hw.removePropertyListener(first), 0);
    EXPECT_EQ(hw.removePropertyListener(first), status::paramError);
    const auto before = log.count(systemObject, P::devices);
    this->backend_.unplug(device);
    EXPECT_TRUE(waitUntil([&] { return log.count(device, P::deviceIsAlive) >= 1; }));
    EXPECT_TRUE(waitUntil([&] { return log.count(systemObject, P::devices) > before; }));

    // A permission answer comes on the same thread, never inside the request.
    std::atomic<std::thread::id> answeredOn{};
    this->system().capturePermission().requestAccess([&](bool granted) {
        answeredOn = granted ? std::this_thread::get_id() : std::thread::id{};
    });
    ASSERT_TRUE(waitUntil([&] { return answeredOn.load() != std::thread::id{}; }));

    EXPECT_EQ(hw.removePropertyListener(second), 0);
    EXPECT_EQ(hw.removePropertyListener(alive), 0);
    EXPECT_GT(log.readsBack.load(), 0);
    std::lock_guard lock(log.mutex);
    EXPECT_EQ(log.threads.size(), 1u);
    EXPECT_EQ(log.threads.count(std::this_thread::get_id()), 0u);
    EXPECT_EQ(log.threads.count(answeredOn.load()), 1u);
}

TYPED_TEST(AudioBackendConformance, RemovingAListenerWaitsForItsRunningCall)
{
    auto& hw = this->hw();
    std::atomic<bool> entered{false}, release{false}, finished{false};
    ListenerRegistration registration;
    const auto slow = [&](ObjectId, const PropertyAddress&) {
        entered = true;
        while (!release) {
            std::this_thread::yield();
        }
        finished = true;
    };
    ASSERT_EQ(hw.addPropertyListener(systemObject, {P::devices}, slow, registration), 0);
    ASSERT_NE(this->backend_.plugLoop("slow", 48000.0), unknownObject);
    ASSERT_TRUE(waitUntil([&] { return entered.load(); }));
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

TYPED_TEST(AudioBackendConformance, ClientFormatsAtTheDevicesRateOnlyAndRefusalsLeaveTheUnitAsItWas)
{
    const ObjectId device = this->backend_.plugLoop("formats", 96000.0);
    ASSERT_NE(device, unknownObject);
    const auto client = StreamFormat::int32Planar(96000.0, 2);
    auto unit = makeCaptureUnit(this->system(), device, client, nullptr);
    struct Row
    {
        Scope scope;
        std::uint32_t element;
        StreamFormat format;
        std::int32_t status;
    };
    const Row rows[] = {
        {Scope::output, inputElement, StreamFormat::int32Planar(44100.0, 2),
         status::unsupportedFormat},
        {Scope::input, outputElement, StreamFormat::float32Planar(48000.0, 2),
         status::unsupportedFormat},
        {Scope::output, inputElement, StreamFormat::physicalInteger(96000.0, 2, 24),
         status::formatNotSupported},
        {Scope::output, inputElement, StreamFormat::float32Planar(96000.0, 0),
         status::formatNotSupported},
        {Scope::input, inputElement, client, status::illegalOperation}, // the device's side
    };
    for (const auto& row : rows) {
        EXPECT_EQ(unit->setStreamFormat(row.scope, row.element, row.format), row.status)
            << static_cast<int>(row.scope) << " " << row.format.sampleRate;
    }
    StreamFormat format;
    ASSERT_EQ(unit->streamFormat(Scope::input, inputElement, format), 0);
    EXPECT_EQ(format.sampleRate, 96000.0);
    ASSERT_EQ(unit->initialize(), 0);
    ASSERT_EQ(unit->streamFormat(Scope::output, inputElement, format), 0);
    EXPECT_EQ(format, client);

    // Set before the device is known, the rate is checked when the unit initializes.
    std::unique_ptr<IOUnit> early;
    ASSERT_EQ(this->system().createIOUnit(early), 0);
    ASSERT_EQ(
        early->setStreamFormat(Scope::input, outputElement, StreamFormat::int32Planar(44100.0, 2)),
        0);
    ASSERT_EQ(early->setCurrentDevice(device), 0);
    EXPECT_EQ(early->initialize(), status::unsupportedFormat);
}

TYPED_TEST(AudioBackendConformance, LifeCycleRefusals)
{
    const ObjectId device = this->backend_.plugLoop("refusals", 48000.0);
    ASSERT_NE(device, unknownObject);
    auto unit =
        makeCaptureUnit(this->system(), device, StreamFormat::float32Planar(48000.0, 2), nullptr);
    EXPECT_EQ(unit->setCurrentDevice(0x7FFFFFFF), status::badObject);
    EXPECT_EQ(unit->setMaximumFramesPerSlice(0), status::paramError);
    EXPECT_EQ(unit->setEnableIO(Scope::global, 7, true), status::invalidElement);
    EXPECT_EQ(unit->start(), status::uninitialized);
    RenderActionFlags flags = 0;
    AudioBufferList list;
    EXPECT_NE(unit->render(flags, {}, inputElement, 16, list), 0);
    ASSERT_EQ(unit->initialize(), 0);
    EXPECT_EQ(unit->initialize(), 0);
    EXPECT_EQ(unit->setMaximumFramesPerSlice(1024), status::illegalOperation);
    EXPECT_NE(unit->render(flags, {}, inputElement, 16, list), 0); // outside its callback
    ASSERT_EQ(unit->start(), 0);
    EXPECT_EQ(unit->start(), 0);
    const std::int32_t map[] = {1, 0};
    EXPECT_EQ(unit->setChannelMap(Scope::output, inputElement, map), status::illegalOperation);
    EXPECT_EQ(unit->setInputCallback({}), status::illegalOperation);
    EXPECT_EQ(unit->stop(), 0);
    EXPECT_EQ(unit->uninitialize(), 0);
    EXPECT_EQ(unit->dispose(), 0);
    EXPECT_EQ(unit->dispose(), status::illegalOperation);
    EXPECT_EQ(unit->start(), status::illegalOperation);
    ObjectId current = unknownObject;
    EXPECT_EQ(unit->currentDevice(current), status::illegalOperation);
}

TYPED_TEST(AudioBackendConformance, RenderDeliversTheDevicesSamplesInTheClientFormatAndMap)
{
    // The integer run also swaps the channels.
    for (const bool integer : {true, false}) {
        SCOPED_TRACE(integer ? "integer, swapped" : "float");
        const ObjectId device = this->backend_.plugLoop(integer ? "int" : "float", 96000.0);
        ASSERT_NE(device, unknownObject);
        const auto format = integer ? StreamFormat::int32Planar(96000.0, 2)
                                    : StreamFormat::float32Planar(96000.0, 2);
        Capture capture;
        capture.integer = integer;
        capture.countAllocationsFrom = 20;
        const std::int32_t swapped[] = {1, 0};
        using Map = std::span<const std::int32_t>;
        auto unit = makeCaptureUnit(this->system(), device, format, &capture,
                                    integer ? Map(swapped) : Map());
        Player source{integer};
        auto output = makePlayUnit(this->system(), device, format, source);
        ASSERT_EQ(unit->initialize(), 0);
        ASSERT_EQ(output->start(), 0);
        // The capture starts once the player's stream has settled (a server may ramp a new
        // stream's volume up over its first blocks).
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_EQ(unit->start(), 0);
        const auto allocationsBefore = countedAllocations();
        EXPECT_TRUE(waitUntil([&] { return capture.full.load(); }))
            << capture.frames.load() << " frames, render status " << capture.failure.load();
        ASSERT_EQ(unit->stop(), 0);
        ASSERT_EQ(output->stop(), 0);
        EXPECT_EQ(countedAllocations(), allocationsBefore) << "the I/O path allocated";
        const auto blocks = capture.blocks.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(capture.blocks.load(), blocks) << "a callback ran after stop returned";
        EXPECT_NE(capture.thread.load(), std::this_thread::get_id());
        EXPECT_EQ(capture.failure.load(), 0);

        // Each channel steps by one code per frame; the two keep the pattern's offset, which
        // the map turns around. A graph cycle missed on a loaded machine shows as silence (the
        // pattern is never zero on both channels) and a jump.
        const std::int32_t offset = integer ? patternSpan - 0x10001 : 0x10001;
        std::uint32_t checked = 0;
        std::uint32_t wrong = 0;
        std::uint32_t jumps = 0;
        std::optional<std::int32_t> previous;
        for (std::uint32_t i = 0; i < capture.frames.load(); ++i) {
            const auto left = capture.code(0, i);
            const auto right = capture.code(1, i);
            if (left == 0 && right == 0) {
                continue; // before the player reached the node, or a missed cycle
            }
            if (!left || !right || (*right - *left + patternSpan) % patternSpan != offset) {
                wrong += 1;
                continue;
            }
            jumps += previous && (*left - *previous + patternSpan) % patternSpan != 1 ? 1 : 0;
            previous = left;
            ++checked;
        }
        EXPECT_GT(checked, 48000u);
        EXPECT_EQ(wrong, 0u);
        EXPECT_LE(jumps, 3u) << "samples were dropped or repeated";
        EXPECT_EQ(unit->dispose(), 0);
        EXPECT_EQ(output->dispose(), 0);
    }
}

} // namespace
} // namespace brevalo
