#pragma once

// What every backend's device I/O unit does the same way: the life-cycle flags and their
// refusals, the configuration setters, the client-format rule and the channel maps. A backend
// supplies only what is its own through the protected hooks: binding a device, the device's
// rate, and what initialize, start, stop and uninitialize do to its streams.
//
// Life cycle: configuration is refused (status::illegalOperation) while started and after
// dispose; initialize and start are idempotent; stop and uninitialize are safe at any time
// before dispose. A derived destructor calls finish() when the unit was not disposed (the base
// cannot: the backend's part is gone by then).

#include "platform/audio/channel_maps.h"
#include "platform/audio/io_unit.h"

#include <cstring>
#include <optional>

namespace brevalo {

class IOUnitBase : public IOUnit
{
public:
    std::int32_t setEnableIO(Scope scope, std::uint32_t element, bool enable) override;
    std::int32_t setCurrentDevice(ObjectId device) override;
    std::int32_t currentDevice(ObjectId& device) override;
    std::int32_t setChannelMap(Scope scope, std::uint32_t element,
                               std::span<const std::int32_t> map) override;
    std::int32_t setInputCallback(RenderCallback callback) override;
    std::int32_t setMaximumFramesPerSlice(std::uint32_t frames) override;
    std::int32_t maximumFramesPerSlice(std::uint32_t& frames) override;
    std::int32_t setStreamFormat(Scope scope, std::uint32_t element,
                                 const StreamFormat& format) override;
    std::int32_t setRenderCallback(Scope scope, std::uint32_t element,
                                   RenderCallback callback) override;
    std::int32_t initialize() override;
    std::int32_t uninitialize() override;
    std::int32_t start() override;
    std::int32_t stop() override;
    std::int32_t dispose() override;

    // 32-bit float or signed integer, native-endian, non-interleaved, 1 to
    // AudioBufferList::capacity channels, at a finite positive rate.
    static bool isClientFormat(const StreamFormat& format);

protected:
    // True when the backend fixes the enabled sides, the device and the client formats at
    // initialize (its streams are negotiated for them), so that changing them is refused until
    // uninitialize.
    explicit IOUnitBase(bool fixedOnceInitialized) : fixedOnceInitialized_(fixedOnceInitialized) {}

    // Main thread. Whether the device exists; the backend may remember what it needs of it.
    virtual bool bindDevice(ObjectId device) = 0;
    // The current device's nominal rate; 0 when unknown.
    virtual double deviceRate() const = 0;
    // Checks the configuration and allocates or connects what the realtime path needs.
    virtual std::int32_t initializeBackend() = 0;
    // Lets the callbacks run; 0 or why they cannot.
    virtual std::int32_t startBackend() = 0;
    // Returns once no callback of this unit is running or will run.
    virtual void stopBackend() = 0;
    // Releases what initializeBackend took. Called stopped.
    virtual void uninitializeBackend() {}

    // Stops, uninitializes and marks the unit disposed.
    void finish();

    std::int32_t requireStopped() const
    {
        return disposed_ || started_ ? status::illegalOperation : 0;
    }
    std::int32_t requireReconfigurable() const;

    // The end of render, alike in every backend: each of the client's clientChannels planar
    // 32-bit buffers is labelled, then filled by copy(data, deviceChannel) when the input map
    // sends it to a device channel below deviceChannels, or with silence. paramError for too few
    // or missing buffers. Realtime: allocates nothing as long as copy does not.
    template <typename Copy>
    std::int32_t fillClientChannels(AudioBufferList& buffers, std::uint32_t clientChannels,
                                    std::uint32_t frames, std::int32_t deviceChannels,
                                    Copy&& copy) const
    {
        if (buffers.numberBuffers < clientChannels) {
            return status::paramError;
        }
        for (std::uint32_t c = 0; c < clientChannels; ++c) {
            auto& buffer = buffers.buffers[c];
            if (buffer.data == nullptr) {
                return status::paramError;
            }
            const std::int32_t source = maps_.inputChannel(c);
            buffer.numberChannels = 1;
            buffer.dataByteSize = frames * 4;
            if (source < 0 || source >= deviceChannels) {
                std::memset(buffer.data, 0, std::size_t{frames} * 4);
            } else {
                copy(buffer.data, source);
            }
        }
        return 0;
    }

    bool inputEnabled_ = false;
    bool outputEnabled_ = true;
    ObjectId device_ = unknownObject;
    std::uint32_t maximumFrames_ = 4096;
    ChannelMaps maps_;
    std::optional<StreamFormat> inputClient_;
    std::optional<StreamFormat> outputClient_;
    RenderCallback inputCallback_;
    RenderCallback renderCallback_;
    bool initialized_ = false;
    bool started_ = false;
    bool disposed_ = false;

private:
    void halt();

    const bool fixedOnceInitialized_;
};

} // namespace brevalo
