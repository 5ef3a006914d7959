#pragma once

// Test parts shared by the suites that run real I/O units: a listener log, a capturing input
// callback and a player of the counting pattern (simCountingCode at 24 bits).

#include "platform/audio/audio_system.h"
#include "platform/audio/pipewire/pipewire_test_graph.h"
#include "platform/audio/simulated/simulated_signal.h"
#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace brevalo::test {

// Listener calls with the thread each ran on.
struct CallLog
{
    std::mutex mutex;
    std::vector<std::pair<ObjectId, HardwareProperty>> calls;
    std::set<std::thread::id> threads;
    std::atomic<int> readsBack{0};

    PropertyListener listener(AudioHardware& hw)
    {
        // It reads the model back, as the device catalog does: that must not deadlock against
        // the backend thread that produced the change.
        return [this, &hw](ObjectId object, const PropertyAddress& address) {
            std::vector<ObjectId> ids;
            readsBack += hw.devices(ids) == 0 ? 1 : 0;
            std::lock_guard lock(mutex);
            calls.emplace_back(object, address.selector);
            threads.insert(std::this_thread::get_id());
        };
    }
    std::size_t count(ObjectId object, HardwareProperty selector)
    {
        std::lock_guard lock(mutex);
        return static_cast<std::size_t>(
            std::count(calls.begin(), calls.end(), std::pair{object, selector}));
    }
    bool waitFor(ObjectId object, HardwareProperty selector)
    {
        return waitUntil([&] { return count(object, selector) != 0; });
    }
};

inline constexpr std::uint32_t captureCapacity = 96000;
inline constexpr std::int32_t patternSpan = 1 << 24;

// Plays the counting pattern on both channels, left-justified integers or floats at full scale.
struct Player
{
    bool integer = true;
    std::uint64_t frame = 0;

    static std::int32_t render(void* refCon, RenderActionFlags&, const AudioTimeStamp&,
                               std::uint32_t, std::uint32_t frames, AudioBufferList* buffers)
    {
        auto& self = *static_cast<Player*>(refCon);
        for (std::uint32_t c = 0; c < buffers->numberBuffers; ++c) {
            for (std::uint32_t i = 0; i < frames; ++i) {
                const auto code = simCountingCode(self.frame + i, c, 24);
                if (self.integer) {
                    static_cast<std::int32_t*>(buffers->buffers[c].data)[i] = code * 256;
                } else {
                    static_cast<float*>(buffers->buffers[c].data)[i] =
                        static_cast<float>(code) / 8388608.0f;
                }
            }
        }
        self.frame += frames;
        return 0;
    }
};

// Renders every input block into buffers sized before the start (capacity frames a channel), so
// the callback only writes; keeps the time stamps of the first blocks too.
struct Capture
{
    explicit Capture(std::uint32_t capacity = captureCapacity)
        : samples{std::vector<std::int32_t>(capacity), std::vector<std::int32_t>(capacity)}
    {
        times.reserve(4096);
    }

    IOUnit* unit = nullptr;
    bool integer = true;
    std::array<std::vector<std::int32_t>, 2> samples;
    std::vector<AudioTimeStamp> times;
    std::atomic<std::uint32_t> frames{0};
    std::atomic<std::uint32_t> blocks{0};
    std::atomic<std::int32_t> failure{0};
    std::atomic<std::thread::id> thread{};
    std::uint32_t countAllocationsFrom = 0; // 0: no allocation counting
    std::atomic<bool> full{false};

    static std::int32_t input(void* refCon, RenderActionFlags& flags, const AudioTimeStamp& time,
                              std::uint32_t bus, std::uint32_t frames, AudioBufferList* given)
    {
        auto& self = *static_cast<Capture*>(refCon);
        self.thread = std::this_thread::get_id();
        if (given != nullptr) {
            self.failure = status::paramError; // an input callback is given no buffers
        }
        if (self.times.size() < self.times.capacity()) {
            self.times.push_back(time);
        }
        const auto block = self.blocks.fetch_add(1) + 1;
        if (self.countAllocationsFrom != 0 && block == self.countAllocationsFrom) {
            countAllocationsOnThisThread(true); // every later allocation here counts
        }
        const auto at = self.frames.load();
        if (at + frames > self.samples[0].size()) {
            if (self.countAllocationsFrom != 0 && !self.full.exchange(true)) {
                countAllocationsOnThisThread(false); // the thread may serve other units later
            }
            return 0;
        }
        AudioBufferList list;
        list.numberBuffers = 2;
        for (std::uint32_t c = 0; c < 2; ++c) {
            list.buffers[c] = {1, frames * 4, self.samples[c].data() + at};
        }
        if (const auto s = self.unit->render(flags, time, bus, frames, list)) {
            self.failure = s; // kept: a later good block must not hide a refusal
            return s;
        }
        self.frames.store(at + frames);
        return 0;
    }

    // The pattern code of a captured sample, or nothing when the value is no code at all.
    std::optional<std::int32_t> code(std::uint32_t channel, std::uint32_t frame) const
    {
        const std::int32_t raw = samples[channel][frame];
        if (integer) {
            return (raw & 0xFF) == 0 ? std::optional(raw / 256) : std::nullopt;
        }
        float value = 0.0f;
        std::memcpy(&value, &raw, sizeof value);
        const float scaled = value * 8388608.0f;
        return scaled == std::floor(scaled) ? std::optional(static_cast<std::int32_t>(scaled))
                                            : std::nullopt;
    }
};

// An input-only unit on the device in the client format, feeding capture when given one.
inline std::unique_ptr<IOUnit> makeCaptureUnit(AudioSystem& system, ObjectId device,
                                               const StreamFormat& format, Capture* capture,
                                               std::uint32_t slice = 8192)
{
    std::unique_ptr<IOUnit> unit;
    EXPECT_EQ(system.createIOUnit(unit), 0);
    EXPECT_EQ(unit->setEnableIO(Scope::input, inputElement, true), 0);
    EXPECT_EQ(unit->setEnableIO(Scope::output, outputElement, false), 0);
    EXPECT_EQ(unit->setCurrentDevice(device), 0);
    EXPECT_EQ(unit->setStreamFormat(Scope::output, inputElement, format), 0);
    EXPECT_EQ(unit->setMaximumFramesPerSlice(slice), 0);
    if (capture != nullptr) {
        capture->unit = unit.get();
        EXPECT_EQ(unit->setInputCallback({Capture::input, capture}), 0);
    }
    return unit;
}

} // namespace brevalo::test
