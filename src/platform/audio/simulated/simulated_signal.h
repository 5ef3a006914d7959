#pragma once

// What a simulated input channel plays. Every generator is a pure function of the device frame
// index (or a preloaded file), so a run is reproducible and generating a block never allocates.

#include <cstdint>
#include <string>

namespace brevalo {

struct SimSignal
{
    enum class Kind
    {
        silence,
        sine,      // frequency (Hz), amplitude (linear, full scale 1.0), phase from frame 0
        counting,  // a ramp of integer codes: drops and repeats of frames are visible
        file,      // a sound file read once (libsndfile), looped
        albumSide, // a synthesized record side: run-in noise, tonal tracks, gaps, run-out
    };

    Kind kind = Kind::silence;
    double frequency = 1000.0;
    double amplitude = 0.5;
    std::string path; // file
    std::uint32_t fileChannel = 0;

    static SimSignal silence() { return {}; }
    static SimSignal sine(double frequency, double amplitude = 0.5)
    {
        SimSignal s;
        s.kind = Kind::sine;
        s.frequency = frequency;
        s.amplitude = amplitude;
        return s;
    }
    static SimSignal counting()
    {
        SimSignal s;
        s.kind = Kind::counting;
        return s;
    }
    static SimSignal file(std::string path, std::uint32_t channel = 0)
    {
        SimSignal s;
        s.kind = Kind::file;
        s.path = std::move(path);
        s.fileChannel = channel;
        return s;
    }
    static SimSignal albumSide()
    {
        SimSignal s;
        s.kind = Kind::albumSide;
        return s;
    }
};

// The integer code of the counting pattern at a device frame for a device channel, at a
// stream's bit depth: it steps by one per frame, wraps within the sample range (at most 24
// bits, so a float stream carries it exactly too) and starts each channel at its own offset.
std::int32_t simCountingCode(std::uint64_t frame, std::uint32_t channel, std::uint32_t bits);

} // namespace brevalo
