#include "platform/audio/io_unit_base.h"

#include <cmath>

namespace brevalo {

bool IOUnitBase::isClientFormat(const StreamFormat& f)
{
    const bool planar32 = f.isLinearPCM() && f.isNonInterleaved() && f.bitsPerChannel == 32 &&
                          f.bytesPerFrame == 4 && f.bytesPerPacket == 4 && f.framesPerPacket == 1 &&
                          f.channelsPerFrame >= 1 &&
                          f.channelsPerFrame <= AudioBufferList::capacity;
    const std::uint32_t kind =
        f.formatFlags & (formatFlagIsFloat | formatFlagIsSignedInteger | formatFlagIsBigEndian);
    return planar32 && (kind == formatFlagIsFloat || kind == formatFlagIsSignedInteger) &&
           std::isfinite(f.sampleRate) && f.sampleRate > 0.0;
}

std::int32_t IOUnitBase::requireReconfigurable() const
{
    if (const auto s = requireStopped()) {
        return s;
    }
    return fixedOnceInitialized_ && initialized_ ? status::illegalOperation : 0;
}

// ----- configuration ----------------------------------------------------------------------------

std::int32_t IOUnitBase::setEnableIO(Scope scope, std::uint32_t element, bool enable)
{
    if (const auto s = requireReconfigurable()) {
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

std::int32_t IOUnitBase::setCurrentDevice(ObjectId device)
{
    if (const auto s = requireReconfigurable()) {
        return s;
    }
    if (!bindDevice(device)) {
        return status::badObject;
    }
    device_ = device;
    return 0;
}

std::int32_t IOUnitBase::currentDevice(ObjectId& device)
{
    if (disposed_) {
        return status::illegalOperation;
    }
    device = device_;
    return 0;
}

std::int32_t IOUnitBase::setMaximumFramesPerSlice(std::uint32_t frames)
{
    if (disposed_ || initialized_) {
        return status::illegalOperation; // the buffers are sized at initialize
    }
    if (!isValidSliceSize(frames)) {
        return status::paramError;
    }
    maximumFrames_ = frames;
    return 0;
}

std::int32_t IOUnitBase::maximumFramesPerSlice(std::uint32_t& frames)
{
    if (disposed_) {
        return status::illegalOperation;
    }
    frames = maximumFrames_;
    return 0;
}

std::int32_t IOUnitBase::setChannelMap(Scope scope, std::uint32_t element,
                                       std::span<const std::int32_t> map)
{
    if (const auto s = requireStopped()) {
        return s;
    }
    return maps_.set(scope, element, map);
}

std::int32_t IOUnitBase::setStreamFormat(Scope scope, std::uint32_t element,
                                         const StreamFormat& format)
{
    if (const auto s = requireStopped()) {
        return s;
    }
    const bool inputClient = scope == Scope::output && element == inputElement;
    const bool outputClient = scope == Scope::input && element == outputElement;
    if (!inputClient && !outputClient) {
        return status::illegalOperation; // the hardware side follows the device
    }
    if (!isClientFormat(format)) {
        return status::formatNotSupported;
    }
    if (const auto s = requireReconfigurable()) {
        return s;
    }
    // Never resampled: a client rate apart from a known device's is refused now, one set before
    // the device is known at initialize.
    if (device_ != unknownObject && format.sampleRate != deviceRate()) {
        return status::unsupportedFormat;
    }
    (inputClient ? inputClient_ : outputClient_) = format;
    return 0;
}

std::int32_t IOUnitBase::setInputCallback(RenderCallback callback)
{
    if (const auto s = requireStopped()) {
        return s;
    }
    inputCallback_ = callback;
    return 0;
}

std::int32_t IOUnitBase::setRenderCallback(Scope scope, std::uint32_t element,
                                           RenderCallback callback)
{
    if (const auto s = requireStopped()) {
        return s;
    }
    if (scope != Scope::input || element != outputElement) {
        return status::invalidScope;
    }
    renderCallback_ = callback;
    return 0;
}

// ----- life cycle -------------------------------------------------------------------------------

std::int32_t IOUnitBase::initialize()
{
    if (disposed_) {
        return status::illegalOperation;
    }
    if (initialized_) {
        return 0;
    }
    if (const auto s = initializeBackend()) {
        return s;
    }
    initialized_ = true;
    return 0;
}

std::int32_t IOUnitBase::uninitialize()
{
    if (disposed_) {
        return status::illegalOperation;
    }
    halt();
    uninitializeBackend();
    initialized_ = false;
    return 0;
}

std::int32_t IOUnitBase::start()
{
    if (disposed_) {
        return status::illegalOperation;
    }
    if (!initialized_) {
        return status::uninitialized;
    }
    if (started_) {
        return 0;
    }
    if (const auto s = startBackend()) {
        return s;
    }
    started_ = true;
    return 0;
}

std::int32_t IOUnitBase::stop()
{
    if (disposed_) {
        return status::illegalOperation;
    }
    halt();
    return 0;
}

std::int32_t IOUnitBase::dispose()
{
    if (disposed_) {
        return status::illegalOperation;
    }
    finish();
    return 0;
}

void IOUnitBase::halt()
{
    if (started_) {
        stopBackend();
        started_ = false;
    }
}

void IOUnitBase::finish()
{
    halt();
    uninitializeBackend();
    initialized_ = false;
    disposed_ = true;
}

} // namespace brevalo
