#include "platform/audio/samplerate_varispeed.h"

#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <numbers>
#include <thread>
#include <vector>

using namespace brevalo;

namespace {

// A varispeed pulling a stereo 1 kHz sine of amplitude 0.5 (or a failure), counting what it
// pulled.
struct Harness
{
    SamplerateVarispeed unit;
    double inputRate = 48000.0;
    std::uint64_t framesPulled = 0;
    std::int32_t failWith = 0;
    std::vector<float> left = std::vector<float>(8192);
    std::vector<float> right = std::vector<float>(8192);

    static std::int32_t pull(void* refCon, RenderActionFlags&, const AudioTimeStamp&, std::uint32_t,
                             std::uint32_t frames, AudioBufferList* buffers)
    {
        auto& self = *static_cast<Harness*>(refCon);
        if (self.failWith != 0) {
            return self.failWith;
        }
        for (std::uint32_t i = 0; i < frames; ++i) {
            const double t = static_cast<double>(self.framesPulled + i) / self.inputRate;
            const auto v = static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * t));
            static_cast<float*>(buffers->buffers[0].data)[i] = v;
            static_cast<float*>(buffers->buffers[1].data)[i] = -v;
        }
        self.framesPulled += frames;
        return 0;
    }

    void configure(double input, double output, std::uint32_t maximumFrames = 8192)
    {
        inputRate = input;
        ASSERT_EQ(unit.setMaximumFramesPerSlice(maximumFrames), 0);
        ASSERT_EQ(unit.setRenderQuality(127), 0);
        ASSERT_EQ(unit.setStreamFormat(Scope::input, 0, StreamFormat::float32Planar(input, 2)), 0);
        ASSERT_EQ(unit.setStreamFormat(Scope::output, 0, StreamFormat::float32Planar(output, 2)),
                  0);
        ASSERT_EQ(unit.setRenderCallback(Scope::input, 0, {&Harness::pull, this}), 0);
        ASSERT_EQ(unit.initialize(), 0);
    }

    std::int32_t renderBlock(std::uint32_t frames)
    {
        AudioBufferList list;
        list.numberBuffers = 2;
        list.buffers[0] = {1, frames * 4, left.data()};
        list.buffers[1] = {1, frames * 4, right.data()};
        RenderActionFlags flags = 0;
        return unit.render(flags, AudioTimeStamp{}, 0, frames, list);
    }

    // Renders seconds of output in blocks and returns the left channel.
    std::vector<float> renderSeconds(double seconds, double outputRate, std::uint32_t block = 512)
    {
        std::vector<float> out;
        while (out.size() < static_cast<std::size_t>(seconds * outputRate)) {
            EXPECT_EQ(renderBlock(block), 0);
            out.insert(out.end(), left.begin(), left.begin() + block);
        }
        return out;
    }
};

// Frequency from rising zero crossings, skipping the converter's start-up.
double measuredFrequency(const std::vector<float>& samples, double rate)
{
    std::size_t first = 0;
    std::size_t last = 0;
    int crossings = -1;
    for (std::size_t i = 4096; i + 1 < samples.size(); ++i) {
        if (samples[i] <= 0.0f && samples[i + 1] > 0.0f) {
            first = crossings < 0 ? i : first;
            last = i;
            ++crossings;
        }
    }
    return crossings <= 0 ? 0.0 : crossings * rate / static_cast<double>(last - first);
}

} // namespace

TEST(Varispeed, PitchFollowsThePlaybackRateAndNotTheRateConversion)
{
    const struct
    {
        double input, output;
        float rate;
        double frequency;
    } rows[] = {{48000.0, 48000.0, 1.0f, 1000.0},
                {48000.0, 48000.0, 1.05f, 1050.0},
                {48000.0, 48000.0, 0.9f, 900.0},
                {96000.0, 44100.0, 1.0f, 1000.0},
                {44100.0, 96000.0, 1.02f, 1020.0}};
    for (const auto& row : rows) {
        Harness h;
        h.configure(row.input, row.output);
        ASSERT_EQ(h.unit.setPlaybackRate(row.rate), 0);
        EXPECT_NEAR(measuredFrequency(h.renderSeconds(1.5, row.output), row.output), row.frequency,
                    0.5)
            << row.input << " -> " << row.output << " at " << row.rate;
    }
}

TEST(Varispeed, ConsumesInputInProportionToRateOverTime)
{
    Harness h;
    h.configure(44100.0, 48000.0);
    const float rate = 1.0008f;
    ASSERT_EQ(h.unit.setPlaybackRate(rate), 0);
    h.renderSeconds(60.0, 48000.0, 480);
    const double expected =
        static_cast<double>(h.unit.outputFramesRendered()) * rate * 44100.0 / 48000.0;
    // The converter holds about one pull and half its filter beyond the output (some 150
    // frames); a ratio off by 100 ppm would add 265 frames over this minute.
    EXPECT_NEAR(static_cast<double>(h.framesPulled), expected, 250.0);
    EXPECT_EQ(h.framesPulled, h.unit.inputFramesPulled());
}

TEST(Varispeed, StaysClickFreeAndAllocationFreeWhileTheRateChangesEveryBlock)
{
    Harness h;
    h.configure(48000.0, 48000.0);
    const std::uint32_t block = 256;
    std::vector<float> out = h.renderSeconds(0.1, 48000.0, block); // past start-up
    out.reserve(out.size() + 800 * block);
    test::AllocationCounter counter;
    for (int b = 0; b < 800; ++b) {
        // Alternate between the clamp limits of drift compensation, and now and then jump.
        const float rate = b % 50 == 49 ? 1.01f : (b % 2 == 0 ? 1.001f : 0.999f);
        ASSERT_EQ(h.unit.setPlaybackRate(rate), 0);
        ASSERT_EQ(h.renderBlock(block), 0);
        out.insert(out.end(), h.left.begin(), h.left.begin() + block);
    }
    EXPECT_EQ(counter.count(), 0u);
    // A clean 1 kHz sine of amplitude 0.5 at 48 kHz moves at most 0.0655 per sample and bends
    // by at most 0.0086; a discontinuity at a block edge shows as a far larger step.
    double largestStep = 0.0;
    double largestBend = 0.0;
    for (std::size_t i = 4096; i + 2 < out.size(); ++i) {
        largestStep = std::max(largestStep, std::abs(double{out[i + 1]} - out[i]));
        largestBend =
            std::max(largestBend, std::abs(double{out[i + 2]} - 2.0 * out[i + 1] + out[i]));
    }
    EXPECT_LT(largestStep, 0.0655 * 1.02);
    EXPECT_LT(largestBend, 0.0086 * 1.2);
}

TEST(Varispeed, ReportsAFailingPullAndRendersSilenceForIt)
{
    Harness h;
    h.configure(48000.0, 48000.0);
    h.renderSeconds(0.05, 48000.0);
    h.failWith = status::paramError;
    for (int i = 0; i < 8; ++i) { // the converter's history holds the sine for a while
        ASSERT_EQ(h.renderBlock(512), status::paramError);
    }
    EXPECT_EQ(std::vector<float>(h.left.begin(), h.left.begin() + 512), std::vector<float>(512))
        << "silence, not stale samples";
    h.failWith = 0;
    EXPECT_EQ(h.renderBlock(512), 0);
}

TEST(Varispeed, RefusesWhatItCannotDo)
{
    Harness h;
    auto& unit = h.unit;
    EXPECT_EQ(unit.initialize(), status::formatNotSupported); // no formats yet
    EXPECT_EQ(unit.setStreamFormat(Scope::input, 0, StreamFormat::int32Planar(48000.0, 2)),
              status::formatNotSupported);
    EXPECT_EQ(unit.setStreamFormat(Scope::input, 0, StreamFormat::float32Planar(0.0, 2)),
              status::formatNotSupported);
    EXPECT_EQ(unit.setStreamFormat(Scope::input, 1, StreamFormat::float32Planar(48000.0, 2)),
              status::invalidElement);
    ASSERT_EQ(unit.setStreamFormat(Scope::input, 0, StreamFormat::float32Planar(48000.0, 2)), 0);
    ASSERT_EQ(unit.setStreamFormat(Scope::output, 0, StreamFormat::float32Planar(48000.0, 1)), 0);
    EXPECT_EQ(unit.initialize(), status::formatNotSupported); // channel counts differ
    ASSERT_EQ(unit.setStreamFormat(Scope::output, 0, StreamFormat::float32Planar(48000.0, 2)), 0);
    EXPECT_EQ(unit.initialize(), status::noConnection); // no pull callback
    EXPECT_EQ(h.renderBlock(16), status::uninitialized);
    for (const float rate : {0.0f, -1.0f, std::nanf(""), std::numeric_limits<float>::infinity()}) {
        EXPECT_EQ(unit.setPlaybackRate(rate), status::paramError) << rate;
    }
    float rate = 0.0f;
    ASSERT_EQ(unit.playbackRate(rate), 0);
    EXPECT_EQ(rate, 1.0f);

    Harness small;
    small.configure(48000.0, 48000.0, 1024);
    EXPECT_EQ(small.renderBlock(1025), status::tooManyFramesToProcess);
    EXPECT_EQ(small.unit.dispose(), 0);
    EXPECT_EQ(small.renderBlock(16), status::uninitialized);
    EXPECT_EQ(small.unit.dispose(), status::illegalOperation);
}

TEST(Varispeed, PlaybackRateSetOnTheRenderThreadIsReadableFromAnother)
{
    Harness h;
    h.configure(48000.0, 48000.0);
    std::atomic<bool> done{false};
    std::thread render([&] {
        for (int i = 0; i < 400; ++i) {
            h.unit.setPlaybackRate(i % 2 == 0 ? 1.0005f : 0.9995f);
            h.renderBlock(256);
        }
        done = true;
    });
    while (!done) {
        float rate = 0.0f;
        ASSERT_EQ(h.unit.playbackRate(rate), 0);
        ASSERT_TRUE(rate == 1.0f || rate == 1.0005f || rate == 0.9995f);
    }
    render.join();
}
