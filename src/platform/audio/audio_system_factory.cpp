#include "platform/audio/audio_system.h"
#include "platform/audio/simulated_audio_system.h"

namespace brevalo {

std::unique_ptr<AudioSystem> createAudioSystem(AudioBackend backend)
{
    switch (backend) {
    case AudioBackend::pipeWire:
        // The audio-server backend is not part of this build yet.
        return nullptr;
    case AudioBackend::automatic:
    case AudioBackend::simulatedDemo: {
        auto sim = std::make_unique<SimulatedAudioSystem>(SimTimeMode::realTime);
        addDemoDevices(*sim);
        return sim;
    }
    }
    return nullptr;
}

} // namespace brevalo
