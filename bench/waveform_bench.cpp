// Waveform costs on a one-hour 96 kHz / 24-bit stereo master (about 2 GB, generated in a
// temporary folder under /tmp and removed at the end):
//   - the overview build (one pass over the master) against a plain sequential read of the same
//     file in the same run, as a share of the raw read speed (goal: at least 50 %);
//   - a wide view of 1100 columns from the overview in memory (goal: well inside one 60 Hz
//     frame, 10 ms), and from the cache file as after a restart;
//   - a narrow view of 1 100 000 frames.
// The master is read from the page cache in both the baseline and the build, so the ratio is
// the build's processing cost, not the disk's.

#include "recording/waveform.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace {

using namespace brevalo;
using Clock = std::chrono::steady_clock;

constexpr qint64 rate = 96000;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor time of this thread, user and system: on a machine shared with other work it shows
// the cost of a pass better than the wall clock does.
double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct Pass
{
    double wall = 0;
    double processor = 0;
};

template <typename Work> Pass measure(Work work)
{
    const auto start = Clock::now();
    const double startProcessor = threadSeconds();
    work();
    return Pass{secondsSince(start), threadSeconds() - startProcessor};
}

// Median wall-clock and processor milliseconds of `runs` calls of work(i).
template <typename Work> Pass medianMilliseconds(int runs, Work work)
{
    std::vector<double> wall;
    std::vector<double> processor;
    for (int i = 0; i < runs; ++i) {
        const Pass pass = measure([&] { work(i); });
        wall.push_back(pass.wall * 1000.0);
        processor.push_back(pass.processor * 1000.0);
    }
    std::nth_element(wall.begin(), wall.begin() + runs / 2, wall.end());
    std::nth_element(processor.begin(), processor.begin() + runs / 2, processor.end());
    return Pass{wall[runs / 2], processor[runs / 2]};
}

bool writeMaster(const QString& path, qint64 frames)
{
    SF_INFO info{
        0, static_cast<int>(rate), 2, SF_FORMAT_CAF | SF_FORMAT_PCM_24 | SF_ENDIAN_LITTLE, 0, 0};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "cannot create %s: %s\n", qPrintable(path), sf_strerror(nullptr));
        return false;
    }
    // A slowly swelling tone, different on each channel, so the peaks are not all alike.
    std::vector<int> block(2 * rate);
    for (qint64 second = 0; second < frames / rate; ++second) {
        for (qint64 i = 0; i < rate; ++i) {
            const double t = static_cast<double>(second * rate + i) / rate;
            const double level = 0.5 + 0.45 * std::sin(t / 60.0);
            block[2 * i] = static_cast<int>(level * std::sin(t * 2765.0) * 2147483392.0);
            block[2 * i + 1] = static_cast<int>(level * std::sin(t * 6264.0) * 2147483392.0);
        }
        if (sf_writef_int(file, block.data(), rate) != rate) {
            sf_close(file);
            return false;
        }
    }
    return sf_close(file) == 0;
}

// Baseline: the file's bytes read front to back in 1 MiB chunks, touching nothing.
void rawRead(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    std::vector<char> buffer(1 << 20);
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
}

} // namespace

int main(int argc, char** argv)
{
    // A shorter master for quick looks: waveform_bench <minutes>.
    const qint64 minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const qint64 frames = rate * 60 * minutes;
    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/waveform-bench-XXXXXX"));
    QDir(folder.path()).mkpath(QStringLiteral("Masters"));
    CaptureDocument document;
    document.directory = folder.path();
    CaptureSide side;
    side.master = CaptureMaster{};
    side.master->path = QStringLiteral("Masters/Record 1 - Side A - 3F2A9C01.caf");
    side.master->frameCount = frames;
    const QString master = folder.filePath(side.master->path);

    std::printf("writing a %lld-minute 96 kHz / 24-bit stereo master...\n",
                static_cast<long long>(minutes));
    if (!writeMaster(master, frames)) {
        return 1;
    }
    const double gigabytes = static_cast<double>(QFile(master).size()) / 1e9;

    rawRead(master); // brings the file into the page cache for both contenders
    const Pass raw = measure([&] { rawRead(master); });
    qsizetype peakCount = 0;
    const Pass build = measure([&] { peakCount = computePeaks(master, 0, frames, 2048).size(); });
    std::printf("raw sequential read   %7.3f s  %6.2f GB/s   processor %7.3f s\n", raw.wall,
                gigabytes / raw.wall, raw.processor);
    std::printf("overview peaks        %7.3f s  %6.2f GB/s   processor %7.3f s  (%lld peaks)\n",
                build.wall, gigabytes / build.wall, build.processor,
                static_cast<long long>(peakCount));
    std::printf("  build speed / raw read speed: %.0f %% wall clock, %.0f %% processor time "
                "(goal >= 50 %%)\n",
                100.0 * raw.wall / build.wall, 100.0 * raw.processor / build.processor);

    WaveformOverviews overviews;
    const auto start = Clock::now();
    const auto first = loadWaveform(document, side, 0, frames, 1100, {}, overviews);
    const double cold = secondsSince(start);
    const qint64 cacheBytes = QFile(folder.filePath(waveformCachePath(side.master->path))).size();
    std::printf("first wide view       %7.3f s  (build + write of a %.1f MB cache, %lld columns)\n",
                cold, static_cast<double>(cacheBytes) / 1e6, static_cast<long long>(first.size()));

    // Zoom steps: ranges from the whole master down to 1100 × 2048 frames, scrolled along.
    const Pass warm = medianMilliseconds(200, [&](int i) {
        const qint64 span = std::max<qint64>(1100 * 2048, frames >> (i % 8));
        const qint64 offset = (frames - span) / 199 * i;
        (void)loadWaveform(document, side, offset, offset + span, 1100, {}, overviews);
    });
    const Pass restart = medianMilliseconds(5, [&](int) {
        overviews.clear();
        (void)loadWaveform(document, side, 0, frames, 1100, {}, overviews);
    });
    const Pass narrow = medianMilliseconds(21, [&](int i) {
        const qint64 offset = (frames - 1'100'000) / 20 * i;
        (void)loadWaveform(document, side, offset, offset + 1'100'000, 1100, {}, overviews);
    });
    std::printf("medians, wall clock / processor:\n");
    std::printf("wide view, warm       %8.3f ms / %8.3f ms  (goal <= 10 ms)\n", warm.wall,
                warm.processor);
    std::printf("wide view, restart    %8.3f ms / %8.3f ms  (reads and decodes the cache file)\n",
                restart.wall, restart.processor);
    std::printf("narrow view 1.1M fr.  %8.3f ms / %8.3f ms\n", narrow.wall, narrow.processor);
    return 0;
}
