#include "recording/waveform.h"

#include "capture/project_fixtures.h"
#include "platform/errors.h"
#include "recording/waveform_cache.h"
#include "support/test_masters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace brevalo {
namespace {

float scaled(int sample, int bits)
{
    return static_cast<float>(sample / std::ldexp(1.0, bits - 1));
}

// The plain reading of the rule, one frame and channel at a time.
std::vector<WaveformPeak> modelPeaks(const std::vector<int>& samples, int bits, qint64 start,
                                     qint64 end, qint64 framesPerPeak)
{
    std::vector<WaveformPeak> peaks;
    for (qint64 group = start; group < end; group += framesPerPeak) {
        WaveformPeak peak;
        for (qint64 i = group * 2; i < std::min(group + framesPerPeak, end) * 2; ++i) {
            peak.minimum = std::min(peak.minimum, scaled(samples[i], bits));
            peak.maximum = std::max(peak.maximum, scaled(samples[i], bits));
        }
        peaks.push_back(peak);
    }
    return peaks;
}

class WaveformTest : public ::testing::Test
{
protected:
    WaveformTest()
    {
        QDir(folder.path()).mkpath(QStringLiteral("Masters"));
        document.directory = folder.path();
        side.master = CaptureMaster{};
        side.master->path = QStringLiteral("Masters/Record 1 - Side A - 3F2A9C01.caf");
    }

    void record(int bits, const std::vector<int>& samples, int endian = SF_ENDIAN_LITTLE)
    {
        const auto frames = static_cast<qint64>(samples.size() / 2);
        QFile::remove(folder.filePath(side.master->path));
        test::writeTestMaster(
            folder.filePath(side.master->path), bits, 96000, frames,
            [&](std::int64_t frame, int c) { return samples[std::size_t(frame * 2 + c)]; }, endian);
        side.master->frameCount = frames;
    }
    QString cacheFile() const { return folder.filePath(waveformCachePath(side.master->path)); }
    QByteArray cacheBytes() const
    {
        QFile file(cacheFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QList<WaveformPeak> load(qint64 start, qint64 end, qint64 columns = 1100,
                             const CancellationToken& token = CancellationToken())
    {
        return loadWaveform(document, side, start, end, columns, token, overviews);
    }

    QTemporaryDir folder;
    CaptureDocument document;
    CaptureSide side;
    WaveformOverviews overviews;
};

TEST_F(WaveformTest, PeaksMatchIntegerOverFullScaleAtEveryDepthAndGrouping)
{
    std::mt19937 random(7);
    for (const auto& [bits, endian] : {std::pair{16, SF_ENDIAN_LITTLE},
                                       {24, SF_ENDIAN_LITTLE},
                                       {32, SF_ENDIAN_LITTLE},
                                       {24, SF_ENDIAN_BIG}}) {
        const auto full = std::int64_t{1} << (bits - 1);
        std::uniform_int_distribution<int> sample(static_cast<int>(-full),
                                                  static_cast<int>(full - 1));
        std::vector<int> samples(2 * 20000);
        std::generate(samples.begin(), samples.end(), [&] { return sample(random); });
        samples[0] = sample.min(); // full scale both ways
        samples[3] = sample.max();
        record(bits, samples, endian);
        const QString master = folder.filePath(side.master->path);
        // start, end, frames per peak: single frames, groups across 8192-frame reads, a
        // group larger than a read, an offset start, one frame, nothing.
        const qint64 cases[][3] = {{0, 10, 1},         {7, 20000, 5},    {0, 20000, 3000},
                                   {0, 20000, 10000},  {5, 19999, 8192}, {8191, 8193, 1},
                                   {1234, 1235, 2048}, {20000, 20000, 1}};
        for (const auto& [start, end, perPeak] : cases) {
            const auto peaks = computePeaks(master, start, end, perPeak);
            EXPECT_EQ(std::vector<WaveformPeak>(peaks.begin(), peaks.end()),
                      modelPeaks(samples, bits, start, end, perPeak))
                << bits << " bits " << start << ".." << end << " by " << perPeak;
        }
    }
}

TEST_F(WaveformTest, RefusesRangesTheMasterCannotServe)
{
    record(16, std::vector<int>(2 * 1000, 5));
    const QString master = folder.filePath(side.master->path);
    for (const auto& [start, end] : {std::pair<qint64, qint64>{0, 1001}, {-1, 10}}) {
        EXPECT_EQ(testing::failure(
                      [&, start = start, end = end] { computePeaks(master, start, end, 1); }),
                  "The master is shorter than the saved recording. Reopen the project to recover "
                  "its actual duration.")
            << start << ".." << end;
    }
    EXPECT_TRUE(load(0, 10, 0).isEmpty());
    side.master->frameCount = 2000; // as saved, longer than the file
    EXPECT_THROW(load(0, 2000), CaptureError);
    side.master->path = QStringLiteral("../outside.caf");
    EXPECT_THROW(load(0, 1000, 1), CaptureError);
    side.master.reset();
    EXPECT_TRUE(load(0, 100).isEmpty());
}

// Below 2048 frames per column a view reads the master; from there on it reads an overview of one
// peak per started 2048 frames, which it builds and caches.
TEST_F(WaveformTest, ViewsReadTheMasterBelow2048FramesPerColumnAndACachedOverviewFromThere)
{
    const struct
    {
        int frames, columns, value;
        qint64 cachedPeaks; // 0: no cache written
        WaveformPeak last;
    } rows[] = {{4094, 2, 8192, 0, {0.0F, 0.25F}},
                {4096, 2, 8192, 2, {0.0F, 0.25F}},
                {4097, 1, -8192, 3, {-0.25F, 0.0F}},
                {4097, 1, 0, 3, {0.0F, 0.0F}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.frames);
        record(16, std::vector<int>(2 * row.frames, row.value));
        EXPECT_EQ(load(0, row.frames, row.columns), QList<WaveformPeak>(row.columns, row.last));
        const auto cache = decodeWaveformCache(cacheBytes());
        EXPECT_EQ(QFile::exists(cacheFile()), row.cachedPeaks != 0);
        if (row.cachedPeaks != 0) {
            ASSERT_TRUE(cache && cache->isValidFor(*side.master));
            EXPECT_EQ(cache->peaks, QList<WaveformPeak>(row.cachedPeaks, row.last));
        }
        QFile::remove(cacheFile());
    }
}

TEST_F(WaveformTest, RebuildsAndOverwritesEveryUnusableCache)
{
    std::vector<int> samples(2 * 10000);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int>(i * 7919 % 65536) - 32768;
    }
    record(16, samples);
    const auto fresh = load(0, 10000, 2);
    const WaveformCache good = *decodeWaveformCache(cacheBytes());
    const auto edited = [&](const std::function<void(WaveformCache&)>& edit) {
        WaveformCache cache = good;
        edit(cache);
        return encodeWaveformCache(cache);
    };
    const QByteArray damaged[] = {
        edited([](auto& c) { c.frameCount = 9999; }),
        edited([](auto& c) { c.version = 2; }),
        edited([](auto& c) { c.masterPath += QLatin1Char('x'); }),
        edited([](auto& c) { c.framesPerPeak = 1024; }),
        edited([](auto& c) { c.peaks.removeLast(); }),
        QByteArray("{\"version\":1,"),
        QByteArray(),
    };
    for (const auto& bytes : damaged) {
        // Written after the store has the good overview: a changed file must not be trusted.
        QFile file(cacheFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        EXPECT_EQ(load(0, 10000, 2), fresh);
        EXPECT_EQ(decodeWaveformCache(cacheBytes()), good);
    }
}

TEST_F(WaveformTest, CancelledBuildThrowsItsOwnErrorAndWritesNothing)
{
    record(24, std::vector<int>(2 * 100000, 1));
    const CancellationToken token;
    token.cancel();
    EXPECT_THROW(load(0, 100000, 10, token), CancellationError);
    EXPECT_EQ(
        QDir(folder.filePath(QStringLiteral("Waveforms"))).entryList(QDir::Files | QDir::Hidden),
        QStringList());
}

QList<WaveformPeak> ramp(qint64 count)
{
    QList<WaveformPeak> peaks;
    for (qint64 i = 0; i < count; ++i) {
        peaks.append(WaveformPeak{-static_cast<float>(i % 97) / 128.0F,
                                  static_cast<float>(i % 89) / 128.0F});
    }
    return peaks;
}

TEST(WaveformColumns, GroupWholeCachedPeaksClippedToTheCache)
{
    const auto peaks = ramp(20000);
    struct Row
    {
        qint64 start, end, columns, count, step;
    };
    const Row rows[] = {{0, 22'528'000, 1100, 1100, 10}, // 11 000 peaks, 20 480 frames per column
                        {2048 * 100, 2048 * 100 + 22'528'000, 1100, 1100, 10},
                        {0, 2048 * 1650, 1100, 1650, 1}, // fewer peaks than twice the columns
                        {2048 * 19000, 2048 * 30000, 100, 100, 10}, // clipped to 1000 cached peaks
                        {1, 2049, 1, 1, 2}, // a partial peak at either end counts
                        {2048 * 20000, 2048 * 30000, 10, 0, 1}}; // wholly past the cache
    for (const auto& row : rows) {
        const auto columns = reducePeaks(peaks, row.start, row.end, row.columns);
        ASSERT_EQ(columns.size(), row.count) << row.start << ".." << row.end;
        for (qint64 c = 0; c < row.count; ++c) {
            WaveformPeak expected;
            for (qint64 i = row.start / 2048 + c * row.step;
                 i < std::min<qint64>(row.start / 2048 + (c + 1) * row.step, peaks.size()); ++i) {
                expected.minimum = std::min(expected.minimum, peaks[i].minimum);
                expected.maximum = std::max(expected.maximum, peaks[i].maximum);
            }
            ASSERT_EQ(columns[c], expected) << "column " << c;
        }
    }
}

} // namespace
} // namespace brevalo
