#include "platform/audio/samplerate_varispeed.h"

#include "platform/audio/channel_maps.h"
#include "platform/errors.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>

namespace brevalo {

namespace {

// Input frames fetched per pull. Small enough that the converter holds little more than its
// filter length of input beyond what the output needs (the monitoring ring's fill stays
// meaningful), large enough that the pull overhead is negligible at 192 kHz.
constexpr std::uint32_t pullChunkFrames = 128;

constexpr float minimumRate = 0.25f;
constexpr float maximumRate = 4.0f;

bool isFloatPlanar(const StreamFormat& f)
{
    return f.isLinearPCM() && f.isFloat() && f.isNonInterleaved() && f.bitsPerChannel == 32 &&
           f.bytesPerFrame == 4 && f.framesPerPacket == 1 && f.channelsPerFrame >= 1 &&
           f.channelsPerFrame <= AudioBufferList::capacity && std::isfinite(f.sampleRate) &&
           f.sampleRate > 0.0;
}

} // namespace

SamplerateVarispeed::SamplerateVarispeed() = default;

SamplerateVarispeed::~SamplerateVarispeed()
{
    dispose();
}

int SamplerateVarispeed::converterForQuality(std::uint32_t quality)
{
    if (quality >= 96) {
        return SRC_SINC_MEDIUM_QUALITY;
    }
    if (quality >= 64) {
        return SRC_SINC_FASTEST;
    }
    return SRC_LINEAR;
}

std::int32_t SamplerateVarispeed::setMaximumFramesPerSlice(std::uint32_t frames)
{
    if (disposed_ || initialized_) {
        return status::illegalOperation;
    }
    if (!isValidSliceSize(frames)) {
        return status::paramError;
    }
    maximumFrames_ = frames;
    return 0;
}

std::int32_t SamplerateVarispeed::maximumFramesPerSlice(std::uint32_t& frames)
{
    if (disposed_) {
        return status::illegalOperation;
    }
    frames = maximumFrames_;
    return 0;
}

std::int32_t SamplerateVarispeed::setStreamFormat(Scope scope, std::uint32_t element,
                                                  const StreamFormat& format)
{
    if (disposed_ || initialized_) {
        return status::illegalOperation;
    }
    if (scope == Scope::global) {
        return status::invalidScope;
    }
    if (element != 0) {
        return status::invalidElement;
    }
    if (!isFloatPlanar(format)) {
        return status::formatNotSupported;
    }
    (scope == Scope::input ? inputFormat_ : outputFormat_) = format;
    return 0;
}

std::int32_t SamplerateVarispeed::streamFormat(Scope scope, std::uint32_t element,
                                               StreamFormat& format)
{
    if (disposed_) {
        return status::illegalOperation;
    }
    if (scope == Scope::global) {
        return status::invalidScope;
    }
    if (element != 0) {
        return status::invalidElement;
    }
    format = scope == Scope::input ? inputFormat_ : outputFormat_;
    return 0;
}

std::int32_t SamplerateVarispeed::setRenderCallback(Scope scope, std::uint32_t element,
                                                    RenderCallback callback)
{
    if (disposed_ || initialized_) {
        return status::illegalOperation;
    }
    if (scope != Scope::input) {
        return status::invalidScope;
    }
    if (element != 0) {
        return status::invalidElement;
    }
    callback_ = callback;
    return 0;
}

std::int32_t SamplerateVarispeed::setRenderQuality(std::uint32_t quality)
{
    if (disposed_ || initialized_) {
        return status::illegalOperation;
    }
    if (quality > 127) {
        return status::paramError;
    }
    quality_ = quality;
    return 0;
}

std::int32_t SamplerateVarispeed::renderQuality(std::uint32_t& quality)
{
    if (disposed_) {
        return status::illegalOperation;
    }
    quality = quality_;
    return 0;
}

std::int32_t SamplerateVarispeed::setPlaybackRate(float rate)
{
    if (disposed_) {
        return status::illegalOperation;
    }
    if (!std::isfinite(rate) || rate < minimumRate || rate > maximumRate) {
        return status::paramError;
    }
    rate_.store(rate, std::memory_order_relaxed);
    return 0;
}

std::int32_t SamplerateVarispeed::playbackRate(float& rate)
{
    if (disposed_) {
        return status::illegalOperation;
    }
    rate = rate_.load(std::memory_order_relaxed);
    return 0;
}

std::int32_t SamplerateVarispeed::initialize()
{
    if (disposed_) {
        return status::illegalOperation;
    }
    if (initialized_) {
        return 0;
    }
    if (!isFloatPlanar(inputFormat_) || !isFloatPlanar(outputFormat_) ||
        inputFormat_.channelsPerFrame != outputFormat_.channelsPerFrame) {
        return status::formatNotSupported;
    }
    if (callback_.proc == nullptr) {
        return status::noConnection;
    }
    channels_ = inputFormat_.channelsPerFrame;
    pullFrames_ = std::min(pullChunkFrames, maximumFrames_);
    try {
        pullPlanar_.assign(std::size_t{channels_} * pullFrames_, 0.0f);
        pullInterleaved_.assign(std::size_t{channels_} * pullFrames_, 0.0f);
        outputInterleaved_.assign(std::size_t{channels_} * maximumFrames_, 0.0f);
    } catch (const std::bad_alloc&) {
        return status::memoryFull;
    }
    int error = 0;
    converter_ = src_callback_new(&SamplerateVarispeed::pullInput, converterForQuality(quality_),
                                  static_cast<int>(channels_), &error, this);
    if (converter_ == nullptr) {
        return status::memoryFull;
    }
    inputSampleTime_ = 0.0;
    inputFramesPulled_ = 0;
    outputFramesRendered_ = 0;
    initialized_ = true;
    return 0;
}

std::int32_t SamplerateVarispeed::uninitialize()
{
    if (disposed_) {
        return status::illegalOperation;
    }
    if (converter_ != nullptr) {
        src_delete(converter_);
        converter_ = nullptr;
    }
    initialized_ = false;
    return 0;
}

std::int32_t SamplerateVarispeed::dispose()
{
    if (disposed_) {
        return status::illegalOperation;
    }
    uninitialize();
    disposed_ = true;
    return 0;
}

long SamplerateVarispeed::pullInput(void* self, float** data)
{
    return static_cast<SamplerateVarispeed*>(self)->pull(data);
}

long SamplerateVarispeed::pull(float** data)
{
    AudioBufferList list;
    list.numberBuffers = channels_;
    for (std::uint32_t c = 0; c < channels_; ++c) {
        list.buffers[c].numberChannels = 1;
        list.buffers[c].dataByteSize = pullFrames_ * 4;
        list.buffers[c].data = pullPlanar_.data() + std::size_t{c} * pullFrames_;
    }
    RenderActionFlags flags = 0;
    AudioTimeStamp time;
    time.sampleTime = inputSampleTime_;
    if (pullTime_ != nullptr) {
        time.hostTime = pullTime_->hostTime;
    }
    const std::int32_t result =
        callback_.proc(callback_.refCon, flags, time, 0, pullFrames_, &list);
    if (result != 0) {
        // The converter keeps running on silence so that its state stays continuous; render
        // reports the status.
        if (pullStatus_ == 0) {
            pullStatus_ = result;
        }
        std::fill(pullInterleaved_.begin(), pullInterleaved_.end(), 0.0f);
    } else {
        for (std::uint32_t c = 0; c < channels_; ++c) {
            const float* source = pullPlanar_.data() + std::size_t{c} * pullFrames_;
            for (std::uint32_t i = 0; i < pullFrames_; ++i) {
                pullInterleaved_[std::size_t{i} * channels_ + c] = source[i];
            }
        }
    }
    inputSampleTime_ += pullFrames_;
    inputFramesPulled_ += pullFrames_;
    *data = pullInterleaved_.data();
    return static_cast<long>(pullFrames_);
}

std::int32_t SamplerateVarispeed::render(RenderActionFlags& /*flags*/, const AudioTimeStamp& time,
                                         std::uint32_t bus, std::uint32_t frames,
                                         AudioBufferList& buffers)
{
    if (disposed_ || !initialized_) {
        return status::uninitialized;
    }
    if (bus != 0) {
        return status::invalidElement;
    }
    if (frames > maximumFrames_) {
        return status::tooManyFramesToProcess;
    }
    if (buffers.numberBuffers < channels_) {
        return status::paramError;
    }
    for (std::uint32_t c = 0; c < channels_; ++c) {
        if (buffers.buffers[c].data == nullptr) {
            return status::paramError;
        }
    }
    const double rate = static_cast<double>(rate_.load(std::memory_order_relaxed));
    const double ratio = outputFormat_.sampleRate / (inputFormat_.sampleRate * rate);
    pullStatus_ = 0;
    pullTime_ = &time;
    long produced = 0;
    while (produced < static_cast<long>(frames)) {
        const long got = src_callback_read(converter_, ratio, static_cast<long>(frames) - produced,
                                           outputInterleaved_.data() +
                                               static_cast<std::size_t>(produced) * channels_);
        if (got <= 0) {
            break;
        }
        produced += got;
    }
    pullTime_ = nullptr;
    const auto made = static_cast<std::uint32_t>(produced);
    for (std::uint32_t c = 0; c < channels_; ++c) {
        auto* target = static_cast<float*>(buffers.buffers[c].data);
        for (std::uint32_t i = 0; i < made; ++i) {
            target[i] = outputInterleaved_[std::size_t{i} * channels_ + c];
        }
        std::fill(target + made, target + frames, 0.0f);
        buffers.buffers[c].dataByteSize = frames * 4;
    }
    outputFramesRendered_ += frames;
    if (pullStatus_ != 0) {
        return pullStatus_;
    }
    if (made < frames) {
        return status::paramError;
    }
    return 0;
}

} // namespace brevalo
