// The simulation's device I/O unit, its varispeed (the libsamplerate unit behind failure
// injection) and the device blocks that drive them.

#include "platform/audio/channel_maps.h"
#include "platform/audio/sim_state.h"

#include "platform/audio/samplerate_varispeed.h"

#include <algorithm>
#include <cmath>

namespace brevalo {

class SimIOUnit final : public IOUnit
{
public:
    using State = SimulatedAudioSystem::State;

    SimIOUnit(std::shared_ptr<State> state, std::uint32_t ordinal, std::uint32_t kindOrdinal)
        : state_(std::move(state)), ordinal_(ordinal), kindOrdinal_(kindOrdinal)
    {}

    ~SimIOUnit() override
    {
        if (!disposed_) {
            teardown();
        }
    }

    // ----- configuration ---------------------------------------------------------------------

    std::int32_t setEnableIO(Scope scope, std::uint32_t element, bool enable) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::enableIO, scope, element)) {
            return s;
        }
        if (const auto s = requireStopped()) {
            return s;
        }
        if (scope == Scope::input && element == inputElement) {
            inputEnabled_ = enable;
        } else if (scope == Scope::output && element == outputElement) {
            outputEnabled_ = enable;
        } else {
            return status::invalidElement;
        }
        return 0;
    }

    std::int32_t setCurrentDevice(ObjectId device) override
    {
        if (auto s =
                fault(AudioOperation::setProperty, UnitProperty::currentDevice, Scope::global, 0)) {
            return s;
        }
        if (const auto s = requireStopped()) {
            return s;
        }
        std::lock_guard lock(state_->modelMutex);
        const auto* record = state_->findDevice(device);
        if (record == nullptr) {
            return status::badObject;
        }
        device_ = device;
        runtime_ = record->runtime;
        return 0;
    }

    std::int32_t currentDevice(ObjectId& device) override
    {
        if (auto s =
                fault(AudioOperation::getProperty, UnitProperty::currentDevice, Scope::global, 0)) {
            return s;
        }
        if (disposed_) {
            return status::illegalOperation;
        }
        device = device_;
        return 0;
    }

    std::int32_t setMaximumFramesPerSlice(std::uint32_t frames) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::maximumFramesPerSlice,
                           Scope::global, 0)) {
            return s;
        }
        if (disposed_ || initialized_) {
            return status::illegalOperation;
        }
        if (!isValidSliceSize(frames)) {
            return status::paramError;
        }
        maximumFrames_ = frames;
        return 0;
    }

    std::int32_t maximumFramesPerSlice(std::uint32_t& frames) override
    {
        if (auto s = fault(AudioOperation::getProperty, UnitProperty::maximumFramesPerSlice,
                           Scope::global, 0)) {
            return s;
        }
        if (disposed_) {
            return status::illegalOperation;
        }
        frames = maximumFrames_;
        return 0;
    }

    std::int32_t setChannelMap(Scope scope, std::uint32_t element,
                               std::span<const std::int32_t> map) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::channelMap, scope, element)) {
            return s;
        }
        if (const auto s = requireStopped()) {
            return s;
        }
        return maps_.set(scope, element, map);
    }

    std::int32_t setStreamFormat(Scope scope, std::uint32_t element,
                                 const StreamFormat& format) override
    {
        if (auto s =
                fault(AudioOperation::setProperty, UnitProperty::streamFormat, scope, element)) {
            return s;
        }
        if (const auto s = requireStopped()) {
            return s;
        }
        const bool inputClient = scope == Scope::output && element == inputElement;
        const bool outputClient = scope == Scope::input && element == outputElement;
        if (!inputClient && !outputClient) {
            // The hardware side follows the device; it cannot be set.
            return status::illegalOperation;
        }
        if (!isClientFormat(format)) {
            return status::formatNotSupported;
        }
        if (device_ != unknownObject && format.sampleRate != deviceRate()) {
            return status::unsupportedFormat;
        }
        (inputClient ? inputClient_ : outputClient_) = format;
        return 0;
    }

    std::int32_t streamFormat(Scope scope, std::uint32_t element, StreamFormat& format) override
    {
        if (auto s =
                fault(AudioOperation::getProperty, UnitProperty::streamFormat, scope, element)) {
            return s;
        }
        if (disposed_) {
            return status::illegalOperation;
        }
        if (scope == Scope::output && element == inputElement) {
            format = inputClient_ ? *inputClient_ : defaultClient(Scope::input);
        } else if (scope == Scope::input && element == outputElement) {
            format = outputClient_ ? *outputClient_ : defaultClient(Scope::output);
        } else if (scope == Scope::input && element == inputElement) {
            format = hardwareFormat(Scope::input);
        } else if (scope == Scope::output && element == outputElement) {
            format = hardwareFormat(Scope::output);
        } else {
            return status::invalidElement;
        }
        return 0;
    }

    std::int32_t setInputCallback(RenderCallback callback) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::setInputCallback,
                           Scope::global, 0)) {
            return s;
        }
        if (const auto s = requireStopped()) {
            return s;
        }
        inputCallback_ = callback;
        return 0;
    }

    std::int32_t setRenderCallback(Scope scope, std::uint32_t element,
                                   RenderCallback callback) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::setRenderCallback, scope,
                           element)) {
            return s;
        }
        if (const auto s = requireStopped()) {
            return s;
        }
        if (scope != Scope::input || element != outputElement) {
            return status::invalidScope;
        }
        renderCallback_ = callback;
        return 0;
    }

    // ----- life cycle ------------------------------------------------------------------------

    std::int32_t initialize() override
    {
        if (auto s = fault(AudioOperation::initialize)) {
            return s;
        }
        if (disposed_) {
            return status::illegalOperation;
        }
        if (initialized_) {
            return 0;
        }
        if (device_ == unknownObject && outputEnabled_) {
            std::lock_guard lock(state_->modelMutex);
            if (const auto* record = state_->findDevice(state_->defaultOutput)) {
                device_ = record->description.id;
                runtime_ = record->runtime;
            }
        }
        if (!runtime_) {
            return status::deviceUnavailable;
        }
        {
            std::lock_guard lock(state_->modelMutex);
            const auto* record = state_->findDevice(device_);
            if (record == nullptr || !record->description.isAlive) {
                return status::deviceUnavailable;
            }
            const double rate = record->description.nominalSampleRate;
            if (inputEnabled_ && (record->description.inputStreams.empty() ||
                                  (inputClient_ && inputClient_->sampleRate != rate))) {
                return status::unsupportedFormat;
            }
            if (outputEnabled_ && (record->description.outputStreams.empty() ||
                                   (outputClient_ && outputClient_->sampleRate != rate))) {
                return status::unsupportedFormat;
            }
        }
        const StreamFormat output = outputClient_ ? *outputClient_ : defaultClient(Scope::output);
        try {
            renderScratch_.assign(std::size_t{output.channelsPerFrame} * maximumFrames_, 0.0f);
        } catch (const std::bad_alloc&) {
            return status::memoryFull;
        }
        initialized_ = true;
        return 0;
    }

    std::int32_t uninitialize() override
    {
        const auto s = fault(AudioOperation::uninitialize);
        if (disposed_) {
            return status::illegalOperation;
        }
        // Clean-up stays safe even when a failure is injected: the unit still stops.
        stopRunning();
        initialized_ = false;
        return s;
    }

    std::int32_t start() override
    {
        if (auto s = fault(AudioOperation::start)) {
            return s;
        }
        if (disposed_) {
            return status::illegalOperation;
        }
        if (!initialized_) {
            return status::uninitialized;
        }
        if (started_) {
            return 0;
        }
        {
            std::lock_guard lock(state_->modelMutex);
            const auto* record = state_->findDevice(device_);
            if (record == nullptr || record->runtime != runtime_ || !record->description.isAlive) {
                return status::deviceUnavailable;
            }
            const double rate = record->description.nominalSampleRate;
            if ((inputEnabled_ && inputClient_ && inputClient_->sampleRate != rate) ||
                (outputEnabled_ && outputClient_ && outputClient_->sampleRate != rate)) {
                return status::unsupportedFormat;
            }
        }
        {
            std::lock_guard lock(runtime_->cycleMutex);
            if (runtime_->running.empty()) {
                runtime_->reanchor(state_->nowNs());
            }
            runtime_->running.push_back(this);
            runtime_->wake.notify_all();
        }
        started_ = true;
        state_->ensureIOThread(runtime_);
        return 0;
    }

    std::int32_t stop() override
    {
        const auto s = fault(AudioOperation::stop);
        if (disposed_) {
            return status::illegalOperation;
        }
        stopRunning();
        return s;
    }

    std::int32_t dispose() override
    {
        const auto s = fault(AudioOperation::dispose);
        if (disposed_) {
            return status::illegalOperation;
        }
        teardown();
        return s;
    }

    // ----- realtime ----------------------------------------------------------------------------

    std::int32_t render(RenderActionFlags& /*flags*/, const AudioTimeStamp& /*time*/,
                        std::uint32_t bus, std::uint32_t frames, AudioBufferList& buffers) override
    {
        if (auto s = fault(AudioOperation::render, std::nullopt, std::nullopt, bus)) {
            return s;
        }
        if (disposed_ || !initialized_) {
            return status::uninitialized;
        }
        if (bus != inputElement || !inputEnabled_) {
            return status::invalidElement;
        }
        // Only valid inside this unit's input callback, while its device holds the block.
        SimDeviceRuntime* runtime = activeRuntime_;
        if (runtime == nullptr || runtime->currentBlockFrames == 0) {
            return status::illegalOperation;
        }
        if (frames > runtime->currentBlockFrames || frames > maximumFrames_) {
            return status::tooManyFramesToProcess;
        }
        // The device's rate comes from the runtime: the model's lock is never taken here.
        const StreamFormat format =
            inputClient_ ? *inputClient_ : StreamFormat::float32Planar(runtime->nominalRate, 2);
        if (format.sampleRate != runtime->nominalRate) {
            return status::unsupportedFormat;
        }
        if (buffers.numberBuffers < format.channelsPerFrame) {
            return status::paramError;
        }
        const auto deviceChannels = static_cast<std::int32_t>(runtime->inputChannels.size());
        for (std::uint32_t c = 0; c < format.channelsPerFrame; ++c) {
            auto& buffer = buffers.buffers[c];
            if (buffer.data == nullptr) {
                return status::paramError;
            }
            const std::int32_t source = maps_.inputChannel(c);
            buffer.numberChannels = 1;
            buffer.dataByteSize = frames * 4;
            if (source < 0 || source >= deviceChannels) {
                std::fill_n(static_cast<std::uint32_t*>(buffer.data), frames, 0u);
                continue;
            }
            const double* samples =
                runtime->inputBlock.data() + static_cast<std::size_t>(source) * runtime->capacity;
            const auto channelFormat = runtime->inputChannels[static_cast<std::size_t>(source)];
            if (format.isFloat()) {
                auto* out = static_cast<float*>(buffer.data);
                const double scale =
                    channelFormat.isFloat
                        ? 1.0
                        : std::ldexp(1.0, -(static_cast<int>(channelFormat.bits) - 1));
                for (std::uint32_t i = 0; i < frames; ++i) {
                    out[i] = static_cast<float>(samples[i] * scale);
                }
            } else {
                auto* out = static_cast<std::int32_t*>(buffer.data);
                for (std::uint32_t i = 0; i < frames; ++i) {
                    out[i] = leftJustified(samples[i], channelFormat);
                }
            }
        }
        return 0;
    }

    // Called by the device block with its cycleMutex held.
    void runInput(SimDeviceRuntime& runtime, const AudioTimeStamp& time, std::uint32_t frames)
    {
        if (!inputEnabled_ || inputCallback_.proc == nullptr) {
            return;
        }
        activeRuntime_ = &runtime;
        RenderActionFlags flags = 0;
        inputCallback_.proc(inputCallback_.refCon, flags, time, inputElement, frames, nullptr);
        activeRuntime_ = nullptr;
    }

    void runOutput(SimDeviceRuntime& runtime, const AudioTimeStamp& time, std::uint32_t frames)
    {
        if (!outputEnabled_ || renderCallback_.proc == nullptr || frames > maximumFrames_) {
            return;
        }
        const StreamFormat format =
            outputClient_ ? *outputClient_ : StreamFormat::float32Planar(runtime.nominalRate, 2);
        if (format.sampleRate != runtime.nominalRate) {
            return; // refused, never resampled: the device plays silence
        }
        if (renderScratch_.size() < std::size_t{format.channelsPerFrame} * maximumFrames_) {
            return; // the client format grew after initialize
        }
        AudioBufferList list;
        list.numberBuffers = format.channelsPerFrame;
        for (std::uint32_t c = 0; c < format.channelsPerFrame; ++c) {
            list.buffers[c].numberChannels = 1;
            list.buffers[c].dataByteSize = frames * 4;
            list.buffers[c].data = renderScratch_.data() + std::size_t{c} * maximumFrames_;
        }
        RenderActionFlags flags = 0;
        if (renderCallback_.proc(renderCallback_.refCon, flags, time, outputElement, frames,
                                 &list) != 0) {
            return;
        }
        const auto deviceChannels = static_cast<std::int32_t>(runtime.outputChannels.size());
        for (std::uint32_t c = 0; c < format.channelsPerFrame; ++c) {
            const std::int32_t target = maps_.outputChannel(c);
            if (target < 0 || target >= deviceChannels || list.buffers[c].data == nullptr) {
                continue;
            }
            float* mix =
                runtime.outputMix.data() + static_cast<std::size_t>(target) * runtime.capacity;
            const auto* source = static_cast<const float*>(list.buffers[c].data);
            for (std::uint32_t i = 0; i < frames; ++i) {
                mix[i] += source[i];
            }
        }
    }

    bool wantsInput() const { return inputEnabled_; }

private:
    static bool isClientFormat(const StreamFormat& f)
    {
        const bool planar32 = f.isLinearPCM() && f.isNonInterleaved() && f.bitsPerChannel == 32 &&
                              f.bytesPerFrame == 4 && f.bytesPerPacket == 4 &&
                              f.framesPerPacket == 1 && f.channelsPerFrame >= 1 &&
                              f.channelsPerFrame <= AudioBufferList::capacity;
        const std::uint32_t kind =
            f.formatFlags & (formatFlagIsFloat | formatFlagIsSignedInteger | formatFlagIsBigEndian);
        return planar32 && (kind == formatFlagIsFloat || kind == formatFlagIsSignedInteger) &&
               std::isfinite(f.sampleRate) && f.sampleRate > 0.0;
    }

    static std::int32_t leftJustified(double sample, SimDeviceRuntime::ChannelFormat format)
    {
        if (format.isFloat) {
            const double scaled = std::round(sample * 2147483648.0);
            return static_cast<std::int32_t>(std::clamp(scaled, -2147483648.0, 2147483647.0));
        }
        const auto code = static_cast<std::int64_t>(sample);
        const auto shift = 32 - static_cast<int>(std::min<std::uint32_t>(format.bits, 32));
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(code) << shift);
    }

    std::int32_t fault(AudioOperation operation, std::optional<UnitProperty> property = {},
                       std::optional<Scope> scope = {}, std::optional<std::uint32_t> element = {})
    {
        SimCall call;
        call.operation = operation;
        call.unitKind = UnitKind::io;
        call.unitOrdinal = ordinal_;
        call.kindOrdinal = kindOrdinal_;
        call.unitProperty = property;
        call.scope = scope;
        call.element = element;
        call.object = device_;
        return state_->check(call);
    }

    std::int32_t requireStopped() const
    {
        return disposed_ || started_ ? status::illegalOperation : 0;
    }

    double deviceRate() const
    {
        std::lock_guard lock(state_->modelMutex);
        const auto* record = state_->findDevice(device_);
        return record != nullptr ? record->description.nominalSampleRate : 0.0;
    }

    StreamFormat defaultClient(Scope side) const
    {
        (void)side;
        return StreamFormat::float32Planar(deviceRate(), 2);
    }

    StreamFormat hardwareFormat(Scope side) const
    {
        std::lock_guard lock(state_->modelMutex);
        const auto* record = state_->findDevice(device_);
        if (record == nullptr) {
            return {};
        }
        const auto& streams = side == Scope::input ? record->description.inputStreams
                                                   : record->description.outputStreams;
        std::uint32_t channels = 0;
        for (const auto& stream : streams) {
            channels += stream.channels;
        }
        if (streams.empty()) {
            return {};
        }
        const double rate = record->description.nominalSampleRate;
        return streams.front().isFloat
                   ? StreamFormat::physicalFloat(rate, channels)
                   : StreamFormat::physicalInteger(rate, channels, streams.front().bitsPerChannel);
    }

    void stopRunning()
    {
        if (!started_) {
            return;
        }
        {
            std::lock_guard lock(runtime_->cycleMutex);
            auto& running = runtime_->running;
            running.erase(std::remove(running.begin(), running.end(), this), running.end());
        }
        started_ = false;
    }

    void teardown()
    {
        stopRunning();
        initialized_ = false;
        disposed_ = true;
    }

    std::shared_ptr<State> state_;
    std::uint32_t ordinal_;
    std::uint32_t kindOrdinal_;

    bool inputEnabled_ = false;
    bool outputEnabled_ = true;
    ObjectId device_ = unknownObject;
    std::shared_ptr<SimDeviceRuntime> runtime_;
    std::uint32_t maximumFrames_ = 4096;
    ChannelMaps maps_;
    std::optional<StreamFormat> inputClient_;
    std::optional<StreamFormat> outputClient_;
    RenderCallback inputCallback_;
    RenderCallback renderCallback_;
    bool initialized_ = false;
    bool started_ = false;
    bool disposed_ = false;

    std::vector<float> renderScratch_;
    SimDeviceRuntime* activeRuntime_ = nullptr;
};

// The varispeed of every backend, with the simulation's failure injection in front.
class SimVarispeedUnit final : public VarispeedUnit
{
public:
    using State = SimulatedAudioSystem::State;

    SimVarispeedUnit(std::shared_ptr<State> state, std::uint32_t ordinal, std::uint32_t kindOrdinal)
        : state_(std::move(state)), ordinal_(ordinal), kindOrdinal_(kindOrdinal)
    {}

    std::int32_t setMaximumFramesPerSlice(std::uint32_t frames) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::maximumFramesPerSlice,
                           Scope::global, 0)) {
            return s;
        }
        return unit_.setMaximumFramesPerSlice(frames);
    }
    std::int32_t maximumFramesPerSlice(std::uint32_t& frames) override
    {
        if (auto s = fault(AudioOperation::getProperty, UnitProperty::maximumFramesPerSlice,
                           Scope::global, 0)) {
            return s;
        }
        return unit_.maximumFramesPerSlice(frames);
    }
    std::int32_t setStreamFormat(Scope scope, std::uint32_t element,
                                 const StreamFormat& format) override
    {
        if (auto s =
                fault(AudioOperation::setProperty, UnitProperty::streamFormat, scope, element)) {
            return s;
        }
        return unit_.setStreamFormat(scope, element, format);
    }
    std::int32_t streamFormat(Scope scope, std::uint32_t element, StreamFormat& format) override
    {
        if (auto s =
                fault(AudioOperation::getProperty, UnitProperty::streamFormat, scope, element)) {
            return s;
        }
        return unit_.streamFormat(scope, element, format);
    }
    std::int32_t setRenderCallback(Scope scope, std::uint32_t element,
                                   RenderCallback callback) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::setRenderCallback, scope,
                           element)) {
            return s;
        }
        return unit_.setRenderCallback(scope, element, callback);
    }
    std::int32_t setRenderQuality(std::uint32_t quality) override
    {
        if (auto s =
                fault(AudioOperation::setProperty, UnitProperty::renderQuality, Scope::global, 0)) {
            return s;
        }
        return unit_.setRenderQuality(quality);
    }
    std::int32_t renderQuality(std::uint32_t& quality) override
    {
        if (auto s =
                fault(AudioOperation::getProperty, UnitProperty::renderQuality, Scope::global, 0)) {
            return s;
        }
        return unit_.renderQuality(quality);
    }
    std::int32_t setPlaybackRate(float rate) override
    {
        if (auto s = fault(AudioOperation::setParameter, std::nullopt, Scope::global, 0)) {
            return s;
        }
        return unit_.setPlaybackRate(rate);
    }
    std::int32_t playbackRate(float& rate) override
    {
        if (auto s = fault(AudioOperation::getParameter, std::nullopt, Scope::global, 0)) {
            return s;
        }
        return unit_.playbackRate(rate);
    }
    std::int32_t initialize() override
    {
        if (auto s = fault(AudioOperation::initialize)) {
            return s;
        }
        return unit_.initialize();
    }
    std::int32_t uninitialize() override
    {
        const auto s = fault(AudioOperation::uninitialize);
        const auto result = unit_.uninitialize();
        return s != 0 ? s : result;
    }
    std::int32_t dispose() override
    {
        const auto s = fault(AudioOperation::dispose);
        const auto result = unit_.dispose();
        return s != 0 ? s : result;
    }
    std::int32_t render(RenderActionFlags& flags, const AudioTimeStamp& time, std::uint32_t bus,
                        std::uint32_t frames, AudioBufferList& buffers) override
    {
        if (auto s = fault(AudioOperation::render, std::nullopt, std::nullopt, bus)) {
            return s;
        }
        return unit_.render(flags, time, bus, frames, buffers);
    }

private:
    std::int32_t fault(AudioOperation operation, std::optional<UnitProperty> property = {},
                       std::optional<Scope> scope = {}, std::optional<std::uint32_t> element = {})
    {
        SimCall call;
        call.operation = operation;
        call.unitKind = UnitKind::varispeed;
        call.unitOrdinal = ordinal_;
        call.kindOrdinal = kindOrdinal_;
        call.unitProperty = property;
        call.scope = scope;
        call.element = element;
        return state_->check(call);
    }

    std::shared_ptr<State> state_;
    std::uint32_t ordinal_;
    std::uint32_t kindOrdinal_;
    SamplerateVarispeed unit_;
};

std::unique_ptr<IOUnit> makeSimIOUnit(std::shared_ptr<SimulatedAudioSystem::State> state,
                                      std::uint32_t ordinal, std::uint32_t kindOrdinal)
{
    return std::make_unique<SimIOUnit>(std::move(state), ordinal, kindOrdinal);
}

std::unique_ptr<VarispeedUnit>
makeSimVarispeedUnit(std::shared_ptr<SimulatedAudioSystem::State> state, std::uint32_t ordinal,
                     std::uint32_t kindOrdinal)
{
    return std::make_unique<SimVarispeedUnit>(std::move(state), ordinal, kindOrdinal);
}

// ----- I/O ----------------------------------------------------------------------------------

void SimulatedAudioSystem::State::runBlock(SimDeviceRuntime& runtime, std::int64_t dueNs)
{
    const std::uint32_t frames = runtime.bufferFrames;
    AudioTimeStamp time;
    time.sampleTime = static_cast<double>(runtime.framePosition);
    time.hostTime = static_cast<std::uint64_t>(std::max<std::int64_t>(dueNs, 0));
    time.rateScalar = 1.0 + runtime.ppm * 1e-6;

    const bool anyInput = std::any_of(runtime.running.begin(), runtime.running.end(),
                                      [](SimIOUnit* unit) { return unit->wantsInput(); });
    if (anyInput) {
        for (std::size_t c = 0; c < runtime.inputChannels.size(); ++c) {
            const auto format = runtime.inputChannels[c];
            runtime.sources[c].generate(
                runtime.framePosition, frames, static_cast<std::uint32_t>(c), runtime.nominalRate,
                format.bits, format.isFloat, runtime.inputBlock.data() + c * runtime.capacity);
        }
        runtime.currentBlockFrames = frames;
        // Index loop: a callback may not start or stop units, but stay robust if it does.
        for (std::size_t i = 0; i < runtime.running.size(); ++i) {
            runtime.running[i]->runInput(runtime, time, frames);
        }
        runtime.currentBlockFrames = 0;
    }

    if (!runtime.outputChannels.empty()) {
        std::fill(runtime.outputMix.begin(), runtime.outputMix.end(), 0.0f);
        for (std::size_t i = 0; i < runtime.running.size(); ++i) {
            runtime.running[i]->runOutput(runtime, time, frames);
        }
        if (runtime.capturing) {
            auto& capture = runtime.capture;
            const std::uint64_t kept = capture.framesPlayed - capture.framesNotKept;
            const std::uint64_t room =
                runtime.captureLimit > kept ? runtime.captureLimit - kept : 0;
            const auto keep = static_cast<std::uint32_t>(std::min<std::uint64_t>(room, frames));
            for (std::size_t c = 0; c < capture.channels.size(); ++c) {
                const float* mix = runtime.outputMix.data() + c * runtime.capacity;
                capture.channels[c].insert(capture.channels[c].end(), mix, mix + keep);
            }
            capture.framesPlayed += frames;
            capture.framesNotKept += frames - keep;
        }
    }

    runtime.framePosition += frames;
    ++runtime.nextBlock;
    ++runtime.blocks;
}

void SimulatedAudioSystem::State::ioThreadMain(std::shared_ptr<SimDeviceRuntime> runtime)
{
    std::unique_lock lock(runtime->cycleMutex);
    while (!runtime->quit) {
        if (!runtime->canRun()) {
            runtime->wake.wait(lock);
            continue;
        }
        std::int64_t due = runtime->dueNs();
        const std::int64_t now = nowNs();
        // A thread held up for long (a debugger, a loaded machine) resumes from now instead of
        // delivering a burst of late blocks.
        if (now - due > 1'000'000'000) {
            runtime->reanchor(now);
            due = runtime->dueNs();
        }
        if (now < due) {
            runtime->wake.wait_until(lock, epoch + std::chrono::nanoseconds(due));
            continue;
        }
        runBlock(*runtime, due);
    }
}

} // namespace brevalo
