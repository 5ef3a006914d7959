// The review player against a running PipeWire session (scripts/test-env.sh starts a private
// one): a 96 kHz master plays through a 48 kHz null sink to its end.

#include "platform/audio/pipewire/pipewire_audio_system.h"
#include "platform/audio/pipewire/pipewire_test_graph.h"
#include "recording/capture_review_player.h"
#include "support/test_masters.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <string>

namespace brevalo {
namespace {

TEST(ReviewPlayerPipeWire, PlaysThroughANullSinkToTheEnd)
{
    auto system = PipeWireAudioSystem::connect(std::chrono::milliseconds(3000));
    if (!system) {
        GTEST_SKIP() << "no PipeWire server reachable"; // the backend's own tests insist on one
    }
    QTemporaryDir folder;
    const auto master = test::writeTestMaster(
        folder.filePath("master.caf"), 24, 96000, 24000, [](std::int64_t frame, int) {
            return static_cast<std::int32_t>(1e6 * std::sin(static_cast<double>(frame) * 0.05));
        });
    test::PipeWireTestGraph graph(system->pipeWireHardware());
    const std::string name = "brevalo-test-review-" + std::to_string(::getpid());
    ASSERT_NE(graph.addNode({name, "Review sink", "Audio/Sink", "[ FL FR ]", 48000, ""}), 0);
    ObjectId sink = unknownObject;
    ASSERT_TRUE(test::waitUntil([&] {
        double r = 0.0;
        return system->hardware().deviceForUID(name, sink) == 0 && sink != unknownObject &&
               system->hardware().nominalSampleRate(sink, r) == 0 && r == 48000.0;
    }));

    CaptureReviewPlayer player(*system);
    int stops = 0;
    player.setStoppedHandler([&] { ++stops; });
    player.selectOutput(sink);
    player.load(master.toStdString());
    const auto started = std::chrono::steady_clock::now();
    player.play(4000, std::nullopt);
    EXPECT_TRUE(test::waitUntil([&] {
        QCoreApplication::processEvents();
        return stops == 1;
    }));
    // 20 000 frames last 208 ms: an end notice much sooner means audio was skipped.
    EXPECT_GT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.currentFrame(), 24000);
}

} // namespace
} // namespace brevalo
