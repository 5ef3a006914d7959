// The recorder and the review player against a PipeWire + WirePlumber session
// (scripts/test-env.sh starts one; ctest runs these cases once more against a daemon of their own
// that allows only 48 kHz, as a stock desktop does). Outside the test environment they are skipped
// when no daemon is reachable.

#include "recording/native_recorder.h"

#include "platform/audio/audio_test_units.h"
#include "platform/audio/pipewire/pipewire_audio_system.h"
#include "platform/audio/pipewire/pipewire_test_graph.h"
#include "recording/capture_review_player.h"
#include "support/test_masters.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cmath>
#include <cstdlib>

using namespace brevalo;

namespace {

class RecordingPipeWire : public ::testing::Test
{
protected:
    void SetUp() override
    {
        system = PipeWireAudioSystem::connect(std::chrono::milliseconds(3000));
        if (!system) {
            ASSERT_FALSE(test::pipeWireDaemonRequired()) << "no PipeWire server";
            GTEST_SKIP() << "no PipeWire server reachable";
        }
        graph = std::make_unique<test::PipeWireTestGraph>(system->pipeWireHardware());
        recorder = std::make_unique<NativeRecorder>(*system);
    }

    // A 24-bit node: our player feeds its input side, the recorder takes its output.
    NativeInputDevice plugInput(std::uint32_t rate)
    {
        const std::string name = test::uniqueTestName("recorder");
        NativeInputDevice device{
            graph->plug({name, name, "Audio/Duplex", "[ AUX0 AUX1 ]", rate, "S24"}),
            QString::fromStdString(name), 0};
        system->hardware().bufferFrameSize(device.id, device.bufferFrameSize);
        return device;
    }

    std::unique_ptr<PipeWireAudioSystem> system;
    std::unique_ptr<test::PipeWireTestGraph> graph;
    QTemporaryDir dir;
    std::unique_ptr<NativeRecorder> recorder; // made once the system is connected
};

} // namespace

// On a daemon that allows only 48 kHz the recording stream switches the graph to the device's
// rate for the take. Monitoring's unit on the same input receives the audio too. Frames before
// the pattern arrived are 0 and skipped; a jump of the frame index with every sample intact is a
// graph cycle the loaded machine missed, counted in gaps, not a changed value.
TEST_F(RecordingPipeWire, RecorderTakesA24BitPatternAt96kHzBitExactWhileMonitoring)
{
    const auto device = plugInput(96000);
    ASSERT_NE(device.id, unknownObject);
    const QString path = dir.filePath("take.caf");
    recorder->start(device, 0, 1, path, QStringLiteral("Masters/take.caf"));
    // Opened once the take runs: on a stock daemon the graph is at the device's rate by then.
    test::Capture monitor(2 * 96000);
    monitor.integer = false;
    const auto monitorUnit = test::makeCaptureUnit(
        *system, device.id, StreamFormat::float32Planar(96000.0, 2), &monitor);
    ASSERT_EQ(monitorUnit->initialize(), 0);
    ASSERT_EQ(monitorUnit->start(), 0);
    test::Player pattern;
    std::unique_ptr<IOUnit> player;
    ASSERT_EQ(system->createIOUnit(player), 0);
    ASSERT_EQ(player->setCurrentDevice(device.id), 0);
    const auto format = StreamFormat::int32Planar(96000.0, 2);
    ASSERT_EQ(player->setStreamFormat(Scope::input, outputElement, format), 0);
    ASSERT_EQ(
        player->setRenderCallback(Scope::input, outputElement, {test::Player::render, &pattern}),
        0);
    ASSERT_EQ(player->initialize(), 0);
    ASSERT_EQ(player->start(), 0);
    EXPECT_TRUE(test::waitUntil([&] { return recorder->framesWritten() >= 144000; },
                                std::chrono::milliseconds(10000)))
        << recorder->interruptionMessage().value_or("no interruption").toStdString();
    player->dispose();
    monitorUnit->dispose();
    const auto master = recorder->stop();
    ASSERT_TRUE(master && master->isComplete);
    EXPECT_GT(monitor.frames.load(), 96000u) << "monitoring stalled";
    EXPECT_EQ(monitor.failure.load(), 0);

    SF_INFO info;
    const auto words = test::readTestMaster(path, info);
    EXPECT_EQ(info.frames, master->frameCount);
    std::int64_t previous = -1, checked = 0, wrong = 0, gaps = 0;
    for (std::size_t i = 0; i < words.size(); i += 2) {
        if (words[i] != 0) {
            const std::int64_t frame = (words[i] >> 8) + 0x800000;
            wrong += (words[i] & 0xFF) != 0 ||
                     words[i + 1] != simCountingCode(std::uint64_t(frame), 1, 24) * 256;
            gaps += previous >= 0 && frame != previous + 1 ? 1 : 0;
            previous = frame;
            ++checked;
        }
    }
    EXPECT_GT(checked, 96000);
    EXPECT_EQ(wrong, 0);
    EXPECT_LE(gaps, 3);
}

// A graph held at another rate by the server's settings does not follow the take: refused, never
// recorded converted. The setting is server-wide, so this runs only on a daemon of its own.
TEST_F(RecordingPipeWire, RecorderRefusesAGraphThatDoesNotFollowTheDevice)
{
    if (std::getenv("BREVALO_PIPEWIRE_OWN_DAEMON") == nullptr) {
        GTEST_SKIP() << "changes the server's settings: needs a daemon of its own";
    }
    const auto device = plugInput(96000);
    ASSERT_NE(device.id, unknownObject);
    ASSERT_EQ(std::system("pw-metadata -n settings 0 clock.force-rate 44100 >/dev/null"), 0);
    QString error;
    try {
        recorder->start(device, 0, 1, dir.filePath("take.caf"), QStringLiteral("Masters/take.caf"));
    } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
    }
    std::system("pw-metadata -n settings 0 clock.force-rate 0 >/dev/null");
    EXPECT_EQ(error, QStringLiteral("The audio system changed the requested native capture "
                                    "format. Recording was refused."));
    EXPECT_FALSE(recorder->isRecording());
}

// A 96 kHz master plays through a 48 kHz sink to its end, neither stopped early nor skipped.
TEST_F(RecordingPipeWire, ReviewPlayerPlaysThroughANullSinkToTheEnd)
{
    int argc = 1;
    char name[] = "recorder_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv); // end notices arrive through the event loop
    const auto master = test::writeTestMaster(
        dir.filePath("master.caf"), 24, 96000, 24000, [](std::int64_t frame, int) {
            return static_cast<std::int32_t>(1e6 * std::sin(static_cast<double>(frame) * 0.05));
        });
    const std::string sinkName = test::uniqueTestName("review");
    const ObjectId sink = graph->plug({sinkName, sinkName, "Audio/Sink", "[ FL FR ]", 48000, ""});
    ASSERT_NE(sink, unknownObject);
    CaptureReviewPlayer player(*system);
    int stops = 0;
    player.setStoppedHandler([&] { ++stops; });
    player.selectOutput(sink);
    player.load(master.toStdString());
    const auto started = std::chrono::steady_clock::now();
    player.play(4000, std::nullopt);
    EXPECT_TRUE(test::processUntil([&] { return stops == 1; }, std::chrono::milliseconds(4000)));
    // 20 000 frames last 208 ms: an end notice much sooner means audio was skipped.
    EXPECT_GT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.currentFrame(), 24000);
}
