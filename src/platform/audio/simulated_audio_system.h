#pragma once

// The simulated backend lives in platform/audio/simulated/; this name stays for callers that
// have not moved to the new path yet.

#include "platform/audio/simulated/simulated_audio_system.h"
