// Drain throughput of the master writer: a producer fills the capture ring as fast as the ring
// has room, the drain packs and writes the take; the figure is seconds of audio stored per
// second of wall time (the "x_realtime" counter; a take needs at least 1). Masters go to the
// disk under BREVALO_BENCH_DIR (default /var/tmp) and to tmpfs (/dev/shm). The baseline,
// measured in the same run, is the same drain into a sink that discards the bytes: ring and
// packing alone, so the file's share is the difference.

#include "recording/master_writer.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QUuid>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using namespace brevalo;

constexpr double takeSeconds = 20.0;

enum Target : std::int64_t
{
    discard = 0,
    tmpfs = 1,
    disk = 2,
};

struct DiscardSink : MasterFileSink
{
    std::int32_t write(const std::byte* bytes, std::uint32_t frames,
                       std::uint32_t& written) override
    {
        benchmark::DoNotOptimize(bytes);
        written = frames;
        return 0;
    }
    std::int32_t close() override { return 0; }
};

QString folder(Target target)
{
    if (target == tmpfs) {
        return QStringLiteral("/dev/shm");
    }
    const char* dir = std::getenv("BREVALO_BENCH_DIR");
    return QString::fromLocal8Bit(dir != nullptr ? dir : "/var/tmp");
}

void drainTake(benchmark::State& state)
{
    const auto rate = static_cast<double>(state.range(0));
    const auto bits = static_cast<std::uint32_t>(state.range(1));
    const auto target = static_cast<Target>(state.range(2));
    const std::uint32_t block = 4096;
    std::vector<std::int32_t> left(block), right(block);
    for (std::uint32_t i = 0; i < block; ++i) {
        left[i] = static_cast<std::int32_t>(i * 2654435761u);
        right[i] = -left[i];
    }
    const auto total = static_cast<std::uint64_t>(rate * takeSeconds);
    double seconds = 0.0;
    for (auto _ : state) {
        const QString path =
            QDir(folder(target))
                .filePath(QStringLiteral("brevalo-bench-") +
                          QUuid::createUuid().toString(QUuid::WithoutBraces) + ".caf");
        const auto begin = std::chrono::steady_clock::now();
        auto writer = target == discard
                          ? MasterWriter::create(path, bits, rate,
                                                 [](const QString&, std::uint32_t, double) {
                                                     return std::make_unique<DiscardSink>();
                                                 })
                          : MasterWriter::create(path, bits, rate);
        CaptureRing* ring = writer->pcm();
        for (std::uint64_t written = 0; written < total;) {
            // Write only what fits: a refused block would end the take.
            const auto used = ring->writeIndex.load() - ring->readIndex.load();
            if (ring->capacity - used < block) {
                std::this_thread::yield();
                continue;
            }
            capture_ring_write(ring, left.data(), right.data(), block);
            written += block;
        }
        capture_ring_request_stop(ring);
        writer->waitUntilFinished();
        const auto end = std::chrono::steady_clock::now();
        if (capture_ring_error(ring) != 0) {
            state.SkipWithError("the take failed");
        }
        writer.reset();
        QFile::remove(path);
        const double elapsed = std::chrono::duration<double>(end - begin).count();
        state.SetIterationTime(elapsed);
        seconds += elapsed;
    }
    state.counters["x_realtime"] = takeSeconds * static_cast<double>(state.iterations()) / seconds;
}

} // namespace

BENCHMARK(drainTake)
    ->ArgNames({"rate", "bits", "target"})
    ->Args({192000, 32, discard})
    ->Args({192000, 32, tmpfs})
    ->Args({192000, 32, disk})
    ->Args({96000, 24, discard})
    ->Args({96000, 24, tmpfs})
    ->Args({96000, 24, disk})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

BENCHMARK_MAIN();
