#include "monitor/monitoring_engine.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <thread>

namespace brevalo {

namespace {

constexpr double lowestRate = 8000.0;          // Hz
constexpr double highestRate = 192000.0;       // Hz
constexpr std::uint32_t largestBuffer = 65536; // frames, what an I/O unit slice can hold
// Slices are never sized below this, so a device that changes its buffer size while running
// still fits (the units refuse larger slices with an error instead of resizing on I/O).
constexpr std::uint32_t minimumSlice = 8192;
constexpr std::uint32_t unrepresentable = 0xFFFFFFFFu;

// Fill error to rate: 10 % off target asks for the full ±1000 ppm.
constexpr double rateGain = 0.01;
constexpr double lowestPlaybackRate = 0.999;
constexpr double highestPlaybackRate = 1.001;
// Seconds: slow enough that the rate follows clock drift, not the jitter of block timing.
constexpr double rateTimeConstant = 5.0;

constexpr std::uint32_t bytesPerSample = 4;

bool isStandardRate(double rate)
{
    return std::isfinite(rate) && rate >= lowestRate && rate <= highestRate;
}

} // namespace

MonitorRingSizing monitorRingSizing(const MonitoringConfiguration& configuration)
{
    const double outputBlock = configuration.outputBufferFrameSize == 0
                                   ? static_cast<double>(minimumSlice)
                                   : static_cast<double>(configuration.outputBufferFrameSize);
    const double maximumSlice =
        static_cast<double>(std::max(configuration.outputBufferFrameSize, minimumSlice));
    // Input frames one output block may consume, with the rate control at its upper clamp.
    const double consumed = std::ceil(outputBlock * configuration.inputSampleRate /
                                      configuration.outputSampleRate * highestPlaybackRate);
    const double target =
        std::ceil(std::max(0.07 * configuration.inputSampleRate, maximumSlice + consumed));

    MonitorRingSizing sizing;
    sizing.targetFrames = std::isfinite(target) && target >= 0.0 && target < 4294967296.0
                              ? static_cast<std::uint32_t>(target)
                              : unrepresentable;
    const double oneSecond = std::ceil(configuration.inputSampleRate);
    const std::uint64_t secondFrames =
        std::isfinite(oneSecond) && oneSecond > 0.0 && oneSecond < 18446744073709549568.0
            ? static_cast<std::uint64_t>(oneSecond)
            : 0;
    sizing.requestedCapacity = std::max(std::uint64_t{2} * sizing.targetFrames, secondFrames);
    return sizing;
}

// ----- realtime callbacks -------------------------------------------------------------------

CaptureCallbackContext::CaptureCallbackContext(MonitorRing* monitorRing, std::uint32_t frames)
    : ring(monitorRing), maximumFrames(frames), left(frames, 0.0f), right(frames, 0.0f)
{
    bufferList.numberBuffers = 2;
    bufferList.buffers[0] = {1, frames * bytesPerSample, left.data()};
    bufferList.buffers[1] = {1, frames * bytesPerSample, right.data()};
}

std::int32_t monitorCaptureCallback(void* refCon, RenderActionFlags& flags,
                                    const AudioTimeStamp& time, std::uint32_t /*bus*/,
                                    std::uint32_t frames, AudioBufferList* /*buffers*/)
{
    auto* context = static_cast<CaptureCallbackContext*>(refCon);
    if (context->audioUnit == nullptr || frames > context->maximumFrames) {
        monitor_ring_report_error(context->ring, status::paramError);
        return status::paramError;
    }
    auto& list = context->bufferList;
    list.numberBuffers = 2;
    list.buffers[0] = {1, frames * bytesPerSample, context->left.data()};
    list.buffers[1] = {1, frames * bytesPerSample, context->right.data()};
    const std::int32_t result = context->audioUnit->render(flags, time, inputElement, frames, list);
    if (result != 0) {
        monitor_ring_report_error(context->ring, result);
        return result;
    }
    // A full ring drops the block and counts an overrun itself; nothing to do here.
    monitor_ring_write(context->ring, context->left.data(), context->right.data(), frames);
    return 0;
}

std::int32_t monitorRingReadCallback(void* refCon, RenderActionFlags& flags,
                                     const AudioTimeStamp& /*time*/, std::uint32_t /*bus*/,
                                     std::uint32_t frames, AudioBufferList* buffers)
{
    auto* context = static_cast<RingReadCallbackContext*>(refCon);
    if (buffers == nullptr || buffers->numberBuffers < 2 || buffers->buffers[0].data == nullptr ||
        buffers->buffers[1].data == nullptr) {
        monitor_ring_report_error(context->ring, status::paramError);
        return status::paramError;
    }
    const std::uint64_t read =
        monitor_ring_read(context->ring, static_cast<float*>(buffers->buffers[0].data),
                          static_cast<float*>(buffers->buffers[1].data), frames);
    buffers->buffers[0].dataByteSize = frames * bytesPerSample;
    buffers->buffers[1].dataByteSize = frames * bytesPerSample;
    if (read == 0) {
        // Priming, underrun or resync: the ring wrote silence.
        flags |= renderActionOutputIsSilence;
    }
    return 0;
}

std::int32_t monitorPlaybackCallback(void* refCon, RenderActionFlags& flags,
                                     const AudioTimeStamp& time, std::uint32_t /*bus*/,
                                     std::uint32_t frames, AudioBufferList* buffers)
{
    auto* context = static_cast<PlaybackCallbackContext*>(refCon);
    MonitorRing* ring = context->ring;
    if (buffers == nullptr) {
        monitor_ring_report_error(ring, status::paramError);
        return status::paramError;
    }
    const std::int32_t result = context->varispeedUnit->render(flags, time, 0, frames, *buffers);
    if (result != 0) {
        monitor_ring_report_error(ring, result);
        return result;
    }
    if (buffers->numberBuffers < 2 || buffers->buffers[0].data == nullptr ||
        buffers->buffers[1].data == nullptr) {
        monitor_ring_report_error(ring, status::paramError);
        return status::paramError;
    }
    monitor_ring_apply_gain(ring, static_cast<float*>(buffers->buffers[0].data),
                            static_cast<float*>(buffers->buffers[1].data), frames,
                            context->outputSampleRate);

    const std::uint64_t target = monitor_ring_target_frames(ring);
    if (target == 0) {
        return 0;
    }
    const std::uint64_t buffered = monitor_ring_buffered_frames(ring);
    const double error =
        (static_cast<double>(buffered) - static_cast<double>(target)) / static_cast<double>(target);
    const double desired = 1.0 + rateGain * error;
    const double clamped =
        desired >= lowestPlaybackRate ? std::min(desired, highestPlaybackRate) : lowestPlaybackRate;
    // One-pole low-pass evaluated per block, so its time constant holds for any block size.
    const double alpha = 1.0 - std::exp((static_cast<double>(frames) / context->outputSampleRate) /
                                        -rateTimeConstant);
    context->filteredPlaybackRate += alpha * (clamped - context->filteredPlaybackRate);
    const std::int32_t rateResult =
        context->varispeedUnit->setPlaybackRate(static_cast<float>(context->filteredPlaybackRate));
    if (rateResult != 0) {
        // The block is rendered; the failure reaches the controller through the next snapshot.
        monitor_ring_report_error(ring, rateResult);
    }
    return 0;
}

// ----- engine -------------------------------------------------------------------------------

MonitoringEngine::MonitoringEngine(AudioSystem& system, Sleep sleep)
    : system_(system), sleep_(std::move(sleep))
{
    if (!sleep_) {
        sleep_ = [](std::chrono::nanoseconds duration) { std::this_thread::sleep_for(duration); };
    }
}

MonitoringEngine::~MonitoringEngine()
{
    stop();
}

void MonitoringEngine::fail(const char* operation, std::int32_t status)
{
    stop();
    throw CoreAudioFailure(QString::fromUtf8(operation), status);
}

void MonitoringEngine::check(std::int32_t status, const char* operation)
{
    if (status != 0) {
        fail(operation, status);
    }
}

template <typename Unit> std::unique_ptr<Unit> MonitoringEngine::createUnit(UnitKind kind)
{
    if (!system_.findComponent(kind)) {
        fail("Find a required audio component", status::unimplemented);
    }
    std::unique_ptr<Unit> unit;
    std::int32_t result = 0;
    if constexpr (std::is_same_v<Unit, IOUnit>) {
        result = system_.createIOUnit(unit);
    } else {
        result = system_.createVarispeedUnit(unit);
    }
    if (result != 0) {
        fail("Create an audio component", result);
    }
    if (!unit) {
        fail("Create an audio component", status::memoryFull);
    }
    return unit;
}

void MonitoringEngine::start(const MonitoringConfiguration& configuration, bool muted)
{
    stop();

    if (!isStandardRate(configuration.inputSampleRate)) {
        fail("Use a standard PCM rate up to 192 kHz for the input route",
             status::unsupportedFormat);
    }
    if (!isStandardRate(configuration.outputSampleRate)) {
        fail("Use a standard PCM rate up to 192 kHz for the output route",
             status::unsupportedFormat);
    }
    if (configuration.inputBufferFrameSize > largestBuffer) {
        fail("Use a valid audio buffer size for the input route", status::paramError);
    }
    if (configuration.outputBufferFrameSize > largestBuffer) {
        fail("Use a valid audio buffer size for the output route", status::paramError);
    }

    const MonitorRingSizing sizing = monitorRingSizing(configuration);
    if (sizing.targetFrames == unrepresentable || sizing.requestedCapacity >= 4294967296u) {
        fail("Allocate a safe audio buffer for this route", status::memoryFull);
    }
    MonitorRing* ring = monitor_ring_create(static_cast<std::uint32_t>(sizing.requestedCapacity),
                                            sizing.targetFrames);
    if (ring == nullptr) {
        fail("Allocate the audio buffer", status::memoryFull);
    }
    ring_ = ring;
    configuration_ = configuration;
    monitor_ring_set_muted(ring_, muted);

    inputUnit_ = createUnit<IOUnit>(UnitKind::io);
    configureInput(configuration);
    varispeedUnit_ = createUnit<VarispeedUnit>(UnitKind::varispeed);
    configureVarispeed(configuration);
    outputUnit_ = createUnit<IOUnit>(UnitKind::io);
    configureOutput(configuration);

    check(inputUnit_->initialize(), "Initialize the selected input");
    check(varispeedUnit_->initialize(), "Initialize sample-rate compensation");
    check(outputUnit_->initialize(), "Initialize the system output");

    check(inputUnit_->start(), "Start the selected input");
    if (const std::int32_t result = outputUnit_->start(); result != 0) {
        inputUnit_->stop();
        fail("Start the system output", result);
    }
    isRunning_ = true;
}

void MonitoringEngine::configureInput(const MonitoringConfiguration& configuration)
{
    IOUnit& unit = *inputUnit_;
    check(unit.setEnableIO(Scope::input, inputElement, true), "Enable audio input");
    check(unit.setEnableIO(Scope::output, outputElement, false), "Disable input-device playback");
    check(unit.setCurrentDevice(configuration.inputDeviceID), "Select the audio input");
    check(unit.setMaximumFramesPerSlice(std::max(configuration.inputBufferFrameSize, minimumSlice)),
          "Configure the input buffer size");
    std::uint32_t maximumFrames = 0;
    check(unit.maximumFramesPerSlice(maximumFrames), "Read the input buffer size");
    const std::int32_t map[2] = {configuration.channelPair.leftChannel,
                                 configuration.channelPair.rightChannel};
    check(unit.setChannelMap(Scope::output, inputElement, map), "Select the stereo input channels");
    check(unit.setStreamFormat(Scope::output, inputElement,
                               StreamFormat::float32Planar(configuration.inputSampleRate, 2)),
          "Configure the input audio format");
    try {
        captureContext_ = std::make_unique<CaptureCallbackContext>(ring_, maximumFrames);
    } catch (const std::bad_alloc&) {
        // A unit reporting an absurd slice size; the capture buffers are sized from it.
        fail("Allocate the audio buffer", status::memoryFull);
    }
    captureContext_->audioUnit = &unit;
    check(unit.setInputCallback({&monitorCaptureCallback, captureContext_.get()}),
          "Install the input callback");
}

void MonitoringEngine::configureVarispeed(const MonitoringConfiguration& configuration)
{
    VarispeedUnit& unit = *varispeedUnit_;
    check(
        unit.setMaximumFramesPerSlice(std::max(configuration.outputBufferFrameSize, minimumSlice)),
        "Configure rate compensation buffers");
    check(unit.setRenderQuality(127), "Configure high-quality sample-rate conversion");
    check(unit.setStreamFormat(Scope::input, 0,
                               StreamFormat::float32Planar(configuration.inputSampleRate, 2)),
          "Configure the rate-compensation input");
    check(unit.setStreamFormat(Scope::output, 0,
                               StreamFormat::float32Planar(configuration.outputSampleRate, 2)),
          "Configure the rate-compensation output");
    ringReadContext_ = std::make_unique<RingReadCallbackContext>(RingReadCallbackContext{ring_});
    check(
        unit.setRenderCallback(Scope::input, 0, {&monitorRingReadCallback, ringReadContext_.get()}),
        "Connect the drift buffer");
    check(unit.setPlaybackRate(1.0f), "Set the initial playback rate");
}

void MonitoringEngine::configureOutput(const MonitoringConfiguration& configuration)
{
    IOUnit& unit = *outputUnit_;
    check(unit.setEnableIO(Scope::output, outputElement, true), "Enable system audio output");
    check(unit.setEnableIO(Scope::input, inputElement, false), "Disable output-device capture");
    check(unit.setCurrentDevice(configuration.outputDeviceID), "Select the system audio output");
    check(
        unit.setMaximumFramesPerSlice(std::max(configuration.outputBufferFrameSize, minimumSlice)),
        "Configure the output buffer size");
    check(unit.setStreamFormat(Scope::input, outputElement,
                               StreamFormat::float32Planar(configuration.outputSampleRate, 2)),
          "Configure the output audio format");
    playbackContext_ = std::make_unique<PlaybackCallbackContext>(
        PlaybackCallbackContext{ring_, configuration.outputSampleRate, varispeedUnit_.get(), 1.0});
    check(unit.setRenderCallback(Scope::input, outputElement,
                                 {&monitorPlaybackCallback, playbackContext_.get()}),
          "Connect the system audio output");
}

void MonitoringEngine::stop()
{
    if (isRunning_ && ring_ != nullptr) {
        monitor_ring_set_muted(ring_, true);
        sleep_(fadeOutDuration);
    }
    // Device units first: once both have stopped no callback can reach a context or the ring.
    if (outputUnit_) {
        outputUnit_->stop();
    }
    if (inputUnit_) {
        inputUnit_->stop();
    }
    const auto release = [](auto& unit) {
        if (unit) {
            unit->uninitialize();
            unit->dispose();
            unit.reset();
        }
    };
    release(outputUnit_);
    release(varispeedUnit_);
    release(inputUnit_);
    playbackContext_.reset();
    ringReadContext_.reset();
    captureContext_.reset();
    monitor_ring_destroy(ring_);
    ring_ = nullptr;
    configuration_.reset();
    isRunning_ = false;
}

std::optional<RealtimeSnapshot> MonitoringEngine::snapshot()
{
    if (ring_ == nullptr || !configuration_) {
        return std::nullopt;
    }
    RealtimeSnapshot snapshot;
    const MonitorRingPeaks peaks = monitor_ring_take_peaks(ring_);
    snapshot.leftPeak = peaks.leftPeak;
    snapshot.rightPeak = peaks.rightPeak;
    snapshot.leftClipped = peaks.leftClipped;
    snapshot.rightClipped = peaks.rightClipped;
    const std::int32_t error = monitor_ring_take_error(ring_);
    float rate = 1.0f;
    if (varispeedUnit_) {
        // A failed read leaves 1.0: the diagnostics then show no correction rather than garbage.
        (void)varispeedUnit_->playbackRate(rate);
    }
    auto& diagnostics = snapshot.diagnostics;
    diagnostics.bufferedFrames = monitor_ring_buffered_frames(ring_);
    diagnostics.targetBufferedFrames = monitor_ring_target_frames(ring_);
    diagnostics.underruns = monitor_ring_underruns(ring_);
    diagnostics.overruns = monitor_ring_overruns(ring_);
    diagnostics.rateCorrectionPPM = (static_cast<double>(rate) - 1.0) * 1000000.0;
    diagnostics.inputSampleRate = configuration_->inputSampleRate;
    diagnostics.outputSampleRate = configuration_->outputSampleRate;
    if (error != 0) {
        snapshot.runtimeFailure =
            CoreAudioFailure(QStringLiteral("The real-time audio stream"), error);
    }
    return snapshot;
}

} // namespace brevalo
