// Waveform cache files come back from project folders that other programs and people may have
// touched. Whatever the bytes: decoding either refuses or gives peaks that enclose 0.0 within
// −1.0 … 1.0; a cache that passes validation for a master of its frame count holds exactly one
// peak per started 2048 frames; reducing it to columns stays inside it for any range; and an
// accepted cache survives being written again unchanged.

#include "recording/waveform.h"
#include "recording/waveform_cache.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace {

using namespace brevalo;

bool holdsInvariant(const WaveformPeak& peak)
{
    return peak.minimum >= -1.0F && peak.minimum <= 0.0F && peak.maximum >= 0.0F &&
           peak.maximum <= 1.0F;
}

void checkColumns(const WaveformCache& cache, qint64 start, qint64 end, qint64 columns)
{
    const auto result = reducePeaks(cache.peaks, start, end, columns);
    if (result.size() > cache.peaks.size()) {
        std::abort();
    }
    for (const WaveformPeak& peak : result) {
        if (!holdsInvariant(peak)) {
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto cache = decodeWaveformCache(bytes);
    if (!cache) {
        return 0;
    }
    for (const WaveformPeak& peak : cache->peaks) {
        if (!holdsInvariant(peak)) {
            std::abort();
        }
    }

    CaptureMaster master;
    master.path = cache->masterPath;
    master.frameCount = cache->frameCount;
    if (cache->isValidFor(master)) {
        // Checked in 128 bits so that no frame count near the 64-bit limit slips through.
        const auto peaks = static_cast<__int128>(cache->peaks.size());
        const auto frames = static_cast<__int128>(cache->frameCount);
        if (frames < 1 ? peaks != 0 : (peaks * 2048 < frames || (peaks - 1) * 2048 >= frames)) {
            std::abort();
        }
    }

    const qint64 frames = cache->frameCount;
    constexpr qint64 most = std::numeric_limits<qint64>::max();
    checkColumns(*cache, 0, frames, 1100);
    checkColumns(*cache, frames / 3, most, 7);
    checkColumns(*cache, std::numeric_limits<qint64>::min(), frames, 1);
    checkColumns(*cache, -5000, 4096, 1100);

    try {
        if (decodeWaveformCache(encodeWaveformCache(*cache)) != cache) {
            std::abort();
        }
    } catch (...) {
        std::abort();
    }
    return 0;
}
