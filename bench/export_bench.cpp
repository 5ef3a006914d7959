// Wall time of exporting one side into FLAC tracks, against the flac command-line tool encoding
// the same samples from a WAV file with the same settings (level 5, verify), measured in the same
// run on the same machine. Prints the tool's time over ours: 1.0 means as fast as the tool,
// above 1.0 faster. The inputs are written first, so both read them from the page cache. Both
// encode on one thread, so the CPU-time ratio, printed beside it, is the steadier figure on a
// machine that is busy with other work.
//
// Usage: export_bench [minutes]   (20 by default; the side is cut into 5 tracks)

#include "export/track_export.h"

#include <QDir>
#include <QTemporaryDir>

#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char** environ;

namespace {

using namespace brevalo;
using Clock = std::chrono::steady_clock;

constexpr int trackCount = 5;
constexpr int repetitions = 3;

struct Setup
{
    int rate;
    int bits;
};

// Music-like material: a few partials with a slow tremolo plus low-level noise, so FLAC's
// predictor has the kind of work a record gives it (neither silence nor white noise).
void writeInputs(const QString& master, const QString& wav, const Setup& setup, qint64 frames)
{
    const int subtype = setup.bits == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24;
    SF_INFO cafInfo{0, setup.rate, 2, SF_FORMAT_CAF | subtype | SF_ENDIAN_LITTLE, 0, 0};
    SF_INFO wavInfo{0, setup.rate, 2, SF_FORMAT_WAVEX | subtype, 0, 0};
    SNDFILE* caf = sf_open(QFile::encodeName(master).constData(), SFM_WRITE, &cafInfo);
    SNDFILE* out = sf_open(QFile::encodeName(wav).constData(), SFM_WRITE, &wavInfo);
    if (caf == nullptr || out == nullptr) {
        std::fprintf(stderr, "cannot write inputs: %s\n", sf_strerror(nullptr));
        std::exit(1);
    }
    const int shift = 32 - setup.bits;
    const double full = std::ldexp(1.0, setup.bits - 1) - 1.0;
    std::vector<std::int32_t> block(8192 * 2);
    std::uint32_t noise = 12345;
    const double step = 2.0 * M_PI / setup.rate;
    for (qint64 done = 0; done < frames;) {
        const qint64 count = std::min<qint64>(8192, frames - done);
        for (qint64 i = 0; i < count; ++i) {
            const double t = static_cast<double>(done + i) * step;
            const double tremolo = 0.6 + 0.4 * std::sin(t * 0.25);
            for (int channel = 0; channel < 2; ++channel) {
                noise = noise * 1664525u + 1013904223u;
                const double dither = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) / 256.0;
                const double value =
                    tremolo * (0.3 * std::sin(t * (220.0 + channel)) + 0.15 * std::sin(t * 1375.0) +
                               0.05 * std::sin(t * 5220.0)) +
                    dither;
                const auto native = static_cast<std::int32_t>(std::lround(value * full));
                block[static_cast<size_t>(i * 2 + channel)] =
                    static_cast<std::int32_t>(static_cast<std::uint32_t>(native) << shift);
            }
        }
        sf_writef_int(caf, block.data(), count);
        sf_writef_int(out, block.data(), count);
        done += count;
    }
    sf_close(caf);
    sf_close(out);
}

struct Cost
{
    double wall = 1e30;
    double cpu = 1e30;

    void keepBest(const Cost& other)
    {
        wall = std::min(wall, other.wall);
        cpu = std::min(cpu, other.cpu);
    }
};

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double seconds(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
}

Cost runFlacTool(const QString& wav, const QString& output)
{
    const std::string in = QFile::encodeName(wav).toStdString();
    const std::string out = QFile::encodeName(output).toStdString();
    std::vector<std::string> args{"flac", "-5", "-V", "--silent", "-f", "-o", out, in};
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    // The tool warns about WAV chunks it does not copy; only its exit status matters here.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, "flac", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::fprintf(stderr, "the flac tool could not be started (scripts/setup.sh installs it)\n");
        std::exit(1);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const double wall = secondsSince(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the flac tool failed\n");
        std::exit(1);
    }
    return {wall, seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

Cost runExport(const CaptureDocument& document, const QString& destination)
{
    const double cpuStart = threadCpuSeconds();
    const auto start = Clock::now();
    const auto result = exportSides(document, destination, std::nullopt);
    const Cost cost{secondsSince(start), threadCpuSeconds() - cpuStart};
    QDir(result.directory).removeRecursively();
    return cost;
}

void measure(const Setup& setup, double minutes, const QString& folder)
{
    const auto frames = static_cast<qint64>(minutes * 60.0 * setup.rate);
    QDir(folder).mkpath(QStringLiteral("Project/Masters"));
    QDir(folder).mkpath(QStringLiteral("Out"));
    const QString wav = folder + QStringLiteral("/side.wav");
    CaptureDocument document;
    document.directory = folder + QStringLiteral("/Project");
    document.project.id = QUuid::createUuid();
    document.project.artist = QStringLiteral("Bench");
    document.project.title = QStringLiteral("Side");
    CaptureSide side;
    side.id = QUuid::createUuid();
    side.label = QStringLiteral("A");
    for (int i = 0; i < trackCount; ++i) {
        side.tracks.append({QUuid::createUuid(), {}, QStringLiteral("Track %1").arg(i + 1), {}});
        if (i > 0) {
            side.markers.append(frames * i / trackCount);
        }
    }
    CaptureMaster master;
    master.path = QStringLiteral("Masters/side.caf");
    master.sampleRate = setup.rate;
    master.bitDepth = setup.bits;
    master.frameCount = frames;
    master.isComplete = true;
    side.master = master;
    document.project.sides = {side};
    writeInputs(document.directory + QStringLiteral("/Masters/side.caf"), wav, setup, frames);

    Cost ours;
    Cost tool;
    for (int i = 0; i < repetitions; ++i) {
        tool.keepBest(runFlacTool(wav, folder + QStringLiteral("/tool.flac")));
        ours.keepBest(runExport(document, folder + QStringLiteral("/Out")));
    }
    const double audio = minutes * 60.0;
    std::printf("%6d Hz / %d-bit, %.1f min, %d tracks: export %.2f s wall (%.0fx real time), "
                "flac -5 -V %.2f s (%.0fx) -> wall ratio %.2f; CPU %.2f s vs %.2f s -> CPU ratio "
                "%.2f\n",
                setup.rate, setup.bits, minutes, trackCount, ours.wall, audio / ours.wall,
                tool.wall, audio / tool.wall, tool.wall / ours.wall, ours.cpu, tool.cpu,
                tool.cpu / ours.cpu);
    std::fflush(stdout);
    QDir(folder).removeRecursively();
}

} // namespace

int main(int argc, char** argv)
{
    const double minutes = argc > 1 ? std::atof(argv[1]) : 20.0;
    if (!(minutes > 0.0)) {
        std::fprintf(stderr, "usage: export_bench [minutes]\n");
        return 2;
    }
    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    std::printf("best of %d runs each; ratio = flac tool time / export time (goal >= 0.90)\n",
                repetitions);
    for (const Setup setup : {Setup{96000, 24}, Setup{44100, 16}}) {
        measure(setup, minutes, folder.path() + QStringLiteral("/") + QString::number(setup.rate));
    }
    return 0;
}
