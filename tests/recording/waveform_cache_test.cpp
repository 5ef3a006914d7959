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

TEST(WaveformCacheTest, DecodesOnlyWellTypedCaches)
{
    const QByteArray good = R"("masterPath":"M/a.caf","frameCount":2048,"framesPerPeak":2048)";
    const QByteArray peak = R"("peaks":[{"minimum":-0.5,"maximum":0.5}])";
    // clang-format off
    const std::pair<QByteArray, bool> rows[] = {
        {"{\"version\":1," + good + "," + peak + "}", true},
        {"{\"version\":\"1\"," + good + "," + peak + "}", false},
        {"{" + good + "," + peak + "}", false},
        {"{\"version\":1," + good + R"(,"peaks":[{"minimum":0.5,"maximum":0.5}]})", false},
        {"{\"version\":1," + good + R"(,"peaks":[{"minimum":-1e999,"maximum":0}]})", false},
        {"{\"version\":1," + good + R"(,"peaks":{}})", false},
        {"{\"version\":1,\"masterPath\":null,\"frameCount\":1e300,\"framesPerPeak\":2048," + peak + "}", false},
        {"[1]", false}, {"", false}};
    // clang-format on
    for (const auto& [bytes, accepted] : rows) {
        EXPECT_EQ(decodeWaveformCache(bytes).has_value(), accepted) << bytes.toStdString();
    }
    EXPECT_EQ(expectedPeakCount(std::numeric_limits<qint64>::max()), qint64{1} << 52);
}

} // namespace
} // namespace brevalo
