#pragma once

#include "platform/audio/simulated/simulated_audio_system.h"

namespace brevalo {

// The demo devices the application shows when no audio server is reachable: "Virtual
// Turntable" (2 channels, 96 kHz, 24-bit integer) playing a synthesized album side in a loop,
// and "Virtual Output", the default output.
void addDemoDevices(SimulatedAudioSystem& sim);

} // namespace brevalo
