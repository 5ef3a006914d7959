#include "recording/waveform.h"

#include "platform/errors.h"
#include "recording/waveform_cache.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace brevalo {
namespace {

const QString shorter = QStringLiteral(
    "The master is shorter than the saved recording. Reopen the project to recover its actual "
    "duration.");

// Interleaved stereo integers at the given depth, written as a master is: CAF, little-endian
// unless asked otherwise.
void writeMaster(const QString& path, int bits, const std::vector<int>& samples,
                 int endian = SF_ENDIAN_LITTLE)
{
    const int format = bits == 16   ? SF_FORMAT_PCM_16
                       : bits == 24 ? SF_FORMAT_PCM_24
                                    : SF_FORMAT_PCM_32;
    SF_INFO info{0, 96000, 2, SF_FORMAT_CAF | format | endian, 0, 0};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    std::vector<int> justified(samples.size());
    std::transform(samples.begin(), samples.end(), justified.begin(), [bits](int v) {
        return static_cast<int>(static_cast<unsigned>(v) << (32 - bits));
    });
    sf_writef_int(file, justified.data(), static_cast<sf_count_t>(samples.size() / 2));
    sf_close(file);
}

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
        QFile::remove(folder.filePath(side.master->path));
        writeMaster(folder.filePath(side.master->path), bits, samples, endian);
        side.master->frameCount = static_cast<qint64>(samples.size() / 2);
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
        try {
            computePeaks(master, start, end, 1);
            ADD_FAILURE() << start << ".." << end;
        } catch (const CaptureError& error) {
            EXPECT_EQ(error.message(), shorter);
        }
    }
    side.master->frameCount = 2000; // as saved, longer than the file
    EXPECT_THROW(load(0, 2000), CaptureError);
    EXPECT_THROW(computePeaks(folder.filePath(QStringLiteral("missing.caf")), 0, 1, 1),
                 CaptureError);
    side.master->path = QStringLiteral("../outside.caf");
    EXPECT_THROW(load(0, 1000), CaptureError);
    EXPECT_THROW(load(0, 1000, 1), CaptureError);
}

TEST_F(WaveformTest, EmptyRequestsGiveNothing)
{
    EXPECT_TRUE(load(0, 100).isEmpty()); // no master at all
    record(16, {});
    EXPECT_TRUE(load(0, 100).isEmpty());
    record(16, std::vector<int>(2 * 10, 1));
    EXPECT_TRUE(load(5, 5).isEmpty());
    EXPECT_TRUE(load(0, 10, 0).isEmpty());
}

TEST_F(WaveformTest, NarrowViewReadsTheMasterAtOnePeakPerColumn)
{
    std::vector<int> samples(2 * 1'100'000);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int>(i % 2000) - 1000;
    }
    record(16, samples);
    const auto peaks = load(0, 1'100'000);
    ASSERT_EQ(peaks.size(), 1100);
    EXPECT_EQ(peaks[0], (WaveformPeak{scaled(-1000, 16), scaled(999, 16)}));
    EXPECT_FALSE(QFile::exists(cacheFile()));
}

TEST_F(WaveformTest, WideViewBuildsOneCachedPeakPerStarted2048Frames)
{
    // frames, constant sample, last cached peak expected
    const std::tuple<int, int, WaveformPeak> rows[] = {
        {4096, 8192, {0.0F, 0.25F}}, {4097, -8192, {-0.25F, 0.0F}}, {4097, 0, {0.0F, 0.0F}}};
    for (const auto& [frames, value, last] : rows) {
        record(16, std::vector<int>(2 * frames, value));
        const auto columns = load(0, frames, 1);
        const auto cache = decodeWaveformCache(cacheBytes());
        ASSERT_TRUE(cache && cache->isValidFor(*side.master)) << frames;
        EXPECT_EQ(cache->peaks.size(), (frames + 2047) / 2048);
        EXPECT_TRUE(std::all_of(cache->peaks.begin(), cache->peaks.end(),
                                [&](const WaveformPeak& peak) { return peak == last; }));
        EXPECT_EQ(columns, QList<WaveformPeak>{last});
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
    const std::function<QByteArray()> damage[] = {[&] {
                                                      auto c = good;
                                                      c.frameCount = 9999;
                                                      return encodeWaveformCache(c);
                                                  },
                                                  [&] {
                                                      auto c = good;
                                                      c.version = 2;
                                                      return encodeWaveformCache(c);
                                                  },
                                                  [&] {
                                                      auto c = good;
                                                      c.masterPath += QLatin1Char('x');
                                                      return encodeWaveformCache(c);
                                                  },
                                                  [&] {
                                                      auto c = good;
                                                      c.framesPerPeak = 1024;
                                                      return encodeWaveformCache(c);
                                                  },
                                                  [&] {
                                                      auto c = good;
                                                      c.peaks.removeLast();
                                                      return encodeWaveformCache(c);
                                                  },
                                                  [&] { return QByteArray("{\"version\":1,"); },
                                                  [&] { return QByteArray(); }};
    for (const auto& bytes : damage) {
        // Written after the store has the good overview: a changed file must not be trusted.
        QFile file(cacheFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes());
        file.close();
        EXPECT_EQ(load(0, 10000, 2), fresh);
        EXPECT_EQ(decodeWaveformCache(cacheBytes()), good);
    }
    QFile::remove(cacheFile());
    EXPECT_EQ(load(0, 10000, 2), fresh);
    EXPECT_EQ(decodeWaveformCache(cacheBytes()), good);
}

TEST_F(WaveformTest, CancelledBuildThrowsItsOwnErrorAndWritesNothing)
{
    record(24, std::vector<int>(2 * 100000, 1));
    const CancellationToken token;
    token.cancel();
    EXPECT_THROW(load(0, 100000, 10, token), CancellationError);
    EXPECT_FALSE(QFile::exists(cacheFile()));
    EXPECT_EQ(
        QDir(folder.filePath(QStringLiteral("Waveforms"))).entryList(QDir::Files | QDir::Hidden),
        QStringList());
}

} // namespace
} // namespace brevalo
