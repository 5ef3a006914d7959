#include "platform/audio/audio_test_units.h"
#include "platform/audio/simulated/simulated_demo_devices.h"
#include "support/test_masters.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <thread>
#include <vector>

using namespace brevalo;

namespace {

using test::Capture;
using test::Player;

// A started unit capturing device's first two channels (or those the map names) into capture.
std::unique_ptr<IOUnit> startCapture(SimulatedAudioSystem& sim, ObjectId device, double rate,
                                     Capture& capture, const std::vector<std::int32_t>& map = {})
{
    const auto format =
        capture.integer ? StreamFormat::int32Planar(rate, 2) : StreamFormat::float32Planar(rate, 2);
    auto unit = test::makeCaptureUnit(sim, device, format, &capture, map);
    EXPECT_EQ(unit->initialize(), 0);
    EXPECT_EQ(unit->start(), 0);
    return unit;
}

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
    Capture a;
    Capture b;
    const auto unitA = startCapture(sim, fast, 48000.0, a);
    const auto unitB = startCapture(sim, slow, 44100.0, b);
    sim.advanceSeconds(1.0);
    EXPECT_EQ(b.blocks, 100u);
    ASSERT_EQ(a.times.size(), 100u);
    for (std::size_t i = 0; i < a.times.size(); ++i) {
        ASSERT_EQ(a.times[i].sampleTime, 480.0 * static_cast<double>(i));
        ASSERT_EQ(a.times[i].hostTime, (i + 1) * 10'000'000u); // each block ends its 10 ms period
    }
    EXPECT_EQ(a.failure, 0);
    EXPECT_EQ(a.thread.load(), std::this_thread::get_id()); // manual time runs on the caller

    ASSERT_EQ(unitA->stop(), 0);
    ASSERT_TRUE(sim.setAlive(slow, false));
    sim.advanceSeconds(1.0);
    EXPECT_EQ(a.blocks, 100u);
    EXPECT_EQ(b.blocks, 100u);
    ASSERT_EQ(unitB->stop(), 0);
    EXPECT_EQ(unitB->start(), status::deviceUnavailable);
    ASSERT_TRUE(sim.setAlive(slow, true));
    ASSERT_EQ(unitB->start(), 0);
    sim.advanceSeconds(0.1);
    EXPECT_GE(b.blocks, 109u);
    // A rate change while running is refused at render, never silently resampled.
    ASSERT_TRUE(sim.setNominalSampleRate(slow, 96000.0));
    sim.advanceSeconds(0.02);
    EXPECT_EQ(b.failure, status::unsupportedFormat);
    ASSERT_TRUE(sim.removeDevice(slow));
    const std::uint32_t before = b.blocks;
    sim.advanceSeconds(0.1);
    EXPECT_EQ(b.blocks, before);
    EXPECT_EQ(unitB->stop(), 0);
}

TEST(SimulatedIO, RenderDeliversEverySampleInTheClientFormatAndChannelMap)
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
        SCOPED_TRACE(row.bits);
        SimulatedAudioSystem sim;
        const ObjectId device = addInput(sim, "in", 4, 48000.0, row.bits, 256);
        Capture capture;
        capture.integer = row.integer;
        const auto unit = startCapture(sim, device, 48000.0, capture, row.map);
        sim.advanceSeconds(0.1);
        // Integers arrive left-justified; floats at full scale 1.0.
        const auto bits = static_cast<int>(row.bits);
        const auto expected = [&](std::uint64_t frame, std::uint32_t source) {
            const double code = simCountingCode(frame, source, row.bits);
            return row.integer ? static_cast<std::int32_t>(std::ldexp(code, 32 - bits))
                               : std::bit_cast<std::int32_t>(
                                     static_cast<float>(std::ldexp(code, 1 - bits)));
        };
        ASSERT_GT(capture.frames, 2560u);
        for (std::uint32_t i = 0; i < capture.frames; ++i) { // no block dropped or repeated
            ASSERT_EQ(capture.samples[0][i], expected(i, row.leftSource)) << i;
            ASSERT_EQ(capture.samples[1][i], expected(i, row.rightSource)) << i;
        }
    }
}

TEST(SimulatedIO, ClocksWithAPPMOffsetDriftApartInManualTime)
{
    SimulatedAudioSystem sim;
    const ObjectId a = addInput(sim, "a", 2, 48000.0, 24, 64, 100.0);
    const ObjectId b = addInput(sim, "b", 2, 48000.0, 24, 64, -100.0);
    Capture ca;
    Capture cb;
    const auto unitA = startCapture(sim, a, 48000.0, ca);
    const auto unitB = startCapture(sim, b, 48000.0, cb);
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
        SimDevice first = SimDevice::output("a", "A", 2, 44100.0);
        first.bufferFrameSize = 128;
        first.clockPPM = 37.0;
        SimDevice second = SimDevice::output("b", "B", 2, 48000.0);
        second.bufferFrameSize = 333;
        std::vector<std::uint64_t> log;
        log.reserve(4096);
        Player a{.integer = false, .hostTimes = &log};
        Player b{.integer = false, .hostTimes = &log};
        const auto unitA = test::makePlayUnit(sim, sim.addDevice(first),
                                              StreamFormat::float32Planar(44100.0, 2), a);
        const auto unitB = test::makePlayUnit(sim, sim.addDevice(second),
                                              StreamFormat::float32Planar(48000.0, 2), b);
        EXPECT_EQ(unitA->start(), 0);
        EXPECT_EQ(unitB->start(), 0);
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
    Player player{.integer = false};
    const std::int32_t map[] = {3, -1}; // the second client channel unheard
    const auto unit =
        test::makePlayUnit(sim, device, StreamFormat::float32Planar(48000.0, 2), player, map);
    ASSERT_EQ(unit->start(), 0);
    sim.advanceSeconds(0.05); // 24 blocks of 100 frames
    const SimOutputCapture capture = sim.outputCapture(device);
    ASSERT_EQ(capture.channels.size(), 4u);
    EXPECT_EQ(capture.framesPlayed, 2400u);
    EXPECT_EQ(capture.framesNotKept, 1400u);
    ASSERT_EQ(capture.channels[3].size(), 1000u);
    for (std::size_t c = 0; c < 3; ++c) {
        EXPECT_EQ(capture.channels[c], std::vector<float>(1000)) << c;
    }
    for (std::uint32_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(capture.channels[3][i],
                  static_cast<float>(simCountingCode(i, 0, 24)) / 8388608.0f)
            << i;
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
    Capture first;
    const auto in = startCapture(sim, input, 48000.0, first);
    std::unique_ptr<VarispeedUnit> varispeed;
    ASSERT_EQ(sim.createVarispeedUnit(varispeed), 0);
    ASSERT_EQ(varispeed->setMaximumFramesPerSlice(8192), 0);
    std::unique_ptr<IOUnit> out;
    ASSERT_EQ(sim.createIOUnit(out), 0);
    ASSERT_EQ(out->setCurrentDevice(output), 0);
    EXPECT_EQ(out->setMaximumFramesPerSlice(8192), status::paramError);
    EXPECT_EQ(out->setMaximumFramesPerSlice(8192), 0);
    sim.failNext(AudioOperation::createUnit, status::memoryFull);
    std::unique_ptr<IOUnit> none;
    EXPECT_EQ(sim.createIOUnit(none), status::memoryFull);
    EXPECT_EQ(none, nullptr);

    Capture probe;
    const auto unit =
        test::makeCaptureUnit(sim, input, StreamFormat::int32Planar(48000.0, 2), &probe);
    sim.failNext(AudioOperation::initialize, -10875);
    EXPECT_EQ(unit->initialize(), -10875);
    ASSERT_EQ(unit->initialize(), 0);
    sim.failNext(AudioOperation::start, status::deviceUnavailable);
    EXPECT_EQ(unit->start(), status::deviceUnavailable);
    ASSERT_EQ(in->stop(), 0);
    ASSERT_EQ(unit->start(), 0);

    sim.injectFault({.operation = AudioOperation::render, .skip = 2, .status = -1});
    const std::uint64_t renders = sim.callCount(AudioOperation::render);
    sim.advanceSeconds(0.017); // three blocks
    EXPECT_EQ(probe.blocks, 3u);
    EXPECT_EQ(probe.failure, -1);
    EXPECT_EQ(sim.callCount(AudioOperation::render), renders + 3);

    // A failing stop is reported but the unit stops all the same, so clean-up stays safe.
    sim.failNext(AudioOperation::stop, -50);
    EXPECT_EQ(unit->stop(), -50);
    sim.advanceSeconds(0.05);
    EXPECT_EQ(probe.blocks, 3u);
}

TEST(SimulatedIO, PlaysASoundFileInALoopBitExact)
{
    QTemporaryDir folder;
    const auto ramp = [](std::int64_t frame, int channel) {
        return static_cast<std::int32_t>(channel == 0 ? frame : -30 * frame);
    };
    const auto path =
        test::writeTestMaster(folder.filePath(QStringLiteral("ramp.caf")), 16, 48000, 1000, ramp)
            .toStdString();
    SimulatedAudioSystem sim;
    const ObjectId device = addInput(sim, "in", 2, 48000.0, 24, 300);
    ASSERT_TRUE(sim.setInputSignal(device, 0, SimSignal::file(path, 1)));
    EXPECT_FALSE(sim.setInputSignal(device, 1, SimSignal::file(path, 2)));
    EXPECT_FALSE(sim.setInputSignal(
        device, 1, SimSignal::file(folder.filePath(QStringLiteral("none.wav")).toStdString())));
    Capture capture;
    const auto unit = startCapture(sim, device, 48000.0, capture);
    sim.advanceSeconds(0.05); // 2400 frames: the 1000-frame file loops
    ASSERT_EQ(capture.frames, 2400u);
    for (std::uint32_t i = 0; i < 2400; ++i) {
        ASSERT_EQ(capture.samples[0][i], -30 * static_cast<std::int32_t>(i % 1000) * 65536) << i;
    }
}

TEST(DemoDevices, OfferAVirtualTurntablePlayingARecordSide)
{
    SimulatedAudioSystem sim;
    addDemoDevices(sim);
    auto& hw = sim.hardware();
    ObjectId turntable = unknownObject;
    ASSERT_EQ(hw.deviceForUID("brevalo.sim.virtual-turntable", turntable), 0);
    EXPECT_EQ(sim.device(turntable)->name, "Virtual Turntable");
    ObjectId output = unknownObject;
    ASSERT_EQ(hw.defaultOutputDevice(output), 0);
    EXPECT_EQ(sim.device(output).value_or(SimDevice{}).name, "Virtual Output");

    Capture capture(96000 * 12);
    capture.integer = false;
    const auto unit = startCapture(sim, turntable, 96000.0, capture);
    sim.advanceSeconds(12.0);
    auto peak = [&](double from, double to) {
        float p = 0.0f;
        for (auto i = static_cast<std::size_t>(from * 96000); i < std::size_t(to * 96000); ++i) {
            p = std::max(p, std::abs(std::bit_cast<float>(capture.samples[0].at(i))));
        }
        return p;
    };
    EXPECT_GT(peak(0.0, 7.5), 0.001f); // run-in noise, not digital silence
    EXPECT_LT(peak(0.0, 7.5), 0.2f);
    EXPECT_GT(peak(9.0, 11.0), 0.25f); // the first track
}
