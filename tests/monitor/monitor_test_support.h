#pragma once

// A simulated route for the engine tests: one stereo input device and the
// default output, in manual time, and the configuration the controller would
// build for them.

#include "monitor/monitoring_engine.h"
#include "platform/audio/simulated/simulated_audio_system.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

namespace brevalo::test {

struct RouteOptions
{
    double inputRate = 48000.0;
    double outputRate = 48000.0;
    double inputPPM = 0.0;
    std::uint32_t inputBuffer = 512;
    std::uint32_t outputBuffer = 512;
};

struct SimulatedRoute
{
    explicit SimulatedRoute(RouteOptions options = {}, SimTimeMode mode = SimTimeMode::manual)
        : sim(mode)
    {
        SimDevice in = SimDevice::input("in-uid", "Interface", 2, options.inputRate, 24);
        in.clockPPM = options.inputPPM;
        in.bufferFrameSize = options.inputBuffer;
        input = sim.addDevice(in);
        SimDevice out = SimDevice::output("out-uid", "Speakers", 2, options.outputRate);
        out.bufferFrameSize = options.outputBuffer;
        output = sim.addDevice(out);
        sim.setDefaultOutputDevice(output);

        configuration.inputDeviceID = input;
        configuration.channelPair = {0, 1, QStringLiteral("Input 1"), QStringLiteral("Input 2")};
        configuration.inputSampleRate = options.inputRate;
        configuration.inputBufferFrameSize = options.inputBuffer;
        configuration.outputDeviceID = output;
        configuration.outputSampleRate = options.outputRate;
        configuration.outputBufferFrameSize = options.outputBuffer;
    }

    // A sleep that lets simulated time pass, so stop's fade-out runs without
    // waiting, and is recorded in `sleeps`.
    MonitoringEngine::Sleep simulatedSleep()
    {
        return [this](std::chrono::nanoseconds duration) {
            sleeps.push_back(duration);
            sim.advance(duration);
        };
    }

    SimulatedAudioSystem sim;
    ObjectId input = unknownObject;
    ObjectId output = unknownObject;
    MonitoringConfiguration configuration;
    std::vector<std::chrono::nanoseconds> sleeps;
};

inline double peakIn(const std::vector<float>& x, std::size_t from, std::size_t to)
{
    double peak = 0.0;
    for (std::size_t i = from; i < std::min(to, x.size()); ++i) {
        peak = std::max(peak, static_cast<double>(std::fabs(x[i])));
    }
    return peak;
}

// Smallest per-period peak in [from, to): a gap or a dip in level shows up
// here.
inline double smallestPeriodPeak(const std::vector<float>& x, std::size_t from, std::size_t to,
                                 std::size_t period)
{
    double smallest = 1e9;
    for (std::size_t start = from; start + period <= std::min(to, x.size()); start += period) {
        smallest = std::min(smallest, peakIn(x, start, start + period));
    }
    return smallest;
}

} // namespace brevalo::test
