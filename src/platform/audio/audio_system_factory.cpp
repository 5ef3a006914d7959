#include "platform/audio/audio_log.h"
#include "platform/audio/audio_system.h"
#include "platform/audio/pipewire/pipewire_audio_system.h"
#include "platform/audio/simulated/simulated_demo_devices.h"

#include <chrono>

namespace brevalo {

namespace {

// A local server answers its first round trips in milliseconds; a server that takes longer is
// treated as absent rather than holding up start-up.
constexpr std::chrono::milliseconds serverTimeout{1500};

} // namespace

std::unique_ptr<AudioSystem> createAudioSystem(AudioBackend backend)
{
    std::string failure;
    switch (backend) {
    case AudioBackend::pipeWire:
        if (auto system = PipeWireAudioSystem::connect(serverTimeout, &failure)) {
            qCInfo(audioLog) << "Audio backend: PipeWire (requested)";
            return system;
        }
        qCWarning(audioLog).nospace()
            << "Audio backend: none; PipeWire was requested but " << failure.c_str();
        return nullptr;
    case AudioBackend::automatic:
        if (auto system = PipeWireAudioSystem::connect(serverTimeout, &failure)) {
            qCInfo(audioLog) << "Audio backend: PipeWire";
            return system;
        }
        qCInfo(audioLog).nospace()
            << "Audio backend: simulated demo devices, because " << failure.c_str();
        break;
    case AudioBackend::simulatedDemo:
        qCInfo(audioLog) << "Audio backend: simulated demo devices (requested)";
        break;
    }
    auto sim = std::make_unique<SimulatedAudioSystem>(SimTimeMode::realTime);
    addDemoDevices(*sim);
    return sim;
}

} // namespace brevalo
