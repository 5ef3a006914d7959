#pragma once

// The PipeWire backend of the audio layer: the hardware model from the server's registry, device
// I/O units on pw_stream, the varispeed every backend shares, and a capture permission that the
// Linux desktop always grants (PipeWire has no per-application recording consent outside
// sandboxes).
//
//     auto system = PipeWireAudioSystem::connect(std::chrono::milliseconds(1500));
//     if (!system) { ... no server reachable ... }

#include "platform/audio/audio_system.h"
#include "platform/audio/pipewire/pipewire_hardware.h"

#include <chrono>
#include <memory>
#include <string>

namespace brevalo {

class PipeWireAudioSystem final : public AudioSystem
{
public:
    // Null when no server answers within timeout; failure then says why.
    static std::unique_ptr<PipeWireAudioSystem> connect(std::chrono::milliseconds timeout,
                                                        std::string* failure = nullptr);
    ~PipeWireAudioSystem() override;

    AudioHardware& hardware() override;
    AudioCapturePermission& capturePermission() override;
    bool findComponent(UnitKind kind) override;
    std::int32_t createIOUnit(std::unique_ptr<IOUnit>& unit) override;
    std::int32_t createVarispeedUnit(std::unique_ptr<VarispeedUnit>& unit) override;
    std::string backendName() const override { return "pipewire"; }

    PipeWireHardware& pipeWireHardware() { return *hardware_; }

private:
    class Permission;
    explicit PipeWireAudioSystem(std::unique_ptr<PipeWireHardware> hardware);

    std::unique_ptr<PipeWireHardware> hardware_;
    std::unique_ptr<Permission> permission_;
};

} // namespace brevalo
