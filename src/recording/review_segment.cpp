#include "recording/review_segment.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace brevalo {

namespace {

// Master frames decoded per read: large enough that a read costs little per frame, small
// enough that a stop never waits long for the reader.
constexpr std::uint32_t readChunk = 8192;

// Medium sinc: about 1.3 % of a core for a 96 kHz master on a 48 kHz output (see the review
// player benchmark); the best sinc costs three times as much for a difference no one hears
// while placing boundaries.
constexpr int converterType = SRC_SINC_MEDIUM_QUALITY;

void deinterleave(const float* source, float* left, float* right, std::uint32_t frames)
{
    for (std::uint32_t i = 0; i < frames; ++i) {
        left[i] = source[2 * i];
        right[i] = source[2 * i + 1];
    }
}

} // namespace

ReviewSegment::ReviewSegment(const ReviewSegmentSetup& setup)
    : setup_(setup), ring_(setup.ringFrames)
{
    if (setup_.fileChannels != ReviewFrameRing::channels) {
        readScratch_.assign(std::size_t{readChunk} * setup_.fileChannels, 0.0f);
    }
    if (setup_.masterRate != setup_.outputRate) {
        int error = 0;
        converter_ = src_new(converterType, ReviewFrameRing::channels, &error);
        if (converter_ == nullptr) {
            throw std::runtime_error(src_strerror(error));
        }
        convertScratch_.assign(std::size_t{setup_.maximumOutput} * ReviewFrameRing::channels, 0.0f);
        expectedOutput_ = static_cast<std::uint64_t>(std::llround(
            static_cast<double>(setup_.frames) * setup_.outputRate / setup_.masterRate));
    } else {
        expectedOutput_ = static_cast<std::uint64_t>(setup_.frames);
    }
}

ReviewSegment::~ReviewSegment()
{
    if (converter_ != nullptr) {
        src_delete(converter_);
    }
}

void ReviewSegment::fill(SNDFILE* file)
{
    while (!ring_.finished()) {
        const std::int64_t remaining = setup_.frames - framesRead_;
        float* where = nullptr;
        const std::uint32_t space = ring_.writableSpan(where);
        const auto wanted = static_cast<std::uint32_t>(
            std::min<std::int64_t>({remaining, std::int64_t{space}, std::int64_t{readChunk}}));
        if (remaining <= 0) {
            ring_.markFinished();
            return;
        }
        if (wanted == 0) {
            return; // full
        }
        sf_count_t got = 0;
        if (readScratch_.empty()) {
            got = sf_readf_float(file, where, wanted);
        } else {
            // Mono plays on both sides; further channels of a wider file are left out.
            got = sf_readf_float(file, readScratch_.data(), wanted);
            const std::uint32_t channels = setup_.fileChannels;
            for (sf_count_t i = 0; i < got; ++i) {
                const float* frame = readScratch_.data() + i * channels;
                where[2 * i] = frame[0];
                where[2 * i + 1] = channels > 1 ? frame[1] : frame[0];
            }
        }
        if (got > 0) {
            ring_.commitWrite(static_cast<std::uint32_t>(got));
            framesRead_ += got;
        }
        if (got < wanted) {
            ring_.markFinished(); // the file ended early or could not be read further
            return;
        }
    }
}

std::uint32_t ReviewSegment::pullDirect(float* left, float* right, std::uint32_t frames)
{
    std::uint32_t produced = 0;
    while (produced < frames) {
        const float* where = nullptr;
        const std::uint32_t count = std::min(ring_.readableSpan(where), frames - produced);
        if (count == 0) {
            break;
        }
        deinterleave(where, left + produced, right + produced, count);
        ring_.commitRead(count);
        produced += count;
    }
    return produced;
}

std::uint32_t ReviewSegment::pullConverted(float* left, float* right, std::uint32_t frames)
{
    const std::uint64_t played = outputPlayed_.load(std::memory_order_relaxed);
    const auto wanted = static_cast<std::uint32_t>(
        std::min<std::uint64_t>({frames, setup_.maximumOutput, expectedOutput_ - played}));
    std::uint32_t produced = 0;
    while (produced < wanted && !converterFlushed_) {
        // The reader's end is read before the ring, so the frames seen then are the last ones.
        const bool readerDone = ring_.finished();
        const std::uint64_t available = ring_.readable();
        const float* where = nullptr;
        const std::uint32_t span = ring_.readableSpan(where);
        const bool endOfInput = readerDone && span == available;
        if (span == 0 && !endOfInput) {
            break; // dry
        }
        SRC_DATA data{};
        data.data_in = where;
        data.input_frames = span;
        data.data_out = convertScratch_.data() + std::size_t{produced} * ReviewFrameRing::channels;
        data.output_frames = wanted - produced;
        data.src_ratio = setup_.outputRate / setup_.masterRate;
        data.end_of_input = endOfInput ? 1 : 0;
        if (src_process(converter_, &data) != 0) {
            break; // cannot happen with a ratio checked at creation; plays silence
        }
        ring_.commitRead(static_cast<std::uint32_t>(data.input_frames_used));
        produced += static_cast<std::uint32_t>(data.output_frames_gen);
        if (data.input_frames_used == 0 && data.output_frames_gen == 0) {
            converterFlushed_ = endOfInput;
            break;
        }
    }
    deinterleave(convertScratch_.data(), left, right, produced);
    return produced;
}

void ReviewSegment::render(float* left, float* right, std::uint32_t frames)
{
    std::uint32_t produced = 0;
    if (!drained_.load(std::memory_order_relaxed)) {
        const bool readerDone = ring_.finished();
        const std::uint64_t played = outputPlayed_.load(std::memory_order_relaxed);
        if (converter_ == nullptr) {
            produced = pullDirect(left, right,
                                  static_cast<std::uint32_t>(
                                      std::min<std::uint64_t>(frames, expectedOutput_ - played)));
        } else {
            produced = pullConverted(left, right, frames);
        }
        const std::uint64_t total = played + produced;
        outputPlayed_.store(total, std::memory_order_release);
        const bool atEnd = total >= expectedOutput_ || converterFlushed_ ||
                           (converter_ == nullptr && readerDone && ring_.readable() == 0);
        if (atEnd) {
            drained_.store(true, std::memory_order_release);
        } else if (produced < frames) {
            dryBlocks_.fetch_add(1, std::memory_order_relaxed);
        }
    }
    std::fill(left + produced, left + frames, 0.0f);
    std::fill(right + produced, right + frames, 0.0f);
}

std::int64_t ReviewSegment::playedFrames() const
{
    const auto output = static_cast<double>(outputPlayed_.load(std::memory_order_acquire));
    const double master =
        converter_ == nullptr ? output : output * setup_.masterRate / setup_.outputRate;
    return std::min(static_cast<std::int64_t>(master), setup_.frames);
}

} // namespace brevalo
