// Interface stub: replaced by the simulation.
#include "platform/audio/simulated_audio_system.h"

namespace brevalo {

struct SimulatedAudioSystem::State
{};

SimDevice SimDevice::input(std::string uid, std::string name, std::uint32_t channels, double rate,
                           std::uint32_t bits)
{
    SimDevice d;
    d.uid = std::move(uid);
    d.name = std::move(name);
    d.nominalSampleRate = rate;
    d.inputStreams.push_back(SimStream{channels, bits, false, formatLinearPCM, 0.0});
    return d;
}

SimDevice SimDevice::output(std::string uid, std::string name, std::uint32_t channels, double rate)
{
    SimDevice d;
    d.uid = std::move(uid);
    d.name = std::move(name);
    d.nominalSampleRate = rate;
    d.outputStreams.push_back(SimStream{channels, 32, true, formatLinearPCM, 0.0});
    return d;
}

const char* audioOperationName(AudioOperation)
{
    return "";
}
std::int32_t simCountingCode(std::uint64_t, std::uint32_t, std::uint32_t)
{
    return 0;
}

SimulatedAudioSystem::SimulatedAudioSystem(SimTimeMode) : state_(std::make_shared<State>()) {}
SimulatedAudioSystem::~SimulatedAudioSystem() = default;
AudioHardware& SimulatedAudioSystem::hardware()
{
    std::abort();
}
AudioCapturePermission& SimulatedAudioSystem::capturePermission()
{
    std::abort();
}
bool SimulatedAudioSystem::findComponent(UnitKind)
{
    return false;
}
std::int32_t SimulatedAudioSystem::createIOUnit(std::unique_ptr<IOUnit>&)
{
    return status::unimplemented;
}
std::int32_t SimulatedAudioSystem::createVarispeedUnit(std::unique_ptr<VarispeedUnit>&)
{
    return status::unimplemented;
}
ObjectId SimulatedAudioSystem::addDevice(SimDevice)
{
    return 0;
}
std::vector<ObjectId> SimulatedAudioSystem::addDevicesFromJSON(const std::string&)
{
    return {};
}
bool SimulatedAudioSystem::removeDevice(ObjectId)
{
    return false;
}
bool SimulatedAudioSystem::setDefaultOutputDevice(ObjectId)
{
    return false;
}
bool SimulatedAudioSystem::setAlive(ObjectId, bool)
{
    return false;
}
bool SimulatedAudioSystem::setNominalSampleRate(ObjectId, double)
{
    return false;
}
bool SimulatedAudioSystem::setClockPPM(ObjectId, double)
{
    return false;
}
bool SimulatedAudioSystem::setBufferFrameSize(ObjectId, std::uint32_t)
{
    return false;
}
bool SimulatedAudioSystem::setStreams(ObjectId, Scope, std::vector<SimStream>)
{
    return false;
}
bool SimulatedAudioSystem::setPhysicalFormat(ObjectId, SimStream)
{
    return false;
}
bool SimulatedAudioSystem::notifyDeviceHasChanged(ObjectId)
{
    return false;
}
bool SimulatedAudioSystem::notifyIOStoppedAbnormally(ObjectId)
{
    return false;
}
std::optional<SimDevice> SimulatedAudioSystem::device(ObjectId) const
{
    return {};
}
std::vector<ObjectId> SimulatedAudioSystem::streamIDs(ObjectId, Scope) const
{
    return {};
}
bool SimulatedAudioSystem::setInputSignal(ObjectId, std::uint32_t, SimSignal)
{
    return false;
}
void SimulatedAudioSystem::captureOutput(ObjectId, std::uint64_t) {}
SimOutputCapture SimulatedAudioSystem::outputCapture(ObjectId) const
{
    return {};
}
void SimulatedAudioSystem::injectFault(FaultRule) {}
void SimulatedAudioSystem::failNext(AudioOperation, std::int32_t) {}
void SimulatedAudioSystem::clearFaults() {}
std::uint64_t SimulatedAudioSystem::callCount(AudioOperation) const
{
    return 0;
}
SimTimeMode SimulatedAudioSystem::timeMode() const
{
    return SimTimeMode::manual;
}
void SimulatedAudioSystem::advance(std::chrono::nanoseconds) {}
void SimulatedAudioSystem::advanceSeconds(double) {}
std::chrono::nanoseconds SimulatedAudioSystem::now() const
{
    return {};
}
std::uint64_t SimulatedAudioSystem::blockCount(ObjectId) const
{
    return 0;
}
void SimulatedAudioSystem::drainNotifications() {}
std::thread::id SimulatedAudioSystem::notificationThreadID() const
{
    return {};
}
void SimulatedAudioSystem::setAuthorization(AudioCaptureAuthorization) {}
void SimulatedAudioSystem::setPermissionAnswer(std::optional<bool>) {}
bool SimulatedAudioSystem::answerPermissionRequest(bool)
{
    return false;
}
std::uint32_t SimulatedAudioSystem::permissionRequestCount() const
{
    return 0;
}
void addDemoDevices(SimulatedAudioSystem&) {}

} // namespace brevalo
