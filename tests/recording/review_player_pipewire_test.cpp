// The review player against a running PipeWire session (scripts/test-env.sh starts a private
// one): a master plays through a null sink to its end, and stops when the sink goes away.

#include "pipewire/pipewire_test_graph.h"
#include "platform/audio/pipewire/pipewire_audio_system.h"
#include "recording/capture_review_player.h"
#include "review_player_test_support.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <string>

namespace brevalo {
namespace {

TEST(ReviewPlayerPipeWire, PlaysThroughANullSinkToTheEndOrUntilItIsRemoved)
{
    auto system = PipeWireAudioSystem::connect(std::chrono::milliseconds(3000));
    if (!system) {
        GTEST_SKIP() << "no PipeWire server reachable"; // the backend's own tests insist on one
    }
    QTemporaryDir folder;
    const auto master =
        test::writeMaster(folder.path().toStdString() + "/96000-24-stereo.caf", 96000.0, 24000,
                          [](std::int64_t frame, int) {
                              return static_cast<std::int32_t>(
                                  1000000.0 * std::sin(static_cast<double>(frame) * 0.05));
                          });
    test::PipeWireTestGraph graph(system->pipeWireHardware());
    // A sink at the master's rate and one that makes the player convert.
    for (const std::uint32_t rate : {96000u, 48000u}) {
        SCOPED_TRACE(rate);
        const std::string name =
            "brevalo-test-review-" + std::to_string(rate) + "-" + std::to_string(::getpid());
        const int node = graph.addNode({name, "Review sink", "Audio/Sink", "[ FL FR ]", rate, ""});
        ASSERT_NE(node, 0);
        ObjectId sink = unknownObject;
        ASSERT_TRUE(test::waitUntil([&] {
            double r = 0.0;
            return system->hardware().deviceForUID(name, sink) == 0 && sink != unknownObject &&
                   system->hardware().nominalSampleRate(sink, r) == 0 && r == rate;
        }));

        CaptureReviewPlayer player(*system);
        int stops = 0;
        player.setStoppedHandler([&] { ++stops; });
        player.selectOutput(sink);
        player.load(master);
        const auto started = std::chrono::steady_clock::now();
        player.play(4000, std::nullopt);
        EXPECT_TRUE(player.isPlaying());
        EXPECT_TRUE(test::waitUntil([&] {
            QCoreApplication::processEvents();
            return stops == 1;
        }));
        // 20 000 frames last 208 ms: an end notice much sooner means audio was skipped.
        EXPECT_GT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
        EXPECT_FALSE(player.isPlaying());
        EXPECT_EQ(player.currentFrame(), 24000);
        EXPECT_EQ(player.outputSampleRate(), rate);

        // Unplugged while playing: stops where it was.
        player.play(0, std::nullopt);
        graph.removeNode(node);
        EXPECT_TRUE(test::waitUntil([&] {
            QCoreApplication::processEvents();
            return stops == 2;
        }));
        EXPECT_FALSE(player.isPlaying());
        EXPECT_LT(player.currentFrame(), 24000);
    }
}

} // namespace
} // namespace brevalo
