#include "recording/waveform.h"
#include "recording/waveform_cache.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace brevalo {
namespace {

QList<WaveformPeak> ramp(qint64 count)
{
    QList<WaveformPeak> peaks;
    for (qint64 i = 0; i < count; ++i) {
        peaks.append(WaveformPeak{-static_cast<float>(i % 97) / 128.0F,
                                  static_cast<float>(i % 89) / 128.0F});
    }
    return peaks;
}

TEST(WaveformCacheTest, ColumnsGroupWholeCachedPeaksClippedToTheCache)
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

TEST(WaveformCacheTest, EncodingReadsBackExactly)
{
    std::mt19937 random(3);
    WaveformCache cache;
    cache.masterPath = QStringLiteral("Masters/Record 1 - Side \"Ä\\\" - 3F2A9C01.caf");
    cache.frameCount = 3 * 2048;
    cache.peaks = {{-1.0F, 1.0F}, {0.0F, 0.0F}, {-0.0F, 1e-38F}};
    for (int i = 0; i < 200; ++i) {
        const auto v = static_cast<float>(static_cast<std::int32_t>(random())) / 2147483648.0F;
        cache.peaks.append(WaveformPeak{-std::abs(v), std::abs(v)});
    }
    const auto decoded = decodeWaveformCache(encodeWaveformCache(cache));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, cache);
}

} // namespace
} // namespace brevalo
