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
#include <bit>
#include <cmath>
#include <mutex>
#include <optional>
#include <set>
#include <span>
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
    // The selectors heard on object, in order; forgets them.
    std::vector<HardwareProperty> take(ObjectId object)
    {
        std::lock_guard lock(mutex);
        std::vector<HardwareProperty> result;
        for (const auto& [o, selector] : calls) {
            if (o == object) {
                result.push_back(selector);
            }
        }
        std::erase_if(calls, [object](const auto& call) { return call.first == object; });
        return result;
    }
};

// Registers log's listener on object's selector.
inline ListenerRegistration listen(AudioHardware& hw, ObjectId object, HardwareProperty selector,
                                   CallLog& log, Scope scope = Scope::global)
{
    ListenerRegistration registration;
    EXPECT_EQ(hw.addPropertyListener(object, {selector, scope, 0}, log.listener(hw), registration),
              0);
    return registration;
}

inline constexpr std::uint32_t captureCapacity = 96000;
inline constexpr std::int32_t patternSpan = 1 << 24;

// Plays the counting pattern on every client channel, left-justified integers or floats at full
// scale; logs each block's host time when given a log.
struct Player
{
    bool integer = true;
    std::vector<std::uint64_t>* hostTimes = nullptr;
    std::uint64_t frame = 0;

    static std::int32_t render(void* refCon, RenderActionFlags&, const AudioTimeStamp& time,
                               std::uint32_t, std::uint32_t frames, AudioBufferList* buffers)
    {
        auto& self = *static_cast<Player*>(refCon);
        if (self.hostTimes != nullptr) {
            self.hostTimes->push_back(time.hostTime);
        }
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
        const float scaled = std::bit_cast<float>(raw) * 8388608.0f;
        return scaled == std::floor(scaled) ? std::optional(static_cast<std::int32_t>(scaled))
                                            : std::nullopt;
    }
};

// An input-only unit on the device in the client format (through map when one is given),
// feeding capture when given one.
inline std::unique_ptr<IOUnit> makeCaptureUnit(AudioSystem& system, ObjectId device,
                                               const StreamFormat& format, Capture* capture,
                                               std::span<const std::int32_t> map = {},
                                               std::uint32_t slice = 8192)
{
    std::unique_ptr<IOUnit> unit;
    EXPECT_EQ(system.createIOUnit(unit), 0);
    EXPECT_EQ(unit->setEnableIO(Scope::input, inputElement, true), 0);
    EXPECT_EQ(unit->setEnableIO(Scope::output, outputElement, false), 0);
    EXPECT_EQ(unit->setCurrentDevice(device), 0);
    EXPECT_EQ(unit->setStreamFormat(Scope::output, inputElement, format), 0);
    EXPECT_EQ(unit->setMaximumFramesPerSlice(slice), 0);
    if (!map.empty()) {
        EXPECT_EQ(unit->setChannelMap(Scope::output, inputElement, map), 0);
    }
    if (capture != nullptr) {
        capture->unit = unit.get();
        EXPECT_EQ(unit->setInputCallback({Capture::input, capture}), 0);
    }
    return unit;
}

// An initialized output unit on the device playing player in the client format, through map when
// one is given.
inline std::unique_ptr<IOUnit> makePlayUnit(AudioSystem& system, ObjectId device,
                                            const StreamFormat& format, Player& player,
                                            std::span<const std::int32_t> map = {})
{
    std::unique_ptr<IOUnit> unit;
    EXPECT_EQ(system.createIOUnit(unit), 0);
    EXPECT_EQ(unit->setCurrentDevice(device), 0);
    if (!map.empty()) {
        EXPECT_EQ(unit->setChannelMap(Scope::input, outputElement, map), 0);
    }
    EXPECT_EQ(unit->setStreamFormat(Scope::input, outputElement, format), 0);
    EXPECT_EQ(unit->setRenderCallback(Scope::input, outputElement, {Player::render, &player}), 0);
    EXPECT_EQ(unit->initialize(), 0);
    return unit;
}

} // namespace brevalo::test
