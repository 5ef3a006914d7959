// Cost of review playback per second of audio, as a fraction of real time (0.02 means 2 % of one
// core): decoding a 96 kHz / 24-bit master with libsndfile into the review ring and rendering it
// in 512-frame output blocks, on a 96 kHz output (copy only) and on a 48 kHz output (fixed-ratio
// conversion). The reader's work and the render callback's run on one thread here so that one
// CPU clock covers both. The baseline is the cost of merely handing the same output frames to a
// device from memory.

#include "recording/review_segment.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace brevalo;

namespace {

constexpr std::uint32_t block = 512;
constexpr double masterRate = 96000.0;
constexpr double masterSeconds = 10.0;
constexpr auto masterFrames = static_cast<std::int64_t>(masterRate * masterSeconds);

std::string writeMaster()
{
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("review-bench-" + std::to_string(::getpid()) + ".caf"))
                                 .string();
    SF_INFO info{};
    info.samplerate = static_cast<int>(masterRate);
    info.channels = 2;
    info.format = SF_FORMAT_CAF | SF_FORMAT_PCM_24 | SF_ENDIAN_LITTLE;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<int> samples(static_cast<std::size_t>(masterFrames) * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int>(1.0e9 * std::sin(static_cast<double>(i / 2) * 0.0131));
    }
    sf_writef_int(file, samples.data(), masterFrames);
    sf_close(file);
    return path;
}

const std::string& masterPath()
{
    static const std::string path = writeMaster();
    return path;
}

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Plays the whole master once; returns the output frames rendered.
std::uint64_t playOnce(double outputRate)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(masterPath().c_str(), SFM_READ, &info);
    ReviewSegmentSetup setup;
    setup.frames = masterFrames;
    setup.masterRate = masterRate;
    setup.outputRate = outputRate;
    setup.ringFrames = 131072;
    setup.maximumOutput = 8192;
    ReviewSegment segment(setup);
    std::vector<float> left(block);
    std::vector<float> right(block);
    // The reader tops the ring up every 5 ms of output, as its thread does.
    const auto blocksPerFill =
        static_cast<std::uint64_t>(std::max(1.0, outputRate * 0.005 / block));
    std::uint64_t blocks = 0;
    segment.fill(file);
    while (!segment.drained()) {
        segment.render(left.data(), right.data(), block);
        benchmark::DoNotOptimize(left.data());
        if (++blocks % blocksPerFill == 0) {
            segment.fill(file);
        }
    }
    sf_close(file);
    return blocks * block;
}

// The same output frames handed over from memory: the floor any player pays.
std::uint64_t copyOnce(double outputRate)
{
    const auto frames = static_cast<std::uint64_t>(masterSeconds * outputRate);
    // As large as the review ring, so the copy reads from the same cache level the render does.
    static const std::vector<float> source(2 * 131072, 0.25f);
    std::vector<float> left(block);
    std::vector<float> right(block);
    for (std::uint64_t done = 0; done < frames; done += block) {
        const float* from = source.data() + (2 * done) % (source.size() - 2 * block);
        for (std::uint32_t i = 0; i < block; ++i) {
            left[i] = from[2 * i];
            right[i] = from[2 * i + 1];
        }
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
    }
    return frames;
}

void BM_ReviewPlayback(benchmark::State& state)
{
    const auto outputRate = static_cast<double>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(playOnce(outputRate));
    }
    state.counters["rt_fraction"] = benchmark::Counter(
        masterSeconds, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ReviewPlayback)
    ->ArgName("output_rate")
    ->Arg(96000)
    ->Arg(48000)
    ->Unit(benchmark::kMillisecond);

double fractionOfRealTime(double outputRate, bool baseline)
{
    const double start = cpuSeconds();
    const std::uint64_t frames = baseline ? copyOnce(outputRate) : playOnce(outputRate);
    return (cpuSeconds() - start) / (static_cast<double>(frames) / outputRate);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\nReview playback of a 96 kHz / 24-bit stereo master, 512-frame output blocks "
                "(decode + ring + render):\n");
    for (const double rate : {96000.0, 48000.0}) {
        playOnce(rate); // warm the page cache and the converter's tables
        copyOnce(rate);
        const double cost = fractionOfRealTime(rate, false);
        const double baseline = fractionOfRealTime(rate, true);
        std::printf("  on a %5.0f Hz output: %.4f of real time (%.2f %% of one core), %.1f x the "
                    "copy baseline\n",
                    rate, cost, cost * 100.0, cost / baseline);
    }
    std::filesystem::remove(masterPath());
    return 0;
}
