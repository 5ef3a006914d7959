#include "platform/audio/simulated/simulated_demo_devices.h"

namespace brevalo {

void addDemoDevices(SimulatedAudioSystem& sim)
{
    SimDevice turntable =
        SimDevice::input("brevalo.sim.virtual-turntable", "Virtual Turntable", 2, 96000.0, 24);
    turntable.inputChannelNames = {"Left", "Right"};
    turntable.preferredInputStereo = std::array<std::uint32_t, 2>{1, 2};
    turntable.bufferFrameSize = 512;
    const ObjectId input = sim.addDevice(std::move(turntable));
    sim.setInputSignal(input, 0, SimSignal::albumSide());
    sim.setInputSignal(input, 1, SimSignal::albumSide());

    SimDevice output =
        SimDevice::output("brevalo.sim.virtual-output", "Virtual Output", 2, 48000.0);
    output.outputChannelNames = {"Left", "Right"};
    output.clockPPM = 35.0; // a little drift, so that rate compensation has work to do
    const ObjectId out = sim.addDevice(std::move(output));
    sim.setDefaultOutputDevice(out);
}

} // namespace brevalo
