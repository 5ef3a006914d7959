// The simulation's device I/O unit and the device blocks that drive it.

#include "platform/audio/simulated/simulated_io_unit.h"

#include "platform/audio/io_unit_base.h"
#include "platform/audio/simulated/simulated_hardware.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace brevalo {

class SimIOUnit final : public IOUnitBase
{
public:
    using State = SimulatedAudioSystem::State;

    // Configuration may change while initialized: a simulated device needs no renegotiation.
    explicit SimIOUnit(std::shared_ptr<State> state) : IOUnitBase(false), state_(std::move(state))
    {}

    ~SimIOUnit() override
    {
        if (!disposed_) {
            finish();
        }
    }

    std::int32_t streamFormat(Scope scope, std::uint32_t element, StreamFormat& format) override
    {
        if (disposed_) {
            return status::illegalOperation;
        }
        if (scope == Scope::output && element == inputElement) {
            format = inputClient_ ? *inputClient_ : StreamFormat::float32Planar(deviceRate(), 2);
        } else if (scope == Scope::input && element == outputElement) {
            format = outputClient_ ? *outputClient_ : StreamFormat::float32Planar(deviceRate(), 2);
        } else if (scope == Scope::input && element == inputElement) {
            format = hardwareFormat(Scope::input);
        } else if (scope == Scope::output && element == outputElement) {
            format = hardwareFormat(Scope::output);
        } else {
            return status::invalidElement;
        }
        return 0;
    }

    // ----- realtime ----------------------------------------------------------------------------

    std::int32_t render(RenderActionFlags& /*flags*/, const AudioTimeStamp& /*time*/,
                        std::uint32_t bus, std::uint32_t frames, AudioBufferList& buffers) override
    {
        if (disposed_ || !initialized_) {
            return status::uninitialized;
        }
        if (bus != inputElement || !inputEnabled_) {
            return status::invalidElement;
        }
        // Only valid inside this unit's input callback, while its device holds the block.
        if (callbackThread_.load(std::memory_order_relaxed) != std::this_thread::get_id()) {
            return status::illegalOperation; // another thread must not even read the block
        }
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
        const auto deviceChannels = static_cast<std::int32_t>(runtime->inputChannels.size());
        return fillClientChannels(
            buffers, format.channelsPerFrame, frames, deviceChannels,
            [&](void* data, std::int32_t source) {
                const double* samples = runtime->inputBlock.data() +
                                        static_cast<std::size_t>(source) * runtime->capacity;
                const auto channelFormat = runtime->inputChannels[static_cast<std::size_t>(source)];
                if (format.isFloat()) {
                    auto* out = static_cast<float*>(data);
                    const double scale =
                        channelFormat.isFloat
                            ? 1.0
                            : std::ldexp(1.0, -(static_cast<int>(channelFormat.bits) - 1));
                    for (std::uint32_t i = 0; i < frames; ++i) {
                        out[i] = static_cast<float>(samples[i] * scale);
                    }
                } else {
                    auto* out = static_cast<std::int32_t*>(data);
                    for (std::uint32_t i = 0; i < frames; ++i) {
                        out[i] = leftJustified(samples[i], channelFormat);
                    }
                }
            });
    }

    // Called by the device block with its cycleMutex held.
    void runInput(SimDeviceRuntime& runtime, const AudioTimeStamp& time, std::uint32_t frames)
    {
        if (!inputEnabled_ || inputCallback_.proc == nullptr) {
            return;
        }
        activeRuntime_ = &runtime;
        callbackThread_.store(std::this_thread::get_id(), std::memory_order_relaxed);
        RenderActionFlags flags = 0;
        inputCallback_.proc(inputCallback_.refCon, flags, time, inputElement, frames, nullptr);
        callbackThread_.store(std::thread::id{}, std::memory_order_relaxed);
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

    double deviceRate() const override
    {
        std::lock_guard lock(state_->modelMutex);
        const auto* record = state_->findDevice(device_);
        return record != nullptr ? record->description.nominalSampleRate : 0.0;
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

    // ----- life cycle ------------------------------------------------------------------------

    bool bindDevice(ObjectId device) override
    {
        std::lock_guard lock(state_->modelMutex);
        const auto* record = state_->findDevice(device);
        if (record == nullptr) {
            return false;
        }
        runtime_ = record->runtime;
        return true;
    }

    std::int32_t initializeBackend() override
    {
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
        const StreamFormat output =
            outputClient_ ? *outputClient_ : StreamFormat::float32Planar(deviceRate(), 2);
        try {
            renderScratch_.assign(std::size_t{output.channelsPerFrame} * maximumFrames_, 0.0f);
        } catch (const std::bad_alloc&) {
            return status::memoryFull;
        }
        return 0;
    }

    std::int32_t startBackend() override
    {
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
        state_->ensureIOThread(runtime_);
        return 0;
    }

    void stopBackend() override
    {
        std::lock_guard lock(runtime_->cycleMutex);
        auto& running = runtime_->running;
        running.erase(std::remove(running.begin(), running.end(), this), running.end());
    }

    std::shared_ptr<State> state_;
    std::shared_ptr<SimDeviceRuntime> runtime_;
    std::vector<float> renderScratch_;
    SimDeviceRuntime* activeRuntime_ = nullptr;     // the I/O thread's, inside runInput
    std::atomic<std::thread::id> callbackThread_{}; // the thread inside runInput, if any
};

std::unique_ptr<IOUnit> makeSimIOUnit(std::shared_ptr<SimulatedAudioSystem::State> state)
{
    return std::make_unique<SimIOUnit>(std::move(state));
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
