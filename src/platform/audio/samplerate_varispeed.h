#pragma once

// The varispeed converter of every backend, on libsamplerate's callback interface. Render
// quality 127 selects the medium sinc converter, measured as the best one whose cost at 192 kHz
// stereo stays under about 5 % of one core; lower qualities select cheaper converters.

#include "platform/audio/varispeed_unit.h"

#include <atomic>
#include <cstdint>
#include <vector>

typedef struct SRC_STATE_tag SRC_STATE;

namespace brevalo {

class SamplerateVarispeed final : public VarispeedUnit
{
public:
    SamplerateVarispeed();
    ~SamplerateVarispeed() override;
    SamplerateVarispeed(const SamplerateVarispeed&) = delete;
    SamplerateVarispeed& operator=(const SamplerateVarispeed&) = delete;

    std::int32_t setMaximumFramesPerSlice(std::uint32_t frames) override;
    std::int32_t maximumFramesPerSlice(std::uint32_t& frames) override;
    std::int32_t setStreamFormat(Scope scope, std::uint32_t element,
                                 const StreamFormat& format) override;
    std::int32_t streamFormat(Scope scope, std::uint32_t element, StreamFormat& format) override;
    std::int32_t setRenderCallback(Scope scope, std::uint32_t element,
                                   RenderCallback callback) override;
    std::int32_t initialize() override;
    std::int32_t uninitialize() override;
    std::int32_t dispose() override;
    std::int32_t render(RenderActionFlags& flags, const AudioTimeStamp& time, std::uint32_t bus,
                        std::uint32_t frames, AudioBufferList& buffers) override;
    std::int32_t setRenderQuality(std::uint32_t quality) override;
    std::int32_t renderQuality(std::uint32_t& quality) override;
    std::int32_t setPlaybackRate(float rate) override;
    std::int32_t playbackRate(float& rate) override;

    // libsamplerate converter type for a render quality.
    static int converterForQuality(std::uint32_t quality);
    // Input frames pulled so far and output frames produced (since initialize), for tests and
    // diagnostics; read them only while nothing renders.
    std::uint64_t inputFramesPulled() const { return inputFramesPulled_; }
    std::uint64_t outputFramesRendered() const { return outputFramesRendered_; }

private:
    static long pullInput(void* self, float** data);
    long pull(float** data);

    std::uint32_t maximumFrames_ = 4096;
    std::uint32_t quality_ = 127;
    StreamFormat inputFormat_;
    StreamFormat outputFormat_;
    RenderCallback callback_;
    std::atomic<float> rate_{1.0f};
    bool initialized_ = false;
    bool disposed_ = false;

    SRC_STATE* converter_ = nullptr;
    std::uint32_t channels_ = 0;
    std::uint32_t pullFrames_ = 0;         // input frames per pull
    std::vector<float> pullPlanar_;        // channels × pullFrames_
    std::vector<float> pullInterleaved_;   // pullFrames_ × channels
    std::vector<float> outputInterleaved_; // maximumFrames_ × channels
    std::int32_t pullStatus_ = 0;          // first failing pull of the current render
    const AudioTimeStamp* pullTime_ = nullptr;
    double inputSampleTime_ = 0.0;
    std::uint64_t inputFramesPulled_ = 0;
    std::uint64_t outputFramesRendered_ = 0;
};

} // namespace brevalo
