#include "recording/native_recorder.h"

#include "platform/audio/pipewire/pipewire_test_graph.h"
#include "platform/audio/simulated/simulated_audio_system.h"
#include "support/allocation_counter.h"
#include "support/test_masters.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

using namespace brevalo;
using namespace std::chrono_literals;

namespace {

const QString formatChanged = QStringLiteral("Recording stopped because the input format or "
                                             "device changed. The interrupted take has been "
                                             "retained.");

SimDevice device(double rate, std::uint32_t bits, std::vector<SimStream> streams = {})
{
    SimDevice d = SimDevice::input("in", "In", 2, rate, bits);
    if (!streams.empty()) {
        d.inputStreams = std::move(streams);
    }
    return d;
}

class NativeRecorderTest : public ::testing::Test
{
protected:
    void plug(SimDevice d)
    {
        id = sim.addDevice(std::move(d));
        for (std::uint32_t c = 0; c < 4; ++c) {
            sim.setInputSignal(id, c, SimSignal::counting());
        }
    }
    NativeInputDevice input() const
    {
        const auto d = sim.device(id);
        return {id, QString::fromStdString(d->uid), d->bufferFrameSize};
    }
    QString path(int take) const { return dir.filePath(QString::number(take) + ".caf"); }
    CaptureMaster start(int take, std::int32_t l = 0, std::int32_t r = 1)
    {
        return recorder.start(input(), l, r, path(take), QStringLiteral("Masters/take.caf"));
    }

    SimulatedAudioSystem sim;
    QTemporaryDir dir;
    ObjectId id = unknownObject;
    NativeRecorder recorder{sim};
};

} // namespace

TEST_F(NativeRecorderTest, RefusesWhatItCannotCaptureBitExactAndWatchesWhatItTakes)
{
    const QString needsIntegerPCM = QStringLiteral(
        "Capture needs matching 16-, 24-, or 32-bit integer PCM input channels at a native rate "
        "up to 192 kHz. Check Sound Settings.");
    SimDevice converted = device(48000.0, 24);
    converted.inputStreams[0].sampleRate = 44100.0;
    struct Case
    {
        const char* name;
        SimDevice device;
        std::int32_t left, right;
        std::uint32_t bufferFrames;  // 0: the device's
        QString error;               // empty: accepted
        std::uint64_t listeners = 0; // when accepted
    } const cases[] = {
        {"mixed bit depths", device(48000.0, 24, {{2, 24}, {2, 16}}), 1, 2, 0, needsIntegerPCM},
        {"float", device(48000.0, 32, {{2, 32, true}}), 0, 1, 0, needsIntegerPCM},
        {"7999 Hz", device(7999.0, 24), 0, 1, 0, needsIntegerPCM},
        {"192001 Hz", device(192001.0, 24), 0, 1, 0, needsIntegerPCM},
        {"8000 Hz, one stream", device(8000.0, 24), 0, 1, 0, {}, 3},
        {"192000 Hz, two streams", device(192000.0, 24, {{2, 24}, {2, 24}}), 1, 2, 0, {}, 4},
        {"channel past the last stream", device(48000.0, 24, {{2, 24}, {2, 24}}), 0, 4, 0,
         QStringLiteral("The selected channel is unavailable in the physical input streams.")},
        {"buffer 65536", device(48000.0, 24), 0, 1, 65536, {}, 3},
        {"buffer 65537", device(48000.0, 24), 0, 1, 65537,
         QStringLiteral("Unsupported input buffer size.")},
        {"rate conversion", converted, 0, 1, 0,
         QStringLiteral("The HAL input rate differs from the physical stream. Capture refused "
                        "sample-rate conversion.")},
    };
    int take = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        plug(c.device);
        auto in = input();
        in.bufferFrameSize = c.bufferFrames != 0 ? c.bufferFrames : in.bufferFrameSize;
        const auto listenersBefore = sim.callCount(AudioOperation::addListener);
        QString error;
        try {
            recorder.start(in, c.left, c.right, path(++take), QStringLiteral("Masters/x.caf"));
        } catch (const std::exception& e) {
            error = QString::fromUtf8(e.what());
        }
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(QFileInfo::exists(path(take)), error.isEmpty());
        if (error.isEmpty()) {
            EXPECT_EQ(sim.callCount(AudioOperation::addListener) - listenersBefore, c.listeners);
        }
        recorder.stop();
        sim.removeDevice(id);
    }
}

TEST_F(NativeRecorderTest, AChangeMidTakeKeepsTheFramesBeforeItAndReportsTheInterruption)
{
    const std::function<void()> changes[] = {
        [&] { sim.setNominalSampleRate(id, 48000.0); },
        [&] {
            sim.setPhysicalFormat(sim.streamIDs(id, Scope::input)[0], {2, 16});
        },
        [&] { sim.removeDevice(id); },
    };
    int take = 0;
    for (const auto& change : changes) {
        plug(device(96000.0, 24));
        start(++take);
        sim.advance(500ms);
        const auto before = recorder.writer()->pcm()->writeIndex.load();
        change();
        sim.drainNotifications();
        sim.advance(500ms);
        EXPECT_EQ(recorder.interruptionMessage(), formatChanged) << take;
        const auto master = recorder.stop();
        ASSERT_TRUE(master);
        EXPECT_EQ(std::tuple(master->frameCount, master->isComplete),
                  std::tuple(static_cast<qint64>(before), false));
        sim.removeDevice(id);
    }
}

// One take at a time: a second start is refused and creates nothing. An empty take is incomplete.
TEST_F(NativeRecorderTest, RecordsTheCountingPatternBitExactAtEveryDepthAndRate)
{
    plug(device(44100.0, 16));
    start(0);
    const auto empty = recorder.stop();
    EXPECT_TRUE(empty && empty->frameCount == 0 && !empty->isComplete);
    sim.removeDevice(id);
    int take = 0;
    for (const double rate : {44100.0, 96000.0, 192000.0}) {
        for (const std::uint32_t bits : {16u, 24u, 32u}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz " << bits << "-bit");
            plug(device(rate, bits, {{4, bits}}));
            start(++take, 2, 3);
            EXPECT_THROW(start(100), CaptureError);
            EXPECT_FALSE(QFileInfo::exists(path(100)));
            sim.advance(1s);
            const auto master = recorder.stop();
            ASSERT_TRUE(master);
            EXPECT_TRUE(master->isComplete);
            EXPECT_GT(master->frameCount, rate * 0.99);
            SF_INFO info;
            const auto words = test::readTestMaster(path(take), info);
            std::int64_t wrong = 0;
            for (std::uint64_t i = 0; i < words.size(); ++i) {
                const auto code = simCountingCode(i / 2, 2 + i % 2, bits);
                wrong += words[i] != static_cast<std::int32_t>(std::uint32_t(code) << (32 - bits));
            }
            EXPECT_EQ(wrong, 0);
            EXPECT_EQ(std::tuple(info.frames, info.samplerate),
                      std::tuple(master->frameCount, static_cast<int>(rate)));
            sim.removeDevice(id);
        }
    }
}

TEST_F(NativeRecorderTest, TheCallbackAndTheListenersAllocateNothing)
{
    plug(device(96000.0, 24));
    start(1);
    sim.advance(100ms); // the simulation sizes its own scratch on the first blocks
    const auto listener = NativeRecorder::integrityListener(recorder.writer());
    test::AllocationCounter counter;
    sim.advance(1s);
    listener(id, {});
    EXPECT_EQ(counter.count(), 0u);
}

TEST(NativeRecorderRealTime, FinishResumesOnTheMainThreadWithTheClosedMaster)
{
    int argc = 1;
    char name[] = "recorder_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    SimulatedAudioSystem sim(SimTimeMode::realTime);
    const ObjectId id = sim.addDevice(device(48000.0, 24));
    QTemporaryDir dir;
    NativeRecorder recorder(sim);
    recorder.start({id, "in", 512}, 0, 1, dir.filePath("take.caf"), "Masters/take.caf");
    ASSERT_TRUE(test::waitUntil([&] { return recorder.framesWritten() > 0; }));

    std::optional<CaptureMaster> result;
    bool onMainThread = false;
    recorder.finish([&](std::optional<CaptureMaster> master) {
        onMainThread = QThread::currentThread() == app.thread();
        result = std::move(master);
    });
    EXPECT_FALSE(result) << "finish completed before the event loop ran";
    ASSERT_TRUE(test::processUntil([&] { return result.has_value(); }, 10s));
    EXPECT_TRUE(onMainThread);
    EXPECT_TRUE(result->isComplete);
    EXPECT_FALSE(recorder.isRecording());
}
