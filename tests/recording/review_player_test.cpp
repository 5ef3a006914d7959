// The review player on simulated hardware in manual time: the reader runs only when a test calls
// serviceReader(), and end-of-segment notices arrive through the Qt event loop, so every run
// plays the same frames.

#include "platform/audio/simulated/simulated_audio_system.h"
#include "recording/capture_review_player.h"
#include "support/allocation_counter.h"
#include "support/test_masters.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace brevalo {
namespace {

// A 24-bit sample that is never zero, so silence in the output always means "nothing played".
std::int32_t pattern(std::int64_t frame, int channel)
{
    const std::int64_t value = ((frame * 7919 + channel * 104729) % 8000000) - 4000000;
    return static_cast<std::int32_t>(value == 0 ? 1 : value);
}

class ReviewPlayer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        output = sim.addDevice(SimDevice::output("out-1", "Speakers", 2, 48000.0));
        sim.captureOutput(output, 1 << 20);
        player =
            std::make_unique<CaptureReviewPlayer>(sim, ReviewPlayerOptions{.manualReader = true});
        player->setStoppedHandler([this] { ++stops; });
    }

    std::filesystem::path
    master(double rate, std::int64_t frames,
           const std::function<std::int32_t(std::int64_t, int)>& sample = pattern)
    {
        const QString name = QString("%1-%2.caf").arg(rate).arg(frames);
        return test::writeTestMaster(folder.filePath(name), 24, static_cast<int>(rate), frames,
                                     sample)
            .toStdString();
    }

    // Advances simulated time in 10 ms steps, topping the ring up and delivering notices.
    void run(double seconds, bool deliver = true)
    {
        for (double t = 0.0; t < seconds; t += 0.01) {
            sim.advanceSeconds(0.01);
            player->serviceReader();
            if (deliver) {
                QCoreApplication::processEvents();
            }
        }
    }

    // What the device played, silence left out, is exactly the master's frames [from, to).
    void expectHeardExactly(ObjectId device, std::int64_t from, std::int64_t to)
    {
        const SimOutputCapture capture = sim.outputCapture(device);
        for (int c = 0; c < 2; ++c) {
            std::vector<float> heard, wanted;
            std::ranges::copy_if(capture.channels[static_cast<std::size_t>(c)],
                                 std::back_inserter(heard), [](float v) { return v != 0.0f; });
            for (std::int64_t i = from; i < to; ++i) {
                wanted.push_back(static_cast<float>(pattern(i, c)) / 8388608.0f);
            }
            EXPECT_TRUE(heard == wanted) << "channel " << c << ": " << heard.size() << " frames";
        }
    }

    SimulatedAudioSystem sim;
    ObjectId output = unknownObject;
    QTemporaryDir folder;
    std::unique_ptr<CaptureReviewPlayer> player;
    int stops = 0;
};

TEST_F(ReviewPlayer, ConvertsAHigherRateMasterAndKeepsThePlayheadOnWhatIsHeard)
{
    const double rate = 96000.0;
    const auto tone = [&](std::int64_t frame, int) {
        return static_cast<std::int32_t>(4000000.0 * std::cos(2.0 * std::numbers::pi * 1000.0 *
                                                              static_cast<double>(frame) / rate));
    };
    player->load(master(rate, 96000, tone));
    player->play();
    const std::uint64_t before = sim.outputCapture(output).framesPlayed;
    run(0.5);
    const auto outputFrames = static_cast<double>(sim.outputCapture(output).framesPlayed - before);
    EXPECT_NEAR(static_cast<double>(player->currentFrame()), 2.0 * outputFrames, 2.0 * 512);
    run(0.7);
    EXPECT_EQ(player->currentFrame(), 96000);
    EXPECT_EQ(stops, 1);

    const std::vector<float> left = sim.outputCapture(output).channels[0];
    const auto audible = [](float v) { return std::abs(v) > 1e-3f; };
    const auto first =
        static_cast<std::size_t>(std::find_if(left.begin(), left.end(), audible) - left.begin());
    const auto last = static_cast<std::size_t>(
        std::find_if(left.rbegin(), left.rend(), audible).base() - left.begin());
    EXPECT_NEAR(static_cast<double>(last - first), 48000.0, 64.0);
    int crossings = 0; // rising zero crossings over the middle half second
    for (std::size_t i = first + 12000; i < first + 36000; ++i) {
        crossings += left[i] <= 0.0f && left[i + 1] > 0.0f ? 1 : 0;
    }
    EXPECT_NEAR(crossings, 500, 1);
}

// play's range rules on a 10 000-frame master at the output's rate: where it starts, what is
// heard (the master's samples unchanged), where the end notice leaves it.
TEST_F(ReviewPlayer, ClampsTheRangeItIsGiven)
{
    const struct
    {
        std::int64_t start;
        std::optional<std::int64_t> end;
        std::int64_t clampedStart;
        bool plays;
        std::int64_t restsAt;
    } cases[] = {
        {1000, 5000, 1000, true, 5000},
        {10000, std::nullopt, 9999, true, 10000}, // at the length or beyond: the last frame
        {-5, 100, 0, true, 100},                  // before the start
        {500, 20000, 500, true, 10000},           // end beyond the length
        {500, 500, 500, false, 500},              // empty
        {500, 200, 500, false, 500},              // reversed
    };
    const auto path = master(48000.0, 10000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        sim.captureOutput(output, 1 << 20); // starts a fresh capture
        player->load(path);
        player->play(c.start, c.end);
        EXPECT_EQ(std::tuple(player->isPlaying(), player->currentFrame()),
                  std::tuple(c.plays, c.clampedStart));
        const int stopsBefore = stops;
        run(0.3);
        EXPECT_EQ(std::tuple(player->isPlaying(), player->currentFrame(), stops - stopsBefore),
                  std::tuple(false, c.restsAt, c.plays ? 1 : 0));
        expectHeardExactly(output, c.plays ? c.clampedStart : 0, c.plays ? c.restsAt : 0);
    }
}

// Every stop keeps the playhead where the audio stopped, and the next play goes on from there:
// no frame is lost or repeated across a pause or a change of output; an unplugged output stops
// it where it was.
TEST_F(ReviewPlayer, PausesAndChangesOutputWithoutLosingItsPlace)
{
    const ObjectId other = sim.addDevice(SimDevice::output("out-2", "Headphones", 2, 48000.0));
    sim.captureOutput(other, 1 << 20);
    player->load(master(48000.0, 20000));
    player->selectOutput(output);
    player->play(0);
    run(0.05);
    const std::int64_t paused = player->currentFrame();
    player->pause();
    run(0.05);
    EXPECT_EQ(player->currentFrame(), paused);
    player->play();
    run(0.05);
    const std::int64_t moved = player->currentFrame();
    player->selectOutput(other);
    EXPECT_EQ(std::tuple(player->isPlaying(), player->currentFrame()), std::tuple(false, moved));
    player->play();
    run(0.05);
    expectHeardExactly(output, 0, moved);
    expectHeardExactly(other, moved, player->currentFrame());
    const std::int64_t unplugged = player->currentFrame();
    sim.removeDevice(other);
    sim.drainNotifications();
    QCoreApplication::processEvents();
    EXPECT_EQ(std::tuple(player->isPlaying(), stops, player->currentFrame()),
              std::tuple(false, 1, unplugged));
}

TEST_F(ReviewPlayer, IgnoresTheEndOfAnEarlierSegment)
{
    player->load(master(48000.0, 20000));
    player->play(0, 1000);
    run(0.1, false); // the first segment ended; its notice waits in the event queue
    player->play(2000, 12000);
    QCoreApplication::processEvents();
    EXPECT_TRUE(player->isPlaying());
    run(0.05);
    EXPECT_GT(player->currentFrame(), 2000);
    EXPECT_EQ(stops, 0);
}

TEST_F(ReviewPlayer, RenderCallbackAllocatesNothing)
{
    // A device without capture: the simulation's own recording would allocate.
    const ObjectId quiet = sim.addDevice(SimDevice::output("out-2", "Headphones", 2, 48000.0));
    player->selectOutput(quiet);
    for (const double rate : {96000.0, 48000.0}) {
        SCOPED_TRACE(rate);
        player->load(master(rate, 200000));
        player->play(0);
        sim.advanceSeconds(0.05); // the simulation sizes its own scratch on the first blocks
        test::AllocationCounter counter;
        sim.advanceSeconds(3.0); // plays out the prefilled ring, then runs dry
        EXPECT_EQ(counter.count(), 0u);
        EXPECT_GT(player->dryBlocks(), 0u);
    }
}

} // namespace
} // namespace brevalo

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
