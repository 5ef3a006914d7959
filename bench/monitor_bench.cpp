// CPU cost of the whole monitoring graph (capture callback, drift ring, varispeed at render
// quality 127, gain ramp, rate control) per second of audio, at the common device rates, in
// simulated time: each iteration advances one second of audio and its wall time is the cost as
// a fraction of real time. The baseline, measured in the same run, is the simulated hardware
// alone (the same two devices with units that only fetch the input and play silence), so the
// graph's own share is the difference.

#include "monitor/monitoring_engine.h"
#include "platform/audio/simulated/simulated_audio_system.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace brevalo;

constexpr std::int64_t rates[] = {44100, 48000, 96000, 192000};

struct Devices
{
    explicit Devices(double rate)
    {
        SimDevice in = SimDevice::input("in", "Interface", 2, rate, 24);
        in.clockPPM = 120.0; // a typical pair of crystals apart, so the varispeed converts
        in.bufferFrameSize = 512;
        input = sim.addDevice(in);
        SimDevice out = SimDevice::output("out", "Speakers", 2, rate);
        out.bufferFrameSize = 512;
        output = sim.addDevice(out);
        sim.setInputSignal(input, 0, SimSignal::sine(997.0, 0.5));
        sim.setInputSignal(input, 1, SimSignal::sine(440.0, 0.5));
    }
    SimulatedAudioSystem sim;
    ObjectId input = unknownObject;
    ObjectId output = unknownObject;
};

void monitorGraph(benchmark::State& state)
{
    const auto rate = static_cast<double>(state.range(0));
    Devices devices(rate);
    MonitoringConfiguration config;
    config.inputDeviceID = devices.input;
    config.channelPair = {0, 1, {}, {}};
    config.inputSampleRate = rate;
    config.inputBufferFrameSize = 512;
    config.outputDeviceID = devices.output;
    config.outputSampleRate = rate;
    config.outputBufferFrameSize = 512;
    MonitoringEngine engine(devices.sim,
                            [&](std::chrono::nanoseconds d) { devices.sim.advance(d); });
    engine.start(config, false);
    devices.sim.advanceSeconds(1.0); // primed and playing
    for (auto _ : state) {
        devices.sim.advanceSeconds(1.0);
    }
    const auto snapshot = engine.snapshot();
    if (!snapshot || snapshot->runtimeFailure || snapshot->diagnostics.underruns != 0 ||
        snapshot->diagnostics.overruns != 0) {
        state.SkipWithError("the graph left its steady state");
    }
    state.counters["audio_seconds"] = benchmark::Counter(static_cast<double>(state.iterations()));
}

struct PassContext
{
    IOUnit* unit = nullptr;
    std::vector<float> left = std::vector<float>(8192);
    std::vector<float> right = std::vector<float>(8192);
};

std::int32_t fetchInput(void* refCon, RenderActionFlags& flags, const AudioTimeStamp& time,
                        std::uint32_t, std::uint32_t frames, AudioBufferList*)
{
    auto* context = static_cast<PassContext*>(refCon);
    AudioBufferList list;
    list.numberBuffers = 2;
    list.buffers[0] = {1, frames * 4, context->left.data()};
    list.buffers[1] = {1, frames * 4, context->right.data()};
    return context->unit->render(flags, time, inputElement, frames, list);
}

std::int32_t playSilence(void*, RenderActionFlags&, const AudioTimeStamp&, std::uint32_t,
                         std::uint32_t frames, AudioBufferList* buffers)
{
    for (std::uint32_t c = 0; c < buffers->numberBuffers; ++c) {
        std::fill_n(static_cast<float*>(buffers->buffers[c].data), frames, 0.0f);
    }
    return 0;
}

void simulationOnly(benchmark::State& state)
{
    const auto rate = static_cast<double>(state.range(0));
    Devices devices(rate);
    std::unique_ptr<IOUnit> input;
    std::unique_ptr<IOUnit> output;
    devices.sim.createIOUnit(input);
    devices.sim.createIOUnit(output);
    PassContext context;
    context.unit = input.get();
    input->setEnableIO(Scope::input, inputElement, true);
    input->setEnableIO(Scope::output, outputElement, false);
    input->setCurrentDevice(devices.input);
    input->setMaximumFramesPerSlice(8192);
    input->setStreamFormat(Scope::output, inputElement, StreamFormat::float32Planar(rate, 2));
    input->setInputCallback({&fetchInput, &context});
    output->setCurrentDevice(devices.output);
    output->setMaximumFramesPerSlice(8192);
    output->setStreamFormat(Scope::input, outputElement, StreamFormat::float32Planar(rate, 2));
    output->setRenderCallback(Scope::input, outputElement, {&playSilence, nullptr});
    if (input->initialize() != 0 || output->initialize() != 0 || input->start() != 0 ||
        output->start() != 0) {
        state.SkipWithError("the simulated devices did not start");
        return;
    }
    devices.sim.advanceSeconds(1.0);
    for (auto _ : state) {
        devices.sim.advanceSeconds(1.0);
    }
    output->stop();
    input->stop();
    state.counters["audio_seconds"] = benchmark::Counter(static_cast<double>(state.iterations()));
}

class CollectingReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                // Seconds per iteration, i.e. per second of audio.
                const double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
                wall[run.benchmark_name()] = run.GetAdjustedRealTime() / unit;
                cpu[run.benchmark_name()] = run.GetAdjustedCPUTime() / unit;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> wall;
    std::map<std::string, double> cpu;
};

} // namespace

int main(int argc, char** argv)
{
    for (const auto rate : rates) {
        benchmark::RegisterBenchmark("simulation_only", simulationOnly)
            ->Arg(rate)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(2.0);
        benchmark::RegisterBenchmark("monitor_graph", monitorGraph)
            ->Arg(rate)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(2.0);
    }
    benchmark::Initialize(&argc, argv);
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // Wall time is what the brief of a realtime thread is about; on a loaded machine the
    // thread's CPU time shows the cost without the waiting, so both are printed.
    for (const bool useCPU : {false, true}) {
        const auto& seconds = useCPU ? reporter.cpu : reporter.wall;
        std::printf("\ncost per second of stereo audio, fraction of real time (%s):\n",
                    useCPU ? "CPU time" : "wall time");
        std::printf("  %9s  %11s  %15s  %11s  %s\n", "rate", "whole graph", "simulation only",
                    "graph's own", "ratio graph / simulation");
        for (const auto rate : rates) {
            const std::string suffix = "/" + std::to_string(rate) + "/min_time:2.000/real_time";
            const auto graph = seconds.find("monitor_graph" + suffix);
            const auto baseline = seconds.find("simulation_only" + suffix);
            if (graph == seconds.end() || baseline == seconds.end()) {
                continue;
            }
            std::printf("  %6.1f kHz  %10.2f%%  %14.2f%%  %10.2f%%  %.1f\n",
                        static_cast<double>(rate) / 1000.0, graph->second * 100.0,
                        baseline->second * 100.0, (graph->second - baseline->second) * 100.0,
                        graph->second / baseline->second);
        }
    }
    return 0;
}
