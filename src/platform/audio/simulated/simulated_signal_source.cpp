#include "platform/audio/simulated/simulated_signal_source.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace brevalo {

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;

// Deterministic white noise in [−1, 1) from a frame index (a 64-bit mix), so that the same
// frame always carries the same sample.
double noise(std::uint64_t frame, std::uint32_t channel)
{
    std::uint64_t x =
        frame * 0x9E3779B97F4A7C15ull + (std::uint64_t{channel} + 1) * 0xBF58476D1CE4E5B9ull;
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    return static_cast<double>(x >> 11) / static_cast<double>(1ull << 52) - 1.0;
}

// Surface noise plus sparse crackle: a few short clicks per second.
double surface(double seconds, std::uint64_t frame, std::uint32_t channel, double level)
{
    double s = level * noise(frame, channel);
    const double slot = std::floor(seconds * 5.0);
    const double phase = seconds * 5.0 - slot;
    if (noise(static_cast<std::uint64_t>(slot), 99) > 0.6 && phase < 0.0004 * 5.0) {
        s += 0.15 * (1.0 - phase / 0.002);
    }
    return s;
}

// Raised-cosine fade at both ends of a segment, 0.5 s long.
double envelope(double t, double length)
{
    const double fade = 0.5;
    if (t < fade) {
        return 0.5 - 0.5 * std::cos(std::numbers::pi * t / fade);
    }
    if (t > length - fade) {
        return 0.5 - 0.5 * std::cos(std::numbers::pi * (length - t) / fade);
    }
    return 1.0;
}

} // namespace

std::int32_t simCountingCode(std::uint64_t frame, std::uint32_t channel, std::uint32_t bits)
{
    const std::uint32_t width = std::min<std::uint32_t>(std::max<std::uint32_t>(bits, 2), 24);
    const std::uint64_t span = 1ull << width;
    const std::uint64_t offset = (std::uint64_t{channel} * 0x10001ull) % span;
    const auto wrapped = static_cast<std::int64_t>((frame + offset) % span);
    return static_cast<std::int32_t>(wrapped - static_cast<std::int64_t>(span / 2));
}

double albumSideSample(double seconds, std::uint64_t frame, std::uint32_t channel)
{
    const double t = std::fmod(seconds, albumSideSeconds);
    const double pan = channel % 2 == 0 ? 1.0 : 0.92;
    if (t < 8.0) { // run-in groove
        return surface(t, frame, channel, 0.01);
    }
    if (t < 38.0) { // track 1: a major triad with a slow tremolo
        const double u = t - 8.0;
        const double tone = std::sin(twoPi * 220.0 * u) + 0.8 * std::sin(twoPi * 277.18 * u) +
                            0.6 * std::sin(twoPi * 329.63 * u);
        return pan * 0.12 * tone * (0.8 + 0.2 * std::sin(twoPi * 0.5 * u)) * envelope(u, 30.0) +
               surface(t, frame, channel, 0.004);
    }
    if (t < 41.0) { // gap
        return surface(t, frame, channel, 0.004);
    }
    if (t < 66.0) { // track 2: a stepping melody, one note every half second
        const double u = t - 41.0;
        static constexpr double scale[] = {261.63, 293.66, 329.63, 392.0, 440.0, 523.25};
        const auto note = static_cast<std::size_t>(u * 2.0);
        const double frequency = scale[(note * 7 + note / 3) % 6];
        const double within = u * 2.0 - std::floor(u * 2.0);
        const double decay = std::exp(-3.0 * within);
        return pan * 0.3 * decay * std::sin(twoPi * frequency * u) * envelope(u, 25.0) +
               surface(t, frame, channel, 0.004);
    }
    if (t < 69.0) { // gap
        return surface(t, frame, channel, 0.004);
    }
    if (t < 104.0) { // track 3: a low drone under two beating tones
        const double u = t - 69.0;
        const double tone = 0.5 * std::sin(twoPi * 110.0 * u) + 0.3 * std::sin(twoPi * 440.0 * u) +
                            0.3 * std::sin(twoPi * 441.0 * u);
        return pan * 0.4 * tone * envelope(u, 35.0) + surface(t, frame, channel, 0.004);
    }
    // Run-out groove: one click per revolution at 33⅓ rpm.
    const double revolution = std::fmod(t - 104.0, 1.8);
    return surface(t, frame, channel, 0.01) + (revolution < 0.002 ? 0.2 : 0.0);
}

bool SimSignalSource::load(const SimSignal& signal)
{
    if (signal.kind != SimSignal::Kind::file) {
        signal_ = signal;
        file_.reset();
        return true;
    }
    SF_INFO info{};
    SNDFILE* file = sf_open(signal.path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return false;
    }
    if (info.channels <= 0 || signal.fileChannel >= static_cast<std::uint32_t>(info.channels) ||
        info.frames <= 0) {
        sf_close(file);
        return false;
    }
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames) * channels);
    const sf_count_t read = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    if (read <= 0) {
        return false;
    }
    auto samples = std::make_shared<std::vector<float>>(static_cast<std::size_t>(read));
    for (std::size_t i = 0; i < samples->size(); ++i) {
        (*samples)[i] = interleaved[i * channels + signal.fileChannel];
    }
    signal_ = signal;
    file_ = std::move(samples);
    return true;
}

double SimSignalSource::value(std::uint64_t frame, std::uint32_t channel, double sampleRate) const
{
    switch (signal_.kind) {
    case SimSignal::Kind::silence:
    case SimSignal::Kind::counting:
        return 0.0;
    case SimSignal::Kind::sine: {
        // Phase from the frame index modulo whole periods keeps precision over long runs.
        const double cycles = signal_.frequency * static_cast<double>(frame) / sampleRate;
        return signal_.amplitude * std::sin(twoPi * (cycles - std::floor(cycles)));
    }
    case SimSignal::Kind::file:
        return file_ && !file_->empty() ? (*file_)[frame % file_->size()] : 0.0;
    case SimSignal::Kind::albumSide: {
        const auto loop = static_cast<std::uint64_t>(albumSideSeconds * sampleRate);
        const std::uint64_t f = loop > 0 ? frame % loop : frame;
        return albumSideSample(static_cast<double>(f) / sampleRate, f, channel);
    }
    }
    return 0.0;
}

void SimSignalSource::generate(std::uint64_t first, std::uint32_t frames, std::uint32_t channel,
                               double sampleRate, std::uint32_t bits, bool isFloat,
                               double* out) const
{
    if (signal_.kind == SimSignal::Kind::counting) {
        for (std::uint32_t i = 0; i < frames; ++i) {
            const auto code = simCountingCode(first + i, channel, isFloat ? 24 : bits);
            out[i] = isFloat ? static_cast<double>(code) / 8388608.0 : static_cast<double>(code);
        }
        return;
    }
    if (signal_.kind == SimSignal::Kind::silence) {
        std::fill(out, out + frames, 0.0);
        return;
    }
    const double scale = isFloat ? 1.0 : std::ldexp(1.0, static_cast<int>(bits) - 1);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double v = value(first + i, channel, sampleRate);
        if (isFloat) {
            out[i] = static_cast<double>(static_cast<float>(v));
        } else {
            out[i] = std::clamp(std::round(v * scale), -scale, scale - 1.0);
        }
    }
}

} // namespace brevalo
