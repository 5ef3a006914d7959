#pragma once

// The simulation's device I/O unit and the device runtime that drives it: a device's clock
// (its nominal rate off by a ppm offset), its block buffers and the units running on it.
// Internal to the simulated backend.

#include "platform/audio/io_unit.h"
#include "platform/audio/simulated/simulated_audio_system.h"
#include "platform/audio/simulated/simulated_signal_source.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace brevalo {

class SimIOUnit;

inline double simEffectiveRate(double nominal, double ppm)
{
    return nominal * (1.0 + ppm * 1e-6);
}

class SimIOUnit;

// A device's clock, block buffers and running units. Everything here is guarded by
// cycleMutex, which a block holds from its first to its last callback; the model's mutex is
// never taken while holding it.
struct SimDeviceRuntime
{
    ObjectId id = unknownObject;
    std::mutex cycleMutex;
    std::condition_variable wake;
    bool present = true;
    bool quit = false;
    bool alive = true;
    double nominalRate = 48000.0;
    double ppm = 0.0;
    std::uint32_t bufferFrames = 512;
    std::uint32_t capacity = 0; // frames the block buffers hold

    struct ChannelFormat
    {
        std::uint32_t bits = 24;
        bool isFloat = false;
    };
    std::vector<ChannelFormat> inputChannels;
    std::vector<ChannelFormat> outputChannels;
    std::vector<SimSignalSource> sources;
    std::vector<double> inputBlock; // channel-major, capacity frames each
    std::vector<float> outputMix;   // channel-major, capacity frames each

    // Clock: block index nextBlock ends at anchorNs + (nextBlock − anchorBlock + 1) periods.
    std::int64_t anchorNs = 0;
    std::uint64_t anchorBlock = 0;
    std::uint64_t nextBlock = 0;
    std::uint64_t framePosition = 0;
    std::uint64_t blocks = 0;

    std::vector<SimIOUnit*> running;
    std::uint32_t currentBlockFrames = 0; // non-zero while input callbacks run

    bool capturing = false;
    std::uint64_t captureLimit = 0;
    SimOutputCapture capture;

    std::thread thread;

    std::int64_t dueNs() const
    {
        const double rate = simEffectiveRate(nominalRate, ppm);
        const double periods = static_cast<double>(nextBlock - anchorBlock + 1);
        return anchorNs +
               static_cast<std::int64_t>(std::llround(periods * bufferFrames * 1e9 / rate));
    }

    void reanchor(std::int64_t nowNs)
    {
        anchorNs = nowNs;
        anchorBlock = nextBlock;
    }

    bool canRun() const { return present && alive && !running.empty(); }

    void resizeBuffers()
    {
        capacity = std::max(capacity, bufferFrames);
        inputBlock.assign(inputChannels.size() * capacity, 0.0);
        outputMix.assign(outputChannels.size() * capacity, 0.0f);
        sources.resize(inputChannels.size());
    }
};

// A new I/O unit of the simulation (without fault injection).
std::unique_ptr<IOUnit> makeSimIOUnit(std::shared_ptr<SimulatedAudioSystem::State> state);

} // namespace brevalo
