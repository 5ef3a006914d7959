#include "recording/native_recorder.h"

#include "platform/audio/simulated_audio_system.h"
#include "platform/errors.h"
#include "support/allocation_counter.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <functional>
#include <thread>

using namespace brevalo;
using namespace std::chrono_literals;

namespace {

const QString needsIntegerPCM = QStringLiteral(
    "Capture needs matching 16-, 24-, or 32-bit integer PCM input channels at a native rate up "
    "to 192 kHz. Check Sound Settings.");
const QString formatChanged = QStringLiteral("Recording stopped because the input format or "
                                             "device changed. The interrupted take has been "
                                             "retained.");

std::int32_t countingWord(std::uint64_t frame, std::uint32_t channel, std::uint32_t bits)
{
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(simCountingCode(frame, channel, bits)) << (32 - bits));
}

// Device channels 0..3 of device play the counting pattern.
void playCounting(SimulatedAudioSystem& sim, ObjectId device, std::uint32_t channels)
{
    for (std::uint32_t c = 0; c < channels; ++c) {
        sim.setInputSignal(device, c, SimSignal::counting());
    }
}

// Frames of the master that differ from the counting pattern of device channels l and r,
// starting at device frame first; -1 when the file does not open.
std::int64_t wrongFrames(const QString& path, std::uint64_t first, std::uint32_t l, std::uint32_t r,
                         std::uint32_t bits, SF_INFO& info)
{
    info = {};
    SNDFILE* file = sf_open(path.toLocal8Bit().constData(), SFM_READ, &info);
    if (file == nullptr) {
        return -1;
    }
    std::vector<std::int32_t> words(static_cast<std::size_t>(info.frames) * 2);
    sf_readf_int(file, words.data(), info.frames);
    sf_close(file);
    std::int64_t wrong = 0;
    for (std::uint64_t i = 0; i < static_cast<std::uint64_t>(info.frames); ++i) {
        wrong += words[2 * i] != countingWord(first + i, l, bits) ||
                 words[2 * i + 1] != countingWord(first + i, r, bits);
    }
    return wrong;
}

class NativeRecorderTest : public ::testing::Test
{
protected:
    ObjectId addDevice(SimDevice device)
    {
        id = sim.addDevice(std::move(device));
        return id;
    }
    NativeInputDevice input() const
    {
        const auto d = sim.device(id);
        return {id, QString::fromStdString(d->uid), d->bufferFrameSize};
    }
    QString path(const char* name = "take.caf") const { return dir.filePath(name); }
    CaptureMaster start(std::int32_t l = 0, std::int32_t r = 1, const char* name = "take.caf")
    {
        return recorder.start(input(), l, r, path(name), QStringLiteral("Masters/") + name);
    }
    std::uint64_t ringFrames() const { return recorder.writer()->pcm()->writeIndex.load(); }

    SimulatedAudioSystem sim;
    QTemporaryDir dir;
    ObjectId id = unknownObject;
    NativeRecorder recorder{sim};
};

SimDevice twoStreams(SimStream first, SimStream second)
{
    SimDevice d = SimDevice::input("split", "Split", 2, 48000.0, 24);
    d.inputStreams = {first, second};
    return d;
}

} // namespace

TEST_F(NativeRecorderTest, RefusesWhatItCannotCaptureBitExact)
{
    struct Case
    {
        const char* name;
        SimDevice device;
        std::int32_t left, right;
        std::uint32_t bufferFrames; // 0: the device's
        std::function<void()> fault;
        QString error; // empty: accepted
        bool leavesFile;
    };
    const auto rate = [](double r) { return SimDevice::input("in", "In", 2, r, 24); };
    const QString unsupportedBuffer = QStringLiteral("Unsupported input buffer size.");
    SimDevice otherRate = rate(48000.0);
    otherRate.inputStreams[0].sampleRate = 44100.0;
    const Case cases[] = {
        {"mixed bit depths", twoStreams({2, 24}, {2, 16}), 1, 2, 0, {}, needsIntegerPCM, false},
        {"float", twoStreams({2, 32, true}, {2, 32, true}), 0, 1, 0, {}, needsIntegerPCM, false},
        {"7999 Hz", rate(7999.0), 0, 1, 0, {}, needsIntegerPCM, false},
        {"192001 Hz", rate(192001.0), 0, 1, 0, {}, needsIntegerPCM, false},
        {"8000 Hz", rate(8000.0), 0, 1, 0, {}, {}, true},
        {"192000 Hz", rate(192000.0), 0, 1, 0, {}, {}, true},
        {"channel past the last stream",
         twoStreams({2, 24}, {2, 24}),
         0,
         4,
         0,
         {},
         QStringLiteral("The selected channel is unavailable in the physical input streams."),
         false},
        {"buffer 65536", rate(48000.0), 0, 1, 65536, {}, {}, true},
        {"buffer 65537", rate(48000.0), 0, 1, 65537, {}, unsupportedBuffer, false},
        {"rate conversion",
         otherRate,
         0,
         1,
         0,
         {},
         QStringLiteral("The HAL input rate differs from the physical stream. Capture refused "
                        "sample-rate conversion."),
         false},
        {"unit fails to initialize", rate(48000.0), 0, 1, 0,
         [&] { sim.injectFault({.operation = AudioOperation::initialize, .status = -10875}); },
         CoreAudioFailure(QStringLiteral("Initialize native capture"), -10875).description(), true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim.clearFaults();
        addDevice(c.device);
        if (c.fault) {
            c.fault();
        }
        auto device = input();
        if (c.bufferFrames != 0) {
            device.bufferFrameSize = c.bufferFrames;
        }
        const QString file = dir.filePath(QString::number(++n) + QStringLiteral(".caf"));
        QString error;
        try {
            recorder.start(device, c.left, c.right, file, QStringLiteral("Masters/x.caf"));
        } catch (const std::exception& e) {
            error = QString::fromUtf8(e.what());
        }
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(QFileInfo::exists(file), c.leavesFile);
        EXPECT_EQ(recorder.isRecording(), c.error.isEmpty());
        recorder.stop();
        sim.removeDevice(id);
    }
}

TEST_F(NativeRecorderTest, WatchesEachStreamOfThePairOnceAndTheDevice)
{
    struct Case
    {
        SimDevice device;
        std::int32_t left, right;
        std::uint64_t listeners;
    };
    const Case cases[] = {{SimDevice::input("one", "One", 2, 48000.0, 24), 0, 1, 3},
                          {twoStreams({2, 24}, {2, 24}), 1, 2, 4}};
    for (const auto& c : cases) {
        addDevice(c.device);
        const auto added = sim.callCount(AudioOperation::addListener);
        const auto removed = sim.callCount(AudioOperation::removeListener);
        start(c.left, c.right);
        EXPECT_EQ(sim.callCount(AudioOperation::addListener) - added, c.listeners);
        recorder.stop();
        EXPECT_EQ(sim.callCount(AudioOperation::removeListener) - removed, c.listeners);
        sim.removeDevice(id);
        QFile::remove(path());
    }
}

TEST_F(NativeRecorderTest, AChangeMidTakeKeepsTheFramesBeforeItAndReportsTheInterruption)
{
    const std::function<void(ObjectId)> changes[] = {
        [&](ObjectId d) { sim.setNominalSampleRate(d, 48000.0); },
        [&](ObjectId d) { sim.setAlive(d, false); },
        [&](ObjectId d) {
            sim.setPhysicalFormat(sim.streamIDs(d, Scope::input)[0], {2, 16});
        },
        [&](ObjectId d) { sim.removeDevice(d); },
    };
    int n = 0;
    for (const auto& change : changes) {
        SCOPED_TRACE(n);
        addDevice(SimDevice::input("in", "In", 2, 96000.0, 24));
        playCounting(sim, id, 2);
        const QString name = QString::number(++n) + QStringLiteral(".caf");
        recorder.start(input(), 0, 1, dir.filePath(name), name);
        sim.advance(500ms);
        const auto before = ringFrames();
        change(id);
        sim.drainNotifications();
        sim.advance(500ms);
        EXPECT_EQ(recorder.interruptionMessage(), formatChanged);

        const auto master = recorder.stop();
        ASSERT_TRUE(master);
        EXPECT_EQ(master->frameCount, static_cast<qint64>(before));
        EXPECT_FALSE(master->isComplete);
        EXPECT_EQ(master->interruption, formatChanged);
        SF_INFO info;
        EXPECT_EQ(wrongFrames(dir.filePath(name), 0, 0, 1, 24, info), 0);
        EXPECT_EQ(info.frames, master->frameCount);
        sim.removeDevice(id);
    }
}

TEST_F(NativeRecorderTest, StopWithoutAudioIsAnEmptyIncompleteTake)
{
    addDevice(SimDevice::input("in", "In", 2, 48000.0, 24));
    start();
    const auto master = recorder.stop();
    ASSERT_TRUE(master);
    EXPECT_EQ(master->frameCount, 0);
    EXPECT_FALSE(master->isComplete);
    EXPECT_EQ(master->interruption, std::nullopt);
    EXPECT_EQ(recorder.stop(), std::nullopt);
}

TEST_F(NativeRecorderTest, ASecondStartIsRefusedAndTheRunningTakeGoesOn)
{
    addDevice(SimDevice::input("in", "In", 2, 44100.0, 16));
    playCounting(sim, id, 2);
    start();
    sim.advance(250ms);
    try {
        start(0, 1, "second.caf");
        FAIL() << "a second take started";
    } catch (const CaptureError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("A recording is already in progress."));
    }
    EXPECT_FALSE(QFileInfo::exists(path("second.caf")));
    sim.advance(250ms);
    const auto frames = ringFrames();
    const auto master = recorder.stop();
    ASSERT_TRUE(master);
    EXPECT_TRUE(master->isComplete);
    EXPECT_EQ(master->frameCount, static_cast<qint64>(frames));
    SF_INFO info;
    EXPECT_EQ(wrongFrames(path(), 0, 0, 1, 16, info), 0);
}

TEST_F(NativeRecorderTest, RecordsTheCountingPatternBitExactAtEveryDepthAndRate)
{
    int n = 0;
    for (const double rate : {44100.0, 96000.0, 192000.0}) {
        for (const std::uint32_t bits : {16u, 24u, 32u}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz " << bits << "-bit");
            addDevice(SimDevice::input("in", "In", 4, rate, bits));
            playCounting(sim, id, 4);
            const QString name = QString::number(++n) + QStringLiteral(".caf");
            const auto armed = recorder.start(input(), 2, 3, dir.filePath(name), name);
            EXPECT_EQ(armed.inputChannels, (QList<qint64>{3, 4}));
            const QString hz = QString::number(static_cast<int>(rate)) + QStringLiteral(" Hz / ");
            EXPECT_EQ(armed.hardwareFormat,
                      hz + QString::number(bits) + QStringLiteral("-bit integer PCM"));
            EXPECT_EQ(armed.clientFormat, hz + QStringLiteral("Int32 planar stereo → ") +
                                              QString::number(bits) +
                                              QStringLiteral("-bit PCM CAF"));
            sim.advance(1s);
            const auto master = recorder.stop();
            ASSERT_TRUE(master);
            EXPECT_TRUE(master->isComplete);
            EXPECT_EQ(master->sampleRate, rate);
            EXPECT_EQ(master->bitDepth, bits);
            EXPECT_GT(master->frameCount, rate * 0.99);

            SF_INFO info;
            EXPECT_EQ(wrongFrames(dir.filePath(name), 0, 2, 3, bits, info), 0);
            EXPECT_EQ(info.frames, master->frameCount);
            EXPECT_EQ(info.samplerate, static_cast<int>(rate));
            EXPECT_EQ(info.format & SF_FORMAT_SUBMASK,
                      bits == 16 ? SF_FORMAT_PCM_16
                                 : (bits == 24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_32));
            sim.removeDevice(id);
        }
    }
}

TEST_F(NativeRecorderTest, RecordsWhileMonitoringTakesTheSameInputWithoutAllocating)
{
    addDevice(SimDevice::input("in", "In", 2, 96000.0, 24));
    playCounting(sim, id, 2);
    // The monitoring side: another I/O unit on the same input, float client.
    struct Monitor
    {
        std::unique_ptr<IOUnit> unit;
        std::vector<float> left = std::vector<float>(8192), right = std::vector<float>(8192);
        std::uint64_t frames = 0;
    } monitor;
    ASSERT_EQ(sim.createIOUnit(monitor.unit), 0);
    IOUnit& unit = *monitor.unit;
    ASSERT_EQ(unit.setEnableIO(Scope::input, inputElement, true), 0);
    ASSERT_EQ(unit.setEnableIO(Scope::output, outputElement, false), 0);
    ASSERT_EQ(unit.setCurrentDevice(id), 0);
    ASSERT_EQ(
        unit.setStreamFormat(Scope::output, inputElement, StreamFormat::float32Planar(96000.0, 2)),
        0);
    ASSERT_EQ(unit.setInputCallback(
                  {[](void* refCon, RenderActionFlags& flags, const AudioTimeStamp& time,
                      std::uint32_t, std::uint32_t frames, AudioBufferList*) {
                       auto& m = *static_cast<Monitor*>(refCon);
                       AudioBufferList list;
                       list.numberBuffers = 2;
                       list.buffers[0] = {1, frames * 4, m.left.data()};
                       list.buffers[1] = {1, frames * 4, m.right.data()};
                       const auto s = m.unit->render(flags, time, inputElement, frames, list);
                       m.frames += s == 0 ? frames : 0;
                       return s;
                   },
                   &monitor}),
              0);
    ASSERT_EQ(unit.initialize(), 0);
    ASSERT_EQ(unit.start(), 0);
    sim.advance(100ms);
    const std::uint64_t first = monitor.frames;

    start();
    const PropertyListener listener = NativeRecorder::integrityListener(recorder.writer());
    std::uint64_t allocations = 0;
    {
        test::AllocationCounter counter;
        sim.advance(1s);
        listener(id, {});
        allocations = counter.count();
    }
    EXPECT_EQ(allocations, 0u);
    const auto monitored = monitor.frames - first;
    const auto master = recorder.stop();
    unit.dispose();
    ASSERT_TRUE(master);
    EXPECT_EQ(master->interruption, formatChanged); // the listener called above
    EXPECT_EQ(static_cast<std::uint64_t>(master->frameCount), monitored);
    SF_INFO info;
    EXPECT_EQ(wrongFrames(path(), first, 0, 1, 24, info), 0);
}

TEST(NativeRecorderRealTime, FinishResumesOnTheMainThreadWithTheClosedMaster)
{
    int argc = 1;
    char name[] = "recorder_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    SimulatedAudioSystem sim(SimTimeMode::realTime);
    SimDevice device = SimDevice::input("in", "In", 2, 48000.0, 24);
    device.bufferFrameSize = 256;
    const ObjectId id = sim.addDevice(device);
    playCounting(sim, id, 2);
    QTemporaryDir dir;
    NativeRecorder recorder(sim);
    recorder.start({id, QStringLiteral("in"), 256}, 0, 1, dir.filePath("take.caf"),
                   QStringLiteral("Masters/take.caf"));
    QThread::msleep(200);

    QEventLoop loop;
    std::optional<CaptureMaster> result;
    bool onMainThread = false;
    recorder.finish([&](std::optional<CaptureMaster> master) {
        onMainThread = QThread::currentThread() == app.thread();
        result = std::move(master);
        loop.quit();
    });
    EXPECT_FALSE(result) << "finish completed before the event loop ran";
    QTimer::singleShot(10s, &loop, &QEventLoop::quit);
    loop.exec();

    ASSERT_TRUE(result);
    EXPECT_TRUE(onMainThread);
    EXPECT_TRUE(result->isComplete);
    EXPECT_FALSE(recorder.isRecording());
    SF_INFO info;
    EXPECT_EQ(wrongFrames(dir.filePath("take.caf"), 0, 0, 1, 24, info), 0);
    EXPECT_EQ(info.frames, result->frameCount);
}
