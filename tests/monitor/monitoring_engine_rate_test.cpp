#include "core/monitor_ring.h"
#include "monitor/monitoring_engine.h"
#include "platform/audio/simulated/simulated_audio_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

using namespace brevalo;

namespace {

// A varispeed that renders a constant and remembers the rate it was given, so the playback
// callback's rate control can be watched without a converter in the way.
class RecordingVarispeed final : public VarispeedUnit
{
public:
    std::int32_t setMaximumFramesPerSlice(std::uint32_t) override { return 0; }
    std::int32_t maximumFramesPerSlice(std::uint32_t& frames) override
    {
        frames = 8192;
        return 0;
    }
    std::int32_t setStreamFormat(Scope, std::uint32_t, const StreamFormat&) override { return 0; }
    std::int32_t streamFormat(Scope, std::uint32_t, StreamFormat&) override { return 0; }
    std::int32_t setRenderCallback(Scope, std::uint32_t, RenderCallback) override { return 0; }
    std::int32_t initialize() override { return 0; }
    std::int32_t uninitialize() override { return 0; }
    std::int32_t dispose() override { return 0; }
    std::int32_t render(RenderActionFlags&, const AudioTimeStamp&, std::uint32_t,
                        std::uint32_t frames, AudioBufferList& buffers) override
    {
        for (std::uint32_t c = 0; c < buffers.numberBuffers; ++c) {
            if (buffers.buffers[c].data != nullptr) {
                std::fill_n(static_cast<float*>(buffers.buffers[c].data), frames, 0.25f);
            }
        }
        return 0;
    }
    std::int32_t setRenderQuality(std::uint32_t) override { return 0; }
    std::int32_t renderQuality(std::uint32_t& quality) override
    {
        quality = 127;
        return 0;
    }
    std::int32_t setPlaybackRate(float value) override
    {
        rate = value;
        return 0;
    }
    std::int32_t playbackRate(float& value) override
    {
        value = rate;
        return 0;
    }

    float rate = 1.0f;
};

// Runs the playback callback at 48 kHz in 512-frame blocks with the ring held at a fixed fill
// (nothing reads the ring here), and returns the correction in ppm after each simulated second.
std::vector<double> steer(std::uint32_t fill, std::uint32_t target, int seconds)
{
    MonitorRing* ring = monitor_ring_create(65536, target);
    std::vector<float> block(fill, 0.1f);
    monitor_ring_write(ring, block.data(), block.data(), fill);
    RecordingVarispeed varispeed;
    PlaybackCallbackContext context{ring, 48000.0, &varispeed, 1.0};
    std::vector<float> left(512), right(512);
    AudioBufferList list;
    list.numberBuffers = 2;
    list.buffers[0] = {1, 512 * 4, left.data()};
    list.buffers[1] = {1, 512 * 4, right.data()};
    std::vector<double> ppm;
    for (int second = 0; second < seconds; ++second) {
        for (int i = 0; i < 94; ++i) { // 94 × 512 frames ≈ 1 s
            RenderActionFlags flags = 0;
            EXPECT_EQ(monitorPlaybackCallback(&context, flags, AudioTimeStamp{}, 0, 512, &list), 0);
        }
        ppm.push_back((static_cast<double>(varispeed.rate) - 1.0) * 1e6);
    }
    EXPECT_NEAR(left.back(), 0.25f, 1e-4f)
        << "the gain ramp applies to what the varispeed rendered";
    monitor_ring_destroy(ring);
    return ppm;
}

} // namespace

TEST(MonitoringEngineRateControl, HoldsAtTargetAndClampsAt1000PPMAlongAFiveSecondLowPass)
{
    EXPECT_EQ(steer(8705, 8705, 10).back(), 0.0);

    // 120 % of target asks for +2000 ppm: clamped to +1000, reached along 1 − e^(−t / 5 s).
    const auto faster = steer(9600, 8000, 30);
    const auto expected = [](int seconds) {
        return 1000.0 * (1.0 - std::exp(-(94.0 * seconds * 512 / 48000.0) / 5.0));
    };
    EXPECT_NEAR(faster[4], expected(5), 1.0);
    EXPECT_NEAR(faster.back(), expected(30), 1.0);
    EXPECT_TRUE(std::is_sorted(faster.begin(), faster.end()));

    // An emptier ring slows playback down to the lower clamp, and never past it.
    const auto slower = steer(4000, 8000, 60);
    EXPECT_NEAR(slower.back(), -1000.0, 1.0);
    EXPECT_GE(slower.back(), -1000.2);
}

TEST(MonitoringEngineCallbacks, RefuseAnOversizedBlockAndAMissingOrShortBufferList)
{
    SimulatedAudioSystem sim;
    std::unique_ptr<IOUnit> inputUnit;
    ASSERT_EQ(sim.createIOUnit(inputUnit), 0);
    RecordingVarispeed varispeed;
    std::vector<float> left(512), right(512);
    AudioBufferList whole;
    whole.numberBuffers = 2;
    whole.buffers[0] = {1, 512 * 4, left.data()};
    whole.buffers[1] = {1, 512 * 4, right.data()};
    AudioBufferList single = whole;
    single.numberBuffers = 1;
    AudioBufferList hole = whole;
    hole.buffers[1].data = nullptr;

    RenderActionFlags flags = 0;
    const auto read = [&](MonitorRing* ring, AudioBufferList* buffers) {
        RingReadCallbackContext context{ring};
        return monitorRingReadCallback(&context, flags, AudioTimeStamp{}, 0, 512, buffers);
    };
    const auto play = [&](MonitorRing* ring, AudioBufferList* buffers) {
        PlaybackCallbackContext context{ring, 48000.0, &varispeed, 1.0};
        return monitorPlaybackCallback(&context, flags, AudioTimeStamp{}, 0, 512, buffers);
    };
    const std::pair<const char*, std::function<std::int32_t(MonitorRing*)>> rows[] = {
        {"capture block above the slice size",
         [&](MonitorRing* ring) {
             CaptureCallbackContext context(ring, 256);
             context.audioUnit = inputUnit.get();
             return monitorCaptureCallback(&context, flags, AudioTimeStamp{}, 1, 257, nullptr);
         }},
        {"ring read without buffers", [&](MonitorRing* ring) { return read(ring, nullptr); }},
        {"ring read into one buffer", [&](MonitorRing* ring) { return read(ring, &single); }},
        {"ring read into a missing buffer", [&](MonitorRing* ring) { return read(ring, &hole); }},
        {"playback without buffers", [&](MonitorRing* ring) { return play(ring, nullptr); }},
        {"playback into one buffer", [&](MonitorRing* ring) { return play(ring, &single); }},
        {"playback into a missing buffer", [&](MonitorRing* ring) { return play(ring, &hole); }},
    };
    for (const auto& [label, call] : rows) {
        MonitorRing* ring = monitor_ring_create(4096, 512);
        EXPECT_EQ(call(ring), -50) << label;
        EXPECT_EQ(monitor_ring_take_error(ring), -50) << label;
        monitor_ring_destroy(ring);
    }
}
