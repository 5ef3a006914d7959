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
    switch (backend) {
    case AudioBackend::pipeWire:
        return PipeWireAudioSystem::connect(serverTimeout);
    case AudioBackend::automatic:
        if (auto system = PipeWireAudioSystem::connect(serverTimeout)) {
            return system;
        }
        [[fallthrough]];
    case AudioBackend::simulatedDemo: {
        auto sim = std::make_unique<SimulatedAudioSystem>(SimTimeMode::realTime);
        addDemoDevices(*sim);
        return sim;
    }
    }
    return nullptr;
}

} // namespace brevalo
