// Cost of one block through each realtime ring (write, then read) against moving the same bytes
// with plain memcpy into a buffer and back out, measured in the same run. Prints the ratios.

#include "core/capture_ring.h"
#include "core/monitor_ring.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace brevalo;

constexpr std::int64_t blockSizes[] = {512, 8192};

// Program material near full scale, so peak tracking sees realistic values.
template <typename T> std::vector<T> noise(std::size_t frames, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> distribution(-0.9, 0.9);
    std::vector<T> samples(frames);
    for (auto& sample : samples) {
        if constexpr (std::is_floating_point_v<T>) {
            sample = static_cast<T>(distribution(generator));
        } else {
            sample = static_cast<T>(distribution(generator) * 2147483647.0);
        }
    }
    return samples;
}

// The baseline: both channels copied into storage and back out, the bytes a ring moves per block.
void memcpyBaseline(benchmark::State& state)
{
    const auto frames = static_cast<std::size_t>(state.range(0));
    const auto left = noise<float>(frames, 1);
    const auto right = noise<float>(frames, 2);
    std::vector<float> storeLeft(frames);
    std::vector<float> storeRight(frames);
    std::vector<float> outLeft(frames);
    std::vector<float> outRight(frames);
    for (auto _ : state) {
        std::memcpy(storeLeft.data(), left.data(), frames * sizeof(float));
        std::memcpy(storeRight.data(), right.data(), frames * sizeof(float));
        benchmark::ClobberMemory();
        std::memcpy(outLeft.data(), storeLeft.data(), frames * sizeof(float));
        std::memcpy(outRight.data(), storeRight.data(), frames * sizeof(float));
        benchmark::DoNotOptimize(outLeft.data());
        benchmark::DoNotOptimize(outRight.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(frames) * 8);
}

void monitorRing(benchmark::State& state)
{
    const auto frames = static_cast<std::uint32_t>(state.range(0));
    const auto left = noise<float>(frames, 1);
    const auto right = noise<float>(frames, 2);
    std::vector<float> outLeft(frames);
    std::vector<float> outRight(frames);
    // Target 0: after the first block every read plays, the steady state of a running monitor.
    MonitorRing* ring = monitor_ring_create(frames * 4, 0);
    for (auto _ : state) {
        monitor_ring_write(ring, left.data(), right.data(), frames);
        monitor_ring_read(ring, outLeft.data(), outRight.data(), frames);
        benchmark::DoNotOptimize(outLeft.data());
        benchmark::DoNotOptimize(outRight.data());
        benchmark::ClobberMemory();
    }
    if (monitor_ring_overruns(ring) != 0 || monitor_ring_underruns(ring) != 0) {
        state.SkipWithError("ring left its steady state");
    }
    monitor_ring_destroy(ring);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(frames) * 8);
}

void captureRing(benchmark::State& state)
{
    const auto frames = static_cast<std::uint32_t>(state.range(0));
    const auto left = noise<std::int32_t>(frames, 1);
    const auto right = noise<std::int32_t>(frames, 2);
    std::vector<std::int32_t> outLeft(frames);
    std::vector<std::int32_t> outRight(frames);
    // Four seconds at 48 kHz, as for a take; not a multiple of the block, so blocks also wrap.
    CaptureRing* ring = capture_ring_create(192000);
    for (auto _ : state) {
        capture_ring_write(ring, left.data(), right.data(), frames);
        capture_ring_read(ring, outLeft.data(), outRight.data(), frames);
        benchmark::DoNotOptimize(outLeft.data());
        benchmark::DoNotOptimize(outRight.data());
        benchmark::ClobberMemory();
    }
    if (capture_ring_error(ring) != 0) {
        state.SkipWithError("capture ring refused a block");
    }
    capture_ring_destroy(ring);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(frames) * 8);
}

// CPU time, not wall time: the machines this runs on are shared, and preemption only adds noise.
class CollectingReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                times[run.benchmark_name()] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char** argv)
{
    for (const auto frames : blockSizes) {
        benchmark::RegisterBenchmark("memcpy", memcpyBaseline)->Arg(frames);
        benchmark::RegisterBenchmark("monitor_ring", monitorRing)->Arg(frames);
        benchmark::RegisterBenchmark("capture_ring", captureRing)->Arg(frames);
    }
    benchmark::Initialize(&argc, argv);
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nwrite + read of one stereo block, ratio to memcpy of the same bytes:\n");
    for (const auto frames : blockSizes) {
        const std::string size = "/" + std::to_string(frames);
        const auto baseline = reporter.times.find("memcpy" + size);
        if (baseline == reporter.times.end()) {
            continue;
        }
        for (const char* name : {"monitor_ring", "capture_ring"}) {
            const auto measured = reporter.times.find(name + size);
            if (measured != reporter.times.end()) {
                std::printf("  %-13s %5lld frames: ratio to memcpy: %.2f\n", name,
                            static_cast<long long>(frames), measured->second / baseline->second);
            }
        }
    }
    return 0;
}
