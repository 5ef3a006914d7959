#include "platform/audio/pipewire/pipewire_audio_system.h"

#include "platform/audio/pipewire/pipewire_io_unit.h"
#include "platform/audio/samplerate_varispeed.h"

namespace brevalo {

class PipeWireAudioSystem::Permission final : public AudioCapturePermission
{
public:
    explicit Permission(PipeWireHardware& hardware) : hardware_(hardware) {}

    AudioCaptureAuthorization authorizationStatus() override
    {
        return AudioCaptureAuthorization::authorized;
    }

    void requestAccess(std::function<void(bool granted)> completion) override
    {
        // Answered on the notification thread, never inside this call.
        hardware_.notifier().post([completion = std::move(completion)] { completion(true); });
    }

private:
    PipeWireHardware& hardware_;
};

std::unique_ptr<PipeWireAudioSystem> PipeWireAudioSystem::connect(std::chrono::milliseconds timeout,
                                                                  std::string* failure)
{
    auto hardware = PipeWireHardware::connect(timeout, failure);
    if (!hardware) {
        return nullptr;
    }
    return std::unique_ptr<PipeWireAudioSystem>(new PipeWireAudioSystem(std::move(hardware)));
}

PipeWireAudioSystem::PipeWireAudioSystem(std::unique_ptr<PipeWireHardware> hardware)
    : hardware_(std::move(hardware)), permission_(std::make_unique<Permission>(*hardware_))
{}

PipeWireAudioSystem::~PipeWireAudioSystem() = default;

AudioHardware& PipeWireAudioSystem::hardware()
{
    return *hardware_;
}

AudioCapturePermission& PipeWireAudioSystem::capturePermission()
{
    return *permission_;
}

bool PipeWireAudioSystem::findComponent(UnitKind kind)
{
    return kind == UnitKind::io || kind == UnitKind::varispeed;
}

std::int32_t PipeWireAudioSystem::createIOUnit(std::unique_ptr<IOUnit>& unit)
{
    unit = std::make_unique<PipeWireIOUnit>(*hardware_);
    return 0;
}

std::int32_t PipeWireAudioSystem::createVarispeedUnit(std::unique_ptr<VarispeedUnit>& unit)
{
    unit = std::make_unique<SamplerateVarispeed>();
    return 0;
}

} // namespace brevalo
