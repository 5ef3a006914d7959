#include "platform/audio/simulated/simulated_demo_devices.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

using namespace brevalo;

namespace {

// An input unit that renders every block into preallocated planar buffers and remembers what it
// saw. Written on the I/O thread, read once it stopped (or, in manual time, on the same thread).
struct InputProbe
{
    std::unique_ptr<IOUnit> unit;
    bool integer = true;
    static constexpr std::uint32_t maximumFrames = 8192;
    std::vector<std::int32_t> ints = std::vector<std::int32_t>(2 * maximumFrames);
    std::vector<float> floats = std::vector<float>(2 * maximumFrames);
    std::vector<double> sampleTimes;
    std::vector<std::uint64_t> hostTimes;
    std::vector<std::int32_t> firstLeft; // first left sample of each block (integer client)
    std::vector<float> leftFloats;       // every left sample (float client) while capacity lasts
    std::int32_t lastStatus = 0;
    std::atomic<std::uint64_t> blocks{0};
    std::thread::id thread;
    std::vector<std::uint64_t>* sharedLog = nullptr; // host times of every device's blocks
    bool gotBufferList = false;

    static std::int32_t callback(void* refCon, RenderActionFlags& flags, const AudioTimeStamp& time,
                                 std::uint32_t, std::uint32_t frames, AudioBufferList* list)
    {
        auto& self = *static_cast<InputProbe*>(refCon);
        self.gotBufferList = self.gotBufferList || list != nullptr;
        AudioBufferList buffers;
        buffers.numberBuffers = 2;
        for (std::uint32_t c = 0; c < 2; ++c) {
            void* data = self.integer ? static_cast<void*>(self.ints.data() + c * maximumFrames)
                                      : static_cast<void*>(self.floats.data() + c * maximumFrames);
            buffers.buffers[c] = {1, frames * 4, data};
        }
        self.lastStatus = self.unit->render(flags, time, inputElement, frames, buffers);
        self.thread = std::this_thread::get_id();
        if (self.sharedLog != nullptr) {
            self.sharedLog->push_back(time.hostTime);
        }
        if (self.sampleTimes.size() < self.sampleTimes.capacity()) {
            self.sampleTimes.push_back(time.sampleTime);
            self.hostTimes.push_back(time.hostTime);
            self.firstLeft.push_back(self.ints[0]);
        }
        if (!self.integer && self.leftFloats.size() + frames <= self.leftFloats.capacity()) {
            self.leftFloats.insert(self.leftFloats.end(), self.floats.begin(),
                                   self.floats.begin() + frames);
        }
        ++self.blocks;
        return self.lastStatus;
    }

    std::int32_t open(SimulatedAudioSystem& sim, ObjectId device, double rate,
                      std::vector<std::int32_t> map = {})
    {
        sampleTimes.reserve(100000);
        hostTimes.reserve(100000);
        firstLeft.reserve(100000);
        if (auto s = sim.createIOUnit(unit)) {
            return s;
        }
        const StreamFormat format =
            integer ? StreamFormat::int32Planar(rate, 2) : StreamFormat::float32Planar(rate, 2);
        std::int32_t s = 0;
        (s = unit->setEnableIO(Scope::input, inputElement, true)) ||
            (s = unit->setEnableIO(Scope::output, outputElement, false)) ||
            (s = unit->setCurrentDevice(device)) ||
            (s = unit->setMaximumFramesPerSlice(maximumFrames)) ||
            (s = map.empty() ? 0 : unit->setChannelMap(Scope::output, inputElement, map)) ||
            (s = unit->setStreamFormat(Scope::output, inputElement, format)) ||
            (s = unit->setInputCallback({&InputProbe::callback, this})) ||
            (s = unit->initialize()) || (s = unit->start());
        return s;
    }
};

// An output unit that plays a ramp (frame index / 1e6) on every client channel, negated on odd
// ones.
struct OutputProbe
{
    std::unique_ptr<IOUnit> unit;
    std::uint64_t frames = 0;
    std::vector<std::uint64_t>* sharedLog = nullptr;

    static std::int32_t callback(void* refCon, RenderActionFlags&, const AudioTimeStamp& time,
                                 std::uint32_t, std::uint32_t count, AudioBufferList* list)
    {
        auto& self = *static_cast<OutputProbe*>(refCon);
        for (std::uint32_t c = 0; c < list->numberBuffers; ++c) {
            auto* out = static_cast<float*>(list->buffers[c].data);
            for (std::uint32_t i = 0; i < count; ++i) {
                const auto v = static_cast<float>(static_cast<double>(self.frames + i) / 1e6);
                out[i] = c % 2 == 0 ? v : -v;
            }
        }
        if (self.sharedLog != nullptr) {
            self.sharedLog->push_back(time.hostTime);
        }
        self.frames += count;
        return 0;
    }

    std::int32_t open(SimulatedAudioSystem& sim, ObjectId device, double rate,
                      std::vector<std::int32_t> map = {})
    {
        if (auto s = sim.createIOUnit(unit)) {
            return s;
        }
        std::int32_t s = 0;
        (s = unit->setCurrentDevice(device)) || (s = unit->setMaximumFramesPerSlice(8192)) ||
            (s = map.empty() ? 0 : unit->setChannelMap(Scope::input, outputElement, map)) ||
            (s = unit->setStreamFormat(Scope::input, outputElement,
                                       StreamFormat::float32Planar(rate, 2))) ||
            (s = unit->setRenderCallback(Scope::input, outputElement,
                                         {&OutputProbe::callback, this})) ||
            (s = unit->initialize()) || (s = unit->start());
        return s;
    }
};

// An input device counting on every channel.
ObjectId addInput(SimulatedAudioSystem& sim, std::string uid, std::uint32_t channels, double rate,
                  std::uint32_t bits, std::uint32_t buffer, double ppm = 0.0)
{
    SimDevice d = SimDevice::input(std::move(uid), "In", channels, rate, bits);
    d.bufferFrameSize = buffer;
    d.clockPPM = ppm;
    const ObjectId device = sim.addDevice(d);
    for (std::uint32_t c = 0; c < channels; ++c) {
        EXPECT_TRUE(sim.setInputSignal(device, c, SimSignal::counting()));
    }
    return device;
}

} // namespace

TEST(SimulatedIO, CallsTheInputCallbackOncePerBlockOfARunningLiveDevice)
{
    SimulatedAudioSystem sim;
    const ObjectId fast = addInput(sim, "a", 2, 48000.0, 24, 480);
    const ObjectId slow = addInput(sim, "b", 2, 44100.0, 24, 441);
    InputProbe a;
    InputProbe b;
    ASSERT_EQ(a.open(sim, fast, 48000.0), 0);
    ASSERT_EQ(b.open(sim, slow, 44100.0), 0);
    sim.advanceSeconds(1.0);
    EXPECT_EQ(a.blocks, 100u);
    EXPECT_EQ(b.blocks, 100u);
    ASSERT_EQ(a.sampleTimes.size(), 100u);
    for (std::size_t i = 0; i < a.sampleTimes.size(); ++i) {
        ASSERT_EQ(a.sampleTimes[i], 480.0 * static_cast<double>(i));
        ASSERT_EQ(a.hostTimes[i], (i + 1) * 10'000'000u); // each block ends its 10 ms period
    }
    EXPECT_FALSE(a.gotBufferList); // the input callback gets no buffer list
    EXPECT_EQ(a.lastStatus, 0);
    EXPECT_EQ(a.thread, std::this_thread::get_id()); // manual time runs on the caller

    ASSERT_EQ(a.unit->stop(), 0);
    ASSERT_TRUE(sim.setAlive(slow, false));
    sim.advanceSeconds(1.0);
    EXPECT_EQ(a.blocks, 100u);
    EXPECT_EQ(b.blocks, 100u);
    ASSERT_EQ(b.unit->stop(), 0);
    EXPECT_EQ(b.unit->start(), status::deviceUnavailable);
    ASSERT_TRUE(sim.setAlive(slow, true));
    ASSERT_EQ(b.unit->start(), 0);
    sim.advanceSeconds(0.1);
    EXPECT_GE(b.blocks, 109u);
    ASSERT_TRUE(sim.removeDevice(slow));
    const std::uint64_t before = b.blocks;
    sim.advanceSeconds(0.1);
    EXPECT_EQ(b.blocks, before);
    EXPECT_EQ(b.unit->stop(), 0);
}

TEST(SimulatedIO, RenderDeliversTheCurrentBlockInTheClientFormatAndChannelMap)
{
    struct Row
    {
        std::uint32_t bits;
        bool integer;
        std::vector<std::int32_t> map;
        std::uint32_t leftSource, rightSource;
    };
    const Row rows[] = {{24, true, {3, 1}, 3, 1},
                        {16, true, {}, 0, 1},
                        {32, true, {}, 0, 1},
                        {16, false, {}, 0, 1},
                        {24, false, {2, 0}, 2, 0}};
    for (const auto& row : rows) {
        SimulatedAudioSystem sim;
        const ObjectId device = addInput(sim, "in", 4, 48000.0, row.bits, 256);
        InputProbe probe;
        probe.integer = row.integer;
        ASSERT_EQ(probe.open(sim, device, 48000.0, row.map), 0);
        sim.advanceSeconds(0.1);
        ASSERT_GT(probe.blocks, 10u);
        const auto first = static_cast<std::uint64_t>(probe.sampleTimes.back());
        // Integers arrive left-justified; floats at full scale 1.0.
        const double scale = row.integer ? std::ldexp(1.0, 32 - static_cast<int>(row.bits))
                                         : std::ldexp(1.0, 1 - static_cast<int>(row.bits));
        for (std::uint32_t i = 0; i < 256; ++i) {
            const double left = simCountingCode(first + i, row.leftSource, row.bits) * scale;
            const double right = simCountingCode(first + i, row.rightSource, row.bits) * scale;
            if (row.integer) {
                ASSERT_EQ(probe.ints[i], static_cast<std::int32_t>(left)) << row.bits;
                ASSERT_EQ(probe.ints[8192 + i], static_cast<std::int32_t>(right)) << row.bits;
            } else {
                ASSERT_EQ(probe.floats[i], static_cast<float>(left)) << row.bits;
                ASSERT_EQ(probe.floats[8192 + i], static_cast<float>(right)) << row.bits;
            }
        }
        // No block was dropped or repeated.
        for (std::size_t k = 0; row.integer && k < probe.firstLeft.size(); ++k) {
            ASSERT_EQ(probe.firstLeft[k],
                      static_cast<std::int32_t>(simCountingCode(k * 256, row.leftSource, row.bits) *
                                                scale));
        }
    }
}

TEST(SimulatedIO, ARateChangeWhileRunningIsRefusedAtRender)
{
    SimulatedAudioSystem sim;
    const ObjectId device = addInput(sim, "in", 2, 48000.0, 24, 256);
    InputProbe probe;
    ASSERT_EQ(probe.open(sim, device, 48000.0), 0);
    sim.advanceSeconds(0.02);
    EXPECT_EQ(probe.lastStatus, 0);
    ASSERT_TRUE(sim.setNominalSampleRate(device, 96000.0));
    sim.advanceSeconds(0.02);
    EXPECT_EQ(probe.lastStatus, status::unsupportedFormat); // never silently resampled
}

TEST(SimulatedIO, ClocksWithAPPMOffsetDriftApartInManualTime)
{
    SimulatedAudioSystem sim;
    const ObjectId a = addInput(sim, "a", 2, 48000.0, 24, 64, 100.0);
    const ObjectId b = addInput(sim, "b", 2, 48000.0, 24, 64, -100.0);
    InputProbe pa;
    InputProbe pb;
    ASSERT_EQ(pa.open(sim, a, 48000.0), 0);
    ASSERT_EQ(pb.open(sim, b, 48000.0), 0);
    sim.advanceSeconds(100.0);
    const double framesA = static_cast<double>(sim.blockCount(a) * 64);
    const double framesB = static_cast<double>(sim.blockCount(b) * 64);
    // 200 ppm apart over 100 s at 48 kHz: 960 frames, within a block.
    EXPECT_NEAR(framesA - framesB, 960.0, 64.0);
    EXPECT_NEAR(framesA, 48000.0 * 100.0 * 1.0001, 64.0);
}

TEST(SimulatedIO, ManualTimeRunsDevicesInClockOrderAndRepeatsExactly)
{
    auto run = [] {
        SimulatedAudioSystem sim;
        const ObjectId input = addInput(sim, "in", 2, 44100.0, 24, 128, 37.0);
        SimDevice outDevice = SimDevice::output("out", "Out", 2, 48000.0);
        outDevice.bufferFrameSize = 333;
        const ObjectId output = sim.addDevice(outDevice);
        std::vector<std::uint64_t> log;
        log.reserve(4096);
        InputProbe in;
        OutputProbe out;
        in.sharedLog = &log;
        out.sharedLog = &log;
        EXPECT_EQ(in.open(sim, input, 44100.0), 0);
        EXPECT_EQ(out.open(sim, output, 48000.0), 0);
        sim.advanceSeconds(3.0);
        return log;
    };
    const auto first = run();
    EXPECT_EQ(first.size(), 1033u + 432u); // 3 s of 128-frame and of 333-frame blocks
    EXPECT_TRUE(std::is_sorted(first.begin(), first.end()));
    EXPECT_EQ(first, run());
}

TEST(SimulatedIO, CapturesWhatAnOutputDevicePlayedOnItsMappedChannels)
{
    SimulatedAudioSystem sim;
    SimDevice d = SimDevice::output("out", "Out", 4, 48000.0);
    d.bufferFrameSize = 100;
    const ObjectId device = sim.addDevice(d);
    sim.captureOutput(device, 1000);
    OutputProbe probe;
    ASSERT_EQ(probe.open(sim, device, 48000.0, {3, -1}), 0); // the second client channel unheard
    sim.advanceSeconds(0.05);                                // 24 blocks of 100 frames
    const SimOutputCapture capture = sim.outputCapture(device);
    ASSERT_EQ(capture.channels.size(), 4u);
    EXPECT_EQ(capture.framesPlayed, 2400u);
    EXPECT_EQ(capture.framesNotKept, 1400u);
    ASSERT_EQ(capture.channels[3].size(), 1000u);
    for (std::size_t i = 0; i < 1000; ++i) {
        const auto v = static_cast<float>(static_cast<double>(i) / 1e6);
        ASSERT_EQ(capture.channels[0][i], 0.0f);
        ASSERT_EQ(capture.channels[1][i], 0.0f);
        ASSERT_EQ(capture.channels[2][i], 0.0f);
        ASSERT_EQ(capture.channels[3][i], v);
    }
}

TEST(SimulatedIO, InjectedFailuresSurfaceAtTheNamedCallOnce)
{
    SimulatedAudioSystem sim;
    const ObjectId input = addInput(sim, "in", 2, 48000.0, 24, 256);
    const ObjectId output = sim.addDevice(SimDevice::output("out", "Out", 2, 48000.0));
    sim.injectFault({.operation = AudioOperation::findComponent, .unitKind = UnitKind::varispeed});
    EXPECT_FALSE(sim.findComponent(UnitKind::varispeed));
    EXPECT_TRUE(sim.findComponent(UnitKind::io));

    // The second configuration call on the second I/O unit: its maximum slice. Other unit kinds
    // do not count.
    sim.injectFault({.operation = AudioOperation::configure,
                     .unitKind = UnitKind::io,
                     .unitOrdinal = 2,
                     .skip = 1,
                     .status = status::paramError});
    InputProbe in;
    ASSERT_EQ(in.open(sim, input, 48000.0), 0);
    std::unique_ptr<VarispeedUnit> varispeed;
    ASSERT_EQ(sim.createVarispeedUnit(varispeed), 0);
    ASSERT_EQ(varispeed->setMaximumFramesPerSlice(8192), 0);
    OutputProbe out;
    EXPECT_EQ(out.open(sim, output, 48000.0), status::paramError);
    EXPECT_EQ(out.unit->setMaximumFramesPerSlice(8192), 0);
    sim.failNext(AudioOperation::createUnit, status::memoryFull);
    std::unique_ptr<IOUnit> none;
    EXPECT_EQ(sim.createIOUnit(none), status::memoryFull);
    EXPECT_EQ(none, nullptr);

    sim.failNext(AudioOperation::initialize, -10875);
    InputProbe probe;
    EXPECT_EQ(probe.open(sim, input, 48000.0), -10875);
    ASSERT_EQ(probe.unit->initialize(), 0);
    sim.failNext(AudioOperation::start, status::deviceUnavailable);
    EXPECT_EQ(probe.unit->start(), status::deviceUnavailable);
    ASSERT_EQ(in.unit->stop(), 0);
    ASSERT_EQ(probe.unit->start(), 0);

    sim.injectFault({.operation = AudioOperation::render, .skip = 2, .status = -1});
    const std::uint64_t renders = sim.callCount(AudioOperation::render);
    sim.advanceSeconds(0.017); // three blocks
    EXPECT_EQ(probe.blocks, 3u);
    EXPECT_EQ(probe.lastStatus, -1);
    EXPECT_EQ(sim.callCount(AudioOperation::render), renders + 3);

    // A failing stop is reported but the unit stops all the same, so clean-up stays safe.
    sim.failNext(AudioOperation::stop, -50);
    EXPECT_EQ(probe.unit->stop(), -50);
    sim.advanceSeconds(0.05);
    EXPECT_EQ(probe.blocks, 3u);
    EXPECT_EQ(probe.unit->dispose(), 0);
    EXPECT_EQ(probe.unit->start(), status::illegalOperation);
}

TEST(SimulatedIO, PlaysASoundFileInALoopBitExact)
{
    const char* root = std::getenv("BREVALO_TEST_TMP");
    const auto folder = std::filesystem::path(root != nullptr ? root : "/tmp") / "sim-signal";
    std::filesystem::create_directories(folder);
    const auto path = (folder / "ramp.wav").string();
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::vector<short> frames(2 * 1000);
    for (std::size_t i = 0; i < 1000; ++i) {
        frames[2 * i] = static_cast<short>(i);
        frames[2 * i + 1] = static_cast<short>(-30 * static_cast<int>(i));
    }
    ASSERT_EQ(sf_writef_short(file, frames.data(), 1000), 1000);
    sf_close(file);

    SimulatedAudioSystem sim;
    const ObjectId device = addInput(sim, "in", 2, 48000.0, 24, 300);
    ASSERT_TRUE(sim.setInputSignal(device, 0, SimSignal::file(path, 1)));
    EXPECT_FALSE(sim.setInputSignal(device, 1, SimSignal::file(path, 2)));
    EXPECT_FALSE(sim.setInputSignal(device, 1, SimSignal::file((folder / "none.wav").string())));
    InputProbe probe;
    ASSERT_EQ(probe.open(sim, device, 48000.0), 0);
    sim.advanceSeconds(0.05); // 2400 frames: the 1000-frame file loops
    const auto first = static_cast<std::uint64_t>(probe.sampleTimes.back());
    for (std::uint32_t i = 0; i < 300; ++i) {
        ASSERT_EQ(probe.ints[i], -30 * static_cast<std::int32_t>((first + i) % 1000) * 65536);
    }
    std::filesystem::remove_all(folder);
}

TEST(DemoDevices, OfferAVirtualTurntablePlayingARecordSide)
{
    SimulatedAudioSystem sim;
    addDemoDevices(sim);
    auto& hw = sim.hardware();
    ObjectId turntable = unknownObject;
    ASSERT_EQ(hw.deviceForUID("brevalo.sim.virtual-turntable", turntable), 0);
    std::string name;
    ASSERT_EQ(hw.name(turntable, name), 0);
    EXPECT_EQ(name, "Virtual Turntable");
    ObjectId output = unknownObject;
    ASSERT_EQ(hw.defaultOutputDevice(output), 0);
    ASSERT_EQ(hw.name(output, name), 0);
    EXPECT_EQ(name, "Virtual Output");

    InputProbe probe;
    probe.integer = false;
    probe.leftFloats.reserve(96000 * 12);
    ASSERT_EQ(probe.open(sim, turntable, 96000.0), 0);
    sim.advanceSeconds(12.0);
    auto peak = [&](double from, double to) {
        float p = 0.0f;
        for (auto i = static_cast<std::size_t>(from * 96000); i < std::size_t(to * 96000); ++i) {
            p = std::max(p, std::abs(probe.leftFloats.at(i)));
        }
        return p;
    };
    EXPECT_GT(peak(0.0, 7.5), 0.001f); // run-in noise, not digital silence
    EXPECT_LT(peak(0.0, 7.5), 0.2f);
    EXPECT_GT(peak(9.0, 11.0), 0.25f); // the first track
}
