#include "platform/audio/pipewire/pipewire_io_unit.h"

#include "platform/audio/audio_log.h"
#include "platform/audio/pipewire/pipewire_support.h"

#include <spa/utils/result.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

namespace brevalo {

struct PipeWireIOUnit::Side
{
    PipeWireIOUnit* unit = nullptr;
    bool isInput = false;
    PipeWireNodeTarget target;
    double clientRate = 0.0;
    bool integerSamples = false; // S32P instead of F32P on the stream

    // Thread loop, under its lock.
    pw_stream* stream = nullptr;
    spa_hook listener{};
    spa_source* noticeEvent = nullptr;
    bool formatKnown = false;
    bool failed = false;
    bool wasConnected = false;
    pw_stream_state state = PW_STREAM_STATE_UNCONNECTED;
    std::uint32_t negotiatedFormat = 0;
    double negotiatedRate = 0.0;
    std::uint32_t negotiatedChannels = 0;
    std::string error; // the server's words when the stream failed

    // Crossing between the main thread and the data thread.
    std::atomic<bool> running{false};
    std::atomic<int> busy{0};
    std::atomic<bool> rateMismatch{false};
    std::atomic<bool> mismatchSignalled{false};
    bool mismatchReported = false;           // thread loop
    std::atomic<std::uint32_t> graphRate{0}; // as the last cycle saw it; 0 before the first

    // The thread running the input callback, while it runs (render checks it first).
    std::atomic<std::thread::id> callbackThread{};

    // Data thread only.
    std::array<const std::uint8_t*, SPA_AUDIO_MAX_CHANNELS> blockData{};
    std::uint32_t blockFrames = 0;
    double samplePosition = 0.0;
    std::vector<float> scratch; // output: client channels × maximum frames
};

namespace {

std::uint32_t streamSampleFormat(bool integerSamples)
{
    return integerSamples ? SPA_AUDIO_FORMAT_S32P : SPA_AUDIO_FORMAT_F32P;
}

// RAII marker of a process callback in progress, so that stop can wait for it to leave.
class BusyScope
{
public:
    explicit BusyScope(std::atomic<int>& busy) : busy_(busy) { busy_.fetch_add(1); }
    ~BusyScope() { busy_.fetch_sub(1); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    std::atomic<int>& busy_;
};

// Wakes the thread loop from the data thread (an eventfd write: no lock, no allocation).
void signalNotice(PipeWireIOUnit::Side& side)
{
    if (side.noticeEvent != nullptr) {
        pw_loop_signal_event(pw_thread_loop_get_loop(side.unit->hardwareLoop()), side.noticeEvent);
    }
}

} // namespace

// ----- stream events ------------------------------------------------------------------------

namespace {

void onStateChanged(void* data, pw_stream_state /*old*/, pw_stream_state state, const char* error)
{
    auto& side = *static_cast<PipeWireIOUnit::Side*>(data);
    side.state = state;
    if (state == PW_STREAM_STATE_ERROR) {
        side.error = error != nullptr ? error : "unknown error";
    }
    if (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING) {
        side.wasConnected = true;
        // A session manager may restore a saved volume onto a stream; ours stays at unity.
        const auto channels = std::max<std::uint32_t>(side.target.channels, 1);
        std::array<float, SPA_AUDIO_MAX_CHANNELS> unity;
        unity.fill(1.0f);
        const float one = 1.0f;
        const float unmuted = 0.0f;
        pw_stream_set_control(side.stream, SPA_PROP_channelVolumes, channels, unity.data(),
                              SPA_PROP_volume, 1, &one, SPA_PROP_mute, 1, &unmuted, 0);
    }
    const bool lost = state == PW_STREAM_STATE_ERROR ||
                      (state == PW_STREAM_STATE_UNCONNECTED && side.wasConnected);
    if (lost) {
        side.failed = true;
        qCWarning(audioLog).nospace()
            << "PipeWire stream of " << side.target.nodeName.c_str()
            << " ended: " << (side.error.empty() ? "disconnected" : side.error.c_str());
        if (side.running.load()) {
            side.unit->reportStoppedAbnormally(side);
        }
    }
    pw_thread_loop_signal(side.unit->hardwareLoop(), false);
}

void onParamChanged(void* data, std::uint32_t id, const spa_pod* param)
{
    auto& side = *static_cast<PipeWireIOUnit::Side*>(data);
    if (id != SPA_PARAM_Format || param == nullptr) {
        return;
    }
    spa_audio_info_raw info{};
    if (spa_format_audio_raw_parse(param, &info) < 0) {
        return;
    }
    side.negotiatedFormat = info.format;
    side.negotiatedRate = info.rate;
    side.negotiatedChannels = info.channels;
    side.formatKnown = true;
    pw_thread_loop_signal(side.unit->hardwareLoop(), false);
}

} // namespace

void PipeWireIOUnit::processInput(Side& side)
{
    BusyScope busy(side.busy);
    pw_buffer* buffer = pw_stream_dequeue_buffer(side.stream);
    if (buffer == nullptr) {
        return;
    }
    const spa_buffer* spa = buffer->buffer;
    const std::uint32_t channels =
        std::min<std::uint32_t>({spa->n_datas, side.target.channels, SPA_AUDIO_MAX_CHANNELS});
    std::uint32_t frames = channels == 0 ? 0 : UINT32_MAX;
    for (std::uint32_t c = 0; c < channels; ++c) {
        const spa_data& d = spa->datas[c];
        if (d.data == nullptr || d.chunk == nullptr) {
            frames = 0;
            break;
        }
        const std::uint32_t offset = std::min(d.chunk->offset, d.maxsize);
        const std::uint32_t size = std::min(d.chunk->size, d.maxsize - offset);
        side.blockData[c] = static_cast<const std::uint8_t*>(d.data) + offset;
        frames = std::min(frames, size / 4);
    }
    pw_time time{};
    pw_stream_get_time_n(side.stream, &time, sizeof time);
    if (time.rate.denom != 0) {
        const bool first = side.graphRate.exchange(time.rate.denom) == 0;
        // Only a bit-exact (integer) client refuses converted samples; a float client takes
        // the stream's own rate, which PipeWire resamples from the graph's.
        if (side.integerSamples && static_cast<double>(time.rate.denom) != side.clientRate) {
            side.rateMismatch.store(true);
        }
        if (first || (side.rateMismatch.load() && !side.mismatchSignalled.exchange(true))) {
            signalNotice(side);
        }
    }
    if (side.running.load() && inputCallback_.proc != nullptr && frames > 0) {
        side.callbackThread.store(std::this_thread::get_id(), std::memory_order_relaxed);
        // A graph block larger than the client's slice arrives in slices.
        for (std::uint32_t done = 0; done < frames;) {
            const std::uint32_t slice = std::min(frames - done, maximumFrames_);
            side.blockFrames = slice;
            AudioTimeStamp stamp;
            stamp.sampleTime = side.samplePosition;
            stamp.hostTime = static_cast<std::uint64_t>(std::max<std::int64_t>(time.now, 0));
            RenderActionFlags flags = 0;
            inputCallback_.proc(inputCallback_.refCon, flags, stamp, inputElement, slice, nullptr);
            side.samplePosition += slice;
            done += slice;
            for (std::uint32_t c = 0; c < channels; ++c) {
                side.blockData[c] += std::size_t{slice} * 4;
            }
        }
    }
    side.blockFrames = 0;
    side.callbackThread.store(std::thread::id{}, std::memory_order_relaxed);
    pw_stream_queue_buffer(side.stream, buffer);
}

void PipeWireIOUnit::processOutput(Side& side)
{
    BusyScope busy(side.busy);
    pw_buffer* buffer = pw_stream_dequeue_buffer(side.stream);
    if (buffer == nullptr) {
        return;
    }
    spa_buffer* spa = buffer->buffer;
    const std::uint32_t channels =
        std::min<std::uint32_t>({spa->n_datas, side.target.channels, SPA_AUDIO_MAX_CHANNELS});
    std::uint32_t frames = maximumFrames_;
    if (buffer->requested != 0) {
        frames = static_cast<std::uint32_t>(std::min<std::uint64_t>(buffer->requested, frames));
    }
    for (std::uint32_t c = 0; c < channels; ++c) {
        if (spa->datas[c].data == nullptr) {
            frames = 0;
        } else {
            frames = std::min(frames, spa->datas[c].maxsize / 4);
        }
    }
    for (std::uint32_t c = 0; c < channels; ++c) {
        if (spa->datas[c].data != nullptr) {
            std::memset(spa->datas[c].data, 0, std::size_t{frames} * 4);
        }
    }
    const StreamFormat& client = outputClient_ ? *outputClient_ : defaultOutputClient_;
    bool produced = false;
    if (side.running.load() && renderCallback_.proc != nullptr && frames > 0 &&
        side.scratch.size() >= std::size_t{client.channelsPerFrame} * maximumFrames_) {
        AudioBufferList list;
        list.numberBuffers = client.channelsPerFrame;
        for (std::uint32_t c = 0; c < client.channelsPerFrame; ++c) {
            list.buffers[c].numberChannels = 1;
            list.buffers[c].dataByteSize = frames * 4;
            list.buffers[c].data = side.scratch.data() + std::size_t{c} * maximumFrames_;
        }
        pw_time time{};
        pw_stream_get_time_n(side.stream, &time, sizeof time);
        AudioTimeStamp stamp;
        stamp.sampleTime = side.samplePosition;
        stamp.hostTime = static_cast<std::uint64_t>(std::max<std::int64_t>(time.now, 0));
        RenderActionFlags flags = 0;
        produced = renderCallback_.proc(renderCallback_.refCon, flags, stamp, outputElement, frames,
                                        &list) == 0;
        if (produced) {
            for (std::uint32_t c = 0; c < client.channelsPerFrame; ++c) {
                const std::int32_t target = maps_.outputChannel(c);
                if (target < 0 || static_cast<std::uint32_t>(target) >= channels ||
                    list.buffers[c].data == nullptr) {
                    continue;
                }
                auto* mix = static_cast<float*>(spa->datas[target].data);
                if (client.isFloat()) {
                    const auto* source = static_cast<const float*>(list.buffers[c].data);
                    for (std::uint32_t i = 0; i < frames; ++i) {
                        mix[i] += source[i];
                    }
                } else {
                    const auto* source = static_cast<const std::int32_t*>(list.buffers[c].data);
                    for (std::uint32_t i = 0; i < frames; ++i) {
                        mix[i] += static_cast<float>(source[i]) * (1.0f / 2147483648.0f);
                    }
                }
            }
        }
        side.samplePosition += frames;
    }
    for (std::uint32_t c = 0; c < channels; ++c) {
        spa_chunk* chunk = spa->datas[c].chunk;
        chunk->offset = 0;
        chunk->stride = 4;
        chunk->size = frames * 4;
    }
    pw_stream_queue_buffer(side.stream, buffer);
}

namespace {

void onProcess(void* data)
{
    auto& side = *static_cast<PipeWireIOUnit::Side*>(data);
    side.unit->process(side);
}

const pw_stream_events streamEvents = [] {
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.state_changed = onStateChanged;
    e.param_changed = onParamChanged;
    e.process = onProcess;
    return e;
}();

// Thread loop: the data thread saw its first cycle or a graph rate apart from the client's.
void onNoticeEvent(void* data, std::uint64_t /*count*/)
{
    auto& side = *static_cast<PipeWireIOUnit::Side*>(data);
    if (side.rateMismatch.load() && !side.mismatchReported) {
        side.mismatchReported = true;
        side.unit->reportStoppedAbnormally(side);
    }
    pw_thread_loop_signal(side.unit->hardwareLoop(), false);
}

} // namespace

void PipeWireIOUnit::process(Side& side)
{
    if (side.isInput) {
        processInput(side);
    } else {
        processOutput(side);
    }
}

void PipeWireIOUnit::reportStoppedAbnormally(const Side& side)
{
    hardware_.notify(side.target.device,
                     PropertyAddress{HardwareProperty::ioStoppedAbnormally, Scope::global, 0});
}

pw_thread_loop* PipeWireIOUnit::hardwareLoop() const
{
    return hardware_.threadLoop();
}

// ----- configuration ----------------------------------------------------------------------------

PipeWireIOUnit::PipeWireIOUnit(PipeWireHardware& hardware)
    : IOUnitBase(true), hardware_(hardware) // the streams are negotiated at initialize
{}

PipeWireIOUnit::~PipeWireIOUnit()
{
    if (!disposed_) {
        finish();
    }
}

bool PipeWireIOUnit::bindDevice(ObjectId device)
{
    std::string uid;
    return hardware_.deviceUID(device, uid) == 0;
}

double PipeWireIOUnit::sideRate(Scope side) const
{
    ObjectId device = device_;
    if (device == unknownObject && side == Scope::output) {
        hardware_.defaultOutputDevice(device);
    }
    double rate = 0.0;
    if (device == unknownObject || hardware_.nominalSampleRate(device, rate) != 0) {
        return 0.0;
    }
    return rate;
}

std::int32_t PipeWireIOUnit::streamFormat(Scope scope, std::uint32_t element, StreamFormat& format)
{
    if (disposed_) {
        return status::illegalOperation;
    }
    const bool inputClient = scope == Scope::output && element == inputElement;
    const bool outputClient = scope == Scope::input && element == outputElement;
    const bool inputHardware = scope == Scope::input && element == inputElement;
    const bool outputHardware = scope == Scope::output && element == outputElement;
    if (inputClient || outputClient) {
        const Scope sideScope = inputClient ? Scope::input : Scope::output;
        const auto& client = inputClient ? inputClient_ : outputClient_;
        format = client ? *client : StreamFormat::float32Planar(sideRate(sideScope), 2);
        const Side* side = inputClient ? input_.get() : output_.get();
        if (initialized_ && side != nullptr) {
            ThreadLoopLock lock(hardware_.threadLoop());
            // What the server agreed to, so that a caller can verify it: the rate it
            // negotiated, and for the input the rate the graph was found running at.
            if (side->formatKnown) {
                format.sampleRate = side->negotiatedRate;
                if (side->negotiatedFormat != streamSampleFormat(side->integerSamples)) {
                    format.formatFlags |= formatFlagIsBigEndian; // not a format we asked for
                }
            }
            const auto graphRate = side->graphRate.load();
            if (side->isInput && side->integerSamples && graphRate != 0 &&
                graphRate != side->clientRate) {
                format.sampleRate = graphRate;
            }
        }
        return 0;
    }
    if (inputHardware || outputHardware) {
        const Scope sideScope = inputHardware ? Scope::input : Scope::output;
        ObjectId device = device_;
        if (device == unknownObject && outputHardware) {
            hardware_.defaultOutputDevice(device);
        }
        const auto target = hardware_.target(device, sideScope);
        if (!target) {
            format = {};
            return 0;
        }
        // The device side runs at the device's own rate and carries the graph's float samples.
        format = StreamFormat::float32Planar(target->rate, target->channels);
        return 0;
    }
    return status::invalidElement;
}

// ----- life cycle -------------------------------------------------------------------------------

std::int32_t PipeWireIOUnit::refuseSide(const Side& side, const std::string& why,
                                        std::int32_t failure)
{
    qCWarning(audioLog).nospace() << "PipeWire " << (side.isInput ? "capture" : "playback")
                                  << " stream on " << side.target.nodeName.c_str()
                                  << " could not start: " << why.c_str();
    return failure;
}

std::int32_t PipeWireIOUnit::connectSide(Side& side)
{
    const auto& t = side.target;
    const std::string serial = std::to_string(t.serial);
    const std::string rate = "1/" + std::to_string(static_cast<long>(side.clientRate));
    pw_properties* props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, side.isInput ? "Capture" : "Playback",
        PW_KEY_MEDIA_ROLE, "Production", PW_KEY_NODE_NAME,
        side.isInput ? "brevalo-capture" : "brevalo-playback", PW_KEY_TARGET_OBJECT, serial.c_str(),
        PW_KEY_NODE_DONT_RECONNECT, "true", PW_KEY_STREAM_DONT_REMIX, "true", PW_KEY_NODE_RATE,
        rate.c_str(), "state.restore-props", "false", "state.restore-target", "false", nullptr);
    // Bit-exact capture switches the graph to the device's rate while the stream runs, also on
    // a server whose allowed rates leave it out; the rate checks still refuse a graph that
    // does not follow.
    if (side.isInput && side.integerSamples) {
        pw_properties_set(props, PW_KEY_NODE_FORCE_RATE, rate.substr(2).c_str());
    }
    ThreadLoopLock lock(hardware_.threadLoop());
    if (hardware_.core() == nullptr) {
        pw_properties_free(props);
        return status::deviceUnavailable; // the server went away
    }
    side.stream =
        pw_stream_new(hardware_.core(), side.isInput ? "Brevalo input" : "Brevalo output", props);
    if (side.stream == nullptr) {
        return refuseSide(side, std::strerror(errno), status::memoryFull);
    }
    pw_stream_add_listener(side.stream, &side.listener, &streamEvents, &side);
    side.noticeEvent =
        pw_loop_add_event(pw_thread_loop_get_loop(hardware_.threadLoop()), onNoticeEvent, &side);

    spa_audio_info_raw info{};
    info.format = static_cast<spa_audio_format>(streamSampleFormat(side.integerSamples));
    info.rate = static_cast<std::uint32_t>(side.clientRate);
    info.channels = t.channels;
    for (std::uint32_t c = 0; c < t.channels && c < SPA_AUDIO_MAX_CHANNELS; ++c) {
        info.position[c] = t.positions[c];
    }
    std::array<std::uint8_t, 1024> podBuffer{};
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, podBuffer.data(), static_cast<std::uint32_t>(podBuffer.size()));
    const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
    const auto flags = static_cast<pw_stream_flags>(
        PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
    if (const int res =
            pw_stream_connect(side.stream, side.isInput ? PW_DIRECTION_INPUT : PW_DIRECTION_OUTPUT,
                              PW_ID_ANY, flags, params, 1);
        res < 0) {
        return refuseSide(side, spa_strerror(res), status::deviceUnavailable);
    }
    // The session manager links the stream to its target, then the format is agreed.
    timespec deadline{};
    pw_thread_loop_get_time(hardware_.threadLoop(), &deadline,
                            negotiationTimeout.count() *
                                static_cast<std::int64_t>(SPA_NSEC_PER_MSEC));
    while (!side.failed && !(side.formatKnown && (side.state == PW_STREAM_STATE_PAUSED ||
                                                  side.state == PW_STREAM_STATE_STREAMING))) {
        if (pw_thread_loop_timed_wait_full(hardware_.threadLoop(), &deadline) != 0) {
            return refuseSide(side,
                              "no link and format within " +
                                  std::to_string(negotiationTimeout.count()) + " ms",
                              status::deviceUnavailable);
        }
    }
    if (side.failed) {
        return refuseSide(side, side.error.empty() ? "disconnected" : side.error,
                          status::deviceUnavailable);
    }
    // The stream runs from here on (its blocks are dropped until start), so the first cycle
    // tells the rate the graph really runs at before a caller verifies the format.
    if (side.isInput) {
        pw_thread_loop_get_time(hardware_.threadLoop(), &deadline,
                                firstCycleTimeout.count() *
                                    static_cast<std::int64_t>(SPA_NSEC_PER_MSEC));
        while (side.graphRate.load() == 0 && !side.failed) {
            if (pw_thread_loop_timed_wait_full(hardware_.threadLoop(), &deadline) != 0) {
                break; // not an error: the check on every block still holds
            }
        }
    }
    return side.failed ? status::deviceUnavailable : 0;
}

void PipeWireIOUnit::destroySide(std::unique_ptr<Side>& side)
{
    if (!side) {
        return;
    }
    {
        ThreadLoopLock lock(hardware_.threadLoop());
        if (side->stream != nullptr) {
            spa_hook_remove(&side->listener);
            // With RT_PROCESS this waits until the data thread has left the stream.
            pw_stream_destroy(side->stream);
            side->stream = nullptr;
        }
        if (side->noticeEvent != nullptr) {
            pw_loop_destroy_source(pw_thread_loop_get_loop(hardware_.threadLoop()),
                                   side->noticeEvent);
            side->noticeEvent = nullptr;
        }
    }
    side.reset();
}

std::int32_t PipeWireIOUnit::initializeBackend()
{
    if (device_ == unknownObject && outputEnabled_) {
        hardware_.defaultOutputDevice(device_);
    }
    if (device_ == unknownObject) {
        return status::deviceUnavailable;
    }
    const auto makeSide = [&](bool isInput, std::unique_ptr<Side>& out) -> std::int32_t {
        const auto target = hardware_.target(device_, isInput ? Scope::input : Scope::output);
        if (!target) {
            std::string uid;
            // A device without this side cannot do it; a device that is gone is unavailable.
            return hardware_.deviceUID(device_, uid) == 0 ? status::unsupportedFormat
                                                          : status::deviceUnavailable;
        }
        if (!target->alive || target->channels == 0) {
            return status::deviceUnavailable;
        }
        const auto& client = isInput ? inputClient_ : outputClient_;
        if (client && client->sampleRate != target->rate) {
            return status::unsupportedFormat;
        }
        auto side = std::make_unique<Side>();
        side->unit = this;
        side->isInput = isInput;
        side->target = *target;
        side->clientRate = target->rate;
        side->integerSamples = isInput && client && !client->isFloat();
        if (!isInput) {
            defaultOutputClient_ = StreamFormat::float32Planar(target->rate, 2);
            const auto clientChannels = client ? client->channelsPerFrame : 2;
            try {
                side->scratch.assign(std::size_t{clientChannels} * maximumFrames_, 0.0f);
            } catch (const std::bad_alloc&) {
                return status::memoryFull;
            }
        }
        out = std::move(side);
        return connectSide(*out);
    };
    std::int32_t s = 0;
    if (inputEnabled_) {
        s = makeSide(true, input_);
    }
    if (s == 0 && outputEnabled_) {
        s = makeSide(false, output_);
    }
    if (s != 0) {
        uninitializeBackend();
    }
    return s;
}

void PipeWireIOUnit::uninitializeBackend()
{
    destroySide(input_);
    destroySide(output_);
}

std::int32_t PipeWireIOUnit::startBackend()
{
    for (Side* side : {input_.get(), output_.get()}) {
        if (side == nullptr) {
            continue;
        }
        ThreadLoopLock lock(hardware_.threadLoop());
        if (side->failed) {
            return status::deviceUnavailable;
        }
    }
    for (Side* side : {input_.get(), output_.get()}) {
        if (side != nullptr) {
            side->running.store(true);
        }
    }
    return 0;
}

void PipeWireIOUnit::stopBackend()
{
    for (Side* side : {input_.get(), output_.get()}) {
        if (side == nullptr) {
            continue;
        }
        side->running.store(false);
        // A process callback that saw running before the store finishes its block; it takes
        // one graph cycle at most.
        while (side->busy.load() != 0) {
            std::this_thread::yield();
        }
    }
}

// ----- realtime ---------------------------------------------------------------------------------

std::int32_t PipeWireIOUnit::render(RenderActionFlags& /*flags*/, const AudioTimeStamp& /*time*/,
                                    std::uint32_t bus, std::uint32_t frames,
                                    AudioBufferList& buffers)
{
    if (disposed_ || !initialized_) {
        return status::uninitialized;
    }
    if (bus != inputElement || !inputEnabled_ || !input_) {
        return status::invalidElement;
    }
    Side& side = *input_;
    // Only inside this unit's input callback: another thread must not even read the block.
    if (side.callbackThread.load(std::memory_order_relaxed) != std::this_thread::get_id() ||
        side.blockFrames == 0) {
        return status::illegalOperation;
    }
    if (frames > side.blockFrames || frames > maximumFrames_) {
        return status::tooManyFramesToProcess;
    }
    // Converted samples are never handed out: the graph must run at the device's rate.
    if (side.rateMismatch.load(std::memory_order_relaxed)) {
        return status::unsupportedFormat;
    }
    const std::uint32_t clientChannels = inputClient_ ? inputClient_->channelsPerFrame : 2;
    const bool clientInteger = inputClient_ && !inputClient_->isFloat();
    if (clientInteger != side.integerSamples) {
        return status::unsupportedFormat;
    }
    const auto deviceChannels = static_cast<std::int32_t>(
        std::min<std::uint32_t>(side.target.channels, SPA_AUDIO_MAX_CHANNELS));
    return fillClientChannels(
        buffers, clientChannels, frames, deviceChannels, [&](void* data, std::int32_t source) {
            std::memcpy(data, side.blockData[static_cast<std::size_t>(source)],
                        std::size_t{frames} * 4);
        });
}

} // namespace brevalo
