#include "recording/waveform.h"

#include "capture/atomic_file.h"
#include "capture/capture_storage.h"
#include "capture/file_descriptor.h"
#include "platform/errors.h"
#include "recording/waveform_cache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sndfile.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace brevalo {

namespace {

constexpr qint64 bufferFrames = 8192;
// Bytes one cached peak may take in a cache file, generously: written files use about 40.
// Anything larger than that for the master's peak count is not read at all.
constexpr qint64 cacheBytesPerPeak = 256;
constexpr qint64 cacheHeaderBytes = 65536;

CaptureError shorterMaster()
{
    return CaptureError(QStringLiteral("The master is shorter than the saved recording. Reopen "
                                       "the project to recover its actual duration."));
}

CaptureError unreadableWaveform()
{
    return CaptureError(QStringLiteral("The master waveform couldn't be read."));
}

CaptureError unreadableFile(const QString& location, QString reason)
{
    while (reason.endsWith(QLatin1Char('.'))) {
        reason.chop(1);
    }
    return CaptureError(QStringLiteral("“") + QFileInfo(location).fileName() +
                        QStringLiteral("” could not be read: ") + reason + QLatin1Char('.'));
}

struct SoundFileCloser
{
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SoundFile = std::unique_ptr<SNDFILE, SoundFileCloser>;

// Folds the samples [begin, end) into low and high. Blocks of a fixed length are what the
// compiler turns into vector code at the project's optimisation level.
template <typename Sample>
inline void foldBlocks(const Sample* begin, const Sample* end, Sample& low, Sample& high)
{
    constexpr std::ptrdiff_t block = 64;
    Sample lowest = low;
    Sample highest = high;
    for (; end - begin >= block; begin += block) {
        for (std::ptrdiff_t k = 0; k < block; ++k) {
            lowest = std::min(lowest, begin[k]);
            highest = std::max(highest, begin[k]);
        }
    }
    for (; begin != end; ++begin) {
        lowest = std::min(lowest, *begin);
        highest = std::max(highest, *begin);
    }
    low = lowest;
    high = highest;
}

// The integer fold is a large share of a build, and the baseline x86-64 instruction set has no
// vector minimum of 32-bit integers: a second copy for processors with SSE4.1 (nearly every one
// in use) is chosen when the program is loaded. Not under ThreadSanitizer: the chooser runs
// while the program is being relocated, before the sanitizer's runtime is up, and its
// instrumented entry crashes a program bound at load time.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) &&                            \
    !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("sse4.1", "default")))
#endif
void foldExtremes(const int* begin, const int* end, int& low, int& high)
{
    foldBlocks(begin, end, low, high);
}

void foldExtremes(const float* begin, const float* end, float& low, float& high)
{
    foldBlocks(begin, end, low, high);
}

// The running group of computePeaks. Extremes are kept in the file's own sample type and scaled
// only when a group is complete: scaling by a power of two (after rounding a 32-bit integer to
// float) preserves order, so this gives the same peaks as scaling every sample first.
template <typename Sample> class PeakGroups
{
public:
    PeakGroups(qint64 framesPerPeak, float scale, QList<WaveformPeak>& peaks)
        : framesPerPeak_(framesPerPeak), scale_(scale), peaks_(peaks)
    {}

    void add(const Sample* samples, qint64 frames, int channels)
    {
        add(frames, channels, [&](qint64 count, Sample& low, Sample& high) {
            foldExtremes(samples, samples + count, low, high);
            samples += count;
        });
    }

    // fold(count, low, high) folds the block's next `count` samples into low and high.
    template <typename Fold> void add(qint64 frames, int channels, Fold&& fold)
    {
        while (frames > 0) {
            const qint64 take = std::min(frames, framesPerPeak_ - filled_);
            fold(take * channels, low_, high_);
            frames -= take;
            filled_ += take;
            if (filled_ == framesPerPeak_) {
                finish();
            }
        }
    }

    // Appends the shorter last group, if any frames are in it.
    void finish()
    {
        if (filled_ == 0) {
            return;
        }
        peaks_.append(
            WaveformPeak{static_cast<float>(low_) * scale_, static_cast<float>(high_) * scale_});
        low_ = Sample{};
        high_ = Sample{};
        filled_ = 0;
    }

private:
    qint64 framesPerPeak_;
    float scale_;
    QList<WaveformPeak>& peaks_;
    Sample low_{};
    Sample high_{};
    qint64 filled_ = 0;
};

template <typename Sample>
void readPeaks(SNDFILE* file, int channels, qint64 frames, float scale, qint64 framesPerPeak,
               const CancellationToken& cancellation, QList<WaveformPeak>& peaks)
{
    std::vector<Sample> buffer;
    try {
        buffer.resize(static_cast<std::size_t>(bufferFrames * channels));
    } catch (const std::bad_alloc&) {
        throw shorterMaster();
    }
    PeakGroups<Sample> groups(framesPerPeak, scale, peaks);
    while (frames > 0) {
        cancellation.throwIfCancelled();
        const sf_count_t wanted = std::min(frames, bufferFrames);
        sf_count_t read = 0;
        if constexpr (std::is_same_v<Sample, int>) {
            read = sf_readf_int(file, buffer.data(), wanted);
        } else {
            read = sf_readf_float(file, buffer.data(), wanted);
        }
        if (read <= 0) {
            throw unreadableWaveform();
        }
        groups.add(buffer.data(), read, channels);
        frames -= read;
    }
    groups.finish();
}

// Little-endian 16- or 32-bit integer samples, left-justified into 32-bit words.
void decodeLittleEndian(const unsigned char* bytes, qint64 count, int width, int* samples)
{
    switch (width) {
    case 2:
        for (qint64 i = 0; i < count; ++i, bytes += 2) {
            samples[i] = static_cast<int>(static_cast<std::uint32_t>(bytes[0]) << 16 |
                                          static_cast<std::uint32_t>(bytes[1]) << 24);
        }
        break;
    default:
        std::memcpy(samples, bytes, static_cast<std::size_t>(count) * 4);
        break;
    }
}

// Packed little-endian 24-bit samples folded straight from the file's bytes, left-justified
// like the 32-bit words of the other depths. Loads may reach 4 bytes past the last sample, so
// the buffer carries padding.
void foldPacked24Scalar(const unsigned char* bytes, qint64 count, int& low, int& high)
{
    for (qint64 i = 0; i < count; ++i, bytes += 3) {
        std::uint32_t word = 0;
        std::memcpy(&word, bytes, sizeof word);
        const auto sample = static_cast<int>(word << 8);
        low = std::min(low, sample);
        high = std::max(high, sample);
    }
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// Four samples per step: one unaligned load, a byte shuffle that spreads 12 bytes into four
// left-justified words, and a vector minimum and maximum. This is most of a 24-bit build.
__attribute__((target("ssse3,sse4.1"))) void foldPacked24Vector(const unsigned char* bytes,
                                                                qint64 count, int& low, int& high)
{
    const __m128i spread = _mm_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
    __m128i lows = _mm_set1_epi32(low);
    __m128i highs = _mm_set1_epi32(high);
    qint64 done = 0;
    for (; done + 4 <= count; done += 4, bytes += 12) {
        const __m128i samples =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)), spread);
        lows = _mm_min_epi32(lows, samples);
        highs = _mm_max_epi32(highs, samples);
    }
    alignas(16) int lanes[2][4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes[0]), lows);
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes[1]), highs);
    low = *std::min_element(std::begin(lanes[0]), std::end(lanes[0]));
    high = *std::max_element(std::begin(lanes[1]), std::end(lanes[1]));
    foldPacked24Scalar(bytes, count - done, low, high);
}

void foldPacked24(const unsigned char* bytes, qint64 count, int& low, int& high)
{
    static const bool vector = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1");
    if (vector) {
        foldPacked24Vector(bytes, count, low, high);
    } else {
        foldPacked24Scalar(bytes, count, low, high);
    }
}
#else
void foldPacked24(const unsigned char* bytes, qint64 count, int& low, int& high)
{
    foldPacked24Scalar(bytes, count, low, high);
}
#endif

// Integer masters in the byte order of this machine, decoded from the file's raw bytes: the
// library's own conversion of packed 24-bit samples costs several times the read itself.
void readRawPeaks(SNDFILE* file, int channels, int width, qint64 frames, qint64 framesPerPeak,
                  const CancellationToken& cancellation, QList<WaveformPeak>& peaks)
{
    const qint64 frameBytes = qint64{channels} * width;
    std::vector<unsigned char> bytes;
    std::vector<int> samples;
    try {
        bytes.resize(static_cast<std::size_t>(bufferFrames * frameBytes + 16));
        samples.resize(static_cast<std::size_t>(bufferFrames * channels));
    } catch (const std::bad_alloc&) {
        throw shorterMaster();
    }
    PeakGroups<int> groups(framesPerPeak, 1.0F / 2147483648.0F, peaks);
    while (frames > 0) {
        cancellation.throwIfCancelled();
        const sf_count_t got =
            sf_read_raw(file, bytes.data(), std::min(frames, bufferFrames) * frameBytes);
        // A part of a frame would leave every later sample shifted.
        if (got <= 0 || got % frameBytes != 0) {
            throw unreadableWaveform();
        }
        const qint64 read = got / frameBytes;
        if (width == 3) {
            const unsigned char* cursor = bytes.data();
            groups.add(read, channels, [&](qint64 count, int& low, int& high) {
                foldPacked24(cursor, count, low, high);
                cursor += count * 3;
            });
        } else {
            decodeLittleEndian(bytes.data(), read * channels, width, samples.data());
            groups.add(samples.data(), read, channels);
        }
        frames -= read;
    }
    groups.finish();
}

// The cache file's content when it exists, is readable and is not absurdly large for the
// master; none otherwise (a failed read only means the cache is rebuilt).
std::optional<WaveformCache> readCache(const QString& location, qint64 frameCount)
{
    QFile file(location);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const qint64 limit =
        std::min(expectedPeakCount(frameCount), qint64{1} << 40) * cacheBytesPerPeak +
        cacheHeaderBytes;
    const QByteArray bytes = file.read(limit + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > limit) {
        return std::nullopt;
    }
    return decodeWaveformCache(bytes);
}

std::shared_ptr<const WaveformCache>
rebuildCache(const CaptureDocument& document, const CaptureMaster& master, const QString& location,
             const CancellationToken& cancellation, WaveformOverviews& overviews)
{
    WaveformCache cache;
    cache.masterPath = master.path;
    cache.frameCount = master.frameCount;
    cache.peaks = computePeaks(CaptureStorage::resolve(document, master.path), 0, master.frameCount,
                               WaveformCache::standardFramesPerPeak, cancellation);
    const QByteArray bytes = encodeWaveformCache(cache);
    // Projects are made with this folder; one removed by hand comes back rather than leaving
    // every wide view failing.
    QDir().mkpath(QFileInfo(location).absolutePath());
    writeFileAtomically(location, bytes);
    auto overview = std::make_shared<const WaveformCache>(std::move(cache));
    if (const auto identity = FileIdentity::of(location)) {
        overviews.store(location, *identity, overview);
    }
    return overview;
}

} // namespace

QList<WaveformPeak> computePeaks(const QString& masterFile, qint64 start, qint64 end,
                                 qint64 framesPerPeak, const CancellationToken& cancellation)
{
    framesPerPeak = std::max<qint64>(1, framesPerPeak);
    const FileDescriptor descriptor(
        ::open(QFile::encodeName(masterFile).constData(), O_RDONLY | O_CLOEXEC));
    if (descriptor.get() < 0) {
        throw unreadableFile(masterFile, QString::fromLocal8Bit(std::strerror(errno)));
    }
    SF_INFO info{};
    const SoundFile file(sf_open_fd(descriptor.get(), SFM_READ, &info, SF_FALSE));
    if (!file) {
        throw unreadableFile(masterFile, QString::fromUtf8(sf_strerror(nullptr)));
    }
    if (start < 0 || info.frames < end || info.channels < 1) {
        throw shorterMaster();
    }
    QList<WaveformPeak> peaks;
    if (end <= start) {
        return peaks;
    }
    if (start > 0 && sf_seek(file.get(), start, SEEK_SET) != start) {
        throw unreadableWaveform();
    }
    const qint64 frames = end - start;
    peaks.reserve(frames / framesPerPeak + (frames % framesPerPeak == 0 ? 0 : 1));

    // Integer samples are taken as left-justified 32-bit words, so integer / 2^31 is the sample
    // scaled by 2^(bits − 1) at every bit depth. Anything else goes through the library's floats.
    int width = 0;
    switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_16:
        width = 2;
        break;
    case SF_FORMAT_PCM_24:
        width = 3;
        break;
    case SF_FORMAT_PCM_32:
        width = 4;
        break;
    default:
        break;
    }
    const bool littleEndianHost = std::endian::native == std::endian::little;
    if (width > 0 && littleEndianHost &&
        sf_command(file.get(), SFC_RAW_DATA_NEEDS_ENDSWAP, nullptr, 0) == SF_FALSE) {
        readRawPeaks(file.get(), info.channels, width, frames, framesPerPeak, cancellation, peaks);
    } else if (width > 0) {
        readPeaks<int>(file.get(), info.channels, frames, 1.0F / 2147483648.0F, framesPerPeak,
                       cancellation, peaks);
    } else {
        readPeaks<float>(file.get(), info.channels, frames, 1.0F, framesPerPeak, cancellation,
                         peaks);
    }
    return peaks;
}

QList<WaveformPeak> reducePeaks(const QList<WaveformPeak>& peaks, qint64 rangeStart,
                                qint64 rangeEnd, qint64 columns)
{
    constexpr qint64 perPeak = WaveformCache::standardFramesPerPeak;
    QList<WaveformPeak> result;
    if (columns < 1) {
        return result;
    }
    // A start before the master begins at its first peak rather than indexing before it.
    const qint64 first = std::max<qint64>(0, rangeStart / perPeak);
    const qint64 last =
        std::min<qint64>(peaks.size(), rangeEnd / perPeak + (rangeEnd % perPeak > 0 ? 1 : 0));
    if (first >= last) {
        return result;
    }
    const qint64 step = std::max<qint64>(
        1, static_cast<qint64>(static_cast<double>(last - first) / static_cast<double>(columns)));
    result.reserve((last - first + step - 1) / step);
    for (qint64 i = first; i < last; i += step) {
        const qint64 groupEnd = std::min(i + step, last);
        WaveformPeak column;
        for (qint64 j = i; j < groupEnd; ++j) {
            column.minimum = std::min(column.minimum, peaks[j].minimum);
            column.maximum = std::max(column.maximum, peaks[j].maximum);
        }
        result.append(column);
    }
    return result;
}

QList<WaveformPeak> loadWaveform(const CaptureDocument& document, const CaptureSide& side,
                                 qint64 rangeStart, qint64 rangeEnd, qint64 columns,
                                 const CancellationToken& cancellation,
                                 WaveformOverviews& overviews)
{
    if (!side.master || side.master->frameCount < 1 || rangeStart == rangeEnd || columns < 1) {
        return {};
    }
    const CaptureMaster& master = *side.master;
    qint64 span = 0;
    if (__builtin_sub_overflow(rangeEnd, rangeStart, &span)) {
        throw shorterMaster();
    }
    const qint64 framesPerColumn = span / columns;
    if (framesPerColumn < WaveformCache::standardFramesPerPeak) {
        return computePeaks(CaptureStorage::resolve(document, master.path), rangeStart, rangeEnd,
                            std::max<qint64>(1, framesPerColumn), cancellation);
    }

    const QString location = CaptureStorage::resolve(document, waveformCachePath(master.path));
    std::shared_ptr<const WaveformCache> overview;
    // The identity is taken before reading: should the file be replaced meanwhile, the stored
    // identity is the old one and the next view reads the new file.
    if (const auto identity = FileIdentity::of(location)) {
        overview = overviews.find(location, *identity);
        if (!overview) {
            if (auto decoded = readCache(location, master.frameCount)) {
                overview = std::make_shared<const WaveformCache>(std::move(*decoded));
                overviews.store(location, *identity, overview);
            }
        }
    }
    if (!overview || !overview->isValidFor(master)) {
        overview = rebuildCache(document, master, location, cancellation, overviews);
    }
    return reducePeaks(overview->peaks, rangeStart, rangeEnd, columns);
}

} // namespace brevalo
