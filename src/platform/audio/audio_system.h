#pragma once

// The backend of the audio layer. The monitoring engine, the recorder, the review player and
// the device catalog take an AudioSystem by reference and never learn which backend runs.
// The system must outlive every unit it created.

#include "platform/audio/audio_capture_permission.h"
#include "platform/audio/audio_hardware.h"
#include "platform/audio/io_unit.h"
#include "platform/audio/varispeed_unit.h"

#include <cstdint>
#include <memory>
#include <string>

namespace brevalo {

class AudioSystem
{
public:
    virtual ~AudioSystem() = default;

    virtual AudioHardware& hardware() = 0;
    virtual AudioCapturePermission& capturePermission() = 0;

    // Whether the backend offers that kind of unit.
    virtual bool findComponent(UnitKind kind) = 0;
    // 0 and a unit, or a status and no unit.
    virtual std::int32_t createIOUnit(std::unique_ptr<IOUnit>& unit) = 0;
    virtual std::int32_t createVarispeedUnit(std::unique_ptr<VarispeedUnit>& unit) = 0;

    // "simulated", "pipewire": for diagnostics only.
    virtual std::string backendName() const = 0;
};

enum class AudioBackend
{
    automatic, // the audio server when one is reachable, else the simulated demo devices
    pipeWire,
    simulatedDemo,
};

// Null only when the requested backend cannot run here.
std::unique_ptr<AudioSystem> createAudioSystem(AudioBackend backend = AudioBackend::automatic);

} // namespace brevalo
