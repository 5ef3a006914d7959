#include "platform/audio/samplerate_varispeed.h"

#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

using namespace brevalo;

namespace {

// Feeds the varispeed a stereo sine (or a failure) and counts what it pulled.
struct SineSource
{
    double frequency = 1000.0;
    double rate = 48000.0;
    double amplitude = 0.5;
    std::uint64_t framesPulled = 0;
    std::int32_t failWith = 0;

    static std::int32_t pull(void* refCon, RenderActionFlags&, const AudioTimeStamp&, std::uint32_t,
                             std::uint32_t frames, AudioBufferList* buffers)
    {
        auto& self = *static_cast<SineSource*>(refCon);
        if (self.failWith != 0) {
            return self.failWith;
        }
        auto* left = static_cast<float*>(buffers->buffers[0].data);
        auto* right = static_cast<float*>(buffers->buffers[1].data);
        for (std::uint32_t i = 0; i < frames; ++i) {
            const double t = static_cast<double>(self.framesPulled + i) / self.rate;
            const auto v = static_cast<float>(
                self.amplitude * std::sin(2.0 * std::numbers::pi * self.frequency * t));
            left[i] = v;
            right[i] = -v;
        }
        self.framesPulled += frames;
        return 0;
    }
};

class Varispeed : public ::testing::Test
{
protected:
    void configure(double inputRate, double outputRate, std::uint32_t maximumFrames = 8192)
    {
        source.rate = inputRate;
        ASSERT_EQ(unit.setMaximumFramesPerSlice(maximumFrames), 0);
        ASSERT_EQ(unit.setRenderQuality(127), 0);
        ASSERT_EQ(unit.setStreamFormat(Scope::input, 0, StreamFormat::float32Planar(inputRate, 2)),
                  0);
        ASSERT_EQ(
            unit.setStreamFormat(Scope::output, 0, StreamFormat::float32Planar(outputRate, 2)), 0);
        ASSERT_EQ(unit.setRenderCallback(Scope::input, 0, {&SineSource::pull, &source}), 0);
        ASSERT_EQ(unit.initialize(), 0);
        left.assign(maximumFrames, 0.0f);
        right.assign(maximumFrames, 0.0f);
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

    // Renders seconds of output and returns the left channel.
    std::vector<float> renderSeconds(double seconds, double outputRate, std::uint32_t block = 512)
    {
        std::vector<float> out;
        const auto total = static_cast<std::uint64_t>(seconds * outputRate);
        while (out.size() < total) {
            EXPECT_EQ(renderBlock(block), 0);
            out.insert(out.end(), left.begin(), left.begin() + block);
        }
        return out;
    }

    SamplerateVarispeed unit;
    SineSource source;
    std::vector<float> left;
    std::vector<float> right;
};

// Frequency from rising zero crossings, skipping the converter's start-up.
double measuredFrequency(const std::vector<float>& samples, double rate)
{
    std::size_t first = 0;
    std::size_t last = 0;
    int crossings = -1;
    for (std::size_t i = 4096; i + 1 < samples.size(); ++i) {
        if (samples[i] <= 0.0f && samples[i + 1] > 0.0f) {
            if (crossings < 0) {
                first = i;
            }
            last = i;
            ++crossings;
        }
    }
    return crossings <= 0 ? 0.0 : crossings * rate / static_cast<double>(last - first);
}

} // namespace

TEST_F(Varispeed, PlaysInputUnchangedInPitchAtRateOneAndRaisesPitchWithTheRate)
{
    configure(48000.0, 48000.0);
    EXPECT_NEAR(measuredFrequency(renderSeconds(2.0, 48000.0), 48000.0), 1000.0, 0.5);

    ASSERT_EQ(unit.setPlaybackRate(1.05f), 0);
    EXPECT_NEAR(measuredFrequency(renderSeconds(2.0, 48000.0), 48000.0), 1050.0, 1.0);

    ASSERT_EQ(unit.setPlaybackRate(0.9f), 0);
    EXPECT_NEAR(measuredFrequency(renderSeconds(2.0, 48000.0), 48000.0), 900.0, 1.0);
}

TEST_F(Varispeed, ConvertsBetweenRatesWithoutShiftingPitch)
{
    configure(96000.0, 44100.0);
    EXPECT_NEAR(measuredFrequency(renderSeconds(2.0, 44100.0), 44100.0), 1000.0, 0.5);
}

TEST_F(Varispeed, ConsumesInputInProportionToRateOverTime)
{
    configure(44100.0, 48000.0);
    const float rate = 1.0008f;
    ASSERT_EQ(unit.setPlaybackRate(rate), 0);
    const double seconds = 60.0;
    renderSeconds(seconds, 48000.0, 480);
    const double rendered = static_cast<double>(unit.outputFramesRendered());
    const double expected = rendered * rate * 44100.0 / 48000.0;
    // The converter holds about one pull and half its filter beyond the output (some 150
    // frames); a ratio off by 100 ppm would add 265 frames over this minute.
    EXPECT_NEAR(static_cast<double>(source.framesPulled), expected, 250.0);
    EXPECT_EQ(source.framesPulled, unit.inputFramesPulled());
}

TEST_F(Varispeed, StaysClickFreeWhileTheRateChangesEveryBlock)
{
    configure(48000.0, 48000.0);
    const std::uint32_t block = 256;
    std::vector<float> out;
    for (int b = 0; b < 800; ++b) {
        // Alternate between the clamp limits of drift compensation, and now and then jump.
        const float rate = b % 50 == 49 ? 1.01f : (b % 2 == 0 ? 1.001f : 0.999f);
        ASSERT_EQ(unit.setPlaybackRate(rate), 0);
        ASSERT_EQ(renderBlock(block), 0);
        out.insert(out.end(), left.begin(), left.begin() + block);
    }
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

TEST_F(Varispeed, RendersWithoutAllocating)
{
    configure(48000.0, 44100.0);
    renderSeconds(0.2, 44100.0); // past start-up
    test::AllocationCounter counter;
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(unit.setPlaybackRate(i % 2 == 0 ? 1.001f : 0.999f), 0);
        ASSERT_EQ(renderBlock(1024), 0);
    }
    EXPECT_EQ(counter.count(), 0u);
}

TEST_F(Varispeed, ReportsAFailingPullAndRendersSilenceForIt)
{
    configure(48000.0, 48000.0);
    source.failWith = status::paramError;
    std::fill(left.begin(), left.end(), 1.0f);
    EXPECT_EQ(renderBlock(512), status::paramError);
    for (std::uint32_t i = 0; i < 512; ++i) {
        ASSERT_EQ(left[i], 0.0f);
    }
    source.failWith = 0;
    EXPECT_EQ(renderBlock(512), 0);
}

TEST_F(Varispeed, RefusesWhatItCannotDo)
{
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
    EXPECT_EQ(renderBlock(16), status::uninitialized);

    EXPECT_EQ(unit.setPlaybackRate(0.0f), status::paramError);
    EXPECT_EQ(unit.setPlaybackRate(std::nanf("")), status::paramError);
    float rate = 0.0f;
    ASSERT_EQ(unit.playbackRate(rate), 0);
    EXPECT_EQ(rate, 1.0f);
}

TEST_F(Varispeed, RefusesMoreFramesThanTheMaximumSlice)
{
    configure(48000.0, 48000.0, 1024);
    left.resize(2048);
    right.resize(2048);
    EXPECT_EQ(renderBlock(1025), status::tooManyFramesToProcess);
    EXPECT_EQ(unit.dispose(), 0);
    EXPECT_EQ(renderBlock(16), status::uninitialized);
    EXPECT_EQ(unit.dispose(), status::illegalOperation);
}

TEST_F(Varispeed, PlaybackRateSetOnTheRenderThreadIsReadableFromAnother)
{
    configure(48000.0, 48000.0);
    std::atomic<bool> done{false};
    std::thread render([&] {
        for (int i = 0; i < 400; ++i) {
            unit.setPlaybackRate(i % 2 == 0 ? 1.0005f : 0.9995f);
            renderBlock(256);
        }
        done = true;
    });
    while (!done) {
        float rate = 0.0f;
        ASSERT_EQ(unit.playbackRate(rate), 0);
        ASSERT_TRUE(rate == 1.0f || rate == 1.0005f || rate == 0.9995f);
    }
    render.join();
}
